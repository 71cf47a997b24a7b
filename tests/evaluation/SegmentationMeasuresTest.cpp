// Known answers of the segmentation measures on small hand-made masks and label maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "evaluation/Assignment.h"
#include "evaluation/SegmentationMeasures.h"
#include "foundation/Random.h"

namespace {

// Overlap counts are exact, so the quotients built from them are exact up to rounding.
constexpr double kExact = 1e-12;

// A mask of aXSize x aYSize whose pixels with aInside(x, y) are foreground.
template <class TInside>
CMatrix<bool> mask(int aXSize, int aYSize, TInside aInside) {
  CMatrix<bool> aMask(aXSize, aYSize);
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) aMask(x, y) = aInside(x, y);
  return aMask;
}

// A one-row label map of the given values.
CMatrix<int> row(const std::vector<int>& aValues) {
  CMatrix<int> aLabels(static_cast<int>(aValues.size()), 1);
  std::copy(aValues.begin(), aValues.end(), aLabels.data());
  return aLabels;
}

// Largest total score over all assignments, by trying them all (rows <= columns).
double bruteForceBest(const CMatrix<double>& aScore) {
  std::vector<int> aColumns(aScore.xSize());
  for (int i = 0; i < aScore.xSize(); i++) aColumns[i] = i;
  double aBest = -1e300;
  do {
    double aSum = 0;
    for (int r = 0; r < aScore.ySize(); r++) aSum += aScore(aColumns[r], r);
    aBest = std::max(aBest, aSum);
  } while (std::next_permutation(aColumns.begin(), aColumns.end()));
  return aBest;
}

}  // namespace

TEST(RegionSimilarity, IntersectionOverUnionAndEmptyMasks) {
  // Mask: columns 0-2 of rows 0-1 (6 pixels); truth: columns 1-2 of rows 0-1 and (3, 3),
  const CMatrix<bool> aMask = mask(4, 4, [](int x, int y) { return x <= 2 && y <= 1; });
  const CMatrix<bool> aTruth =
      mask(4, 4, [](int x, int y) { return (x >= 1 && x <= 2 && y <= 1) || (x == 3 && y == 3); });
  // ... so 4 pixels in both and 7 in either.
  EXPECT_NEAR(regionSimilarity(aMask, aTruth), 4.0 / 7.0, kExact);
  const CMatrix<bool> aEmpty(4, 4, false);
  EXPECT_EQ(regionSimilarity(aEmpty, aEmpty), 1.0);
  EXPECT_EQ(regionSimilarity(aEmpty, aTruth), 0.0);
}

TEST(BoundaryMeasure, ToleranceFromTheDiagonal) {
  EXPECT_EQ(boundaryTolerance(854, 480), 8);  // 0.008 * 979.6 = 7.84
  EXPECT_EQ(boundaryTolerance(100, 100), 2);  // 1.13
  EXPECT_EQ(boundaryTolerance(64, 48), 1);    // 0.64
}

TEST(BoundaryMeasure, BoundaryIsWhereTheEastSouthOrSouthEastNeighbourDiffers) {
  CMatrix<bool> aBoundary;
  auto count = [&]() {
    int aCount = 0;
    for (int i = 0; i < aBoundary.size(); i++) aCount += aBoundary.data()[i];
    return aCount;
  };
  // A 5 x 5 square (2 ... 6) inside a 9 x 9 picture: its right column and bottom row (9
  // pixels), and outside it the column left of it and the row above it, from (1, 1) (11).
  boundaryPixels(mask(9, 9, [](int x, int y) { return x >= 2 && x <= 6 && y >= 2 && y <= 6; }),
                 aBoundary);
  EXPECT_EQ(count(), 20);
  EXPECT_TRUE(aBoundary(6, 6));
  EXPECT_TRUE(aBoundary(1, 1));
  EXPECT_TRUE(aBoundary(1, 2));
  EXPECT_FALSE(aBoundary(2, 2));
  EXPECT_FALSE(aBoundary(7, 2));
  EXPECT_FALSE(aBoundary(0, 2));
  // The left half of the picture: only its right edge, not the picture's border.
  boundaryPixels(mask(9, 9, [](int x, int) { return x <= 3; }), aBoundary);
  EXPECT_EQ(count(), 9);
  for (int y = 0; y < 9; y++) EXPECT_TRUE(aBoundary(3, y));
  // Only the last pixel of a 4 x 3 picture: it is no boundary itself (the corner); its west
  // neighbour in the last row (east differs), its north neighbour in the last column (south
  // differs) and its north-west neighbour (south-east differs) are.
  boundaryPixels(mask(4, 3, [](int x, int y) { return x == 3 && y == 2; }), aBoundary);
  EXPECT_EQ(count(), 3);
  EXPECT_FALSE(aBoundary(3, 2));
  EXPECT_TRUE(aBoundary(2, 2));
  EXPECT_TRUE(aBoundary(3, 1));
  EXPECT_TRUE(aBoundary(2, 1));
}

