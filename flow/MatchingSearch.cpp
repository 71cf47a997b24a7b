// Exhaustive descriptor matching over a window of admissible displacements, with a backward
// search that must lead back to the start point and a distinctiveness score (how much better
// the best candidate is than the runner-up).
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "flow/CMatching.h"

namespace {

// The descriptor reads the HOG at offsets -4, 0, 4 in x and y around the point.
constexpr int kDescriptorReach = 4;
constexpr int kDescriptorSpacing = 4;
constexpr int kHOGBins = 15;
constexpr int kDescriptorSize = 9 * kHOGBins;
// Candidates whose HOG energies differ by more than this factor are not compared.
constexpr float kEnergyRatio = 1.25f;
// Largest squared colour difference (sum over red, green, blue) of a candidate.
constexpr float kMaxColourDistance = 300.0f;
// Start value of the best distances: "no candidate yet".
constexpr float kNoDistance = 1e8f;
// Largest offset, in x or y, of the backward match from the start point.
constexpr int kMaxRoundTripError = 1;
// Score of a match without a rival: its own distance counts ten times as the second best.
constexpr float kLoneMatchFactor = 10.0f;
constexpr double kScoreEpsilon = 1e-6;

// Offsets, within a channel-planar HOG tensor, of the 135 descriptor values relative to the
// point, in descriptor order (rows of positions, columns, then orientation bins).
std::vector<int> descriptorOffsets(int aXSize, int aYSize) {
  std::vector<int> aOffsets;
  aOffsets.reserve(kDescriptorSize);
  for (int dy = -kDescriptorReach; dy <= kDescriptorReach; dy += kDescriptorSpacing)
    for (int dx = -kDescriptorReach; dx <= kDescriptorReach; dx += kDescriptorSpacing)
      for (int b = 0; b < kHOGBins; b++) aOffsets.push_back(dx + aXSize * (dy + aYSize * b));
  return aOffsets;
}

// Squared distance between aDescriptor and the descriptor at aHOG[aBase + offsets], summed in
// descriptor order. Stops early, returning a value >= aBound, once the partial sum reaches
// aBound: the terms are non-negative, so the full sum could only be larger.
inline float descriptorDistance(const float* aDescriptor, const float* aHOG, int aBase,
                                const int* aOffsets, float aBound) {
  float aSum = 0.0f;
  for (int k = 0; k < kDescriptorSize; k += kHOGBins) {
    for (int b = k; b < k + kHOGBins; b++) {
      const float d = aDescriptor[b] - aHOG[aBase + aOffsets[b]];
      aSum += d * d;
    }
    if (aSum >= aBound) return aSum;
  }
  return aSum;
}

inline bool energiesMatch(float aE1, float aE2) {
  return !(aE2 > kEnergyRatio * aE1 || aE1 > kEnergyRatio * aE2);
}

inline float colourDistance(const CTensor<float>& aImage1, int x1, int y1,
                            const CTensor<float>& aImage2, int x2, int y2) {
  float aSum = 0.0f;
  for (int c = 0; c < 3; c++) {
    const float d = aImage1(x1, y1, c) - aImage2(x2, y2, c);
    aSum += d * d;
  }
  return aSum;
}

}  // namespace

