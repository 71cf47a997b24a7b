#include "evaluation/SegmentationMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "evaluation/Assignment.h"
#include "tracking/DistanceTransform.h"

namespace {

// A frame counts for the recall when its measure is above this.
constexpr double kRecallThreshold = 0.5;
// Distance transform input of a pixel that is not a boundary pixel.
constexpr float kFar = 1e20f;

double harmonicMean(double aPrecision, double aRecall) {
  return aPrecision + aRecall > 0 ? 2 * aPrecision * aRecall / (aPrecision + aRecall) : 0.0;
}

double quotient(long long aPart, long long aWhole) {
  return aWhole > 0 ? static_cast<double>(aPart) / static_cast<double>(aWhole) : 0.0;
}

// Squared distance of every pixel to the nearest boundary pixel of aBoundary.
void squaredDistances(const CMatrix<bool>& aBoundary, CMatrix<float>& aDistances) {
  aDistances.setSize(aBoundary.xSize(), aBoundary.ySize());
  for (int i = 0; i < aBoundary.size(); i++) aDistances.data()[i] = aBoundary.data()[i] ? 0 : kFar;
  euclideanDistanceTransform(aDistances);
}

// Boundary pixels of aBoundary with a pixel of the other boundary within the tolerance, and
// all boundary pixels of aBoundary.
void countMatched(const CMatrix<bool>& aBoundary, const CMatrix<float>& aOtherDistances,
                  float aMaxSquared, long long& aMatched, long long& aAll) {
  aMatched = aAll = 0;
  for (int i = 0; i < aBoundary.size(); i++) {
    if (!aBoundary.data()[i]) continue;
    aAll++;
    if (aOtherDistances.data()[i] <= aMaxSquared) aMatched++;
  }
}

}  // namespace

double regionSimilarity(const CMatrix<bool>& aMask, const CMatrix<bool>& aTruth) {
  long long aIntersection = 0, aUnion = 0;
  for (int i = 0; i < aMask.size(); i++) {
    const bool m = aMask.data()[i], g = aTruth.data()[i];
    aIntersection += m && g;
    aUnion += m || g;
  }
  return aUnion == 0 ? 1.0 : quotient(aIntersection, aUnion);
}

int boundaryTolerance(int aXSize, int aYSize) {
  const double aDiagonal =
      std::sqrt(static_cast<double>(aXSize) * aXSize + static_cast<double>(aYSize) * aYSize);
  return std::max(1, static_cast<int>(std::ceil(kBoundaryToleranceShare * aDiagonal)));
}

void boundaryPixels(const CMatrix<bool>& aMask, CMatrix<bool>& aBoundary) {
  const int W = aMask.xSize(), H = aMask.ySize();
  aBoundary.setSize(W, H);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      const bool m = aMask(x, y);
      const bool aEast = x + 1 < W && aMask(x + 1, y) != m;
      const bool aSouth = y + 1 < H && aMask(x, y + 1) != m;
      const bool aSouthEast = x + 1 < W && y + 1 < H && aMask(x + 1, y + 1) != m;
      aBoundary(x, y) = aEast || aSouth || aSouthEast;
    }
}

CBoundaryMeasure boundaryMeasure(const CMatrix<bool>& aMask, const CMatrix<bool>& aTruth,
                                 int aTolerance) {
  CMatrix<bool> aMaskBoundary, aTruthBoundary;
  boundaryPixels(aMask, aMaskBoundary);
  boundaryPixels(aTruth, aTruthBoundary);
  CMatrix<float> aToMask, aToTruth;
  squaredDistances(aMaskBoundary, aToMask);
  squaredDistances(aTruthBoundary, aToTruth);
  const float aMaxSquared = static_cast<float>(aTolerance) * static_cast<float>(aTolerance);
  long long aMaskMatched, aMaskAll, aTruthMatched, aTruthAll;
  countMatched(aMaskBoundary, aToTruth, aMaxSquared, aMaskMatched, aMaskAll);
  countMatched(aTruthBoundary, aToMask, aMaxSquared, aTruthMatched, aTruthAll);
  if (aMaskAll == 0 && aTruthAll == 0) return {1.0, 1.0, 1.0};
  if (aMaskAll == 0) return {1.0, 0.0, 0.0};
  if (aTruthAll == 0) return {0.0, 1.0, 0.0};
  const double aPrecision = quotient(aMaskMatched, aMaskAll);
  const double aRecall = quotient(aTruthMatched, aTruthAll);
  return {aPrecision, aRecall, harmonicMean(aPrecision, aRecall)};
}

