// FlowSolver: the per-level linear solver of the variational refinement. It holds the
// per-pixel coefficients of the linearised Euler-Lagrange equations in contiguous arrays laid
// out by anti-diagonals and runs the successive over-relaxation sweeps on them. Internal to
// flow/.
//
// Layout: pixel (x, y) lies on the anti-diagonal d = x + y, at index mOffset[d + 1] + y of
// every array. Each diagonal's pixels are consecutive (y ascending) and flanked by one guard
// cell on either side; the empty diagonals -1, X + Y - 1 and X + Y hold guard cells only. The
// guard cells stand for the missing neighbours beyond the picture's border: in the solver's
// arrays they stay 0, so a missing neighbour has edge weight 0 and every pixel is updated by
// the same code. Guard cells exist for every (x, -1), (x, Y), (-1, y) and (X, y), and for
// (X, Y).
// The left and upper neighbours of a pixel lie on the previous diagonal (at y and y - 1), the
// right and lower ones on the next (at y and y + 1).
#pragma once

#include <vector>

// Coefficients and unknowns of one pyramid level.
struct CFlowSystem {
  int mXSize = 0, mYSize = 0;
  // mOffset[d + 1] + y is the index of (d - y, y), for d = -1 ... X + Y.
  std::vector<int> mOffset;
  // Unknown increment (du, dv) and the base flow (u, v) of the level.
  std::vector<float> mDU, mDV, mU, mV;
  // Edge weights: mGX between p and its right neighbour, mGY between p and the one below;
  // zero where that neighbour does not exist.
  std::vector<float> mGX, mGY;
  // Data weights and the motion tensor entries that multiply the other unknown.
  std::vector<float> mR1, mR2;
  std::vector<float> mST3, mST4, mST5, mST23, mST24, mST25;
  // Matching term: weighted residual of the base flow against the proposals.
  std::vector<float> mR3U, mR3V;
  // Full diagonal of each equation (data terms + sum of edge weights + matching weight).
  std::vector<float> mDenU, mDenV;

  // Sizes all arrays for an X x Y level, keeping the storage when it is large enough. After it
  // the increment (mDU, mDV), the matching terms (mR3U, mR3V) and every guard cell are 0; the
  // other arrays' pixels are left for the caller to fill.
  void resize(int aXSize, int aYSize);
  // Index of pixel (x, y); also valid for the guard cells next to the picture.
  int index(int x, int y) const { return mOffset[x + y + 1] + y; }
  // Rows y = aFirst(d) ... aLast(d) of diagonal d inside the picture.
  int firstRow(int d) const { return d - mXSize + 1 > 0 ? d - mXSize + 1 : 0; }
  int lastRow(int d) const { return d < mYSize - 1 ? d : mYSize - 1; }
  // Number of diagonals with pixels: X + Y - 1.
  int diagonals() const { return mXSize + mYSize - 1; }
};

// Copies a plane of X x Y values by rows (x fastest) into the diagonal layout, each value times
// aScale's value at the same pixel when aScale is given; guard cells are left alone.
void toDiagonals(const CFlowSystem& aSystem, const float* aRows, const float* aScale,
                 float* aDiagonals);
// toDiagonals for the rows aFirstRow ... aFirstRow + aRows - 1 only, held in aBand (aRows rows
// of X values).
void bandToDiagonals(const CFlowSystem& aSystem, const float* aBand, int aFirstRow, int aRows,
                     float* aDiagonals);
// Copies the pixels of an array in the diagonal layout into a plane by rows.
void fromDiagonals(const CFlowSystem& aSystem, const float* aDiagonals, float* aRows);

// Runs aSweeps Gauss-Seidel over-relaxation sweeps on aSystem's increment, with the result of
// sweeps that visit the rows top to bottom and the pixels left to right. Each pixel reads the
// current sweep's values of its left and upper neighbours and the previous sweep's of its
// right and lower ones, exactly as in that order, so the result is bit for bit the same; the
// pixels of one diagonal are updated side by side (vectorised), and several sweeps are in
// flight at once, sweep j + 1 two diagonals behind sweep j.
void sorSweeps(CFlowSystem& aSystem, int aSweeps, float aOmega);
