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
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "foundation/Lanes.h"
#include "foundation/Simd.h"

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

// Values per pixel in a descriptor field.
constexpr int kStride = CHOGField::kFieldStride;
static_assert(kStride >= 16 && kHOGBins <= 16, "two vectors of eight hold a pixel's bins");

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
        aOffsets.push_back((dx + static_cast<std::ptrdiff_t>(aXSize) * dy) * kStride + b);
  return aOffsets;
}

// Start of pixel (x, y) in a pixel-major HOG field.
inline std::ptrdiff_t pixelBase(int x, int y, int aXSize) {
  return (x + static_cast<std::ptrdiff_t>(aXSize) * y) * kStride;
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
// order, the batch stops after a position (a run of 15 bins) once every lane has reached
// aBound. A position's bins of the eight candidates are read as two rows of eight values per
// candidate and turned into one vector per bin.
QUORVIK_AVX2 void batchDistancesAvx2(const float* aDescriptor, const float* aHOG,
                                     const std::ptrdiff_t* aBases, int aCount,
                                     const std::ptrdiff_t* aOffsets, float aBound, float* aOut) {
  const float* aLanes[kBatch];
  for (int l = 0; l < kBatch; l++) aLanes[l] = aHOG + aBases[l < aCount ? l : 0];
  const lanes::F8 aBoundLanes = lanes::splatWide(aBound);
  const int aLive = (1 << aCount) - 1;
  lanes::F8 aSum = lanes::splatWide(0.0f);
  for (int k = 0; k < kDescriptorSize; k += kHOGBins) {
    // aOffsets[k] is the position's first bin; its bins follow one another.
    lanes::F8 aLow[8], aHigh[8];
    for (int l = 0; l < kBatch; l++) {
      aLow[l] = lanes::loadWide(aLanes[l] + aOffsets[k]);
      aHigh[l] = lanes::loadWide(aLanes[l] + aOffsets[k] + 8);
    }
    lanes::transpose(aLow);
    lanes::transpose(aHigh);
    for (int b = 0; b < kHOGBins; b++) {
      const lanes::F8 aValue = b < 8 ? aLow[b] : aHigh[b - 8];
      const lanes::F8 d = lanes::splatWide(aDescriptor[k + b]) - aValue;
      aSum = aSum + d * d;
    }
    const int aDone = lanes::bits(lanes::greaterEqual(aSum, aBoundLanes));
    if ((aDone & aLive) == aLive) break;
  }
  float aAll[kBatch];
  lanes::store(aAll, aSum);
  for (int l = 0; l < aCount; l++) aOut[l] = aAll[l];
}
#endif

// True when every channel of aImage equals channel 0 bit for bit.
bool equalChannels(const CTensor<float>& aImage) {
  const size_t aPlane = static_cast<size_t>(aImage.xSize()) * aImage.ySize();
  for (int c = 1; c < aImage.zSize(); c++)
    if (std::memcmp(aImage.data(), aImage.data() + c * aPlane, aPlane * sizeof(float)) != 0)
      return false;
  return true;
}

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
  const lanes::I8 aRowLanes = lanes::splatInt(static_cast<int>(aRow));
  const lanes::F8 aFixed = lanes::splatWide(aEnergy);
  const lanes::F8 aFixedBound = lanes::splatWide(kEnergyRatio * aEnergy);
  const lanes::F8 aRatio = lanes::splatWide(kEnergyRatio);
  const lanes::F8 aLimit = lanes::splatWide(kMaxColourDistance);
  const float* aPlanes[3] = {aPixels, aPixels + aPlane, aPixels + 2 * aPlane};
  int aPassed = 0;
  int k = 0;
  for (; k + 8 <= aCount; k += 8) {
    // The candidates of a row ascend in x; eight in a row are read with plain loads.
    const bool aRun = aXs[k + 7] - aXs[k] == 7;
    const std::ptrdiff_t aRunStart = aRow + aXs[k];
    const lanes::I8 aIndex = lanes::loadInts(aXs + k) + aRowLanes;
    const lanes::F8 e =
        aRun ? lanes::loadWide(aEnergies + aRunStart) : lanes::gather(aEnergies, aIndex);
    lanes::F8 aSum = lanes::splatWide(0.0f);
    for (int c = 0; c < 3; c++) {
      const lanes::F8 aValue =
          aRun ? lanes::loadWide(aPlanes[c] + aRunStart) : lanes::gather(aPlanes[c], aIndex);
      const lanes::F8 aOther = lanes::splatWide(aColour[c]);
      const lanes::F8 d = aCandidateInSecond ? aOther - aValue : aValue - aOther;
      aSum = aSum + d * d;
    }
    const lanes::F8 aEnergyOff =
        lanes::greater(e, aFixedBound) | lanes::greater(aFixed, aRatio * e);
    const lanes::F8 aFail = aEnergyOff | lanes::greater(aSum, aLimit);
    unsigned aPass = ~static_cast<unsigned>(lanes::bits(aFail)) & 0xffu;
    while (aPass != 0) {
      aPassing[aPassed++] = aXs[k + __builtin_ctz(aPass)];
      aPass &= aPass - 1;
    }
  }
  // Back to code without AVX only with the upper halves cleared (GCC does not always do it
  // here), or every SSE instruction after it pays for them.
  lanes::leaveWide();
  return aPassed + filterCandidatesPlain(aXs + k, aCount - k, aRow, aEnergies, aPixels, aPlane,
                                         aEnergy, aColour, aCandidateInSecond, aPassing + aPassed);
}
#endif

}  // namespace

