#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "foundation/Random.h"
#include "foundation/Simd.h"
#include "spectral/CKMeans.h"

namespace {

std::vector<CVector<float>> points1D(const std::vector<float>& aValues) {
  std::vector<CVector<float>> aData;
  for (float v : aValues) aData.push_back(CVector<float>(1, v));
  return aData;
}

CVector<int> intVector(const std::vector<int>& aValues) {
  CVector<int> aResult(static_cast<int>(aValues.size()));
  for (size_t i = 0; i < aValues.size(); i++) aResult(static_cast<int>(i)) = aValues[i];
  return aResult;
}

// Three blobs in 2-D around (0,0), (10,0) and (0,10), 20 points each, weights 1 ... 3.
void threeBlobs(std::vector<CVector<float>>& aData, CVector<int>& aLength, std::vector<int>& aBlob,
                CRandom& aRandom) {
  const float cx[3] = {0, 10, 0}, cy[3] = {0, 0, 10};
  aData.clear();
  aBlob.clear();
  aLength.setSize(60);
  for (int i = 0; i < 60; i++) {
    const int b = i % 3;
    CVector<float> p(2);
    p(0) = cx[b] + static_cast<float>(aRandom.next() % 100) * 0.01f;
    p(1) = cy[b] + static_cast<float>(aRandom.next() % 100) * 0.01f;
    aData.push_back(p);
    aBlob.push_back(b);
    aLength(i) = 1 + i % 3;
  }
}

}  // namespace

TEST(KMeans, PointAtEqualDistanceGoesToLowerLabel) {
  // Means 0 and 2; the weightless point at 1 does not move them.
  auto aData = points1D({0.0f, 2.0f, 1.0f});
  CVector<int> aLength = intVector({1, 1, 0});
  CVector<int> aLabels = intVector({0, 1, 1});
  CVector<float> aSum[2], aMean[2];
  float aNum[2];
  kmeansRecomputeStatistics(aData.data(), aSum, aNum, aLabels, aLength, 2);
  EXPECT_FLOAT_EQ(aSum[1](0), 2.0f);
  EXPECT_FLOAT_EQ(aNum[1], 1.0f);
  const int aSweeps = kmeansOptimize(aData.data(), aMean, aSum, aNum, aLabels, aLength, 2, 10);
  EXPECT_EQ(aLabels(2), 0);
  EXPECT_EQ(aSweeps, 2);  // one sweep with the move, one without
  EXPECT_FLOAT_EQ(aMean[0](0), 0.0f);
  EXPECT_FLOAT_EQ(aMean[1](0), 2.0f);
}

TEST(KMeans, SweepLimitThenMeansRecomputedFromSums) {
  // Everything starts in cluster 1; the first sweep moves points, so with a limit of 0
  // exactly one sweep runs.
  auto aData = points1D({0.0f, 0.1f, 5.0f, 5.1f, 0.2f});
  CVector<int> aLength = intVector({1, 2, 1, 3, 1});
  CVector<int> aLabels = intVector({0, 1, 1, 1, 1});
  CVector<float> aSum[2], aMean[2];
  float aNum[2];
  kmeansRecomputeStatistics(aData.data(), aSum, aNum, aLabels, aLength, 2);
  EXPECT_EQ(kmeansOptimize(aData.data(), aMean, aSum, aNum, aLabels, aLength, 2, 0), 1);
  for (int k = 0; k < 2; k++) EXPECT_EQ(aMean[k](0), aSum[k](0) * (1.0f / aNum[k]));

  std::vector<CVector<float>> aBlobs;
  CVector<int> aBlobLength;
  std::vector<int> aBlob;
  CRandom aRandom;
  threeBlobs(aBlobs, aBlobLength, aBlob, aRandom);
  CVector<float> aSum5[5], aMean5[5];
  float aNum5[5];
  ASSERT_TRUE(kmeansRandomInit(aBlobs.data(), aSum5, aNum5, aLabels, aBlobLength, 5, aRandom));
  const int aSweeps =
      kmeansOptimize(aBlobs.data(), aMean5, aSum5, aNum5, aLabels, aBlobLength, 5, 10);
  EXPECT_GE(aSweeps, 1);
  EXPECT_LE(aSweeps, 11);
  for (int k = 0; k < 5; k++) {
    if (aNum5[k] <= 0) continue;
    for (int i = 0; i < 2; i++) EXPECT_EQ(aMean5[k](i), aSum5[k](i) * (1.0f / aNum5[k]));
  }
}

TEST(KMeans, RandomInitNeverLeavesAClusterEmpty) {
  auto aData = points1D({1, 2, 3, 4, 5, 6});
  CVector<int> aLength = intVector({1, 1, 1, 1, 1, 1});
  CVector<int> aLabels;
  CVector<float> aSum[5];
  float aNum[5];
  CRandom aRandom;
  for (int aTrial = 0; aTrial < 30; aTrial++) {
    ASSERT_TRUE(kmeansRandomInit(aData.data(), aSum, aNum, aLabels, aLength, 5, aRandom));
    for (int k = 0; k < 5; k++) EXPECT_GT(aNum[k], 0.0f);
  }
  // As many clusters as points: random draws rarely succeed; the call still ends.
  ASSERT_TRUE(kmeansRandomInit(aData.data(), aSum, aNum, aLabels, aLength, 5, aRandom));
  CVector<float> aSum6[6];
  float aNum6[6];
  ASSERT_TRUE(kmeansRandomInit(aData.data(), aSum6, aNum6, aLabels, aLength, 6, aRandom));
  std::set<int> aUsed(aLabels.data(), aLabels.data() + 6);
  EXPECT_EQ(aUsed.size(), 6u);
  // More clusters than points of positive weight cannot be filled at all.
  CVector<int> aSparse = intVector({1, 0, 0, 1, 0, 0});
  EXPECT_FALSE(kmeansRandomInit(aData.data(), aSum, aNum, aLabels, aSparse, 3, aRandom));
}

