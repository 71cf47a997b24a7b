// The flow-driven smoothness weights between neighbouring pixels: for each edge, the squared
// difference of the flow (plus increment) across it plus the squared mean of the derivative
// along it, summed over u and v, turned into 1 / sqrt(s + eps), on the solver's diagonal
// layout in vectorised loops (foundation/Simd.h). Compiled with -fno-math-errno so that the
// double-precision square roots vectorise; the roots are exact IEEE roots either way.
#include "flow/SmoothnessWeights.h"

#include <algorithm>
#include <vector>

#include "flow/RobustWeights.h"
#include "foundation/CFilter.h"
#include "foundation/Simd.h"

namespace {

void fitSize(std::vector<float>& aArray, size_t aCount) {
  if (aArray.size() != aCount) aArray.resize(aCount);
}

// Flow plus increment of both components on the diagonal layout, the guard cells beside the
// picture holding the mirrored border pixel, s(-1) = s(0) and s(L) = s(L - 1), as the
// derivative masks read it.
QUORVIK_KERNEL void formChannels(const CFlowSystem& s, float* aChU, float* aChV) {
  for (int d = 0; d < s.diagonals(); d++) {
    const int c = s.mOffset[d + 1];
    const float* aU = s.mU.data() + c;
    const float* aV = s.mV.data() + c;
    const float* aDU = s.mDU.data() + c;
    const float* aDV = s.mDV.data() + c;
    float* aOutU = aChU + c;
    float* aOutV = aChV + c;
    const int aLast = s.lastRow(d);
    QUORVIK_IVDEP
    for (int y = s.firstRow(d); y <= aLast; y++) {
      aOutU[y] = aU[y] + aDU[y];
      aOutV[y] = aV[y] + aDV[y];
    }
  }
  const int X = s.mXSize, Y = s.mYSize;
  for (float* aCh : {aChU, aChV}) {
    for (int x = 0; x < X; x++) {
      aCh[s.index(x, -1)] = aCh[s.index(x, 0)];
      aCh[s.index(x, Y)] = aCh[s.index(x, Y - 1)];
    }
    for (int y = 0; y < Y; y++) {
      aCh[s.index(-1, y)] = aCh[s.index(0, y)];
      aCh[s.index(X, y)] = aCh[s.index(X - 1, y)];
    }
  }
}

// The central-difference (3-tap) mask sum at a sample with its neighbours before and after,
// accumulated from the first offset as the mask filter does.
QUORVIK_KERNEL float centralDifference(const float* c, float aBefore, float aAt, float aAfter) {
  float aSum = 0.0f;
  aSum += c[0] * aBefore;
  aSum += c[1] * aAt;
  aSum += c[2] * aAfter;
  return aSum;
}

// One component's terms of the weights between (x, y) and its right and lower neighbour:
// squared difference plus squared mean of the other direction's derivatives (central
// differences, mirrored at the borders). aPrev ... aNext2 are the component on diagonals d - 1 ...
// d + 2.
QUORVIK_KERNEL void edgeTerms(const float* c, const float* aPrev, const float* aCur,
                              const float* aNext, const float* aNext2, int y, float& aTermX,
                              float& aTermY) {
  const float aHere = aCur[y];
  const float aRight = aNext[y];            // (x + 1, y)
  const float aBelow = aNext[y + 1];        // (x, y + 1)
  const float aLeft = aPrev[y];             // (x - 1, y)
  const float aAbove = aPrev[y - 1];        // (x, y - 1)
  const float aRightAbove = aCur[y - 1];    // (x + 1, y - 1)
  const float aLeftBelow = aCur[y + 1];     // (x - 1, y + 1)
  const float aRightBelow = aNext2[y + 1];  // (x + 1, y + 1)
  const float aGradY = centralDifference(c, aAbove, aHere, aBelow);
  const float aGradYRight = centralDifference(c, aRightAbove, aRight, aRightBelow);
  const float aDiffX = aRight - aHere;
  const float aMeanX = 0.5f * (aGradY + aGradYRight);
  aTermX = aDiffX * aDiffX + aMeanX * aMeanX;
  const float aGradX = centralDifference(c, aLeft, aHere, aRight);
  const float aGradXBelow = centralDifference(c, aLeftBelow, aBelow, aRightBelow);
  const float aMeanY = 0.5f * (aGradX + aGradXBelow);
  const float aDiffY = aBelow - aHere;
  aTermY = aMeanY * aMeanY + aDiffY * aDiffY;
}

template <bool kEdges>
QUORVIK_KERNEL void diagonalDiffusivityKernel(CFlowSystem& s, float* aChU, float* aChV,
                                              const float* aEdgeTerm) {
  formChannels(s, aChU, aChV);
  const CDerivative<float> aDerivative(3);
  const float c[3] = {aDerivative(-1), aDerivative(0), aDerivative(1)};
  for (int d = 0; d < s.diagonals(); d++) {
    const int aPrev = s.mOffset[d], aCur = s.mOffset[d + 1];
    const int aNext = s.mOffset[d + 2], aNext2 = s.mOffset[d + 3];
    float* aGX = s.mGX.data() + aCur;
    float* aGY = s.mGY.data() + aCur;
    const float* aEdge = kEdges ? aEdgeTerm + aCur : nullptr;
    const int aLast = s.lastRow(d);
    QUORVIK_IVDEP
    for (int y = s.firstRow(d); y <= aLast; y++) {
      float aTermXU, aTermYU, aTermXV, aTermYV;
      edgeTerms(c, aChU + aPrev, aChU + aCur, aChU + aNext, aChU + aNext2, y, aTermXU, aTermYU);
      edgeTerms(c, aChV + aPrev, aChV + aCur, aChV + aNext, aChV + aNext2, y, aTermXV, aTermYV);
      float aSumX = 0.0f + aTermXU;
      float aSumY = 0.0f + aTermYU;
      aSumX += aTermXV;
      aSumY += aTermYV;
      if (kEdges) {
        aSumX += aEdge[y];
        aSumY += aEdge[y];
      }
      aGX[y] = robustWeight(1.0f, aSumX);
      aGY[y] = robustWeight(1.0f, aSumY);
    }
    // None beyond the last column (the first pixel of the diagonal once d >= X - 1) or the
    // last row (its last pixel once d >= Y - 1).
    if (d >= s.mXSize - 1) aGX[s.firstRow(d)] = 0.0f;
    if (d >= s.mYSize - 1) aGY[aLast] = 0.0f;
  }
}

QUORVIK_AVX2 void diagonalDiffusivityAvx2(CFlowSystem& s, float* aChU, float* aChV,
                                          const float* aEdgeTerm) {
  if (aEdgeTerm != nullptr)
    diagonalDiffusivityKernel<true>(s, aChU, aChV, aEdgeTerm);
  else
    diagonalDiffusivityKernel<false>(s, aChU, aChV, aEdgeTerm);
}

void diagonalDiffusivityBase(CFlowSystem& s, float* aChU, float* aChV, const float* aEdgeTerm) {
  if (aEdgeTerm != nullptr)
    diagonalDiffusivityKernel<true>(s, aChU, aChV, aEdgeTerm);
  else
    diagonalDiffusivityKernel<false>(s, aChU, aChV, aEdgeTerm);
}

}  // namespace

void diagonalDiffusivity(CFlowSystem& aSystem, const float* aEdgeTerm, std::vector<float>& aChU,
                         std::vector<float>& aChV) {
  if (aSystem.mXSize <= 0 || aSystem.mYSize <= 0) return;
  fitSize(aChU, aSystem.mDU.size());
  fitSize(aChV, aSystem.mDU.size());
  if (useAvx2())
    diagonalDiffusivityAvx2(aSystem, aChU.data(), aChV.data(), aEdgeTerm);
  else
    diagonalDiffusivityBase(aSystem, aChU.data(), aChV.data(), aEdgeTerm);
}