TEST(BoundaryMeasure, ShiftWithinToleranceMatchesBeyondItDoesNot) {
  // 100 x 100, tolerance 2: the truth is the left half, its boundary column 49.
  const int aTolerance = boundaryTolerance(100, 100);
  const CMatrix<bool> aTruth = mask(100, 100, [](int x, int) { return x < 50; });
  for (int aShift = 0; aShift <= 3; aShift++) {
    const CMatrix<bool> aMask = mask(100, 100, [&](int x, int) { return x < 50 + aShift; });
    const CBoundaryMeasure m = boundaryMeasure(aMask, aTruth, aTolerance);
    const double aExpected = aShift <= aTolerance ? 1.0 : 0.0;
    EXPECT_EQ(m.mPrecision, aExpected) << aShift;
    EXPECT_EQ(m.mRecall, aExpected) << aShift;
    EXPECT_EQ(m.mF, aExpected) << aShift;
    EXPECT_NEAR(regionSimilarity(aMask, aTruth), 50.0 / (50 + aShift), kExact);
  }
}

TEST(BoundaryMeasure, PartlyMatchedBoundaryHasItsOwnPrecisionAndRecall) {
  // Truth: the left half (boundary column 49, 100 pixels). Mask: the left half and the block
  // x 50...79, y 0...49. Its boundary: column 49 from row 50 (50 pixels), column 79 above row
  // 49 (49) and row 49 from x 49 to 79 (31): 130 pixels, of which column 49 and (49 ... 51,
  // 49) lie within 2 pixels of the truth's: 53. Truth pixels matched: rows 47...99 (within 2
  // of (49, 49)): 53 of 100.
  const CMatrix<bool> aTruth = mask(100, 100, [](int x, int) { return x < 50; });
  const CMatrix<bool> aMask =
      mask(100, 100, [](int x, int y) { return x < 50 || (x < 80 && y < 50); });
  const CBoundaryMeasure m = boundaryMeasure(aMask, aTruth, 2);
  const double P = 53.0 / 130.0, R = 53.0 / 100.0;
  EXPECT_NEAR(m.mPrecision, P, kExact);
  EXPECT_NEAR(m.mRecall, R, kExact);
  EXPECT_NEAR(m.mF, 2 * P * R / (P + R), kExact);
}

TEST(BoundaryMeasure, EmptyBoundaries) {
  const CMatrix<bool> aEmpty(20, 20, false);
  const CMatrix<bool> aSquare =
      mask(20, 20, [](int x, int y) { return x > 5 && x < 12 && y > 5 && y < 12; });
  const CBoundaryMeasure aNone = boundaryMeasure(aEmpty, aEmpty, 1);
  EXPECT_EQ(aNone.mF, 1.0);
  const CBoundaryMeasure aMissed = boundaryMeasure(aEmpty, aSquare, 1);
  EXPECT_EQ(aMissed.mPrecision, 1.0);
  EXPECT_EQ(aMissed.mRecall, 0.0);
  EXPECT_EQ(aMissed.mF, 0.0);
  const CBoundaryMeasure aInvented = boundaryMeasure(aSquare, aEmpty, 1);
  EXPECT_EQ(aInvented.mPrecision, 0.0);
  EXPECT_EQ(aInvented.mRecall, 1.0);
  EXPECT_EQ(aInvented.mF, 0.0);
}

TEST(SequenceStatistics, RecallAboveOneHalfAndDecayOverTheQuarters) {
  std::vector<double> aValues;
  for (int i = 0; i < 10; i++) aValues.push_back(0.1 * i);
  // Above 0.5: 0.6 ... 0.9 (0.5 itself is not above).
  EXPECT_NEAR(measureRecall(aValues), 0.4, kExact);
  // Ten values: the quarters' bounds are 0, 2, 5, 7, 9: first 0 ... 2, last 7 ... 9.
  EXPECT_NEAR(measureDecay(aValues), 0.1 - 0.8, 1e-9);
  // Three values: bounds 0, 1 (1.5 rounded up), 1, 2 (2.5 rounded up), 2.
  EXPECT_NEAR(measureDecay({1.0, 0.5, 0.0}), 0.75, kExact);
  EXPECT_EQ(measureRecall({}), 0.0);
  EXPECT_EQ(measureDecay({}), 0.0);
}

