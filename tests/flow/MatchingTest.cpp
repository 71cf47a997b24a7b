// Descriptor matching and the learning of the displacement window on pictures with a known
// integer motion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "FlowStages.h"
#include "FlowTestUtil.h"
#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "foundation/Simd.h"

using namespace flowtest;

namespace {

struct Pair {
  Frame mFirst, mSecond;
};

Pair shiftedPair(int aXSize, int aYSize, double aU, double aV, CRandom& aRandom,
                 bool aGrey = false) {
  const std::vector<Blob> aBlobs =
      randomBlobs(aXSize, aYSize, aXSize * aYSize / 40, 2.0f, 5.0f, aRandom);
  CTensor<float> aFirst = render(aBlobs, aXSize, aYSize);
  CTensor<float> aSecond = render(aBlobs, aXSize, aYSize, aU, aV);
  // A grey pair: the red channel in all three.
  for (int i = 0; aGrey && i < 2 * aXSize * aYSize; i++) {
    aFirst[aXSize * aYSize + i] = aFirst[i % (aXSize * aYSize)];
    aSecond[aXSize * aYSize + i] = aSecond[i % (aXSize * aYSize)];
  }
  return {prepare(aFirst), prepare(aSecond)};
}

// The matcher as written down: every admissible candidate in row order, full descriptor
// distances, one candidate at a time.
void plainMatching(std::vector<CMatch>& aPoints, const Frame& f1, const Frame& f2, int rx1, int ry1,
                   int rx2, int ry2, const CMatrix<bool>& aAllowed) {
  const int X = f1.mHOG.xSize(), Y = f1.mHOG.ySize();
  auto aTestsPass = [&](int x1, int y1, int x2, int y2) {
    const float e1 = f1.mEnergy(x1, y1), e2 = f2.mEnergy(x2, y2);
    if (e2 > 1.25f * e1 || e1 > 1.25f * e2) return false;
    float aColour = 0.0f;
    for (int c = 0; c < 3; c++) {
      const float d = f1.mImage(x1, y1, c) - f2.mImage(x2, y2, c);
      aColour += d * d;
    }
    return !(aColour > 300.0f);
  };
  float d1[kDescriptorSize], d2[kDescriptorSize], dc[kDescriptorSize];
  for (CMatch& m : aPoints) {
    if (m.mStopped) continue;
    const int x0 = m.mox, y0 = m.moy;
    if (!hasPointDescriptor(X, Y, x0, y0)) {
      m.mStopped = true;
      continue;
    }
    pointDescriptor(f1.mHOG, x0, y0, d1);
    float aBest = 1e8f, aSecond = 1e8f;
    int bx = 0, by = 0;
    for (int y = std::max(y0 + ry1, 4); y <= std::min(y0 + ry2, Y - 5); y++)
      for (int x = std::max(x0 + rx1, 4); x <= std::min(x0 + rx2, X - 5); x++) {
        if (!aAllowed(x - x0 - rx1, y - y0 - ry1) || !aTestsPass(x0, y0, x, y)) continue;
        pointDescriptor(f2.mHOG, x, y, dc);
        const float d = descriptorDistance(d1, dc);
        if (d < aBest) {
          aSecond = aBest;
          aBest = d;
          bx = x;
          by = y;
        } else {
          aSecond = std::min(aSecond, d);
        }
      }
    if (aBest >= 1e8f) {
      m.mStopped = true;
      continue;
    }
    pointDescriptor(f2.mHOG, bx, by, d2);
    float aBack = 1e8f;
    int ax = x0, ay = y0;
    for (int y = std::max(by - ry2, 4); y <= std::min(by - ry1, Y - 5); y++)
      for (int x = std::max(bx - rx2, 4); x <= std::min(bx - rx1, X - 5); x++) {
        if (!aAllowed(bx - x - rx1, by - y - ry1) || !aTestsPass(x, y, bx, by)) continue;
        pointDescriptor(f1.mHOG, x, y, dc);
        const float d = descriptorDistance(d2, dc);
        if (d < aBack) {
          aBack = d;
          ax = x;
          ay = y;
        }
      }
    if (std::abs(ax - x0) > 1 || std::abs(ay - y0) > 1) {
      m.mStopped = true;
      continue;
    }
    m.mx = bx;
    m.my = by;
    const float aRival = aSecond >= 1e8f ? 10.0f * aBack : aSecond;
    m.mScore = static_cast<float>(static_cast<double>(aRival - aBack) / (aBack + 1e-6));
  }
}

}  // namespace

