#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "graph/TrackDistances.h"
#include "tests/graph/SyntheticTracks.h"

namespace {

CVector<float> point(float x, float y) {
  CVector<float> p(2);
  p(0) = x;
  p(1) = y;
  return p;
}

// Three translating trajectories over frames 0 ... aSteps; C is moved by (3, 0) at frame
// aBadFrame (none when negative).
struct CTriple {
  CTrack A, B, C;
};
CTriple tripleWithBadFrame(int aSteps, int aBadFrame, float aFlowVarStep = 0.2f) {
  CTriple t{synthetic::translating(10, 10, 0, aSteps, 1.0f, 0.5f, aFlowVarStep),
            synthetic::translating(30, 12, 0, aSteps, 1.0f, 0.5f, aFlowVarStep),
            synthetic::translating(18, 30, 0, aSteps, 1.0f, 0.5f, aFlowVarStep)};
  if (aBadFrame > 0) t.C.mx[aBadFrame - 1] += 3.0f;
  if (aBadFrame == 0) t.C.mox += 3;
  return t;
}

float affinity(const CTriple& t) {
  int aLength = -7;
  return computeDistance(t.A, t.B, t.C, 1.0f, &aLength, CGraphTuning());
}

}  // namespace

TEST(TrackDistances, SingleSharedFrameGivesNothing) {
  CTrack A = synthetic::translating(0, 0, 0, 3, 1, 0);  // frames 0 ... 3
  CTrack B = synthetic::translating(5, 5, 3, 4, 1, 0);  // frames 3 ... 7
  CTrack C = synthetic::translating(9, 0, 0, 8, 1, 0);
  EXPECT_EQ(computeEuclidDistance(A, B), 0.0f);
  computeNearestNeighbors(A, B, 0, 1);
  EXPECT_EQ(A.mNearestNeighbors(0), -1);
  EXPECT_EQ(B.mNearestNeighbors(0), -1);
  int aLength = 42;
  EXPECT_EQ(computeDistance(A, B, C, 1.0f, &aLength, CGraphTuning()), 0.0f);
  EXPECT_EQ(aLength, 42);
}

TEST(TrackDistances, MeanPositionTruncatesOnlyTheFirstWindowPosition) {
  CTrack A;
  A.mox = 0;
  A.moy = 0;
  A.mx = {10.9f, 11.9f};
  A.my = {0.0f, 0.0f};
  A.mFlowVar = {1, 2};
  CTrack B = A;
  B.mSetupTime = 1;  // window: frames 1 ... 2
  B.mx = {0.0f};
  B.my = {0.0f};
  B.mFlowVar = {1};
  B.mox = 0;
  // A contributes 10 (truncated 10.9) and 11.9: mean 10.95.
  EXPECT_FLOAT_EQ(computeEuclidDistance(A, B), (10.0f + 11.9f) * 0.5f);
  computeNearestNeighbors(A, B, 0, 1);
  EXPECT_EQ(A.mNearestNeighbors(0), 1);
  EXPECT_FLOAT_EQ(A.mNearestNeighborsDX(0), -(10.0f + 11.9f) * 0.5f);
  EXPECT_EQ(B.mNearestNeighbors(0), 0);
  EXPECT_FLOAT_EQ(B.mNearestNeighborsDX(0), (10.0f + 11.9f) * 0.5f);
}

