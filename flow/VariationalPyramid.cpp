// Coarse-to-fine driver of the variational refinement: a finely graded pyramid (each level
// aEta times the size of the next finer one), the flow carried from level to level, the second
// image warped by the current flow, and five closing passes at full resolution without the
// matching term.
#include <algorithm>
#include <cmath>

#include "flow/COpticFlow.h"
#include "foundation/CFilter.h"

namespace {

// The coarsest level has its smaller side near this many pixels.
constexpr float kCoarsestSide = 15.0f;
// Closing passes at full resolution after the pyramid.
constexpr int kFinalPasses = 5;
// Precision of the optional Gaussian pre-smoothing mask (in standard deviations).
constexpr float kSmoothPrecision = 3.0f;

// Side of the level at pyramid scale aScale: ceil(aSide * aEta^aScale) in double.
int levelSide(int aSide, float aEta, int aScale) {
  return static_cast<int>(
      std::ceil(aSide * std::pow(static_cast<double>(aEta), static_cast<double>(aScale))));
}

// Samples aSecond at (x + u, y + v) bilinearly into aWarped; where the sample would need
// pixels outside aSecond the pixel is invalid (aConfidence 0) and takes aFirst's value.
void warpImage(const CTensor<float>& aFirst, const CTensor<float>& aSecond,
               const CTensor<float>& aFlow, CTensor<float>& aWarped, CMatrix<float>& aConfidence) {
  const int aXSize = aSecond.xSize();
  const int aYSize = aSecond.ySize();
  const int aCount = aXSize * aYSize;
  const int aChannels = aSecond.zSize();
  aWarped.setSize(aXSize, aYSize, aChannels);
  aConfidence.setSize(aXSize, aYSize);
  const float* aU = aFlow.data();
  const float* aV = aFlow.data() + aCount;
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) {
      const int i = x + aXSize * y;
      const float ax = x + aU[i];
      const float ay = y + aV[i];
      // With truncation towards zero, x1 >= 0 and x1 + 1 < X hold exactly when
      // -1 < ax < X - 1; testing before the conversion also rejects non-finite values.
      if (!(ax > -1.0f && ax < aXSize - 1 && ay > -1.0f && ay < aYSize - 1)) {
        aConfidence[i] = 0.0f;
        for (int c = 0; c < aChannels; c++) aWarped[i + c * aCount] = aFirst[i + c * aCount];
        continue;
      }
      const int x1 = static_cast<int>(ax);
      const int y1 = static_cast<int>(ay);
      const float fx = ax - x1;
      const float fy = ay - y1;
      const float gx = 1.0f - fx;
      const double gy = 1.0 - static_cast<double>(fy);
      aConfidence[i] = 1.0f;
      const int j = x1 + aXSize * y1;
      for (int c = 0; c < aChannels; c++) {
        const float* aPlane = aSecond.data() + c * aCount;
        const float aTop = aPlane[j] * gx + aPlane[j + 1] * fx;
        const float aBottom = aPlane[j + aXSize] * gx + aPlane[j + aXSize + 1] * fx;
        aWarped[i + c * aCount] =
            static_cast<float>(static_cast<double>(aTop) * gy + static_cast<double>(aBottom) * fy);
      }
    }
}

// Multiplies aChannels channels of aTensor, starting at aFirstChannel, by aFactor (displacements
// follow the picture when it is resized).
void scalePlane(CTensor<float>& aTensor, int aFirstChannel, int aChannels, float aFactor) {
  const int aCount = aTensor.xSize() * aTensor.ySize();
  float* aData = aTensor.data() + aFirstChannel * aCount;
  for (int i = 0; i < aChannels * aCount; i++) aData[i] *= aFactor;
}

}  // namespace

