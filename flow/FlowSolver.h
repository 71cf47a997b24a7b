// FlowSolver: the per-level linear solver of the variational refinement. It holds the
// per-pixel coefficients of the linearised Euler-Lagrange equations in contiguous, padded
// arrays and runs the successive over-relaxation sweeps on them. Internal to flow/.
#pragma once

#include <vector>

// Coefficients and unknowns of one pyramid level. Arrays are (X + 2) x (Y + 2) with a ring of
// zeros: a missing neighbour has edge weight 0, so every pixel is updated by the same code.
struct CFlowSystem {
  int mXSize = 0, mYSize = 0;
  int mPadX = 0;  // row stride, mXSize + 2
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

  // Sizes all arrays for an X x Y level, zeroed. Keeps the storage when it is large enough.
  void resize(int aXSize, int aYSize);
  // Padded index of pixel (x, y).
  int index(int x, int y) const { return (x + 1) + mPadX * (y + 1); }
};

// Runs aSweeps Gauss-Seidel over-relaxation sweeps (rows top to bottom, pixels left to right)
// on aSystem's increment. Rows of successive sweeps are processed in a pipelined order that
// reads exactly the values the plain sequential sweeps read, so the result is identical.
void sorSweeps(CFlowSystem& aSystem, int aSweeps, float aOmega);