void CMatching::hogMatching(std::vector<CMatch>& aPoints, const CTensor<float>& aImage1,
                            const CTensor<float>& aImage2, const CTensor<float>& aHOG1,
                            const CTensor<float>& aHOG2, const CMatrix<float>& aEnergy1,
                            const CMatrix<float>& aEnergy2, int rx1, int ry1, int rx2, int ry2,
                            const CMatrix<bool>& aAllowed) {
  const int aXSize = aHOG2.xSize();
  const int aYSize = aHOG2.ySize();
  const std::vector<int> aOffsets = descriptorOffsets(aXSize, aYSize);
  const int* aOff = aOffsets.data();
  const float* aHOGData1 = aHOG1.data();
  const float* aHOGData2 = aHOG2.data();
  const int aAllowedWidth = aAllowed.xSize();
  float aDescriptor1[kDescriptorSize];
  float aDescriptor2[kDescriptorSize];
  const int aLow = kDescriptorReach;
  const int aHighX = aXSize - 1 - kDescriptorReach;
  const int aHighY = aYSize - 1 - kDescriptorReach;

  for (CMatch& aPoint : aPoints) {
    if (aPoint.mStopped) continue;
    const int x0 = aPoint.mox;
    const int y0 = aPoint.moy;
    // A point without a full descriptor cannot be matched.
    if (x0 < aLow || x0 > aHighX || y0 < aLow || y0 > aHighY) {
      aPoint.mStopped = true;
      continue;
    }
    const int aBase0 = x0 + aXSize * y0;
    for (int k = 0; k < kDescriptorSize; k++) aDescriptor1[k] = aHOGData1[aBase0 + aOff[k]];
    const float aE1 = aEnergy1(x0, y0);

    // Forward search: best and second-best distance over the admissible candidates.
    float aBestDist = kNoDistance;
    float aBest2Dist = kNoDistance;
    int aBestX = 0, aBestY = 0;
    const int aFromX = std::max(x0 + rx1, aLow), aToX = std::min(x0 + rx2, aHighX);
    const int aFromY = std::max(y0 + ry1, aLow), aToY = std::min(y0 + ry2, aHighY);
    for (int y = aFromY; y <= aToY; y++) {
      const bool* aAllowedRow = aAllowed.data() + (y - y0 - ry1) * aAllowedWidth;
      for (int x = aFromX; x <= aToX; x++) {
        if (!aAllowedRow[x - x0 - rx1]) continue;
        if (!energiesMatch(aE1, aEnergy2(x, y))) continue;
        if (colourDistance(aImage1, x0, y0, aImage2, x, y) > kMaxColourDistance) continue;
        const float d =
            descriptorDistance(aDescriptor1, aHOGData2, x + aXSize * y, aOff, aBest2Dist);
        if (d < aBestDist) {
          aBest2Dist = aBestDist;
          aBestDist = d;
          aBestX = x;
          aBestY = y;
        } else if (d < aBest2Dist) {
          aBest2Dist = d;
        }
      }
    }
    if (aBestDist >= kNoDistance) {
      aPoint.mStopped = true;
      continue;
    }

    // Backward search from the best candidate into the first image.
    const int aBestBase = aBestX + aXSize * aBestY;
    for (int k = 0; k < kDescriptorSize; k++) aDescriptor2[k] = aHOGData2[aBestBase + aOff[k]];
    const float aE2 = aEnergy2(aBestX, aBestY);
    float aBackDist = kNoDistance;
    int aBackX = x0, aBackY = y0;
    const int aBackFromX = std::max(aBestX - rx2, aLow), aBackToX = std::min(aBestX - rx1, aHighX);
    const int aBackFromY = std::max(aBestY - ry2, aLow), aBackToY = std::min(aBestY - ry1, aHighY);
    for (int y = aBackFromY; y <= aBackToY; y++) {
      const bool* aAllowedRow = aAllowed.data() + (aBestY - y - ry1) * aAllowedWidth;
      for (int x = aBackFromX; x <= aBackToX; x++) {
        if (!aAllowedRow[aBestX - x - rx1]) continue;
        if (!energiesMatch(aEnergy1(x, y), aE2)) continue;
        if (colourDistance(aImage1, x, y, aImage2, aBestX, aBestY) > kMaxColourDistance) continue;
        const float d =
            descriptorDistance(aDescriptor2, aHOGData1, x + aXSize * y, aOff, aBackDist);
        if (d < aBackDist) {
          aBackDist = d;
          aBackX = x;
          aBackY = y;
        }
      }
    }

    // The round trip must end next to the start point.
    if (std::abs(aBackX - x0) > kMaxRoundTripError || std::abs(aBackY - y0) > kMaxRoundTripError) {
      aPoint.mStopped = true;
      continue;
    }
    aPoint.mx = aBestX;
    aPoint.my = aBestY;
    const float aRival = (aBest2Dist >= kNoDistance) ? kLoneMatchFactor * aBackDist : aBest2Dist;
    const float aGap = aRival - aBackDist;
    aPoint.mScore = static_cast<float>(static_cast<double>(aGap) /
                                       (static_cast<double>(aBackDist) + kScoreEpsilon));
  }
}