TEST(Assignment, LargestSumWhereGreedyChoosesWrong) {
  // Greedy takes the largest score 0.9 (row 0, column 0) and leaves row 1 with 0.1: 1.0.
  // The best assignment crosses over: 0.8 + 0.7 = 1.5.
  CMatrix<double> aScore(2, 2);
  aScore(0, 0) = 0.9;
  aScore(1, 0) = 0.8;
  aScore(0, 1) = 0.7;
  aScore(1, 1) = 0.1;
  EXPECT_EQ(bestAssignment(aScore), (std::vector<int>{1, 0}));

  // More rows than columns: one row is left out, the one whose loss costs least.
  CMatrix<double> aTall(1, 3);
  aTall(0, 0) = 0.5;
  aTall(0, 1) = 0.9;
  aTall(0, 2) = 0.2;
  EXPECT_EQ(bestAssignment(aTall), (std::vector<int>{-1, 0, -1}));
}

TEST(Assignment, AgreesWithTryingEveryAssignment) {
  CRandom aRandom;
  for (int aTrial = 0; aTrial < 200; aTrial++) {
    const int aRows = 1 + aTrial % 5, aColumns = aRows + aTrial % 3;
    CMatrix<double> aScore(aColumns, aRows);
    for (int i = 0; i < aScore.size(); i++) aScore.data()[i] = (aRandom.next() % 100) / 100.0;
    const std::vector<int> aMatch = bestAssignment(aScore);
    std::vector<bool> aUsed(aColumns, false);
    double aSum = 0;
    for (int r = 0; r < aRows; r++) {
      ASSERT_GE(aMatch[r], 0);
      ASSERT_FALSE(aUsed[aMatch[r]]) << "column given twice";
      aUsed[aMatch[r]] = true;
      aSum += aScore(aMatch[r], r);
    }
    EXPECT_NEAR(aSum, bruteForceBest(aScore), 1e-9) << aTrial;
  }
}

TEST(MultiObject, PrecisionRecallAndFOfMatchedRegions) {
  // 12 pixels over two frames: object 1 has 5 pixels, object 2 has 2, the background 5.
  COverlapCounts aCounts;
  addOverlap(row({7, 7, 7, 7, 4, 4}), row({1, 1, 1, 1, 0, 0}), aCounts);
  addOverlap(row({7, 5, 5, 5, 4, 4}), row({1, 2, 2, 0, 0, 0}), aCounts);
  const CMultiObjectScore s = scoreObjects(aCounts);
  EXPECT_EQ(s.mObjects, 2);
  EXPECT_EQ(s.mRegions, 3);
  EXPECT_EQ(s.mDensity, 1.0);
  ASSERT_EQ(s.mPerObject.size(), 3u);
  // Background: region 4, 4 pixels, all on the background, which has 5.
  EXPECT_EQ(s.mPerObject[0].mObject, 0);
  EXPECT_EQ(s.mPerObject[0].mRegion, 4);
  EXPECT_NEAR(s.mPerObject[0].mPrecision, 1.0, kExact);
  EXPECT_NEAR(s.mPerObject[0].mRecall, 4.0 / 5.0, kExact);
  // Object 1: region 7 holds all 5 of its pixels and nothing else.
  EXPECT_EQ(s.mPerObject[1].mRegion, 7);
  EXPECT_NEAR(s.mPerObject[1].mF, 1.0, kExact);
  // Object 2: region 5 has 3 pixels, 2 on the object, which has 2 pixels: P 2/3, R 1.
  EXPECT_EQ(s.mPerObject[2].mRegion, 5);
  EXPECT_NEAR(s.mPerObject[2].mPrecision, 2.0 / 3.0, kExact);
  EXPECT_NEAR(s.mPerObject[2].mRecall, 1.0, kExact);
  EXPECT_NEAR(s.mPerObject[2].mF, 0.8, kExact);
  EXPECT_EQ(s.mExtracted, 2);  // F 1 and 0.8
  EXPECT_NEAR(s.mPrecision, (1.0 + 2.0 / 3.0) / 2, kExact);
  EXPECT_NEAR(s.mF, 0.9, kExact);
}