void truthForeground(const CMatrix<int>& aTruth, CMatrix<bool>& aMask) {
  aMask.setSize(aTruth.xSize(), aTruth.ySize());
  for (int i = 0; i < aTruth.size(); i++) aMask.data()[i] = aTruth.data()[i] >= 1;
}

void regionsMask(const CMatrix<int>& aLabels, const std::vector<int>& aRegions,
                 CMatrix<bool>& aMask) {
  aMask.setSize(aLabels.xSize(), aLabels.ySize());
  for (int i = 0; i < aLabels.size(); i++) {
    const int aLabel = aLabels.data()[i];
    aMask.data()[i] =
        aLabel != kNoLabel && std::binary_search(aRegions.begin(), aRegions.end(), aLabel);
  }
}

void addOverlap(const CMatrix<int>& aLabels, const CMatrix<int>& aTruth, COverlapCounts& aCounts) {
  const int aCount = aLabels.size();
  // Neighbouring pixels mostly carry the same pair of labels: runs are counted first and
  // added to the maps once per run.
  int aRegion = 0, aObject = 0;
  long long aRun = 0;
  auto flush = [&]() {
    if (aRun == 0) return;
    aCounts.mTruthSize[aObject] += aRun;
    if (aRegion != kNoLabel) {
      aCounts.mJoint[{aRegion, aObject}] += aRun;
      aCounts.mRegionSize[aRegion] += aRun;
      aCounts.mTruthLabelled[aObject] += aRun;
      aCounts.mLabelled += aRun;
    }
    aCounts.mPixels += aRun;
    aRun = 0;
  };
  for (int i = 0; i < aCount; i++) {
    const int r = aLabels.data()[i] < 0 ? kNoLabel : aLabels.data()[i], g = aTruth.data()[i];
    if (aRun > 0 && (r != aRegion || g != aObject)) flush();
    aRegion = r;
    aObject = g;
    aRun++;
  }
  flush();
}

CMultiObjectScore scoreObjects(const COverlapCounts& aCounts) {
  CMultiObjectScore aScore;
  std::vector<int> aTruthLabels, aRegions;
  for (const auto& aEntry : aCounts.mTruthSize) aTruthLabels.push_back(aEntry.first);
  for (const auto& aEntry : aCounts.mRegionSize) aRegions.push_back(aEntry.first);
  aScore.mRegions = static_cast<int>(aRegions.size());
  aScore.mDensity = quotient(aCounts.mLabelled, aCounts.mPixels);

  // F of every (region, truth region) pair; pairs that share no pixel score 0.
  const int aRows = static_cast<int>(aTruthLabels.size());
  const int aColumns = static_cast<int>(aRegions.size());
  CMatrix<double> aF(aColumns, aRows, 0.0);
  CMatrix<double> aPrecision(aColumns, aRows, 0.0), aRecall(aColumns, aRows, 0.0);
  for (const auto& aEntry : aCounts.mJoint) {
    const int c = static_cast<int>(
        std::lower_bound(aRegions.begin(), aRegions.end(), aEntry.first.first) - aRegions.begin());
    const int g = static_cast<int>(
        std::lower_bound(aTruthLabels.begin(), aTruthLabels.end(), aEntry.first.second) -
        aTruthLabels.begin());
    aPrecision(c, g) = quotient(aEntry.second, aCounts.mRegionSize.at(aEntry.first.first));
    aRecall(c, g) = quotient(aEntry.second, aCounts.mTruthLabelled.at(aEntry.first.second));
    aF(c, g) = harmonicMean(aPrecision(c, g), aRecall(c, g));
  }
  const std::vector<int> aMatch = bestAssignment(aF);

  double aSumP = 0, aSumR = 0, aSumF = 0;
  for (int g = 0; g < aRows; g++) {
    CObjectScore aObject{aTruthLabels[g], -1, 0.0, 0.0, 0.0};
    const int c = aMatch[g];
    if (c >= 0 && aF(c, g) > 0) {
      aObject.mRegion = aRegions[c];
      aObject.mPrecision = aPrecision(c, g);
      aObject.mRecall = aRecall(c, g);
      aObject.mF = aF(c, g);
    }
    aScore.mPerObject.push_back(aObject);
    if (aObject.mObject < 1) continue;
    aScore.mObjects++;
    if (aObject.mF >= kExtractedF) aScore.mExtracted++;
    aSumP += aObject.mPrecision;
    aSumR += aObject.mRecall;
    aSumF += aObject.mF;
  }
  const double aNaN = std::numeric_limits<double>::quiet_NaN();
  aScore.mPrecision = aScore.mObjects > 0 ? aSumP / aScore.mObjects : aNaN;
  aScore.mRecall = aScore.mObjects > 0 ? aSumR / aScore.mObjects : aNaN;
  aScore.mF = aScore.mObjects > 0 ? aSumF / aScore.mObjects : aNaN;
  return aScore;
}

