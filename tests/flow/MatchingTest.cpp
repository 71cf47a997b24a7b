// Descriptor matching and the learning of the displacement window on pictures with a known
// integer motion.
#include <gtest/gtest.h>

#include "FlowTestUtil.h"
#include "flow/CMatching.h"

using namespace flowtest;

namespace {

struct Pair {
  Frame mFirst, mSecond;
};

Pair shiftedPair(int aXSize, int aYSize, double aU, double aV) {
  const std::vector<Blob> aBlobs = randomBlobs(aXSize, aYSize, aXSize * aYSize / 40, 2.0f, 5.0f);
  return {prepare(render(aBlobs, aXSize, aYSize)), prepare(render(aBlobs, aXSize, aYSize, aU, aV))};
}

}  // namespace

TEST(Matching, FindsIntegerShiftWithinWindow) {
  const Pair p = shiftedPair(64, 48, 5, -3);
  std::vector<CMatch> aPoints;
  for (int y = 12; y < 36; y += 4)
    for (int x = 12; x < 52; x += 4) aPoints.emplace_back(x, y);
  CMatrix<bool> aAllowed(17, 17, true);
  CMatching::hogMatching(aPoints, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                         p.mFirst.mEnergy, p.mSecond.mEnergy, -8, -8, 8, 8, aAllowed);
  // Saturated plateaus of the texture may mislead a few points by a pixel; nearly all must
  // find the exact motion.
  int aAccepted = 0, aExact = 0;
  for (const CMatch& m : aPoints) {
    if (m.mStopped) continue;
    aAccepted++;
    if (m.mx - m.mox == 5 && m.my - m.moy == -3) aExact++;
    EXPECT_LE(std::abs(m.mx - m.mox - 5) + std::abs(m.my - m.moy + 3), 2);
    EXPECT_GE(m.mScore, 0.0f);
  }
  EXPECT_GT(aAccepted, (int)aPoints.size() / 2);
  EXPECT_GE(aExact, aAccepted * 9 / 10);
}

TEST(Matching, StopsWithoutAdmissibleCandidate) {
  const Pair p = shiftedPair(64, 48, 5, -3);
  // Nothing allowed, a window entirely outside the picture, and a point on the border.
  std::vector<CMatch> aPoints = {CMatch(20, 20), CMatch(20, 20), CMatch(2, 20)};
  CMatrix<bool> aNone(3, 3, false);
  std::vector<CMatch> aFirst = {aPoints[0]};
  CMatching::hogMatching(aFirst, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                         p.mFirst.mEnergy, p.mSecond.mEnergy, -1, -1, 1, 1, aNone);
  EXPECT_TRUE(aFirst[0].mStopped);
  std::vector<CMatch> aRest = {aPoints[1], aPoints[2]};
  CMatrix<bool> aAll(3, 3, true);
  CMatching::hogMatching(aRest, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                         p.mFirst.mEnergy, p.mSecond.mEnergy, 100, 100, 102, 102, aAll);
  EXPECT_TRUE(aRest[0].mStopped);
  EXPECT_TRUE(aRest[1].mStopped);
}

TEST(Matching, LoneCandidateScoresNearlyNine) {
  const Pair p = shiftedPair(64, 48, 2, 1);
  // Only the true displacement (2, 1) is allowed in a 3 x 3 window around it.
  CMatrix<bool> aAllowed(3, 3, false);
  aAllowed(1, 1) = true;
  std::vector<CMatch> aPoints = {CMatch(30, 24)};
  CMatching::hogMatching(aPoints, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                         p.mFirst.mEnergy, p.mSecond.mEnergy, 1, 0, 3, 2, aAllowed);
  ASSERT_FALSE(aPoints[0].mStopped);
  EXPECT_EQ(aPoints[0].mx, 32);
  EXPECT_EQ(aPoints[0].my, 25);
  // Identical content: the distance is essentially zero, so the score is 9 d / (d + 1e-6).
  EXPECT_GE(aPoints[0].mScore, 0.0f);
  EXPECT_LE(aPoints[0].mScore, 9.0f);
}

TEST(Matching, SmallPicturesKeepWholeWindow) {
  const Pair p = shiftedPair(80, 40, 3, 2);
  CMatrix<float> aCorners;
  CMatching::computeCorners(p.mFirst.mImage, aCorners, 2.5f);
  int rx1, ry1, rx2, ry2;
  CMatrix<bool> aAllowed;
  CMatching::findMotions(p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                         p.mFirst.mEnergy, p.mSecond.mEnergy, aCorners, aCorners.avg(), rx1, ry1,
                         rx2, ry2, aAllowed);
  EXPECT_EQ(rx1, -24);
  EXPECT_EQ(ry2, 24);
  ASSERT_EQ(aAllowed.xSize(), 49);
  for (int i = 0; i < aAllowed.size(); i++) ASSERT_TRUE(aAllowed[i]);
}

TEST(Matching, LearntWindowAdmitsTheMotionAndIsReflectedBackward) {
  const Pair p = shiftedPair(160, 120, 6, -3);
  CMatrix<float> aCorners;
  CMatching::computeCorners(p.mFirst.mImage, aCorners, 2.5f);
  int rx1, ry1, rx2, ry2;
  CMatrix<bool> aAllowed;
  CMatching::findMotions(p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                         p.mFirst.mEnergy, p.mSecond.mEnergy, aCorners, aCorners.avg(), rx1, ry1,
                         rx2, ry2, aAllowed);
  // The last pass (step 8) widens by 4: the true motion and everything within 4 of it.
  ASSERT_LE(rx1, 2);
  ASSERT_GE(rx2, 10);
  ASSERT_LE(ry1, -7);
  ASSERT_GE(ry2, 1);
  EXPECT_LT(rx2 - rx1, 48);  // much narrower than the initial +-48
  for (int v = -7; v <= 1; v++)
    for (int u = 2; u <= 10; u++) EXPECT_TRUE(aAllowed(u - rx1, v - ry1)) << u << "," << v;

  int bx1, by1, bx2, by2;
  CMatrix<bool> aBack;
  CMatching::reflectWindow(rx1, ry1, rx2, ry2, aAllowed, bx1, by1, bx2, by2, aBack);
  EXPECT_EQ(bx1, -rx2);
  EXPECT_EQ(bx2, -rx1);
  EXPECT_EQ(by1, -ry2);
  EXPECT_EQ(by2, -ry1);
  ASSERT_EQ(aBack.xSize(), aAllowed.xSize());
  ASSERT_EQ(aBack.ySize(), aAllowed.ySize());
  for (int v = by1; v <= by2; v++)
    for (int u = bx1; u <= bx2; u++)
      EXPECT_EQ(aBack(u - bx1, v - by1), aAllowed(-u - rx1, -v - ry1)) << u << "," << v;
}
