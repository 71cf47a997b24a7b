// Coarse-to-fine driver of the variational refinement: a finely graded pyramid (each level
// aEta times the size of the next finer one), the flow carried from level to level, the second
// image warped by the current flow, and five closing passes at full resolution without the
// matching term. The pictures of every level come from pyramids built once per frame; the
// proposals of a level are reduced from the sparse list of matches; the level's buffers are
// reused from level to level.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "flow/FlowPyramid.h"
#include "flow/VariationalLevel.h"
#include "foundation/CAreaReducer.h"
#include "foundation/Simd.h"

namespace {

// The coarsest level has its smaller side near this many pixels.
constexpr float kCoarsestSide = 15.0f;
// Closing passes at full resolution after the pyramid.
constexpr int kFinalPasses = 5;

// Side of the level at pyramid scale aScale: ceil(aSide * aEta^aScale) in double.
int levelSide(int aSide, float aEta, int aScale) {
  return static_cast<int>(
      std::ceil(aSide * std::pow(static_cast<double>(aEta), static_cast<double>(aScale))));
}

// Samples aSecond at (x + u, y + v) bilinearly into aWarped; where the sample would need
// pixels outside aSecond the pixel is invalid (aConfidence 0) and takes aFirst's value. The
// pixels of a row are independent: every value is computed for every pixel, an invalid one
// reading a clamped position inside the picture, and chosen afterwards, so the loops have no
// branches.
QUORVIK_KERNEL void warpKernel(const float* aFirst, const float* aSecond, int aXSize, int aYSize,
                               int aChannels, const float* aU, const float* aV, float* aWarped,
                               float* aConfidence, int* aIndex, float* aFx, float* aFy) {
  const int aCount = aXSize * aYSize;
  for (int y = 0; y < aYSize; y++) {
    const int r = aXSize * y;
    // The sample position of every pixel of the row: its upper left neighbour and fractions.
    QUORVIK_IVDEP
    for (int x = 0; x < aXSize; x++) {
      const float ax = x + aU[r + x];
      const float ay = y + aV[r + x];
      // With truncation towards zero, x1 >= 0 and x1 + 1 < X hold exactly when
      // -1 < ax < X - 1; the test also rejects non-finite values.
      const bool aValid = (ax > -1.0f) & (ax < aXSize - 1) & (ay > -1.0f) & (ay < aYSize - 1);
      // Inside, the truncation towards zero equals the position clamped to 0 ... X - 2 (and
      // 0 ... Y - 2) and truncated; outside, and for non-finite positions, the clamped one
      // still addresses a pixel, whose blend is then not used.
      const float aLowX = ax > 0.0f ? ax : 0.0f;
      const float aLowY = ay > 0.0f ? ay : 0.0f;
      const int x1 = static_cast<int>(aLowX < aXSize - 2 ? aLowX : aXSize - 2);
      const int y1 = static_cast<int>(aLowY < aYSize - 2 ? aLowY : aYSize - 2);
      aFx[x] = ax - x1;
      aFy[x] = ay - y1;
      aIndex[x] = x1 + aXSize * y1;
      aConfidence[r + x] = aValid ? 1.0f : 0.0f;
    }
    for (int c = 0; c < aChannels; c++) {
      const float* aPlane = aSecond + c * aCount;
      const float* aOwn = aFirst + c * aCount + r;
      const float* aValidity = aConfidence + r;
      float* aOut = aWarped + c * aCount + r;
      QUORVIK_IVDEP
      for (int x = 0; x < aXSize; x++) {
        const int j = aIndex[x];
        const float fx = aFx[x];
        const float fy = aFy[x];
        const float gx = 1.0f - fx;
        const double gy = 1.0 - static_cast<double>(fy);
        const float aTop = aPlane[j] * gx + aPlane[j + 1] * fx;
        const float aBottom = aPlane[j + aXSize] * gx + aPlane[j + aXSize + 1] * fx;
        const float aBlend =
            static_cast<float>(static_cast<double>(aTop) * gy + static_cast<double>(aBottom) * fy);
        // The choice as a bit mask, so that the blend is computed in every lane.
        uint32_t aBlendBits, aKeepBits;
        std::memcpy(&aBlendBits, &aBlend, sizeof aBlendBits);
        std::memcpy(&aKeepBits, &aOwn[x], sizeof aKeepBits);
        const uint32_t aMask = aValidity[x] > 0.0f ? 0xffffffffu : 0u;
        const uint32_t aBits = (aBlendBits & aMask) | (aKeepBits & ~aMask);
        std::memcpy(&aOut[x], &aBits, sizeof aBits);
      }
    }
  }
}

QUORVIK_AVX2 void warpAvx2(const float* aFirst, const float* aSecond, int aXSize, int aYSize,
                           int aChannels, const float* aU, const float* aV, float* aWarped,
                           float* aConfidence, int* aIndex, float* aFx, float* aFy) {
  warpKernel(aFirst, aSecond, aXSize, aYSize, aChannels, aU, aV, aWarped, aConfidence, aIndex, aFx,
             aFy);
}

void warpBase(const float* aFirst, const float* aSecond, int aXSize, int aYSize, int aChannels,
              const float* aU, const float* aV, float* aWarped, float* aConfidence, int* aIndex,
              float* aFx, float* aFy) {
  warpKernel(aFirst, aSecond, aXSize, aYSize, aChannels, aU, aV, aWarped, aConfidence, aIndex, aFx,
             aFy);
}

// Multiplies aCount values by aFactor (displacements follow the picture when it is resized).
void scaleValues(float* aData, size_t aCount, float aFactor) {
  for (size_t i = 0; i < aCount; i++) aData[i] *= aFactor;
}

// Multiplies aChannels channels of aTensor, starting at aFirstChannel, by aFactor.
void scalePlane(CTensor<float>& aTensor, int aFirstChannel, int aChannels, float aFactor) {
  const size_t aCount = static_cast<size_t>(aTensor.xSize()) * aTensor.ySize();
  scaleValues(aTensor.data() + aFirstChannel * aCount, aChannels * aCount, aFactor);
}

// Buffers of one direction's pyramid, kept from level to level and from pair to pair (each
// direction runs on its own thread).
struct CPyramidWork {
  std::vector<float> mWarped, mConfidence, mU, mV, mC, mWeights;
};

thread_local CPyramidWork tPyramidWork;

void fitSize(std::vector<float>& aArray, size_t aCount) {
  if (aArray.size() < aCount) aArray.resize(aCount);
}

}  // namespace

