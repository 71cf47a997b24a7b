// Exhaustive descriptor matching over a window of admissible displacements, with a backward
// search that must lead back to the start point and a distinctiveness score (how much better
// the best candidate is than the runner-up).
//
// The candidates that pass the cheap energy and colour tests are collected in visiting order
// and their descriptor distances computed several at a time (with AVX2 in vector lanes); then
// the best and second best are updated candidate by candidate in that order, exactly as one
// candidate at a time would.
#include "flow/MatchingSearch.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <vector>

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "foundation/Simd.h"

#if QUORVIK_HAS_AVX2_TARGET
#include <immintrin.h>
#endif

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

// Candidates whose descriptor distances are computed side by side.
constexpr int kBatch = 8;

// Offsets, within a pixel-major HOG field, of the 135 descriptor values relative to the point,
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

// Start of pixel (x, y) in a pixel-major HOG field.
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

// The distances of aCount (<= kBatch) candidates whose descriptors start at aBases into aOut.
// Each is its own sum in descriptor order; a distance may stop early as soon as it is
// >= aBound. A search uses a bound its current one cannot exceed, so an early value is one the
// search ignores, whatever it is exactly.
using CBatchDistances = void (*)(const float* aDescriptor, const float* aHOG,
                                 const std::ptrdiff_t* aBases, int aCount,
                                 const std::ptrdiff_t* aOffsets, float aBound, float* aOut);

void batchDistancesPlain(const float* aDescriptor, const float* aHOG, const std::ptrdiff_t* aBases,
                         int aCount, const std::ptrdiff_t* aOffsets, float aBound, float* aOut) {
  for (int l = 0; l < aCount; l++)
    aOut[l] = descriptorDistance(aDescriptor, aHOG, aBases[l], aOffsets, aBound);
}

#if QUORVIK_HAS_AVX2_TARGET
// The candidates in the lanes of one vector: every lane adds its own terms in descriptor
// order, the batch stops after a run of 15 once every lane has reached aBound. The field must
// have fewer than 2^31 values (32-bit lane indices).
QUORVIK_AVX2 void batchDistancesAvx2(const float* aDescriptor, const float* aHOG,
                                     const std::ptrdiff_t* aBases, int aCount,
                                     const std::ptrdiff_t* aOffsets, float aBound, float* aOut) {
  int aLanes[kBatch];
  for (int l = 0; l < kBatch; l++) aLanes[l] = static_cast<int>(aBases[l < aCount ? l : 0]);
  const __m256i aBase = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(aLanes));
  const __m256 aBoundLanes = _mm256_set1_ps(aBound);
  const int aLive = (1 << aCount) - 1;
  __m256 aSum = _mm256_setzero_ps();
  for (int k = 0; k < kDescriptorSize; k += kHOGBins) {
    for (int b = k; b < k + kHOGBins; b++) {
      const __m256i aIndex =
          _mm256_add_epi32(aBase, _mm256_set1_epi32(static_cast<int>(aOffsets[b])));
      const __m256 d =
          _mm256_sub_ps(_mm256_set1_ps(aDescriptor[b]), _mm256_i32gather_ps(aHOG, aIndex, 4));
      aSum = _mm256_add_ps(aSum, _mm256_mul_ps(d, d));
    }
    const int aDone = _mm256_movemask_ps(_mm256_cmp_ps(aSum, aBoundLanes, _CMP_GE_OQ));
    if ((aDone & aLive) == aLive) break;
  }
  float aAll[kBatch];
  _mm256_storeu_ps(aAll, aSum);
  for (int l = 0; l < aCount; l++) aOut[l] = aAll[l];
}
#endif

// Candidates collected in visiting order until their distances are computed together.
struct CCandidates {
  int mCount = 0;
  int mX[kBatch], mY[kBatch];
  std::ptrdiff_t mBase[kBatch];
  float mDistance[kBatch];
};

// The cheap tests of the candidates aXs[0 .. aCount - 1] of one row (aRow: index of the row's
// first pixel) against the fixed point of the search, whose energy is aEnergy and colour
// aColour: the energies within kEnergyRatio of each other, and the colour difference (first
// image minus second, squared, summed over red, green and blue from 0 upward) not above
// kMaxColourDistance. aEnergies and aPixels (three planes aPlane apart) belong to the image
// of the candidates, the second one when aCandidateInSecond. Writes the x of every passing
// candidate, in order, into aPassing and returns their number.
using CCandidateFilter = int (*)(const int* aXs, int aCount, std::ptrdiff_t aRow,
                                 const float* aEnergies, const float* aPixels,
                                 std::ptrdiff_t aPlane, float aEnergy, const float* aColour,
                                 bool aCandidateInSecond, int* aPassing);

