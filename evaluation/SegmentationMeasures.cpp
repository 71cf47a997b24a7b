#include "evaluation/SegmentationMeasures.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "evaluation/Assignment.h"
#include "tracking/DistanceTransform.h"

namespace {

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
      bool aEdge = false;
      if (aMask(x, y)) {
        aEdge = (x > 0 && !aMask(x - 1, y)) || (x + 1 < W && !aMask(x + 1, y)) ||
                (y > 0 && !aMask(x, y - 1)) || (y + 1 < H && !aMask(x, y + 1));
      }
      aBoundary(x, y) = aEdge;
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

std::vector<int> oracleRegions(const COverlapCounts& aCounts) {
  std::map<int, long long> aOnObjects;
  for (const auto& aEntry : aCounts.mJoint)
    if (aEntry.first.second >= 1) aOnObjects[aEntry.first.first] += aEntry.second;
  std::vector<int> aRegions;
  for (const auto& aEntry : aOnObjects)
    if (2 * aEntry.second > aCounts.mRegionSize.at(aEntry.first)) aRegions.push_back(aEntry.first);
  return aRegions;
}
