// Linking the regions of consecutive windows on hand-made region maps.
#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <vector>

#include "windows/RegionLinking.h"

namespace {

// A 10 x 10 map of region aBase with the given rectangles (x0, y0, x1, y1 exclusive, region)
// painted in order.
struct CRect {
  int x0, y0, x1, y1, mRegion;
};
CMatrix<int> paint(int aBase, std::initializer_list<CRect> aRects) {
  CMatrix<int> aMap(10, 10, aBase);
  for (const CRect& r : aRects)
    for (int y = r.y0; y < r.y1; y++)
      for (int x = r.x0; x < r.x1; x++) aMap(x, y) = r.mRegion;
  return aMap;
}

std::vector<bool> present(std::initializer_list<int> aRegions) {
  std::vector<bool> aPresent(kRegionNumbers, false);
  for (int r : aRegions) aPresent[r] = true;
  return aPresent;
}

// The first window of a video: background 0, objects 1 and 2; its numbers.
std::vector<int> firstWindow(CRegionNumbering& aNumbering) {
  return aNumbering.number(0, present({0, 1, 2}), {}, CRegionOverlap());
}

}  // namespace

TEST(RegionLinking, FirstWindowKeepsItsNumbersAndSwappedNumbersAreLinkedBack) {
  CRegionNumbering aNumbering;
  const std::vector<int> aFirst = firstWindow(aNumbering);
  EXPECT_EQ(aFirst[0], 0);
  EXPECT_EQ(aFirst[1], 1);
  EXPECT_EQ(aFirst[2], 2);
  EXPECT_EQ(aFirst[3], -1);
  // The later window calls the left object 2 and the right one 1, and the background 5.
  CRegionOverlap aOverlap;
  for (int aFrame = 0; aFrame < 3; aFrame++)
    aOverlap.add(paint(0, {{0, 0, 4, 4, 1}, {6, 6, 10, 10, 2}}),
                 paint(5, {{0, 0, 4, 4, 2}, {6, 6, 10, 10, 1}}));
  EXPECT_EQ(aOverlap.common(1, 2), 48);
  EXPECT_EQ(aOverlap.earlierPixels(0), 3 * 68);
  const std::vector<int> aSecond = aNumbering.number(1, present({1, 2, 5}), aFirst, aOverlap);
  EXPECT_EQ(aSecond[5], 0);
  EXPECT_EQ(aSecond[2], 1);
  EXPECT_EQ(aSecond[1], 2);
  EXPECT_EQ(aSecond[0], -1);
  EXPECT_EQ(aNumbering.used(), 3);
}

TEST(RegionLinking, SplitAppearingEndingAndEmptyOverlap) {
  CRegionNumbering aNumbering;
  const std::vector<int> aFirst = firstWindow(aNumbering);
  // Object 1 splits into 1 (its larger part) and 3; object 2 ends; region 4 appears in frames
  // after the common ones.
  CRegionOverlap aOverlap;
  aOverlap.add(paint(0, {{0, 0, 5, 4, 1}, {6, 6, 10, 10, 2}}),
               paint(0, {{0, 0, 3, 4, 1}, {3, 0, 5, 4, 3}}));
  const std::vector<int> aSecond = aNumbering.number(1, present({0, 1, 3, 4}), aFirst, aOverlap);
  EXPECT_EQ(aSecond[0], 0);
  EXPECT_EQ(aSecond[1], 1);
  const std::set<int> aOld = {0, 1, 2};
  EXPECT_EQ(aOld.count(aSecond[3]), 0u) << aSecond[3];
  EXPECT_EQ(aOld.count(aSecond[4]), 0u) << aSecond[4];
  EXPECT_NE(aSecond[3], aSecond[4]);
  EXPECT_EQ(aSecond[2], -1);

  // Windows without common frames: nothing links, every region is new.
  const std::vector<int> aThird = aNumbering.number(2, present({0, 1}), aSecond, CRegionOverlap());
  for (int r : {0, 1}) {
    EXPECT_GE(aThird[r], 0);
    for (int aEarlier : aSecond) EXPECT_NE(aThird[r], aEarlier) << r;
  }
  EXPECT_NE(aThird[0], aThird[1]);
}

TEST(RegionLinking, MinimumOverlapAndEvidenceOverAllCommonFrames) {
  CRegionNumbering aNumbering;
  const std::vector<int> aFirst = firstWindow(aNumbering);
  // Region 1 of the later window shares 8 of its 16 pixels with object 1 (half of the smaller:
  // linked); its region 2 shares 6 of 16 with object 2 (less than half: a new number).
  CRegionOverlap aOverlap;
  aOverlap.add(paint(0, {{0, 0, 4, 4, 1}, {6, 6, 10, 10, 2}}),
               paint(0, {{2, 0, 6, 4, 1}, {6, 0, 10, 4, 2}, {8, 7, 10, 10, 2}}));
  std::vector<int> aSecond = aNumbering.number(1, present({0, 1, 2}), aFirst, aOverlap);
  EXPECT_EQ(aSecond[1], 1);
  EXPECT_NE(aSecond[2], 2);
  EXPECT_NE(aSecond[2], 1);

  // Object 1 is hidden in the middle common frame of three: it keeps its number by the others.
  CRegionNumbering aOther;
  const std::vector<int> aStart = firstWindow(aOther);
  CRegionOverlap aHidden;
  aHidden.add(paint(0, {{0, 0, 4, 4, 1}}), paint(3, {{0, 0, 4, 4, 7}}));
  aHidden.add(paint(0, {}), paint(3, {}));
  aHidden.add(paint(0, {{1, 0, 5, 4, 1}}), paint(3, {{1, 0, 5, 4, 7}}));
  aSecond = aOther.number(1, present({3, 7}), aStart, aHidden);
  EXPECT_EQ(aSecond[7], 1);
  EXPECT_EQ(aSecond[3], 0);
}

TEST(RegionLinking, NumbersOfLongEndedRegionsAreHandedOutAgainOnlyWhenAllAreTaken) {
  // Four numbers in all: window 0 takes 0 and 1; window 1 links 0 and adds 2 and 3; window 2
  // links nothing and needs two: number 1 (last seen in window 0) first, then the last number.
  CRegionNumbering aNumbering(4);
  const std::vector<int> aFirst = aNumbering.number(0, present({0, 1}), {}, CRegionOverlap());
  CRegionOverlap aOverlap;
  aOverlap.add(paint(0, {}), paint(0, {}));
  const std::vector<int> aSecond = aNumbering.number(1, present({0, 2, 3}), aFirst, aOverlap);
  EXPECT_EQ(aSecond[0], 0);
  EXPECT_EQ(aSecond[2], 2);
  EXPECT_EQ(aSecond[3], 3);
  EXPECT_EQ(aNumbering.reused(), 0);
  const std::vector<int> aThird = aNumbering.number(2, present({5, 6}), aSecond, CRegionOverlap());
  EXPECT_EQ(aThird[5], 1);
  EXPECT_EQ(aThird[6], 3);
  EXPECT_EQ(aNumbering.reused(), 1);
  EXPECT_EQ(aNumbering.used(), 4);
}