int filterCandidatesPlain(const int* aXs, int aCount, std::ptrdiff_t aRow, const float* aEnergies,
                          const float* aPixels, std::ptrdiff_t aPlane, float aEnergy,
                          const float* aColour, bool aCandidateInSecond, int* aPassing) {
  int aPassed = 0;
  for (int k = 0; k < aCount; k++) {
    const std::ptrdiff_t i = aRow + aXs[k];
    const float e = aEnergies[i];
    float aSum = 0.0f;
    for (int c = 0; c < 3; c++) {
      const float d = aCandidateInSecond ? aColour[c] - aPixels[i + c * aPlane]
                                         : aPixels[i + c * aPlane] - aColour[c];
      aSum += d * d;
    }
    // Both tests and the append without branches: their outcomes follow no pattern.
    const bool aEnergyOff = (e > kEnergyRatio * aEnergy) | (aEnergy > kEnergyRatio * e);
    aPassing[aPassed] = aXs[k];
    aPassed += !aEnergyOff & !(aSum > kMaxColourDistance);
  }
  return aPassed;
}

#if QUORVIK_HAS_AVX2_TARGET
// Eight candidates per vector, gathered by 32-bit indices (planes of fewer than 2^31 values).
QUORVIK_AVX2 int filterCandidatesAvx2(const int* aXs, int aCount, std::ptrdiff_t aRow,
                                      const float* aEnergies, const float* aPixels,
                                      std::ptrdiff_t aPlane, float aEnergy, const float* aColour,
                                      bool aCandidateInSecond, int* aPassing) {
  const __m256i aRowLanes = _mm256_set1_epi32(static_cast<int>(aRow));
  const __m256 aFixed = _mm256_set1_ps(aEnergy);
  const __m256 aFixedBound = _mm256_set1_ps(kEnergyRatio * aEnergy);
  const __m256 aRatio = _mm256_set1_ps(kEnergyRatio);
  const __m256 aLimit = _mm256_set1_ps(kMaxColourDistance);
  const float* aPlanes[3] = {aPixels, aPixels + aPlane, aPixels + 2 * aPlane};
  int aPassed = 0;
  int k = 0;
  for (; k + 8 <= aCount; k += 8) {
    // The candidates of a row ascend in x; eight in a row are read with plain loads.
    const bool aRun = aXs[k + 7] - aXs[k] == 7;
    const std::ptrdiff_t aRunStart = aRow + aXs[k];
    const __m256i aIndex =
        _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(aXs + k)), aRowLanes);
    const __m256 e =
        aRun ? _mm256_loadu_ps(aEnergies + aRunStart) : _mm256_i32gather_ps(aEnergies, aIndex, 4);
    __m256 aSum = _mm256_setzero_ps();
    for (int c = 0; c < 3; c++) {
      const __m256 aValue = aRun ? _mm256_loadu_ps(aPlanes[c] + aRunStart)
                                 : _mm256_i32gather_ps(aPlanes[c], aIndex, 4);
      const __m256 aOther = _mm256_set1_ps(aColour[c]);
      const __m256 d =
          aCandidateInSecond ? _mm256_sub_ps(aOther, aValue) : _mm256_sub_ps(aValue, aOther);
      aSum = _mm256_add_ps(aSum, _mm256_mul_ps(d, d));
    }
    const __m256 aEnergyOff =
        _mm256_or_ps(_mm256_cmp_ps(e, aFixedBound, _CMP_GT_OQ),
                     _mm256_cmp_ps(aFixed, _mm256_mul_ps(aRatio, e), _CMP_GT_OQ));
    const __m256 aFail = _mm256_or_ps(aEnergyOff, _mm256_cmp_ps(aSum, aLimit, _CMP_GT_OQ));
    unsigned aPass = ~static_cast<unsigned>(_mm256_movemask_ps(aFail)) & 0xffu;
    while (aPass != 0) {
      aPassing[aPassed++] = aXs[k + __builtin_ctz(aPass)];
      aPass &= aPass - 1;
    }
  }
  // Back to code without AVX only with the upper halves cleared (GCC does not always do it
  // here), or every SSE instruction after it pays for them.
  _mm256_zeroupper();
  return aPassed + filterCandidatesPlain(aXs + k, aCount - k, aRow, aEnergies, aPixels, aPlane,
                                         aEnergy, aColour, aCandidateInSecond, aPassing + aPassed);
}
#endif

}  // namespace