TEST(TrackDistances, NeighbourListInsertionRulesAndTies) {
  CTrack A = synthetic::translating(0, 0, 0, 2, 0, 0);
  CTrack B = synthetic::translating(3, 4, 0, 2, 0, 0);  // squared distance 25
  for (int j = 0; j < 12; j++) {
    A.mNearestNeighbors(j) = 100 + j;
    A.mNearestNeighborsDX(j) = static_cast<float>(j + 1);
    A.mNearestNeighborsDY(j) = 0.0f;
  }
  computeNearestNeighbors(A, B, 0, 1);
  // Lengths 1, 4, 9, 16 stay before it; it goes before the stored 25; 144 drops out.
  EXPECT_EQ(A.mNearestNeighbors(4), 1);
  EXPECT_EQ(A.mNearestNeighborsDX(4), 3.0f);
  EXPECT_EQ(A.mNearestNeighborsDY(4), 4.0f);
  EXPECT_EQ(A.mNearestNeighbors(5), 104);
  EXPECT_EQ(A.mNearestNeighbors(11), 110);
  // Already listed: unchanged even though the distance now differs.
  CTrack aFar = synthetic::translating(30, 40, 0, 2, 0, 0);
  computeNearestNeighbors(A, aFar, 0, 1);
  EXPECT_EQ(A.mNearestNeighbors(4), 1);
  EXPECT_EQ(A.mNearestNeighborsDX(4), 3.0f);

  // Equal to the last entry: accepted in its place; longer: refused.
  CTrack D = synthetic::translating(0, 0, 0, 2, 0, 0);
  for (int j = 0; j < 12; j++) {
    D.mNearestNeighbors(j) = 200 + j;
    D.mNearestNeighborsDX(j) = j == 11 ? 5.0f : 1.0f;
    D.mNearestNeighborsDY(j) = 0.0f;
  }
  computeNearestNeighbors(D, B, 0, 1);
  EXPECT_EQ(D.mNearestNeighbors(11), 1);
  D.mNearestNeighborsDX(11) = 4.9f;
  D.mNearestNeighborsDY(11) = 0.0f;
  D.mNearestNeighbors(11) = 211;
  CTrack E = synthetic::translating(3, 4, 0, 2, 0, 0);
  computeNearestNeighbors(D, E, 0, 2);
  EXPECT_EQ(D.mNearestNeighbors(11), 211);
  EXPECT_EQ(E.mNearestNeighbors(0), 0);  // the other direction is still offered
}

TEST(SimilarityError, ZeroForCommonSimilarityMotionAndInfiniteWhenDegenerate) {
  CVector<float> x1 = point(1, 2), y1 = point(5, 3), z1 = point(2, 7);
  CVector<float> x2 = point(4, 0), y2 = point(8, 1), z2 = point(5, 5);  // translation (3, -2)
  EXPECT_NEAR(getSimTransError(x1, x2, y1, y2, z1, z2), 0.0f, 1e-5f);
  // Rotation by 30 degrees about (10, -4) with scale 1.2.
  const float c = 1.2f * std::cos(0.5235988f), s = 1.2f * std::sin(0.5235988f);
  auto rotate = [&](const CVector<float>& p) {
    return point(10 + c * (p(0) - 10) - s * (p(1) + 4), -4 + s * (p(0) - 10) + c * (p(1) + 4));
  };
  CVector<float> rx = rotate(x1), ry = rotate(y1), rz = rotate(z1);
  EXPECT_NEAR(getSimTransError(x1, rx, y1, ry, z1, rz), 0.0f, 1e-3f);
  // z off by (1, 0): error 1 times the stabiliser.
  CVector<float> aOff = point(z2(0) + 1, z2(1));
  const double v1 = std::sqrt(17.0), w1 = std::sqrt(26.0), u1 = std::sqrt(25.0);
  const double aStab = std::pow(0.5 * v1 * (1 / w1 + 1 / u1), 0.25);
  EXPECT_NEAR(getSimTransError(x1, x2, y1, y2, z1, aOff), aStab, 1e-4);
  // Coincident points.
  EXPECT_TRUE(std::isinf(getSimTransError(x1, x2, x1, x2, z1, z2)));
  EXPECT_TRUE(std::isinf(getSimTransError(x1, x2, y1, y2, x1, x2)));
}

