// One level of the variational refinement: the linearised data terms (brightness and
// gradient constancy, each normalised by the local gradient), the matching term towards the
// descriptor proposals, the flow-driven smoothness weights, and the lagged fixed-point
// iterations that solve for the flow increment with over-relaxation sweeps.
#include <cmath>
#include <vector>

#include "flow/COpticFlow.h"
#include "flow/FlowSolver.h"
#include "foundation/CFilter.h"

namespace {

// Squared-residual regulariser of the robust terms: weights are 1 / sqrt(s^2 + kEpsilonSqr).
constexpr double kEpsilonSqr = 1e-6;
constexpr float kEpsilonSqrF = 1e-6f;

// Per-thread working storage, reused from level to level so that the pyramid does not
// allocate for every level.
struct CLevelWork {
  CFlowSystem mSystem;
  std::vector<float> mST[6], mST2[6];
  CMatrix<float> mImage, mDz, mDx, mDy, mHxx, mHxy, mHyy, mHxz, mHyz;
  CMatrix<float> mGX, mGY;
  CTensor<float> mIncrement;
  std::vector<float> mR3Sum;
};

thread_local CLevelWork tWork;

void ensureSize(CMatrix<float>& aMatrix, int aXSize, int aYSize) {
  if (aMatrix.xSize() != aXSize || aMatrix.ySize() != aYSize) aMatrix.setSize(aXSize, aYSize);
}

// Weight 1 / sqrt(s + eps) of a robust term, root and quotient in double.
inline float robustWeight(float aNumerator, float aSquare) {
  return static_cast<float>(aNumerator / std::sqrt(static_cast<double>(aSquare) + kEpsilonSqr));
}

// Gradient normalisation 1 / sqrt(a^2 + b^2 + eps): the sum in float, root and quotient in
// double.
inline float gradientNorm(float a, float b) {
  const float aSum = a * a + b * b + kEpsilonSqrF;
  return static_cast<float>(1.0 / std::sqrt(static_cast<double>(aSum)));
}

// Accumulates the brightness and gradient constancy tensors of every channel of aFirst.
void motionTensors(const CTensor<float>& aFirst, const CTensor<float>& aSecond, CLevelWork& w) {
  const int aXSize = aFirst.xSize();
  const int aYSize = aFirst.ySize();
  const int aCount = aXSize * aYSize;
  for (int k = 0; k < 6; k++) {
    w.mST[k].assign(aCount, 0.0f);
    w.mST2[k].assign(aCount, 0.0f);
  }
  for (CMatrix<float>* aMatrix :
       {&w.mImage, &w.mDz, &w.mDx, &w.mDy, &w.mHxx, &w.mHxy, &w.mHyy, &w.mHxz, &w.mHyz})
    ensureSize(*aMatrix, aXSize, aYSize);
  const CDerivative<float> aDerivative(5);
  for (int c = 0; c < aFirst.zSize(); c++) {
    const float* aFirstPlane = aFirst.data() + c * aCount;
    const float* aSecondPlane = aSecond.data() + c * aCount;
    float* aImage = w.mImage.data();
    float* aDz = w.mDz.data();
    for (int i = 0; i < aCount; i++) {
      aImage[i] = aFirstPlane[i];
      aDz[i] = aSecondPlane[i] - aFirstPlane[i];
    }
    NFilter::filter(w.mImage, w.mDx, aDerivative, 0);
    NFilter::filter(w.mImage, w.mDy, 0, aDerivative);
    NFilter::filter(w.mDx, w.mHxx, aDerivative, 0);
    NFilter::filter(w.mDx, w.mHxy, 0, aDerivative);
    NFilter::filter(w.mDy, w.mHyy, 0, aDerivative);
    NFilter::filter(w.mDz, w.mHxz, aDerivative, 0);
    NFilter::filter(w.mDz, w.mHyz, 0, aDerivative);
    const float* dx = w.mDx.data();
    const float* dy = w.mDy.data();
    const float* hxx = w.mHxx.data();
    const float* hxy = w.mHxy.data();
    const float* hyy = w.mHyy.data();
    const float* hxz = w.mHxz.data();
    const float* hyz = w.mHyz.data();
    for (int i = 0; i < aCount; i++) {
      const float n = gradientNorm(dx[i], dy[i]);
      w.mST[0][i] += n * dx[i] * dx[i];
      w.mST[1][i] += n * dy[i] * dy[i];
      w.mST[2][i] += n * aDz[i] * aDz[i];
      w.mST[3][i] += n * dx[i] * dy[i];
      w.mST[4][i] += n * dx[i] * aDz[i];
      w.mST[5][i] += n * dy[i] * aDz[i];
      const float nx = gradientNorm(hxx[i], hxy[i]);
      const float ny = gradientNorm(hyy[i], hxy[i]);
      w.mST2[0][i] += nx * hxx[i] * hxx[i] + ny * hxy[i] * hxy[i];
      w.mST2[1][i] += nx * hxy[i] * hxy[i] + ny * hyy[i] * hyy[i];
      w.mST2[2][i] += nx * hxz[i] * hxz[i] + ny * hyz[i] * hyz[i];
      w.mST2[3][i] += (nx * hxx[i] + ny * hyy[i]) * hxy[i];
      w.mST2[4][i] += nx * hxz[i] * hxx[i] + ny * hxy[i] * hyz[i];
      w.mST2[5][i] += nx * hxz[i] * hxy[i] + ny * hyz[i] * hyy[i];
    }
  }
}

}  // namespace

