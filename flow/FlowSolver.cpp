// Successive over-relaxation for the linearised flow equations of one pyramid level.
//
// The sequential order (rows top to bottom, pixels left to right, in place) gives a pixel this
// sweep's values on its left and upper neighbours and the previous sweep's on its right and
// lower ones. On the anti-diagonal d = x + y the left and upper neighbours lie on diagonal
// d - 1 and the right and lower ones on d + 1, and no two pixels of one diagonal are
// neighbours. Visiting the diagonals in ascending order therefore reads exactly the values the
// sequential order reads, and the pixels of a diagonal, stored side by side, can be updated at
// once in vector lanes.
//
// Sweep j + 1 may work on diagonal d as soon as sweep j has finished diagonal d + 1: in step t,
// sweep j handles diagonal t - 2j. The diagonals active in one step neither read nor write
// each other's pixels, and the few diagonals in flight stay in cache across the sweeps.
#include "flow/FlowSolver.h"

#include <algorithm>
#include <cstddef>

#include "foundation/Lanes.h"
#include "foundation/Simd.h"

void CFlowSystem::resize(int aXSize, int aYSize) {
  mXSize = std::max(aXSize, 0);
  mYSize = std::max(aYSize, 0);
  mOffset.clear();
  size_t aCount = 0;
  if (mXSize > 0 && mYSize > 0) {
    // Diagonals -1 ... X + Y, each with a guard cell before and after its pixels (the last one
    // has a single cell, (X, Y)).
    mOffset.resize(static_cast<size_t>(mXSize) + mYSize + 2);
    for (int d = -1; d <= mXSize + mYSize; d++) {
      const int aFirst = firstRow(d), aLast = lastRow(d);
      mOffset[d + 1] = static_cast<int>(aCount) + 1 - aFirst;
      aCount += static_cast<size_t>(aLast - aFirst + 1) + 2;
    }
  }
  for (std::vector<float>* aArray : {&mDU, &mDV, &mU, &mV, &mGX, &mGY, &mR1, &mR2, &mST3, &mST4,
                                     &mST5, &mST23, &mST24, &mST25, &mR3U, &mR3V, &mDenU, &mDenV})
    aArray->resize(aCount);
  for (std::vector<float>* aArray : {&mDU, &mDV, &mR3U, &mR3V})
    std::fill(aArray->begin(), aArray->end(), 0.0f);
  if (aCount == 0) return;
  // The guard cells of the arrays read at a neighbour: one before and one after each diagonal.
  for (int d = -1; d <= mXSize + mYSize; d++) {
    const int aBefore = mOffset[d + 1] + firstRow(d) - 1;
    const int aAfter = mOffset[d + 1] + lastRow(d) + 1;
    for (std::vector<float>* aArray : {&mU, &mV, &mGX, &mGY}) {
      (*aArray)[aBefore] = 0.0f;
      (*aArray)[aAfter] = 0.0f;
    }
  }
}