TEST(MultiObject, ARegionMatchedToTheBackgroundDoesNotAlsoCountForAnObject) {
  // One region over everything: the background (6 pixels) fits it better than the object (2).
  COverlapCounts aCounts;
  addOverlap(row({3, 3, 3, 3, 3, 3, 3, 3}), row({0, 0, 0, 1, 1, 0, 0, 0}), aCounts);
  const CMultiObjectScore s = scoreObjects(aCounts);
  ASSERT_EQ(s.mPerObject.size(), 2u);
  EXPECT_EQ(s.mPerObject[0].mRegion, 3);
  EXPECT_EQ(s.mPerObject[1].mRegion, -1);
  EXPECT_EQ(s.mF, 0.0);
  EXPECT_EQ(s.mExtracted, 0);
}

TEST(MultiObject, SparseMapsAreScoredOnTheirLabelledPixelsWithTheirDensity) {
  const int _ = kNoLabel;
  COverlapCounts aCounts;
  // 16 pixels, 4 labelled: region 2 on object 1 twice and on the background once, region 0
  // once on the background. Object 1 has 6 pixels, 2 of them labelled.
  addOverlap(row({2, _, _, 2, _, _, 2, _}), row({1, 1, 1, 1, 1, 1, 0, 0}), aCounts);
  addOverlap(row({_, _, _, _, _, _, _, 0}), row({0, 0, 0, 0, 0, 0, 0, 0}), aCounts);
  const CMultiObjectScore s = scoreObjects(aCounts);
  EXPECT_NEAR(s.mDensity, 4.0 / 16.0, kExact);
  ASSERT_EQ(s.mPerObject.size(), 2u);
  EXPECT_EQ(s.mPerObject[1].mRegion, 2);
  EXPECT_NEAR(s.mPerObject[1].mPrecision, 2.0 / 3.0, kExact);
  EXPECT_NEAR(s.mPerObject[1].mRecall, 1.0, kExact);  // both labelled object pixels
}

TEST(MultiObject, NoObjectLeavesTheMeansUndefined) {
  COverlapCounts aCounts;
  addOverlap(row({1, 1}), row({0, 0}), aCounts);
  const CMultiObjectScore s = scoreObjects(aCounts);
  EXPECT_EQ(s.mObjects, 0);
  EXPECT_TRUE(std::isnan(s.mF));
}

TEST(Oracle, TheBestPrefixOfTheRegionsByTheirShareOnObjects) {
  std::vector<CFrameRegionCounts> aFrames;
  // Shares on objects over both frames: region 4 1 of 1, region 1 3 of 5, region 2 2 of 4,
  // region 3 1 of 3. Frame 0 has 3 object pixels, frame 1 has 4.
  addFrameRegions(row({1, 1, 1, 2, 2, 3}), row({1, 2, 0, 1, 0, 0}), aFrames);
  addFrameRegions(row({1, 1, 2, 2, 3, 3, 4}), row({1, 0, 1, 0, 1, 0, 2}), aFrames);
  ASSERT_EQ(aFrames.size(), 2u);
  EXPECT_EQ(aFrames[1].mTruth, 4);
  // Mean J of the prefixes 4; 4, 1; 4, 1, 2; all: (0 + 1/4) / 2, (2/4 + 2/5) / 2,
  // (3/5 + 3/6) / 2 = 0.55, (3/6 + 4/7) / 2 = 0.536.
  EXPECT_EQ(oracleRegions(aFrames, 0, 2), (std::vector<int>{1, 2, 4}));
  // Frame 1 alone: 1/4, 2/5, 3/6, 4/7: all four.
  EXPECT_EQ(oracleRegions(aFrames, 1, 2), (std::vector<int>{1, 2, 3, 4}));
  // No region on an object: none.
  std::vector<CFrameRegionCounts> aNone;
  addFrameRegions(row({0, 1}), row({0, 0}), aNone);
  EXPECT_TRUE(oracleRegions(aNone, 0, 1).empty());
  CMatrix<bool> aMask;
  regionsMask(row({4, 2, 1, kNoLabel}), {1, 4}, aMask);
  EXPECT_TRUE(aMask(0, 0));
  EXPECT_FALSE(aMask(1, 0));
  EXPECT_TRUE(aMask(2, 0));
  EXPECT_FALSE(aMask(3, 0));
}