void COpticFlow::diffusivity(const CTensor<float>& aFlow, const CTensor<float>& aFlowIncrement,
                             CMatrix<float>& aResultX, CMatrix<float>& aResultY,
                             const CMatrix<float>* aEdgeMap, float aEdgeWeight) {
  const int aXSize = aFlow.xSize();
  const int aYSize = aFlow.ySize();
  const int aCount = aXSize * aYSize;
  aResultX.fill(0.0f);
  aResultY.fill(0.0f);
  const CDerivative<float> aDerivative(3);
  CMatrix<float> aChannel(aXSize, aYSize);
  CMatrix<float> aGrad(aXSize, aYSize);
  for (int c = 0; c < 2; c++) {
    const float* aBase = aFlow.data() + c * aCount;
    const float* aInc = aFlowIncrement.data() + c * aCount;
    float* ch = aChannel.data();
    for (int i = 0; i < aCount; i++) ch[i] = aBase[i] + aInc[i];
    NFilter::filter(aChannel, aGrad, 0, aDerivative);
    const float* g = aGrad.data();
    for (int y = 0; y < aYSize; y++)
      for (int x = 0; x < aXSize - 1; x++) {
        const int i = x + aXSize * y;
        const float aDiff = ch[i + 1] - ch[i];
        const float aMean = 0.5f * (g[i] + g[i + 1]);
        aResultX[i] += aDiff * aDiff + aMean * aMean;
      }
    NFilter::filter(aChannel, aGrad, aDerivative, 0);
    for (int y = 0; y < aYSize - 1; y++)
      for (int x = 0; x < aXSize; x++) {
        const int i = x + aXSize * y;
        const float aMean = 0.5f * (g[i] + g[i + aXSize]);
        const float aDiff = ch[i + aXSize] - ch[i];
        aResultY[i] += aMean * aMean + aDiff * aDiff;
      }
  }
  if (aEdgeMap != nullptr) {
    for (int i = 0; i < aCount; i++) {
      const float e = (*aEdgeMap)[i];
      const float aTerm = aEdgeWeight * e * e;
      aResultX[i] += aTerm;
      aResultY[i] += aTerm;
    }
  }
  for (int i = 0; i < aCount; i++) {
    aResultX[i] = robustWeight(1.0f, aResultX[i]);
    aResultY[i] = robustWeight(1.0f, aResultY[i]);
  }
}