double measureRecall(const std::vector<double>& aValues) {
  if (aValues.empty()) return 0.0;
  long long aAbove = 0;
  for (double v : aValues) aAbove += v > kRecallThreshold;
  return quotient(aAbove, static_cast<long long>(aValues.size()));
}

double measureDecay(const std::vector<double>& aValues) {
  const int n = static_cast<int>(aValues.size());
  if (n == 0) return 0.0;
  auto bound = [&](int i) {
    // The evaluation's 1e-10 lifts exact halves, so they round up.
    return static_cast<int>(std::floor(1.0 + i * (n - 1) / 4.0 + 1e-10 + 0.5)) - 1;
  };
  auto mean = [&](int aFrom, int aTo) {
    double aSum = 0.0;
    int aCount = 0;
    for (int k = aFrom; k <= aTo && k < n; k++) aSum += aValues[k], aCount++;
    return aCount > 0 ? aSum / aCount : 0.0;
  };
  return mean(bound(0), bound(1)) - mean(bound(3), bound(4));
}

void addFrameRegions(const CMatrix<int>& aLabels, const CMatrix<int>& aTruth,
                     std::vector<CFrameRegionCounts>& aFrames) {
  CFrameRegionCounts aFrame;
  int aRegion = kNoLabel;
  long long aPixels = 0, aOn = 0;
  auto flush = [&]() {
    if (aRegion != kNoLabel && aPixels > 0) {
      auto& aEntry = aFrame.mRegions[aRegion];
      aEntry.first += aPixels;
      aEntry.second += aOn;
    }
    aPixels = aOn = 0;
  };
  for (int i = 0; i < aLabels.size(); i++) {
    const int r = aLabels.data()[i] < 0 ? kNoLabel : aLabels.data()[i];
    const bool aObject = aTruth.data()[i] >= 1;
    aFrame.mTruth += aObject;
    if (r != aRegion) flush(), aRegion = r;
    aPixels++;
    aOn += aObject;
  }
  flush();
  aFrames.push_back(std::move(aFrame));
}

std::vector<int> oracleRegions(const std::vector<CFrameRegionCounts>& aFrames, int aFirst,
                               int aEnd) {
  std::map<int, std::pair<long long, long long>> aTotals;
  for (const CFrameRegionCounts& f : aFrames)
    for (const auto& aEntry : f.mRegions) {
      aTotals[aEntry.first].first += aEntry.second.first;
      aTotals[aEntry.first].second += aEntry.second.second;
    }
  // Regions on objects by their share, highest first; exact comparison of the fractions.
  std::vector<std::pair<int, std::pair<long long, long long>>> aOrder;
  for (const auto& aEntry : aTotals)
    if (aEntry.second.second > 0) aOrder.push_back(aEntry);
  std::stable_sort(aOrder.begin(), aOrder.end(), [](const auto& a, const auto& b) {
    return a.second.second * b.second.first > b.second.second * a.second.first;
  });
  // Per frame the intersection and the union of the prefix's mask with the truth, grown one
  // region at a time.
  aFirst = std::max(aFirst, 0);
  aEnd = std::min(aEnd, static_cast<int>(aFrames.size()));
  std::vector<long long> aIntersection(aFrames.size(), 0), aUnion(aFrames.size(), 0);
  for (int t = aFirst; t < aEnd; t++) aUnion[t] = aFrames[t].mTruth;
  auto meanJ = [&]() {
    double aSum = 0.0;
    for (int t = aFirst; t < aEnd; t++)
      aSum += aUnion[t] == 0 ? 1.0 : quotient(aIntersection[t], aUnion[t]);
    return aEnd > aFirst ? aSum / (aEnd - aFirst) : 0.0;
  };
  double aBest = meanJ();
  size_t aBestLength = 0;
  for (size_t k = 0; k < aOrder.size(); k++) {
    for (int t = aFirst; t < aEnd; t++) {
      const auto aEntry = aFrames[t].mRegions.find(aOrder[k].first);
      if (aEntry == aFrames[t].mRegions.end()) continue;
      aIntersection[t] += aEntry->second.second;
      aUnion[t] += aEntry->second.first - aEntry->second.second;
    }
    const double J = meanJ();
    if (J > aBest) aBest = J, aBestLength = k + 1;
  }
  std::vector<int> aRegions;
  for (size_t k = 0; k < aBestLength; k++) aRegions.push_back(aOrder[k].first);
  std::sort(aRegions.begin(), aRegions.end());
  return aRegions;
}