CHOGField::CHOGField(const CTensor<float>& aHOG) : mXSize(aHOG.xSize()), mYSize(aHOG.ySize()) {
  const size_t aPlane = static_cast<size_t>(mXSize) * mYSize;
  mBins.resize(aPlane * kFieldStride);
  const float* aBin[kHOGBins];
  for (int b = 0; b < kHOGBins; b++) aBin[b] = aHOG.data() + static_cast<size_t>(b) * aPlane;
  // Written in order, read from the 15 planes as parallel streams.
  float* aOut = mBins.data();
  for (size_t i = 0; i < aPlane; i++) {
    for (int b = 0; b < kHOGBins; b++) *aOut++ = aBin[b][i];
    for (int b = kHOGBins; b < kFieldStride; b++) *aOut++ = 0.0f;
  }
}

namespace {

// Seeds whose searches run together, row by row of their windows: the windows of neighbouring
// seeds overlap, so each row of candidates comes from memory once for all of them.
constexpr int kGroupSize = 16;

// One search, forward from a seed or backward from its best candidate: the fixed point's
// descriptor, energy and colour, the window, and the best distances so far.
struct CSearch {
  float mDescriptor[kDescriptorSize];
  float mEnergy;
  float mColour[3];
  // Rows mFromY ... mToY; row y uses row r = mRowSign * (y - mRowOrigin) of the allowed set,
  // its columns c in mColumnLow ... mColumnHigh, at x = mXOrigin + mXSign * c (visited with x
  // ascending).
  int mFromY, mToY, mRowOrigin, mRowSign;
  int mColumnLow, mColumnHigh, mXOrigin, mXSign;
  // A forward search keeps the second best distance too and lets distances stop at it.
  bool mKeepsSecond;
  float mBest, mSecond;
  int mBestX, mBestY;
  CCandidates mBatch;
};

// The data one direction of search reads: the candidates' image, energies and descriptor
// field, the allowed set's columns by row, and the kernels.
struct CSearchData {
  const float* mPixels;
  const float* mEnergies;
  const float* mHOG;
  std::ptrdiff_t mPlane;
  int mXSize;
  bool mCandidateInSecond;
  const std::ptrdiff_t* mOffsets;
  const int* mColumns;
  const int* mRowStart;
  int mWidth;  // of the allowed set
  CBatchDistances mDistances;
  CCandidateFilter mFilter;
};

// The distances of the batch, then the best (and second best) updated candidate by candidate.
void finishBatch(CSearch& s, const CSearchData& aData) {
  CCandidates& b = s.mBatch;
  aData.mDistances(s.mDescriptor, aData.mHOG, b.mBase, b.mCount, aData.mOffsets,
                   s.mKeepsSecond ? s.mSecond : s.mBest, b.mDistance);
  for (int l = 0; l < b.mCount; l++) {
    const float d = b.mDistance[l];
    if (d < s.mBest) {
      if (s.mKeepsSecond) s.mSecond = s.mBest;
      s.mBest = d;
      s.mBestX = b.mX[l];
      s.mBestY = b.mY[l];
    } else if (s.mKeepsSecond && d < s.mSecond) {
      s.mSecond = d;
    }
  }
  b.mCount = 0;
}

// Runs aCount searches to completion, all rows y of their windows in ascending order; each
// search sees its own candidates in the order of a search on its own.
void runSearches(CSearch* aSearches, int aCount, const CSearchData& aData, std::vector<int>& aXs,
                 std::vector<int>& aPassing) {
  int aFromY = INT_MAX, aToY = INT_MIN;
  for (int k = 0; k < aCount; k++) {
    aFromY = std::min(aFromY, aSearches[k].mFromY);
    aToY = std::max(aToY, aSearches[k].mToY);
  }
  for (int y = aFromY; y <= aToY; y++) {
    const std::ptrdiff_t aRow = static_cast<std::ptrdiff_t>(aData.mXSize) * y;
    for (int k = 0; k < aCount; k++) {
      CSearch& s = aSearches[k];
      if (y < s.mFromY || y > s.mToY) continue;
      const int r = s.mRowSign * (y - s.mRowOrigin);
      const int* aFirst = aData.mColumns + aData.mRowStart[r];
      const int* aLast = aData.mColumns + aData.mRowStart[r + 1];
      // A window inside the picture takes whole rows of the allowed set.
      const int* aBegin =
          s.mColumnLow <= 0 ? aFirst : std::lower_bound(aFirst, aLast, s.mColumnLow);
      const int* aEnd = s.mColumnHigh >= aData.mWidth - 1
                            ? aLast
                            : std::upper_bound(aBegin, aLast, s.mColumnHigh);
      const int n = static_cast<int>(aEnd - aBegin);
      if (s.mXSign > 0)
        for (int i = 0; i < n; i++) aXs[i] = s.mXOrigin + aBegin[i];
      else
        for (int i = 0; i < n; i++) aXs[i] = s.mXOrigin - aEnd[-1 - i];
      const int aPassed =
          aData.mFilter(aXs.data(), n, aRow, aData.mEnergies, aData.mPixels, aData.mPlane,
                        s.mEnergy, s.mColour, aData.mCandidateInSecond, aPassing.data());
      for (int i = 0; i < aPassed; i++) {
        CCandidates& b = s.mBatch;
        b.mX[b.mCount] = aPassing[i];
        b.mY[b.mCount] = y;
        b.mBase[b.mCount] = (aRow + aPassing[i]) * kStride;
        if (++b.mCount == kBatch) finishBatch(s, aData);
      }
    }
  }
  for (int k = 0; k < aCount; k++)
    if (aSearches[k].mBatch.mCount > 0) finishBatch(aSearches[k], aData);
}

}  // namespace