void COpticFlow::nonlinearIteration(
    const CTensor<float>& aFirst, const CTensor<float>& aSecond, const CMatrix<float>& aConfidence,
    const CTensor<float>& aGeometricU, const CTensor<float>& aGeometricV,
    const CTensor<float>& aGeometricConfidence, CTensor<float>& aFlow,
    const CMatrix<float>* aEdgeMap, float aAlpha, float aBeta, float aGamma, float aEdgeWeight,
    int aFixedPointIterations, int aSORIterations, float aOmega, float aDelta) {
  CLevelWork& w = tWork;
  const int aXSize = aFirst.xSize();
  const int aYSize = aFirst.ySize();
  const int aCount = aXSize * aYSize;

  // 1-2. Motion tensors; pixels whose warped sample left the second image have no data term.
  motionTensors(aFirst, aSecond, w);
  const float* aConf = aConfidence.data();
  for (int k = 0; k < 6; k++)
    for (int i = 0; i < aCount; i++) {
      w.mST[k][i] *= aConf[i];
      w.mST2[k][i] *= aConf[i];
    }

  // 3. Unknowns start at zero; the base flow goes into the padded solver arrays.
  const float invAlpha = 1.0f / aAlpha;
  CFlowSystem& s = w.mSystem;
  s.resize(aXSize, aYSize);
  const float* aFlowU = aFlow.data();
  const float* aFlowV = aFlow.data() + aCount;
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) {
      const int i = x + aXSize * y;
      const int p = s.index(x, y);
      s.mU[p] = aFlowU[i];
      s.mV[p] = aFlowV[i];
      s.mST3[p] = w.mST[3][i];
      s.mST4[p] = w.mST[4][i];
      s.mST5[p] = w.mST[5][i];
      s.mST23[p] = w.mST2[3][i];
      s.mST24[p] = w.mST2[4][i];
      s.mST25[p] = w.mST2[5][i];
    }
  ensureSize(w.mGX, aXSize, aYSize);
  ensureSize(w.mGY, aXSize, aYSize);
  if (w.mIncrement.xSize() != aXSize || w.mIncrement.ySize() != aYSize || w.mIncrement.zSize() != 2)
    w.mIncrement.setSize(aXSize, aYSize, 2);
  w.mR3Sum.assign(aCount, 0.0f);

  const float aDataWeight = invAlpha * aDelta;
  const float aGradientWeight = invAlpha * aGamma;
  const float aMatchWeight = invAlpha * aBeta;
  const int aProposals = aGeometricConfidence.zSize();
  float* aIncU = w.mIncrement.data();
  float* aIncV = w.mIncrement.data() + aCount;

  // 4. Lagged fixed-point iterations: freeze the robust weights, then relax.
  for (int aIter = 0; aIter < aFixedPointIterations; aIter++) {
    for (int y = 0; y < aYSize; y++)
      for (int x = 0; x < aXSize; x++) {
        const int p = s.index(x, y);
        aIncU[x + aXSize * y] = s.mDU[p];
        aIncV[x + aXSize * y] = s.mDV[p];
      }
    diffusivity(aFlow, w.mIncrement, w.mGX, w.mGY, aEdgeMap, aEdgeWeight);
    // Edge weights of the solver: none beyond the last column or row.
    for (int y = 0; y < aYSize; y++)
      for (int x = 0; x < aXSize; x++) {
        const int p = s.index(x, y);
        s.mGX[p] = (x + 1 < aXSize) ? w.mGX(x, y) : 0.0f;
        s.mGY[p] = (y + 1 < aYSize) ? w.mGY(x, y) : 0.0f;
      }

    // Matching weights around the current flow estimate.
    std::fill(w.mR3Sum.begin(), w.mR3Sum.end(), 0.0f);
    std::fill(s.mR3U.begin(), s.mR3U.end(), 0.0f);
    std::fill(s.mR3V.begin(), s.mR3V.end(), 0.0f);
    for (int h = 0; h < aProposals; h++) {
      const float* aGeoU = aGeometricU.data() + h * aCount;
      const float* aGeoV = aGeometricV.data() + h * aCount;
      const float* aGeoC = aGeometricConfidence.data() + h * aCount;
      for (int y = 0; y < aYSize; y++)
        for (int x = 0; x < aXSize; x++) {
          const int i = x + aXSize * y;
          const float c = aGeoC[i];
          if (!(c > 0.0f)) continue;
          const int p = s.index(x, y);
          const float eu = aFlowU[i] + s.mDU[p] - aGeoU[i];
          const float ev = aFlowV[i] + s.mDV[p] - aGeoV[i];
          const float aWeight = robustWeight(aMatchWeight * c, eu * eu + ev * ev);
          w.mR3Sum[i] += aWeight;
          s.mR3U[p] += aWeight * (aFlowU[i] - aGeoU[i]);
          s.mR3V[p] += aWeight * (aFlowV[i] - aGeoV[i]);
        }
    }

    // Data weights and the diagonals of both equations.
    for (int y = 0; y < aYSize; y++)
      for (int x = 0; x < aXSize; x++) {
        const int i = x + aXSize * y;
        const int p = s.index(x, y);
        const float du = s.mDU[p];
        const float dv = s.mDV[p];
        float q1 = du * du * w.mST[0][i] + dv * dv * w.mST[1][i] + w.mST[2][i] +
                   2.0f * (du * dv * w.mST[3][i] + du * w.mST[4][i] + dv * w.mST[5][i]);
        if (q1 < 0.0f) q1 = 0.0f;
        float q2 = du * du * w.mST2[0][i] + dv * dv * w.mST2[1][i] + w.mST2[2][i] +
                   2.0f * (du * dv * w.mST2[3][i] + du * w.mST2[4][i] + dv * w.mST2[5][i]);
        if (q2 < 0.0f) q2 = 0.0f;
        const float r1 = robustWeight(aDataWeight, q1);
        const float r2 = robustWeight(aGradientWeight, q2);
        s.mR1[p] = r1;
        s.mR2[p] = r2;
        float aNum = 0.0f;
        aNum += s.mGX[p - 1];
        aNum += s.mGY[p - s.mPadX];
        aNum += s.mGX[p];
        aNum += s.mGY[p];
        s.mDenU[p] = r1 * w.mST[0][i] + aNum + r2 * w.mST2[0][i] + w.mR3Sum[i];
        s.mDenV[p] = r1 * w.mST[1][i] + aNum + r2 * w.mST2[1][i] + w.mR3Sum[i];
        // A lone pixel of a 1 x 1 level without data has an empty equation: keep it at 0
        // instead of dividing by zero.
        if (s.mDenU[p] == 0.0f) s.mDenU[p] = 1.0f;
        if (s.mDenV[p] == 0.0f) s.mDenV[p] = 1.0f;
      }

    sorSweeps(s, aSORIterations, aOmega);
  }

  // 5. The level's result: base flow plus increment.
  float* aOutU = aFlow.data();
  float* aOutV = aFlow.data() + aCount;
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) {
      const int p = s.index(x, y);
      aOutU[x + aXSize * y] += s.mDU[p];
      aOutV[x + aXSize * y] += s.mDV[p];
    }
}
