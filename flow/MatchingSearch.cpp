// Exhaustive descriptor matching over a window of admissible displacements, with a backward
// search that must lead back to the start point and a distinctiveness score (how much better
// the best candidate is than the runner-up).
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <vector>

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"

namespace {

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

// The HOG tensor is channel-planar: the 15 bins of a pixel lie a plane apart, so a descriptor
// would touch 135 cache lines. The search reads it from a copy with the bins of each pixel side
// by side (pixel-major), where a descriptor is nine runs of 15 consecutive values.
void interleaveBins(const CTensor<float>& aHOG, std::vector<float>& aInterleaved) {
  const int aPlane = aHOG.xSize() * aHOG.ySize();
  aInterleaved.resize(static_cast<size_t>(aPlane) * kHOGBins);
  const float* aData = aHOG.data();
  for (int b = 0; b < kHOGBins; b++) {
    const float* aBin = aData + static_cast<size_t>(b) * aPlane;
    for (int i = 0; i < aPlane; i++) aInterleaved[static_cast<size_t>(i) * kHOGBins + b] = aBin[i];
  }
}

// Offsets, within a pixel-major HOG copy, of the 135 descriptor values relative to the point,
// in descriptor order (rows of positions, columns, then orientation bins).
std::vector<std::ptrdiff_t> descriptorOffsets(int aXSize) {
  std::vector<std::ptrdiff_t> aOffsets;
  aOffsets.reserve(kDescriptorSize);
  for (int dy = -kDescriptorSpacing; dy <= kDescriptorSpacing; dy += kDescriptorSpacing)
    for (int dx = -kDescriptorSpacing; dx <= kDescriptorSpacing; dx += kDescriptorSpacing)
      for (int b = 0; b < kHOGBins; b++)
        aOffsets.push_back((dx + static_cast<std::ptrdiff_t>(aXSize) * dy) * kHOGBins + b);
  return aOffsets;
}

// Start of pixel (x, y) in a pixel-major HOG copy.
inline std::ptrdiff_t pixelBase(int x, int y, int aXSize) {
  return (x + static_cast<std::ptrdiff_t>(aXSize) * y) * kHOGBins;
}

// Squared distance between aDescriptor and the descriptor at aHOG[aBase + offsets], summed in
// descriptor order. Stops early, returning a value >= aBound, once the partial sum reaches
// aBound: the terms are non-negative, so the full sum could only be larger.
inline float descriptorDistance(const float* aDescriptor, const float* aHOG, std::ptrdiff_t aBase,
                                const std::ptrdiff_t* aOffsets, float aBound) {
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
  const std::vector<std::ptrdiff_t> aOffsets = descriptorOffsets(aXSize);
  const std::ptrdiff_t* aOff = aOffsets.data();
  std::vector<float> aInterleaved1, aInterleaved2;
  interleaveBins(aHOG1, aInterleaved1);
  interleaveBins(aHOG2, aInterleaved2);
  const float* aHOGData1 = aInterleaved1.data();
  const float* aHOGData2 = aInterleaved2.data();
  // The admissible displacements of each row of the window, ascending: the searches visit
  // exactly these, in the same order as a scan of the whole window would.
  std::vector<int> aRowStart(static_cast<size_t>(aAllowed.ySize()) + 1, 0);
  std::vector<int> aColumns;
  for (int r = 0; r < aAllowed.ySize(); r++) {
    for (int c = 0; c < aAllowed.xSize(); c++)
      if (aAllowed(c, r)) aColumns.push_back(c);
    aRowStart[static_cast<size_t>(r) + 1] = static_cast<int>(aColumns.size());
  }
  const int* aColumnData = aColumns.data();
  float aDescriptor1[kDescriptorSize];
  float aDescriptor2[kDescriptorSize];
  const int aLow = kDescriptorSpacing;
  const int aHighX = aXSize - 1 - kDescriptorSpacing;
  const int aHighY = aYSize - 1 - kDescriptorSpacing;

  for (CMatch& aPoint : aPoints) {
    if (aPoint.mStopped) continue;
    const int x0 = aPoint.mox;
    const int y0 = aPoint.moy;
    // A point without a full descriptor cannot be matched.
    if (x0 < aLow || x0 > aHighX || y0 < aLow || y0 > aHighY) {
      aPoint.mStopped = true;
      continue;
    }
    const std::ptrdiff_t aBase0 = pixelBase(x0, y0, aXSize);
    for (int k = 0; k < kDescriptorSize; k++) aDescriptor1[k] = aHOGData1[aBase0 + aOff[k]];
    const float aE1 = aEnergy1(x0, y0);

    // Forward search: best and second-best distance over the admissible candidates.
    float aBestDist = kNoDistance;
    float aBest2Dist = kNoDistance;
    int aBestX = 0, aBestY = 0;
    const int aFromX = std::max(x0 + rx1, aLow), aToX = std::min(x0 + rx2, aHighX);
    const int aFromY = std::max(y0 + ry1, aLow), aToY = std::min(y0 + ry2, aHighY);
    for (int y = aFromY; y <= aToY; y++) {
      const int r = y - y0 - ry1;
      const int* aFirst = aColumnData + aRowStart[r];
      const int* aLast = aColumnData + aRowStart[r + 1];
      for (const int* c = std::lower_bound(aFirst, aLast, aFromX - x0 - rx1);
           c != aLast && *c <= aToX - x0 - rx1; ++c) {
        const int x = x0 + rx1 + *c;
        if (!energiesMatch(aE1, aEnergy2(x, y))) continue;
        if (colourDistance(aImage1, x0, y0, aImage2, x, y) > kMaxColourDistance) continue;
        const float d =
            descriptorDistance(aDescriptor1, aHOGData2, pixelBase(x, y, aXSize), aOff, aBest2Dist);
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
    const std::ptrdiff_t aBestBase = pixelBase(aBestX, aBestY, aXSize);
    for (int k = 0; k < kDescriptorSize; k++) aDescriptor2[k] = aHOGData2[aBestBase + aOff[k]];
    const float aE2 = aEnergy2(aBestX, aBestY);
    float aBackDist = kNoDistance;
    int aBackX = x0, aBackY = y0;
    const int aBackFromX = std::max(aBestX - rx2, aLow), aBackToX = std::min(aBestX - rx1, aHighX);
    const int aBackFromY = std::max(aBestY - ry2, aLow), aBackToY = std::min(aBestY - ry1, aHighY);
    for (int y = aBackFromY; y <= aBackToY; y++) {
      // x = aBestX - rx1 - column grows as the column falls.
      const int r = aBestY - y - ry1;
      const int* aFirst = aColumnData + aRowStart[r];
      const int* aEnd =
          std::upper_bound(aFirst, aColumnData + aRowStart[r + 1], aBestX - rx1 - aBackFromX);
      for (const int* c = aEnd; c != aFirst && *(c - 1) >= aBestX - rx1 - aBackToX; --c) {
        const int x = aBestX - rx1 - *(c - 1);
        if (!energiesMatch(aEnergy1(x, y), aE2)) continue;
        if (colourDistance(aImage1, x, y, aImage2, aBestX, aBestY) > kMaxColourDistance) continue;
        const float d =
            descriptorDistance(aDescriptor2, aHOGData1, pixelBase(x, y, aXSize), aOff, aBackDist);
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