CHOGField::CHOGField(const CTensor<float>& aHOG) : mXSize(aHOG.xSize()), mYSize(aHOG.ySize()) {
  const size_t aPlane = static_cast<size_t>(mXSize) * mYSize;
  mBins.resize(aPlane * kHOGBins);
  const float* aBin[kHOGBins];
  for (int b = 0; b < kHOGBins; b++) aBin[b] = aHOG.data() + static_cast<size_t>(b) * aPlane;
  // Written in order, read from the 15 planes as parallel streams.
  float* aOut = mBins.data();
  for (size_t i = 0; i < aPlane; i++)
    for (int b = 0; b < kHOGBins; b++) *aOut++ = aBin[b][i];
}

void CMatching::hogMatching(std::vector<CMatch>& aPoints, const CTensor<float>& aImage1,
                            const CTensor<float>& aImage2, const CTensor<float>& aHOG1,
                            const CTensor<float>& aHOG2, const CMatrix<float>& aEnergy1,
                            const CMatrix<float>& aEnergy2, int rx1, int ry1, int rx2, int ry2,
                            const CMatrix<bool>& aAllowed) {
  hogMatchingFields(aPoints, aImage1, aImage2, CHOGField(aHOG1), CHOGField(aHOG2), aEnergy1,
                    aEnergy2, rx1, ry1, rx2, ry2, aAllowed);
}