TEST(KMeans, HierarchicalInitCounts) {
  std::vector<CVector<float>> aData;
  CVector<int> aLength;
  std::vector<int> aBlob;
  CRandom aRandom;
  threeBlobs(aData, aLength, aBlob, aRandom);
  std::vector<CState> aInits;
  kmeansHierarchicalInit(aData.data(), aLength, aInits, 2, 20, aRandom);
  EXPECT_TRUE(aInits.empty());

  kmeansHierarchicalInit(aData.data(), aLength, aInits, 3, 20, aRandom);
  ASSERT_GE(aInits.size(), 1u);
  EXPECT_LE(aInits.size(), 2u);
  for (const CState& s : aInits) {
    std::set<int> aUsed(s.mLabels.data(), s.mLabels.data() + s.mLabels.size());
    EXPECT_EQ(aUsed, (std::set<int>{0, 1, 2}));
  }
}

TEST(KMeans, StateOrderPrefersLargerVarianceThenMoreClusters) {
  CState a, b;
  a.mSplitVariance = 1.0f;
  b.mSplitVariance = 2.0f;
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  b.mSplitVariance = 1.0f;
  a.mK = 2;
  b.mK = 3;
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
}

TEST(KMeans, DriverFindsThreeBlobs) {
  std::vector<CVector<float>> aData;
  CVector<int> aLength;
  std::vector<int> aBlob;
  CRandom aRandom;
  threeBlobs(aData, aLength, aBlob, aRandom);
  CVector<float> aMean[3];
  float aNum[3];
  CVector<int> aLabels;
  kmeans(aData.data(), aMean, aNum, aLabels, aLength, 3, aRandom);
  ASSERT_EQ(aLabels.size(), 60);
  int aBlobLabel[3] = {aLabels(0), aLabels(1), aLabels(2)};
  EXPECT_NE(aBlobLabel[0], aBlobLabel[1]);
  EXPECT_NE(aBlobLabel[0], aBlobLabel[2]);
  EXPECT_NE(aBlobLabel[1], aBlobLabel[2]);
  for (int i = 0; i < 60; i++) EXPECT_EQ(aLabels(i), aBlobLabel[aBlob[static_cast<size_t>(i)]]);
  // Blob b holds 20 points of weight b + 1.
  for (int b = 0; b < 3; b++)
    EXPECT_FLOAT_EQ(aNum[aBlobLabel[b]], 20.0f * static_cast<float>(b + 1));
}

TEST(KMeans, EnergiesWithAndWithoutNeighbourPenalty) {
  auto aData = points1D({0.0f, 1.0f, 4.0f});
  CVector<int> aLength = intVector({2, 1, 3});
  CVector<int> aLabels = intVector({0, 0, 1});
  CVector<float> aMean[2] = {CVector<float>(1, 0.5f), CVector<float>(1, 3.0f)};
  // 2 * 0.25 + 1 * 0.25 + 3 * 1 = 3.75
  EXPECT_FLOAT_EQ(computeEnergy(aData.data(), aMean, aLabels, aLength), 3.75f);
  CVector<std::vector<int>> idx(3);
  CVector<std::vector<float>> g(3);
  idx(0) = {1, 2};
  g(0) = {0.5f, 0.25f};
  idx(2) = {1};
  g(2) = {0.5f};
  // + (2 * 8) * 0.25 for point 0, + (3 * 8) * 0.5 for point 2.
  EXPECT_FLOAT_EQ(computeEnergy(aData.data(), aMean, aLabels, aLength, g, idx, 8.0f),
                  3.75f + 4.0f + 12.0f);
}

TEST(KMeans, SameSweepsWithAndWithoutAvx2) {
  // Seven and nine means: eight lanes at a time with AVX2 (the second case with a partly used
  // block), four without. Labels, sweep counts and means must be the same bits.
  std::vector<CVector<float>> aData;
  CVector<int> aLength(400);
  CRandom aPoints(17);
  for (int n = 0; n < 400; n++) {
    CVector<float> p(6);
    for (int i = 0; i < 6; i++) p(i) = static_cast<float>(aPoints.next() % 1000) * 1e-3f;
    aData.push_back(p);
    aLength(n) = 1 + n % 5;
  }
  for (int K : {7, 9}) {
    std::vector<CVector<float>> aMeans[2];
    CVector<int> aLabels[2];
    int aSweeps[2];
    for (int v = 0; v < 2; v++) {
      allowAvx2(v == 1);
      CRandom aRandom(5);
      std::vector<CVector<float>> aSum(static_cast<size_t>(K));
      aMeans[v].resize(static_cast<size_t>(K));
      std::vector<float> aNum(static_cast<size_t>(K));
      ASSERT_TRUE(kmeansRandomInit(aData.data(), aSum.data(), aNum.data(), aLabels[v], aLength, K,
                                   aRandom));
      aSweeps[v] = kmeansOptimize(aData.data(), aMeans[v].data(), aSum.data(), aNum.data(),
                                  aLabels[v], aLength, K, 10);
    }
    allowAvx2(true);
    EXPECT_EQ(aSweeps[0], aSweeps[1]) << K;
    for (int n = 0; n < 400; n++) EXPECT_EQ(aLabels[0](n), aLabels[1](n)) << K;
    for (int k = 0; k < K; k++)
      EXPECT_EQ(std::memcmp(aMeans[0][k].data(), aMeans[1][k].data(), 6 * sizeof(float)), 0) << K;
  }
}