void COpticFlow::warpingGeometric(CTensor<float> aFirst, CTensor<float> aSecond,
                                  CTensor<float>& aFlow, const CTensor<float>& aGeometricU,
                                  const CTensor<float>& aGeometricV,
                                  const CTensor<float>& aGeometricConfidence,
                                  const CMatrix<float>* aEdgeMap, float aSigma, float aAlpha,
                                  float aBeta, float aGamma, float aEdgeWeight, float aEta,
                                  int aFixedpointIterations, int aSORIterations, float aOmega,
                                  float aDelta) {
  const int aXSize = aFirst.xSize();
  const int aYSize = aFirst.ySize();
  const int aProposals = aGeometricConfidence.zSize();
  if (aXSize <= 0 || aYSize <= 0) {
    aFlow.setSize(std::max(aXSize, 0), std::max(aYSize, 0), 2);
    return;
  }

  // 1. Number of pyramid scales.
  const float aMinSide = static_cast<float>(std::min(aXSize, aYSize));
  const float aRatio = kCoarsestSide / aMinSide;
  const int aMaxScale = std::max(0, static_cast<int>(std::log(static_cast<double>(aRatio)) /
                                                     std::log(static_cast<double>(aEta))));

  // 2. Optional pre-smoothing.
  if (aSigma > 0.0f) {
    const CSmooth<float> aSmooth(aSigma, kSmoothPrecision);
    NFilter::filter(aFirst, aSmooth, 0, 0);
    NFilter::filter(aFirst, 0, aSmooth, 0);
    NFilter::filter(aSecond, aSmooth, 0, 0);
    NFilter::filter(aSecond, 0, aSmooth, 0);
  }

  // 3. The flow starts at zero.
  aFlow.setSize(aXSize, aYSize, 2);
  aFlow.fill(0.0f);

  // The splatting reduction takes its weights by reference; it reads them only.
  CTensor<float> aWeights(aGeometricConfidence);
  CTensor<float> aLevelFirst, aLevelSecond, aLevelU, aLevelV, aLevelConf, aWarped;
  CMatrix<float> aLevelEdges, aConfidence;
  int aSweeps = aSORIterations;

  for (int s = aMaxScale; s >= -kFinalPasses; s--) {
    const int aScale = std::max(s, 0);
    // 4.1 Level size; a pyramid level of the same size as the previous one adds nothing.
    // The closing passes at full resolution always run, also for pictures under 20 pixels
    // whose full size equals their first reduction.
    const int aNewX = levelSide(aXSize, aEta, aScale);
    const int aNewY = levelSide(aYSize, aEta, aScale);
    const int aPrevX = levelSide(aXSize, aEta, aScale + 1);
    const int aPrevY = levelSide(aYSize, aEta, aScale + 1);
    if (s >= 0 && aNewX == aPrevX && aNewY == aPrevY) continue;

    // 4.2-4.3 Level copies of the images, the proposals and the edge map.
    aLevelFirst = aFirst;
    aLevelSecond = aSecond;
    aLevelU = aGeometricU;
    aLevelV = aGeometricV;
    aLevelConf = aGeometricConfidence;
    if (aEdgeMap != nullptr) aLevelEdges = *aEdgeMap;
    if (s > 0) {
      aLevelFirst.downsample(aNewX, aNewY);
      aLevelSecond.downsample(aNewX, aNewY);
      if (aEdgeMap != nullptr) aLevelEdges.downsample(aNewX, aNewY);
      aLevelU.downsample(aNewX, aNewY, aWeights);
      aLevelV.downsample(aNewX, aNewY, aWeights);
      aLevelConf.downsample(aNewX, aNewY, aWeights);
      const float aFactorX = static_cast<float>(aNewX) / static_cast<float>(aXSize);
      const float aFactorY = static_cast<float>(aNewY) / static_cast<float>(aYSize);
      scalePlane(aLevelU, 0, aProposals, aFactorX);
      scalePlane(aLevelV, 0, aProposals, aFactorY);
      if (aScale == aMaxScale) {
        aFlow.downsample(aNewX, aNewY);
        scalePlane(aFlow, 0, 1, aFactorX);
        scalePlane(aFlow, 1, 1, aFactorY);
      }
    }
    // 4.4 Carry the flow of the coarser level up to this one.
    if (aScale < aMaxScale && s >= 0) {
      aFlow.upsampleBilinear(aNewX, aNewY);
      scalePlane(aFlow, 0, 1, static_cast<float>(aNewX) / static_cast<float>(aPrevX));
      scalePlane(aFlow, 1, 1, static_cast<float>(aNewY) / static_cast<float>(aPrevY));
    }
    // 4.5 Warp the second image by the current flow. Only the very first pass, which starts
    // from zero flow, uses the second image as it is; pictures too small for a pyramid are
    // therefore still warped in their closing passes.
    if (s != aMaxScale) {
      warpImage(aLevelFirst, aLevelSecond, aFlow, aWarped, aConfidence);
    } else {
      aWarped = aLevelSecond;
      aConfidence.setSize(aLevelSecond.xSize(), aLevelSecond.ySize());
      aConfidence.fill(1.0f);
    }
    // 4.6 The closing passes relax twice as long and have no matching term.
    if (s == -1) aSweeps *= 2;
    if (s < 0) aLevelConf.fill(0.0f);
    // 4.7 Solve the level.
    const float aLevelGamma = static_cast<float>(
        aGamma * std::pow(static_cast<double>(aEta), static_cast<double>(aScale)));
    nonlinearIteration(aLevelFirst, aWarped, aConfidence, aLevelU, aLevelV, aLevelConf, aFlow,
                       aEdgeMap != nullptr ? &aLevelEdges : nullptr, aAlpha, aBeta, aLevelGamma,
                       aEdgeWeight, aFixedpointIterations, aSweeps, aOmega, aDelta);
  }
}