TEST(TripleAffinity, SampleWindowsFollowTheWindowLength) {
  // 10 steps: gap 7, stride 1, samples at frames 0 ... 3 -> frames 4, 5, 6 are never read.
  EXPECT_NEAR(affinity(tripleWithBadFrame(10, -1)), 1.0f, 1e-4f);
  EXPECT_NEAR(affinity(tripleWithBadFrame(10, 5)), 1.0f, 1e-4f);
  EXPECT_LT(affinity(tripleWithBadFrame(10, 3)), 0.99f);
  EXPECT_LT(affinity(tripleWithBadFrame(10, 7)), 0.99f);
  // 11 steps: gap 8, stride 3, samples at frames 0 and 3 -> only 0, 3, 8, 11 are read.
  for (int f : {1, 2, 4, 5, 6, 7, 9, 10})
    EXPECT_NEAR(affinity(tripleWithBadFrame(11, f)), 1.0f, 1e-4f) << f;
  for (int f : {0, 3, 8, 11}) EXPECT_LT(affinity(tripleWithBadFrame(11, f)), 0.99f) << f;
  int aLength = 0;
  const CTriple t = tripleWithBadFrame(11, 3);
  computeDistance(t.A, t.B, t.C, 1.0f, &aLength, CGraphTuning());
  EXPECT_EQ(aLength, 11);
}

// The affinity formula by hand; a flow variation of 0.05 per step, below a tenth of a pixel,
// enters as it is.
TEST(TripleAffinity, SingleStepWindowEvaluatesOneSampleWithGapOne) {
  CVector<float> a1 = point(10, 10), a2 = point(11, 10.5f);
  CVector<float> b1 = point(30, 12), b2 = point(31, 12.5f);
  // C misses the common translation by 1/16 pixel.
  CVector<float> c1 = point(18, 30), c2 = point(19.0625f, 30.5f);
  const float e = std::max(
      std::max(getSimTransError(b1, b2, c1, c2, a1, a2), getSimTransError(a1, a2, c1, c2, b1, b2)),
      getSimTransError(a1, a2, b1, b2, c1, c2));
  const float sptDist = 2.5f;
  auto aFormula = [&](float aFlowVar) {
    const float aMaxDist = (1.0f / (aFlowVar * aFlowVar)) * e;
    return static_cast<float>(
        std::exp(static_cast<double>((aMaxDist * sptDist) * 8.0f / 1.0f * -0.1f)));
  };
  for (float aFlowVar : {0.2f, 0.05f}) {
    CTriple t = tripleWithBadFrame(1, -1, aFlowVar);
    t.C.mx[0] = 19.0625f;
    int aLength = 0;
    EXPECT_EQ(computeDistance(t.A, t.B, t.C, sptDist, &aLength, CGraphTuning()), aFormula(aFlowVar))
        << aFlowVar;
    EXPECT_EQ(aLength, 1);
  }
  EXPECT_GT(aFormula(0.05f), 0.0f);
  EXPECT_LT(aFormula(0.05f), aFormula(0.1f));
}

TEST(TripleAffinity, ZeroFlowVariationAndCoincidentTracksStayFinite) {
  CTriple t = tripleWithBadFrame(6, 4);
  for (CTrack* aTrack : {&t.A, &t.B, &t.C})
    std::fill(aTrack->mFlowVar.begin(), aTrack->mFlowVar.end(), 0.0f);
  int aLength = 0;
  const float w = computeDistance(t.A, t.B, t.C, 3.0f, &aLength, CGraphTuning());
  EXPECT_TRUE(std::isfinite(w));
  EXPECT_GE(w, 0.0f);
  EXPECT_LT(w, 1.0f);
  // C on top of A: no similarity weight exists, the affinity is 0 (also at distance 0).
  t.C = t.A;
  EXPECT_EQ(computeDistance(t.A, t.B, t.C, 3.0f, &aLength, CGraphTuning()), 0.0f);
  EXPECT_EQ(computeDistance(t.A, t.A, t.B, 0.0f, &aLength, CGraphTuning()), 0.0f);
}
