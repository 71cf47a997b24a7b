#include "tracking/CFlowVariation.h"

#include <algorithm>
#include <cmath>

#include "flow/CDiffusion.h"

namespace {

// Semi-implicit diffusion passes over the four moments; the diffusivities stay fixed.
constexpr int kDiffusionPasses = 20;
constexpr int kMoments = 4;
// Step size of each semi-implicit step, and the exponent setting of the diffusion.
constexpr float kDiffusionTau = 0.5f;
constexpr float kDiffusionP = -1.0f;

}  // namespace

void computeLocalFlowVariation(const CTensor<float>& aFlow, CMatrix<float>& aFlowVar) {
  const int aXSize = aFlow.xSize();
  const int aYSize = aFlow.ySize();
  if (aXSize <= 0 || aYSize <= 0 || aFlow.zSize() < 2) {
    aFlowVar.setSize(aXSize > 0 ? aXSize : 0, aYSize > 0 ? aYSize : 0);
    aFlowVar.fill(0.0f);
    return;
  }
  const int aPlane = aXSize * aYSize;

  // Moments u, v, u^2, v^2 of the flow.
  CTensor<float> aStats(aXSize, aYSize, kMoments);
  const float* u = aFlow.data();
  const float* v = aFlow.data() + aPlane;
  float* aStat = aStats.data();
  for (int i = 0; i < aPlane; i++) {
    aStat[i] = u[i];
    aStat[aPlane + i] = v[i];
    aStat[2 * aPlane + i] = u[i] * u[i];
    aStat[3 * aPlane + i] = v[i] * v[i];
  }

  // Half resolution; the reduction averages areas, so the squares become local means.
  const int aCoarseX = aXSize / 2 + 1;
  const int aCoarseY = aYSize / 2 + 1;
  aStats.downsample(aCoarseX, aCoarseY);

  CDiffusion aDiffusion;
  aDiffusion.mP = kDiffusionP;
  CTensor<float> aFlowCoarse(aXSize, aYSize, 2);
  std::copy(aFlow.data(), aFlow.data() + 2 * aPlane, aFlowCoarse.data());
  aFlowCoarse.downsample(aCoarseX, aCoarseY);
  CMatrix<float> GX(aCoarseX, aCoarseY, 1.0f);
  CMatrix<float> GY(aCoarseX, aCoarseY, 1.0f);
  aDiffusion.isotropicDiffMatrixMultiChannel(aFlowCoarse, GX, GY);
  aDiffusion.mTau2D = kDiffusionTau;

  CMatrix<float> aTemp(aCoarseX, aCoarseY);
  for (int aPass = 0; aPass < kDiffusionPasses; aPass++)
    for (int k = 0; k < kMoments; k++) {
      aStats.getMatrix(aTemp, k);
      aDiffusion.isotropicDiffuseSemiImplicit(aTemp, GX, GY);
      aStats.putMatrix(aTemp, k);
    }

  // Variance of the flow vector: E[u^2] - E[u]^2 + E[v^2] - E[v]^2; rounding may make it
  // slightly negative, which is clamped before the square root.
  const int aCoarsePlane = aCoarseX * aCoarseY;
  aFlowVar.setSize(aCoarseX, aCoarseY);
  const float* aMeanU = aStats.data();
  const float* aMeanV = aStats.data() + aCoarsePlane;
  const float* aMeanUU = aStats.data() + 2 * aCoarsePlane;
  const float* aMeanVV = aStats.data() + 3 * aCoarsePlane;
  float* aOut = aFlowVar.data();
  for (int i = 0; i < aCoarsePlane; i++) {
    const float aVar = aMeanUU[i] - aMeanU[i] * aMeanU[i] + aMeanVV[i] - aMeanV[i] * aMeanV[i];
    aOut[i] = std::sqrt(aVar > 0.0f ? aVar : 0.0f);
  }
  aFlowVar.upsample(aXSize, aYSize);
}