// A picture one pixel wide or high has no pixel pair to blend: every sample is invalid there
// (a position between -1 and 0 would need the missing second column or row).
void warpImage(const float* aFirst, const float* aSecond, int aXSize, int aYSize, int aChannels,
               const float* aU, const float* aV, float* aWarped, float* aConfidence,
               bool aSameChannels) {
  const int aCount = aXSize * aYSize;
  if (aSameChannels && aChannels > 1) {
    warpImage(aFirst, aSecond, aXSize, aYSize, 1, aU, aV, aWarped, aConfidence);
    for (int c = 1; c < aChannels; c++) std::copy(aWarped, aWarped + aCount, aWarped + c * aCount);
    return;
  }
  if (aXSize < 2 || aYSize < 2) {
    std::fill(aConfidence, aConfidence + aCount, 0.0f);
    std::copy(aFirst, aFirst + aCount * aChannels, aWarped);
    return;
  }
  std::vector<int> aIndex(aXSize);
  std::vector<float> aFx(aXSize), aFy(aXSize);
  if (useAvx2())
    warpAvx2(aFirst, aSecond, aXSize, aYSize, aChannels, aU, aV, aWarped, aConfidence,
             aIndex.data(), aFx.data(), aFy.data());
  else
    warpBase(aFirst, aSecond, aXSize, aYSize, aChannels, aU, aV, aWarped, aConfidence,
             aIndex.data(), aFx.data(), aFy.data());
}

CPyramidPlan::CPyramidPlan(int aXSize, int aYSize, float aEta)
    : mXSize(aXSize), mYSize(aYSize), mEta(aEta), mMaxScale(0) {
  if (aXSize <= 0 || aYSize <= 0) return;
  const float aMinSide = static_cast<float>(std::min(aXSize, aYSize));
  const float aRatio = kCoarsestSide / aMinSide;
  mMaxScale = std::max(0, static_cast<int>(std::log(static_cast<double>(aRatio)) /
                                           std::log(static_cast<double>(aEta))));
}

int CPyramidPlan::xSize(int aScale) const {
  return levelSide(mXSize, mEta, aScale);
}

int CPyramidPlan::ySize(int aScale) const {
  return levelSide(mYSize, mEta, aScale);
}

bool CPyramidPlan::skipped(int aScale) const {
  return xSize(aScale) == xSize(aScale + 1) && ySize(aScale) == ySize(aScale + 1);
}