void hogMatchingFields(std::vector<CMatch>& aPoints, const CTensor<float>& aImage1,
                       const CTensor<float>& aImage2, const CHOGField& aHOG1,
                       const CHOGField& aHOG2, const CMatrix<float>& aEnergy1,
                       const CMatrix<float>& aEnergy2, int rx1, int ry1, int rx2, int ry2,
                       const CMatrix<bool>& aAllowed, int aFirstPoint, int aPointStep) {
  const int aXSize = aHOG2.xSize();
  const int aYSize = aHOG2.ySize();
  const std::vector<std::ptrdiff_t> aOffsets = descriptorOffsets(aXSize);
  const std::ptrdiff_t* aOff = aOffsets.data();
  CBatchDistances aDistances = batchDistancesPlain;
  CCandidateFilter aFilter = filterCandidatesPlain;
#if QUORVIK_HAS_AVX2_TARGET
  if (useAvx2()) {
    aDistances = batchDistancesAvx2;
    // The filter gathers with 32-bit indices into the planes.
    if (static_cast<long long>(aXSize) * aYSize < (1LL << 31)) aFilter = filterCandidatesAvx2;
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
  // In a grey pair (every channel equal to channel 0 in both images) the colour test reads
  // channel 0 for every channel: the same values, from one plane instead of three.
  const std::ptrdiff_t aPlane = equalChannels(aImage1) && equalChannels(aImage2)
                                    ? 0
                                    : static_cast<std::ptrdiff_t>(aXSize) * aYSize;
  const CSearchData aForward = {
      aImage2.data(), aEnergy2.data(), aHOG2.data(),     aPlane,           aXSize,     true,
      aOff,           aColumns.data(), aRowStart.data(), aAllowed.xSize(), aDistances, aFilter};
  const CSearchData aBackward = {
      aImage1.data(), aEnergy1.data(), aHOG1.data(),     aPlane,           aXSize,     false,
      aOff,           aColumns.data(), aRowStart.data(), aAllowed.xSize(), aDistances, aFilter};
  // The candidates of one row of a search, and those that pass the cheap tests.
  std::vector<int> aXs(std::max(aAllowed.xSize(), 1)), aPassing(std::max(aAllowed.xSize(), 1));
  const int aLow = kDescriptorSpacing;
  const int aHighX = aXSize - 1 - kDescriptorSpacing;
  const int aHighY = aYSize - 1 - kDescriptorSpacing;
  std::vector<CSearch> aSearches(kGroupSize), aBackSearches(kGroupSize);
  CMatch* aGroup[kGroupSize];
  int aSurvivors[kGroupSize];  // index in the group of each backward search

  size_t aNext = aFirstPoint;
  while (aNext < aPoints.size()) {
    // The next seeds with a full descriptor; the others cannot be matched.
    int n = 0;
    for (; aNext < aPoints.size() && n < kGroupSize; aNext += aPointStep) {
      CMatch& aPoint = aPoints[aNext];
      if (aPoint.mStopped) continue;
      const int x0 = aPoint.mox, y0 = aPoint.moy;
      if (x0 < aLow || x0 > aHighX || y0 < aLow || y0 > aHighY) {
        aPoint.mStopped = true;
        continue;
      }
      CSearch& s = aSearches[n];
      const std::ptrdiff_t aBase = pixelBase(x0, y0, aXSize);
      for (int k = 0; k < kDescriptorSize; k++) s.mDescriptor[k] = aHOG1.data()[aBase + aOff[k]];
      s.mEnergy = aEnergy1(x0, y0);
      for (int c = 0; c < 3; c++) s.mColour[c] = aImage1(x0, y0, c);
      const int aFromX = std::max(x0 + rx1, aLow), aToX = std::min(x0 + rx2, aHighX);
      s.mFromY = std::max(y0 + ry1, aLow);
      s.mToY = std::min(y0 + ry2, aHighY);
      s.mRowOrigin = y0 + ry1;
      s.mRowSign = 1;
      s.mColumnLow = aFromX - x0 - rx1;
      s.mColumnHigh = aToX - x0 - rx1;
      s.mXOrigin = x0 + rx1;
      s.mXSign = 1;
      s.mKeepsSecond = true;
      s.mBest = s.mSecond = kNoDistance;
      s.mBestX = s.mBestY = 0;
      s.mBatch.mCount = 0;
      aGroup[n++] = &aPoint;
    }
    if (n == 0) break;

    // Forward searches: best and second-best distance over the admissible candidates.
    runSearches(aSearches.data(), n, aForward, aXs, aPassing);

    // Backward searches from the best candidates into the first image.
    int m = 0;
    for (int k = 0; k < n; k++) {
      const CSearch& f = aSearches[k];
      if (f.mBest >= kNoDistance) {
        aGroup[k]->mStopped = true;
        continue;
      }
      CSearch& s = aBackSearches[m];
      const std::ptrdiff_t aBase = pixelBase(f.mBestX, f.mBestY, aXSize);
      for (int i = 0; i < kDescriptorSize; i++) s.mDescriptor[i] = aHOG2.data()[aBase + aOff[i]];
      s.mEnergy = aEnergy2(f.mBestX, f.mBestY);
      for (int c = 0; c < 3; c++) s.mColour[c] = aImage2(f.mBestX, f.mBestY, c);
      const int aFromX = std::max(f.mBestX - rx2, aLow), aToX = std::min(f.mBestX - rx1, aHighX);
      s.mFromY = std::max(f.mBestY - ry2, aLow);
      s.mToY = std::min(f.mBestY - ry1, aHighY);
      // x = aBestX - rx1 - column grows as the column falls.
      s.mRowOrigin = f.mBestY - ry1;
      s.mRowSign = -1;
      s.mColumnLow = f.mBestX - rx1 - aToX;
      s.mColumnHigh = f.mBestX - rx1 - aFromX;
      s.mXOrigin = f.mBestX - rx1;
      s.mXSign = -1;
      s.mKeepsSecond = false;
      s.mBest = s.mSecond = kNoDistance;
      s.mBestX = aGroup[k]->mox;
      s.mBestY = aGroup[k]->moy;
      s.mBatch.mCount = 0;
      aSurvivors[m++] = k;
    }
    runSearches(aBackSearches.data(), m, aBackward, aXs, aPassing);

    for (int k = 0; k < m; k++) {
      const CSearch& f = aSearches[aSurvivors[k]];
      const CSearch& b = aBackSearches[k];
      CMatch& aPoint = *aGroup[aSurvivors[k]];
      // The round trip must end next to the start point.
      if (std::abs(b.mBestX - aPoint.mox) > kMaxRoundTripError ||
          std::abs(b.mBestY - aPoint.moy) > kMaxRoundTripError) {
        aPoint.mStopped = true;
        continue;
      }
      aPoint.mx = f.mBestX;
      aPoint.my = f.mBestY;
      const float aBest2Dist = f.mSecond;
      const float aBackDist = b.mBest;
      const float aRival = (aBest2Dist >= kNoDistance) ? kLoneMatchFactor * aBackDist : aBest2Dist;
      const float aGap = aRival - aBackDist;
      aPoint.mScore = static_cast<float>(static_cast<double>(aGap) /
                                         (static_cast<double>(aBackDist) + kScoreEpsilon));
    }
  }
}