void hogMatchingFields(std::vector<CMatch>& aPoints, const CTensor<float>& aImage1,
                       const CTensor<float>& aImage2, const CHOGField& aHOG1,
                       const CHOGField& aHOG2, const CMatrix<float>& aEnergy1,
                       const CMatrix<float>& aEnergy2, int rx1, int ry1, int rx2, int ry2,
                       const CMatrix<bool>& aAllowed, int aFirstPoint, int aPointStep) {
  const int aXSize = aHOG2.xSize();
  const int aYSize = aHOG2.ySize();
  const std::vector<std::ptrdiff_t> aOffsets = descriptorOffsets(aXSize);
  const std::ptrdiff_t* aOff = aOffsets.data();
  const float* aHOGData1 = aHOG1.data();
  const float* aHOGData2 = aHOG2.data();
  // Vector lanes address the field with 32-bit indices.
  CBatchDistances aDistances = batchDistancesPlain;
  CCandidateFilter aFilter = filterCandidatesPlain;
#if QUORVIK_HAS_AVX2_TARGET
  if (useAvx2() && static_cast<long long>(aXSize) * aYSize * kHOGBins < (1LL << 31)) {
    aDistances = batchDistancesAvx2;
    aFilter = filterCandidatesAvx2;
  }
#endif
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
  // The candidates of one row of a search, and those that pass the cheap tests.
  std::vector<int> aXs(std::max(aAllowed.xSize(), 1)), aPassing(std::max(aAllowed.xSize(), 1));
  float aDescriptor1[kDescriptorSize];
  float aDescriptor2[kDescriptorSize];
  const int aLow = kDescriptorSpacing;
  const int aHighX = aXSize - 1 - kDescriptorSpacing;
  const int aHighY = aYSize - 1 - kDescriptorSpacing;
  const std::ptrdiff_t aPlane = static_cast<std::ptrdiff_t>(aXSize) * aYSize;
  const float* aPixels1 = aImage1.data();
  const float* aPixels2 = aImage2.data();
  const float* aEnergies1 = aEnergy1.data();
  const float* aEnergies2 = aEnergy2.data();
  CCandidates aBatch;

  for (size_t aIndex = aFirstPoint; aIndex < aPoints.size(); aIndex += aPointStep) {
    CMatch& aPoint = aPoints[aIndex];
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
    const float aColour1[3] = {aImage1(x0, y0, 0), aImage1(x0, y0, 1), aImage1(x0, y0, 2)};

    // Forward search: best and second-best distance over the admissible candidates, taken in
    // visiting order batch by batch.
    float aBestDist = kNoDistance;
    float aBest2Dist = kNoDistance;
    int aBestX = 0, aBestY = 0;
    auto aForwardBatch = [&]() {
      aDistances(aDescriptor1, aHOGData2, aBatch.mBase, aBatch.mCount, aOff, aBest2Dist,
                 aBatch.mDistance);
      for (int l = 0; l < aBatch.mCount; l++) {
        const float d = aBatch.mDistance[l];
        if (d < aBestDist) {
          aBest2Dist = aBestDist;
          aBestDist = d;
          aBestX = aBatch.mX[l];
          aBestY = aBatch.mY[l];
        } else if (d < aBest2Dist) {
          aBest2Dist = d;
        }
      }
      aBatch.mCount = 0;
    };
    const int aFromX = std::max(x0 + rx1, aLow), aToX = std::min(x0 + rx2, aHighX);
    const int aFromY = std::max(y0 + ry1, aLow), aToY = std::min(y0 + ry2, aHighY);
    for (int y = aFromY; y <= aToY; y++) {
      const int r = y - y0 - ry1;
      const int* aLast = aColumnData + aRowStart[r + 1];
      const int* aBegin = std::lower_bound(aColumnData + aRowStart[r], aLast, aFromX - x0 - rx1);
      const int* aEnd = std::upper_bound(aBegin, aLast, aToX - x0 - rx1);
      const int aCount = static_cast<int>(aEnd - aBegin);
      for (int k = 0; k < aCount; k++) aXs[k] = x0 + rx1 + aBegin[k];
      const int aPassed =
          aFilter(aXs.data(), aCount, static_cast<std::ptrdiff_t>(aXSize) * y, aEnergies2, aPixels2,
                  aPlane, aE1, aColour1, true, aPassing.data());
      for (int k = 0; k < aPassed; k++) {
        const int x = aPassing[k];
        aBatch.mX[aBatch.mCount] = x;
        aBatch.mY[aBatch.mCount] = y;
        aBatch.mBase[aBatch.mCount] = pixelBase(x, y, aXSize);
        if (++aBatch.mCount == kBatch) aForwardBatch();
      }
    }
    if (aBatch.mCount > 0) aForwardBatch();
    if (aBestDist >= kNoDistance) {
      aPoint.mStopped = true;
      continue;
    }

    // Backward search from the best candidate into the first image.
    const std::ptrdiff_t aBestBase = pixelBase(aBestX, aBestY, aXSize);
    for (int k = 0; k < kDescriptorSize; k++) aDescriptor2[k] = aHOGData2[aBestBase + aOff[k]];
    const float aE2 = aEnergy2(aBestX, aBestY);
    const float aColour2[3] = {aImage2(aBestX, aBestY, 0), aImage2(aBestX, aBestY, 1),
                               aImage2(aBestX, aBestY, 2)};
    float aBackDist = kNoDistance;
    int aBackX = x0, aBackY = y0;
    auto aBackwardBatch = [&]() {
      aDistances(aDescriptor2, aHOGData1, aBatch.mBase, aBatch.mCount, aOff, aBackDist,
                 aBatch.mDistance);
      for (int l = 0; l < aBatch.mCount; l++) {
        const float d = aBatch.mDistance[l];
        if (d < aBackDist) {
          aBackDist = d;
          aBackX = aBatch.mX[l];
          aBackY = aBatch.mY[l];
        }
      }
      aBatch.mCount = 0;
    };
    const int aBackFromX = std::max(aBestX - rx2, aLow), aBackToX = std::min(aBestX - rx1, aHighX);
    const int aBackFromY = std::max(aBestY - ry2, aLow), aBackToY = std::min(aBestY - ry1, aHighY);
    for (int y = aBackFromY; y <= aBackToY; y++) {
      // x = aBestX - rx1 - column grows as the column falls.
      const int r = aBestY - y - ry1;
      const int* aFirst = aColumnData + aRowStart[r];
      const int* aEnd =
          std::upper_bound(aFirst, aColumnData + aRowStart[r + 1], aBestX - rx1 - aBackFromX);
      const int* aBegin = std::lower_bound(aFirst, aEnd, aBestX - rx1 - aBackToX);
      const int aCount = static_cast<int>(aEnd - aBegin);
      for (int k = 0; k < aCount; k++) aXs[k] = aBestX - rx1 - aEnd[-1 - k];
      const int aPassed =
          aFilter(aXs.data(), aCount, static_cast<std::ptrdiff_t>(aXSize) * y, aEnergies1, aPixels1,
                  aPlane, aE2, aColour2, false, aPassing.data());
      for (int k = 0; k < aPassed; k++) {
        const int x = aPassing[k];
        aBatch.mX[aBatch.mCount] = x;
        aBatch.mY[aBatch.mCount] = y;
        aBatch.mBase[aBatch.mCount] = pixelBase(x, y, aXSize);
        if (++aBatch.mCount == kBatch) aBackwardBatch();
      }
    }
    if (aBatch.mCount > 0) aBackwardBatch();

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