namespace {

// Updates (du, dv) of the pixels at rows aFirst ... aLast of one diagonal; aCur, aPrev and
// aNext are the offsets (mOffset) of the diagonal and of its two neighbours. The arithmetic of
// a pixel is that of the sequential sweep; a guard neighbour has weight 0 and adds +0 to the
// sums, as if it had been left out.
QUORVIK_KERNEL void relaxDiagonal(CFlowSystem& s, int aPrev, int aCur, int aNext, int aFirst,
                                  int aLast, float aOmega, float aOneMinusOmega) {
  float* aDU = s.mDU.data() + aCur;
  float* aDV = s.mDV.data() + aCur;
  const float* aDUPrev = s.mDU.data() + aPrev;
  const float* aDVPrev = s.mDV.data() + aPrev;
  const float* aDUNext = s.mDU.data() + aNext;
  const float* aDVNext = s.mDV.data() + aNext;
  const float* aU = s.mU.data() + aCur;
  const float* aV = s.mV.data() + aCur;
  const float* aUPrev = s.mU.data() + aPrev;
  const float* aVPrev = s.mV.data() + aPrev;
  const float* aUNext = s.mU.data() + aNext;
  const float* aVNext = s.mV.data() + aNext;
  const float* aGX = s.mGX.data() + aCur;
  const float* aGY = s.mGY.data() + aCur;
  const float* aGXPrev = s.mGX.data() + aPrev;
  const float* aGYPrev = s.mGY.data() + aPrev;
  const float* aR1 = s.mR1.data() + aCur;
  const float* aR2 = s.mR2.data() + aCur;
  const float* aST3 = s.mST3.data() + aCur;
  const float* aST4 = s.mST4.data() + aCur;
  const float* aST5 = s.mST5.data() + aCur;
  const float* aST23 = s.mST23.data() + aCur;
  const float* aST24 = s.mST24.data() + aCur;
  const float* aST25 = s.mST25.data() + aCur;
  const float* aR3U = s.mR3U.data() + aCur;
  const float* aR3V = s.mR3V.data() + aCur;
  const float* aDenU = s.mDenU.data() + aCur;
  const float* aDenV = s.mDenV.data() + aCur;
  // A row reads only the neighbouring diagonals and its own pixel.
  QUORVIK_IVDEP
  for (int y = aFirst; y <= aLast; y++) {
    // Neighbours: left (x - 1, y) and up (x, y - 1) on the previous diagonal, right (x + 1, y)
    // and down (x, y + 1) on the next.
    const float gL = aGXPrev[y];
    const float gU = aGYPrev[y - 1];
    const float gR = aGX[y];
    const float gD = aGY[y];
    const float u = aU[y];
    const float v = aV[y];
    float aSum = 0.0f;
    aSum += gL * (aDUPrev[y] + (aUPrev[y] - u));
    aSum += gU * (aDUPrev[y - 1] + (aUPrev[y - 1] - u));
    aSum += gR * (aDUNext[y] + (aUNext[y] - u));
    aSum += gD * (aDUNext[y + 1] + (aUNext[y + 1] - u));
    float aSum2 = 0.0f;
    aSum2 += gL * (aDVPrev[y] + (aVPrev[y] - v));
    aSum2 += gU * (aDVPrev[y - 1] + (aVPrev[y - 1] - v));
    aSum2 += gR * (aDVNext[y] + (aVNext[y] - v));
    aSum2 += gD * (aDVNext[y + 1] + (aVNext[y + 1] - v));

    const float r1 = aR1[y];
    const float r2 = aR2[y];
    const float st3 = aST3[y];
    const float st23 = aST23[y];
    const float dvOld = aDV[y];
    const float du =
        aOneMinusOmega * aDU[y] +
        aOmega * (aSum - r1 * (st3 * dvOld + aST4[y]) - r2 * (st23 * dvOld + aST24[y]) - aR3U[y]) /
            aDenU[y];
    aDU[y] = du;
    aDV[y] = aOneMinusOmega * dvOld +
             aOmega * (aSum2 - r1 * (st3 * du + aST5[y]) - r2 * (st23 * du + aST25[y]) - aR3V[y]) /
                 aDenV[y];
  }
}

QUORVIK_KERNEL void sweepsKernel(CFlowSystem& s, int aSweeps, float aOmega) {
  const float aOneMinusOmega = 1.0f - aOmega;
  const int aDiagonals = s.diagonals();
  const int aLastStep = (aDiagonals - 1) + 2 * (aSweeps - 1);
  for (int t = 0; t <= aLastStep; t++) {
    for (int j = 0; j < aSweeps; j++) {
      const int d = t - 2 * j;
      if (d < 0) break;
      if (d >= aDiagonals) continue;
      relaxDiagonal(s, s.mOffset[d], s.mOffset[d + 1], s.mOffset[d + 2], s.firstRow(d),
                    s.lastRow(d), aOmega, aOneMinusOmega);
    }
  }
}

// The pixels of rows aFirstRow ... aLastRow on the diagonals aFirstDiagonal ... aLastDiagonal
// (all ranges inclusive, clipped to the picture), copied between rows and diagonals. The rows
// are stored from row aRowBase / X on (pixel (x, y) at x + X * y - aRowBase).
void copyBetween(const CFlowSystem& s, bool aToDiagonals, const float* aIn, const float* aScale,
                 float* aOut, int aFirstRow, int aLastRow, int aFirstDiagonal, int aLastDiagonal,
                 std::ptrdiff_t aRowBase = 0) {
  const int aStride = s.mXSize - 1;  // row index of (d - y, y) is d + (X - 1) * y
  for (int d = std::max(aFirstDiagonal, 0); d <= std::min(aLastDiagonal, s.diagonals() - 1); d++) {
    const int aOffset = s.mOffset[d + 1];
    const int aLast = std::min(aLastRow, s.lastRow(d));
    for (int y = std::max(aFirstRow, s.firstRow(d)); y <= aLast; y++) {
      const std::ptrdiff_t i = d + static_cast<std::ptrdiff_t>(aStride) * y - aRowBase;
      if (!aToDiagonals)
        aOut[i] = aIn[aOffset + y];
      else if (aScale != nullptr)
        aOut[aOffset + y] = aIn[i] * aScale[i];
      else
        aOut[aOffset + y] = aIn[i];
    }
  }
}

#if QUORVIK_HAS_AVX2_TARGET

// Blocks of eight rows (a band y0 ... y0 + 7, y0 a multiple of 8) by eight diagonals: where
// all of them lie inside the picture, row y0 + k of the block starts at x = d - y0 - k, so
// eight shifted row loads transposed give the eight diagonals' runs of the band. The blocks
// are visited diagonal by diagonal, so that the diagonals are read or written as streams
// while the few rows in use stay in cache. The rest is copied one by one. Rows aFirstRow
// (a multiple of 8) ... aLastRow, stored from aRowBase on (see copyBetween).
QUORVIK_AVX2 void copyBetweenAvx2(const CFlowSystem& s, bool aToDiagonals, const float* aIn,
                                  const float* aScale, float* aOut, int aFirstRow, int aLastRow,
                                  std::ptrdiff_t aRowBase) {
  const int X = s.mXSize;
  const int aBands = (aLastRow - aFirstRow + 1) / 8;
  const int aBandsEnd = aFirstRow + 8 * aBands;
  // Per band, the blocks start at the diagonals y0 + 7, y0 + 15, ... up to X - 8 + y0.
  const int aBlocks = std::max(0, (X - 7) / 8);
  for (int y0 = aFirstRow; y0 < aBandsEnd; y0 += 8) {
    copyBetween(s, aToDiagonals, aIn, aScale, aOut, y0, y0 + 7, y0, y0 + 6, aRowBase);
    copyBetween(s, aToDiagonals, aIn, aScale, aOut, y0, y0 + 7, y0 + 7 + 8 * aBlocks,
                X - 1 + y0 + 7, aRowBase);
  }
  copyBetween(s, aToDiagonals, aIn, aScale, aOut, aBandsEnd, aLastRow, aBandsEnd, X - 1 + aLastRow,
              aRowBase);
  if (aBlocks == 0 || aBands == 0) {
    lanes::leaveWide();
    return;
  }
  const int aLastBand = aBandsEnd - 8;
  for (int d = aFirstRow + 7; d <= aLastBand + 7 + 8 * (aBlocks - 1); d += 8) {
    const int aFrom = std::max(aFirstRow, d - 7 - 8 * (aBlocks - 1));
    const int aTo = std::min(d - 7, aLastBand);
    for (int y0 = aFrom; y0 <= aTo; y0 += 8) {
      lanes::F8 r[8];
      if (aToDiagonals) {
        for (int k = 0; k < 8; k++) {
          const std::ptrdiff_t i =
              static_cast<std::ptrdiff_t>(y0 + k) * X + (d - y0 - k) - aRowBase;
          r[k] = lanes::loadWide(aIn + i);
          if (aScale != nullptr) r[k] = r[k] * lanes::loadWide(aScale + i);
        }
        lanes::transpose(r);
        for (int j = 0; j < 8; j++) lanes::store(aOut + s.mOffset[d + j + 1] + y0, r[j]);
      } else {
        for (int j = 0; j < 8; j++) r[j] = lanes::loadWide(aIn + s.mOffset[d + j + 1] + y0);
        lanes::transpose(r);
        for (int k = 0; k < 8; k++)
          lanes::store(aOut + static_cast<std::ptrdiff_t>(y0 + k) * X + (d - y0 - k) - aRowBase,
                       r[k]);
      }
    }
  }
  lanes::leaveWide();
}
#endif

void copyDispatch(const CFlowSystem& s, bool aToDiagonals, const float* aIn, const float* aScale,
                  float* aOut) {
  if (s.mXSize <= 0 || s.mYSize <= 0) return;
#if QUORVIK_HAS_AVX2_TARGET
  if (useAvx2()) {
    copyBetweenAvx2(s, aToDiagonals, aIn, aScale, aOut, 0, s.mYSize - 1, 0);
    return;
  }
#endif
  copyBetween(s, aToDiagonals, aIn, aScale, aOut, 0, s.mYSize - 1, 0, s.diagonals() - 1);
}

QUORVIK_AVX2 void sweepsAvx2(CFlowSystem& s, int aSweeps, float aOmega) {
  sweepsKernel(s, aSweeps, aOmega);
}

void sweepsBase(CFlowSystem& s, int aSweeps, float aOmega) {
  sweepsKernel(s, aSweeps, aOmega);
}

}  // namespace