TEST(Matching, EqualsOneCandidateAtATime) {
  // The search computes distances of several candidates at once (also in AVX2 lanes), stops
  // them early and filters candidates several at a time; its matches and scores must be those
  // of the plain search, for sparse and full allowed sets, with and without AVX2, in colour
  // and in grey (whose colour test reads one channel for all three).
  CRandom aRandom;
  for (bool aGrey : {false, true}) {
    const Pair p = shiftedPair(72, 56, 3, -2, aRandom, aGrey);
    aRandom = CRandom(11);
    for (bool aAvx2 : {true, false}) {
      allowAvx2(aAvx2);
      for (int aDensity : {100, 60, 15}) {
        CMatrix<bool> aAllowed(23, 19);
        for (int i = 0; i < aAllowed.size(); i++) aAllowed[i] = aRandom.next() % 100 < aDensity;
        std::vector<CMatch> aPoints, aExpected;
        for (int y = 2; y < 56; y += 3)
          for (int x = 3; x < 72; x += 3) aPoints.emplace_back(x, y);
        aExpected = aPoints;
        hogMatching(aPoints, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                    p.mFirst.mEnergy, p.mSecond.mEnergy, -8, -11, 14, 7, aAllowed);
        plainMatching(aExpected, p.mFirst, p.mSecond, -8, -11, 14, 7, aAllowed);
        int aAccepted = 0;
        for (size_t k = 0; k < aPoints.size(); k++) {
          const CMatch &a = aPoints[k], &e = aExpected[k];
          ASSERT_EQ(a.mStopped, e.mStopped) << a.mox << "," << a.moy << " density " << aDensity;
          if (e.mStopped) continue;
          aAccepted++;
          ASSERT_EQ(a.mx, e.mx) << a.mox << "," << a.moy;
          ASSERT_EQ(a.my, e.my) << a.mox << "," << a.moy;
          ASSERT_EQ(a.mScore, e.mScore) << a.mox << "," << a.moy;
        }
        EXPECT_GT(aAccepted, 20) << "density " << aDensity;
      }
    }
  }
  allowAvx2(true);
}

TEST(Matching, FindsIntegerShiftWithinWindow) {
  CRandom aRandom;
  const Pair p = shiftedPair(64, 48, 5, -3, aRandom);
  std::vector<CMatch> aPoints;
  for (int y = 12; y < 36; y += 4)
    for (int x = 12; x < 52; x += 4) aPoints.emplace_back(x, y);
  CMatrix<bool> aAllowed(17, 17, true);
  hogMatching(aPoints, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
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
  CRandom aRandom;
  const Pair p = shiftedPair(64, 48, 5, -3, aRandom);
  // Nothing allowed, a window entirely outside the picture, and a point on the border.
  std::vector<CMatch> aPoints = {CMatch(20, 20), CMatch(20, 20), CMatch(2, 20)};
  CMatrix<bool> aNone(3, 3, false);
  std::vector<CMatch> aFirst = {aPoints[0]};
  hogMatching(aFirst, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
              p.mFirst.mEnergy, p.mSecond.mEnergy, -1, -1, 1, 1, aNone);
  EXPECT_TRUE(aFirst[0].mStopped);
  std::vector<CMatch> aRest = {aPoints[1], aPoints[2]};
  CMatrix<bool> aAll(3, 3, true);
  hogMatching(aRest, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
              p.mFirst.mEnergy, p.mSecond.mEnergy, 100, 100, 102, 102, aAll);
  EXPECT_TRUE(aRest[0].mStopped);
  EXPECT_TRUE(aRest[1].mStopped);
}

TEST(Matching, LoneCandidateScoresNearlyNine) {
  CRandom aRandom;
  const Pair p = shiftedPair(64, 48, 2, 1, aRandom);
  // Only the true displacement (2, 1) is allowed in a 3 x 3 window around it.
  CMatrix<bool> aAllowed(3, 3, false);
  aAllowed(1, 1) = true;
  std::vector<CMatch> aPoints = {CMatch(30, 24)};
  hogMatching(aPoints, p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
              p.mFirst.mEnergy, p.mSecond.mEnergy, 1, 0, 3, 2, aAllowed);
  ASSERT_FALSE(aPoints[0].mStopped);
  EXPECT_EQ(aPoints[0].mx, 32);
  EXPECT_EQ(aPoints[0].my, 25);
  // Identical content: the distance is essentially zero, so the score is 9 d / (d + 1e-6).
  EXPECT_GE(aPoints[0].mScore, 0.0f);
  EXPECT_LE(aPoints[0].mScore, 9.0f);
}

TEST(Matching, SmallPicturesKeepWholeWindow) {
  CRandom aRandom;
  const Pair p = shiftedPair(80, 40, 3, 2, aRandom);
  CMatrix<float> aCorners;
  CMatching::computeCorners(p.mFirst.mImage, aCorners, 2.5f);
  int rx1, ry1, rx2, ry2;
  CMatrix<bool> aAllowed;
  findMotions(p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG, p.mFirst.mEnergy,
              p.mSecond.mEnergy, aCorners, aCorners.avg(), rx1, ry1, rx2, ry2, aAllowed);
  EXPECT_EQ(rx1, -24);
  EXPECT_EQ(ry2, 24);
  ASSERT_EQ(aAllowed.xSize(), 49);
  for (int i = 0; i < aAllowed.size(); i++) ASSERT_TRUE(aAllowed[i]);
}

TEST(Matching, LearntWindowAdmitsTheMotionAndIsReflectedBackward) {
  CRandom aRandom;
  const Pair p = shiftedPair(160, 120, 6, -3, aRandom);
  CMatrix<float> aCorners;
  CMatching::computeCorners(p.mFirst.mImage, aCorners, 2.5f);
  int rx1, ry1, rx2, ry2;
  CMatrix<bool> aAllowed;
  findMotions(p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG, p.mFirst.mEnergy,
              p.mSecond.mEnergy, aCorners, aCorners.avg(), rx1, ry1, rx2, ry2, aAllowed);
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
