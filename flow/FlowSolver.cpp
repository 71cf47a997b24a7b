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

#include "foundation/Simd.h"

void CFlowSystem::resize(int aXSize, int aYSize) {
  mXSize = std::max(aXSize, 0);
  mYSize = std::max(aYSize, 0);
  mOffset.clear();
  size_t aCount = 0;
  if (mXSize > 0 && mYSize > 0) {
    // Diagonals -1 ... X + Y - 1, each with a guard cell before and after its pixels.
    mOffset.resize(static_cast<size_t>(mXSize) + mYSize + 1);
    for (int d = -1; d <= mXSize + mYSize - 1; d++) {
      const int aFirst = firstRow(d), aLast = lastRow(d);
      mOffset[d + 1] = static_cast<int>(aCount) + 1 - aFirst;
      aCount += static_cast<size_t>(aLast - aFirst + 1) + 2;
    }
  }
  for (std::vector<float>* aArray : {&mDU, &mDV, &mU, &mV, &mGX, &mGY, &mR1, &mR2, &mST3, &mST4,
                                     &mST5, &mST23, &mST24, &mST25, &mR3U, &mR3V, &mDenU, &mDenV}) {
    aArray->assign(aCount, 0.0f);
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

QUORVIK_AVX2 void sweepsAvx2(CFlowSystem& s, int aSweeps, float aOmega) {
  sweepsKernel(s, aSweeps, aOmega);
}

void sweepsBase(CFlowSystem& s, int aSweeps, float aOmega) {
  sweepsKernel(s, aSweeps, aOmega);
}

}  // namespace

void sorSweeps(CFlowSystem& aSystem, int aSweeps, float aOmega) {
  if (aSweeps <= 0 || aSystem.mXSize <= 0 || aSystem.mYSize <= 0) return;
  if (useAvx2())
    sweepsAvx2(aSystem, aSweeps, aOmega);
  else
    sweepsBase(aSystem, aSweeps, aOmega);
}
