// Successive over-relaxation for the linearised flow equations of one pyramid level.
//
// Each sweep visits the rows top to bottom and the pixels left to right and updates the
// increment in place, so a pixel sees this sweep's values on its left and upper neighbours and
// the previous sweep's values on its right and lower ones. Sweep j + 1 may therefore work on
// row y as soon as sweep j has finished row y + 1: in step t, sweep j handles row t - 2j. The
// rows active in one step never read each other, so they are updated side by side, pixel by
// pixel, which gives the processor independent chains of arithmetic and keeps the few rows in
// flight in cache. Every value read is the one the sequential order would read.
#include "flow/FlowSolver.h"

#include <algorithm>

void CFlowSystem::resize(int aXSize, int aYSize) {
  mXSize = aXSize;
  mYSize = aYSize;
  mPadX = aXSize + 2;
  const size_t aCount = static_cast<size_t>(aXSize + 2) * (aYSize + 2);
  for (std::vector<float>* aArray : {&mDU, &mDV, &mU, &mV, &mGX, &mGY, &mR1, &mR2, &mST3, &mST4,
                                     &mST5, &mST23, &mST24, &mST25, &mR3U, &mR3V, &mDenU, &mDenV}) {
    aArray->assign(aCount, 0.0f);
  }
}

namespace {

// Updates (du, dv) at padded index i. Missing neighbours have weight 0 and contribute +0 to
// the sums, which leaves them exactly as if the neighbour had been left out.
inline void updatePixel(const CFlowSystem& s, float* aDU, float* aDV, int i, int aPad, float aOmega,
                        float aOneMinusOmega) {
  const float* aU = s.mU.data();
  const float* aV = s.mV.data();
  const float gL = s.mGX[i - 1];
  const float gU = s.mGY[i - aPad];
  const float gR = s.mGX[i];
  const float gD = s.mGY[i];
  const float u = aU[i];
  const float v = aV[i];
  float aSum = 0.0f;
  aSum += gL * (aDU[i - 1] + (aU[i - 1] - u));
  aSum += gU * (aDU[i - aPad] + (aU[i - aPad] - u));
  aSum += gR * (aDU[i + 1] + (aU[i + 1] - u));
  aSum += gD * (aDU[i + aPad] + (aU[i + aPad] - u));
  float aSum2 = 0.0f;
  aSum2 += gL * (aDV[i - 1] + (aV[i - 1] - v));
  aSum2 += gU * (aDV[i - aPad] + (aV[i - aPad] - v));
  aSum2 += gR * (aDV[i + 1] + (aV[i + 1] - v));
  aSum2 += gD * (aDV[i + aPad] + (aV[i + aPad] - v));

  const float r1 = s.mR1[i];
  const float r2 = s.mR2[i];
  const float st3 = s.mST3[i];
  const float st23 = s.mST23[i];
  const float dvOld = aDV[i];
  const float du = aOneMinusOmega * aDU[i] + aOmega *
                                                 (aSum - r1 * (st3 * dvOld + s.mST4[i]) -
                                                  r2 * (st23 * dvOld + s.mST24[i]) - s.mR3U[i]) /
                                                 s.mDenU[i];
  aDU[i] = du;
  aDV[i] = aOneMinusOmega * dvOld +
           aOmega *
               (aSum2 - r1 * (st3 * du + s.mST5[i]) - r2 * (st23 * du + s.mST25[i]) - s.mR3V[i]) /
               s.mDenV[i];
}

}  // namespace

void sorSweeps(CFlowSystem& aSystem, int aSweeps, float aOmega) {
  const int aXSize = aSystem.mXSize;
  const int aYSize = aSystem.mYSize;
  const int aPad = aSystem.mPadX;
  if (aSweeps <= 0 || aXSize <= 0 || aYSize <= 0) return;
  const float aOneMinusOmega = 1.0f - aOmega;
  float* aDU = aSystem.mDU.data();
  float* aDV = aSystem.mDV.data();

  // Padded index of the first pixel of every row handled in the current step.
  std::vector<int> aRowStart;
  aRowStart.reserve(aSweeps);
  const int aLastStep = (aYSize - 1) + 2 * (aSweeps - 1);
  for (int t = 0; t <= aLastStep; t++) {
    aRowStart.clear();
    for (int j = 0; j < aSweeps; j++) {
      const int y = t - 2 * j;
      if (y >= 0 && y < aYSize) aRowStart.push_back(aSystem.index(0, y));
    }
    const int aRows = static_cast<int>(aRowStart.size());
    const int* aStart = aRowStart.data();
    for (int x = 0; x < aXSize; x++)
      for (int r = 0; r < aRows; r++)
        updatePixel(aSystem, aDU, aDV, aStart[r] + x, aPad, aOmega, aOneMinusOmega);
  }
}