CImagePyramid::CImagePyramid(const CTensor<float>& aImage, float aEta)
    : mEta(aEta), mSameChannels(true), mPlan(aImage.xSize(), aImage.ySize(), aEta), mImage(aImage) {
  const size_t aPlane = static_cast<size_t>(aImage.xSize()) * aImage.ySize();
  for (int c = 1; c < aImage.zSize() && mSameChannels; c++)
    mSameChannels =
        std::memcmp(aImage.data(), aImage.data() + c * aPlane, aPlane * sizeof(float)) == 0;
  mLevels.resize(static_cast<size_t>(mPlan.maxScale()) + 1);
  if (mPlan.maxScale() == 0) return;
  const CAreaReducer aReducer(aImage);
  std::vector<float> aWork;
  for (int s = 1; s <= mPlan.maxScale(); s++)
    if (!mPlan.skipped(s)) aReducer.reduce(mPlan.xSize(s), mPlan.ySize(s), mLevels[s], aWork);
}

const CTensor<float>& CImagePyramid::level(int aScale) const {
  return aScale <= 0 ? mImage : mLevels[aScale];
}

std::vector<CProposal> proposalsOf(const CTensor<float>& aGeometricU,
                                   const CTensor<float>& aGeometricV,
                                   const CTensor<float>& aGeometricConfidence, int aChannel) {
  std::vector<CProposal> aList;
  const int aXSize = aGeometricConfidence.xSize();
  const int aYSize = aGeometricConfidence.ySize();
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) {
      const float c = aGeometricConfidence(x, y, aChannel);
      if (c > 0.0f)
        aList.push_back({x, y, aGeometricU(x, y, aChannel), aGeometricV(x, y, aChannel), c});
    }
  return aList;
}

void reduceProposals(const std::vector<CProposal>& aProposals, int aXSize, int aYSize,
                     int aNewXSize, int aNewYSize, float* aU, float* aV, float* aC,
                     std::vector<float>& aWeights) {
  const size_t aCount = static_cast<size_t>(aNewXSize) * aNewYSize;
  aWeights.assign(aCount, 0.0f);
  std::fill(aU, aU + aCount, 0.0f);
  std::fill(aV, aV + aCount, 0.0f);
  std::fill(aC, aC + aCount, 0.0f);
  // The arithmetic of CMatrix<float>::downsample with a confidence, for each of the three.
  const float aRatioX = static_cast<float>(aNewXSize) / aXSize;
  const float aRatioY = static_cast<float>(aNewYSize) / aYSize;
  float* aValues[3] = {aU, aV, aC};
  for (const CProposal& p : aProposals) {
    const float ay = aRatioY * p.mY;
    const int iy = static_cast<int>(ay);
    const float fy = ay - iy;
    const bool aHasDown = iy + 1 < aNewYSize;
    const float ax = aRatioX * p.mX;
    const int ix = static_cast<int>(ax);
    const float fx = ax - ix;
    const bool aHasRight = ix + 1 < aNewXSize;
    const float a = p.mConfidence;
    const float aSample[3] = {p.mU, p.mV, p.mConfidence};
    const int aBase = ix + aNewXSize * iy;
    const float w00 = (1.0f - fx) * (1.0f - fy);
    const float w10 = fx * (1.0f - fy);
    const float w01 = (1.0f - fx) * fy;
    const float w11 = fx * fy;
    for (int k = 0; k < 3; k++) {
      const float aValue = a * aSample[k];
      aValues[k][aBase] += aValue * w00;
      if (aHasRight) aValues[k][aBase + 1] += aValue * w10;
      if (aHasDown) aValues[k][aBase + aNewXSize] += aValue * w01;
      if (aHasRight && aHasDown) aValues[k][aBase + aNewXSize + 1] += aValue * w11;
    }
    aWeights[aBase] += a * w00;
    if (aHasRight) aWeights[aBase + 1] += a * w10;
    if (aHasDown) aWeights[aBase + aNewXSize] += a * w01;
    if (aHasRight && aHasDown) aWeights[aBase + aNewXSize + 1] += a * w11;
  }
  for (size_t i = 0; i < aCount; i++)
    if (aWeights[i] > 0.0f) {
      aU[i] /= aWeights[i];
      aV[i] /= aWeights[i];
      aC[i] /= aWeights[i];
    }
}