void toDiagonals(const CFlowSystem& aSystem, const float* aRows, const float* aScale,
                 float* aDiagonals) {
  copyDispatch(aSystem, true, aRows, aScale, aDiagonals);
}

void fromDiagonals(const CFlowSystem& aSystem, const float* aDiagonals, float* aRows) {
  copyDispatch(aSystem, false, aDiagonals, nullptr, aRows);
}

void bandToDiagonals(const CFlowSystem& aSystem, const float* aBand, int aFirstRow, int aRows,
                     float* aDiagonals) {
  if (aSystem.mXSize <= 0 || aRows <= 0) return;
  const std::ptrdiff_t aRowBase = static_cast<std::ptrdiff_t>(aSystem.mXSize) * aFirstRow;
#if QUORVIK_HAS_AVX2_TARGET
  if (aFirstRow % 8 == 0 && useAvx2()) {
    copyBetweenAvx2(aSystem, true, aBand, nullptr, aDiagonals, aFirstRow, aFirstRow + aRows - 1,
                    aRowBase);
    return;
  }
#endif
  copyBetween(aSystem, true, aBand, nullptr, aDiagonals, aFirstRow, aFirstRow + aRows - 1,
              aFirstRow, aSystem.mXSize - 1 + aFirstRow + aRows - 1, aRowBase);
}

void sorSweeps(CFlowSystem& aSystem, int aSweeps, float aOmega) {
  if (aSweeps <= 0 || aSystem.mXSize <= 0 || aSystem.mYSize <= 0) return;
  if (useAvx2())
    sweepsAvx2(aSystem, aSweeps, aOmega);
  else
    sweepsBase(aSystem, aSweeps, aOmega);
}