void warpingGeometricPyramids(const CImagePyramid& aFirst, const CImagePyramid& aSecond,
                              CTensor<float>& aFlow, const CTensor<float>& aGeometricU,
                              const CTensor<float>& aGeometricV,
                              const CTensor<float>& aGeometricConfidence,
                              const CMatrix<float>* aEdgeMap,
                              const CVariationalParameters& aParameters) {
  const CTensor<float>& aFull = aFirst.level(0);
  const int aXSize = aFull.xSize();
  const int aYSize = aFull.ySize();
  const int aChannels = aFull.zSize();
  const int aProposals = aGeometricConfidence.zSize();
  const float aEta = aFirst.eta();
  const CPyramidPlan& aPlan = aFirst.plan();
  const int aMaxScale = aPlan.maxScale();

  // 3. The flow starts at zero.
  aFlow.setSize(aXSize, aYSize, 2);
  aFlow.fill(0.0f);

  std::vector<std::vector<CProposal>> aLists(aProposals);
  for (int h = 0; h < aProposals; h++)
    aLists[h] = proposalsOf(aGeometricU, aGeometricV, aGeometricConfidence, h);
  CPyramidWork& w = tPyramidWork;
  const size_t aFullCount = static_cast<size_t>(aXSize) * aYSize;
  fitSize(w.mWarped, aFullCount * aChannels);
  fitSize(w.mConfidence, aFullCount);
  fitSize(w.mU, aFullCount * aProposals);
  fitSize(w.mV, aFullCount * aProposals);
  fitSize(w.mC, aFullCount * aProposals);
  reserveLevels(aXSize, aYSize);
  CMatrix<float> aLevelEdges;
  int aSweeps = aParameters.mSORIterations;

  for (int s = aMaxScale; s >= -kFinalPasses; s--) {
    const int aScale = std::max(s, 0);
    // 4.1 Level size; a pyramid level of the same size as the previous one adds nothing.
    // The closing passes at full resolution always run, also for pictures under 20 pixels
    // whose full size equals their first reduction.
    const int aNewX = aPlan.xSize(aScale);
    const int aNewY = aPlan.ySize(aScale);
    const int aPrevX = aPlan.xSize(aScale + 1);
    const int aPrevY = aPlan.ySize(aScale + 1);
    if (s >= 0 && aPlan.skipped(aScale)) continue;
    const size_t aCount = static_cast<size_t>(aNewX) * aNewY;

    // 4.2-4.3 The level's pictures, proposals and edge map.
    const CTensor<float>& aLevelFirst = aFirst.level(aScale);
    const CTensor<float>& aLevelSecond = aSecond.level(aScale);
    CLevelData aLevel;
    aLevel.mXSize = aNewX;
    aLevel.mYSize = aNewY;
    aLevel.mChannels = aChannels;
    aLevel.mFirst = aLevelFirst.data();
    // A grey pair as colour: every level, and every warp of it, has equal channels.
    aLevel.mSameChannels = aFirst.sameChannels() && aSecond.sameChannels();
    aLevel.mProposals = aProposals;
    aLevel.mGeoU = aGeometricU.data();
    aLevel.mGeoV = aGeometricV.data();
    aLevel.mGeoC = aGeometricConfidence.data();
    if (aEdgeMap != nullptr) {
      aLevelEdges = *aEdgeMap;
      if (s > 0) aLevelEdges.downsample(aNewX, aNewY);
      aLevel.mEdgeMap = aLevelEdges.data();
    }
    if (s > 0) {
      const float aFactorX = static_cast<float>(aNewX) / static_cast<float>(aXSize);
      const float aFactorY = static_cast<float>(aNewY) / static_cast<float>(aYSize);
      for (int h = 0; h < aProposals; h++)
        reduceProposals(aLists[h], aXSize, aYSize, aNewX, aNewY, w.mU.data() + h * aCount,
                        w.mV.data() + h * aCount, w.mC.data() + h * aCount, w.mWeights);
      scaleValues(w.mU.data(), aProposals * aCount, aFactorX);
      scaleValues(w.mV.data(), aProposals * aCount, aFactorY);
      aLevel.mGeoU = w.mU.data();
      aLevel.mGeoV = w.mV.data();
      aLevel.mGeoC = w.mC.data();
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
    float* aFlowU = aFlow.data();
    float* aFlowV = aFlow.data() + aCount;
    if (s != aMaxScale) {
      warpImage(aLevelFirst.data(), aLevelSecond.data(), aNewX, aNewY, aChannels, aFlowU, aFlowV,
                w.mWarped.data(), w.mConfidence.data(), aLevel.mSameChannels);
      aLevel.mWarped = w.mWarped.data();
    } else {
      std::fill(w.mConfidence.begin(), w.mConfidence.begin() + aCount, 1.0f);
      aLevel.mWarped = aLevelSecond.data();
    }
    aLevel.mConfidence = w.mConfidence.data();
    // 4.6 The closing passes relax twice as long and have no matching term.
    if (s == -1) aSweeps *= 2;
    if (s < 0) aLevel.mProposals = 0;
    // 4.7 Solve the level.
    const float aLevelGamma = static_cast<float>(
        aParameters.mGamma * std::pow(static_cast<double>(aEta), static_cast<double>(aScale)));
    solveLevel(aLevel, aFlowU, aFlowV, aParameters, aLevelGamma, aSweeps);
  }
}
