#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>
#include <vector>

#include "foundation/Random.h"
#include "spectral/CGraph.h"
#include "spectral/CKMeans.h"
#include "spectral/SegmentGraph.h"
#include "spectral/SplitTracks.h"

namespace {

// A row of aCount tracks of aFrames frames starting at index aFirst, at x = aX0 + 2 i, each
// with its (up to) 12 nearest row mates as neighbours.
void addRow(std::vector<CTrack>& aTracks, int aCount, int aFrames, float aX0, int aLabel) {
  const int aFirst = static_cast<int>(aTracks.size());
  for (int i = 0; i < aCount; i++) {
    CTrack T;
    T.mox = static_cast<int>(aX0) + 2 * i;
    T.mx.assign(static_cast<size_t>(aFrames), static_cast<float>(T.mox));
    T.my.assign(static_cast<size_t>(aFrames), 0.0f);
    T.mLabel = aLabel;
    int r = 0;
    for (int d = 1; d <= 6; d++)
      for (int s = -1; s <= 1; s += 2) {
        const int j = i + s * d;
        if (j < 0 || j >= aCount) continue;
        T.mNearestNeighbors(r) = aFirst + j;
        T.mNearestNeighborsDX(r) = static_cast<float>(2 * s * d);
        T.mNearestNeighborsDY(r) = 0.0f;
        r++;
      }
    aTracks.push_back(T);
  }
}

void addEdge(CGraph& aGraph, int a, int b, float w) {
  aGraph[static_cast<size_t>(a)].push_back(CEdge(b, w));
  aGraph[static_cast<size_t>(b)].push_back(CEdge(a, w));
}

// Random links inside the tracks aFirst ... aFirst + aCount - 1.
void linkBlock(CGraph& aGraph, int aFirst, int aCount, CRandom& aRandom) {
  for (int i = 0; i < aCount; i++)
    for (int e = 0; e < 10; e++) {
      const int j = aRandom.next() % aCount;
      if (j != i)
        addEdge(aGraph, aFirst + i, aFirst + j,
                0.5f + static_cast<float>(aRandom.next() % 1000) * 0.001f);
    }
}

struct CProblem {
  CMatrix<float> mFeatures;
  CVector<float> mWeights;
  CVector<int> mIndexToNode, mNodeToIndex;
};

// Every track with label 0 becomes a node; one feature, aValue(track) plus a little noise.
CProblem problemOf(std::vector<CTrack>& aTracks, float aLow, float aHigh, int aSplitAt,
                   CRandom& aRandom) {
  CProblem p;
  const int aCount = static_cast<int>(aTracks.size());
  p.mIndexToNode.setSize(aCount);
  std::vector<int> aNodes;
  for (int i = 0; i < aCount; i++) {
    p.mIndexToNode(i) =
        aTracks[static_cast<size_t>(i)].mLabel == 0 ? static_cast<int>(aNodes.size()) : -1;
    if (p.mIndexToNode(i) >= 0) aNodes.push_back(i);
  }
  const int N = static_cast<int>(aNodes.size());
  p.mNodeToIndex.setSize(N);
  p.mFeatures.setSize(N, 1);
  for (int n = 0; n < N; n++) {
    p.mNodeToIndex(n) = aNodes[static_cast<size_t>(n)];
    p.mFeatures(n, 0) = (aNodes[static_cast<size_t>(n)] < aSplitAt ? aLow : aHigh) +
                        static_cast<float>(aRandom.next() % 100) * 0.0005f;
  }
  p.mWeights.setSize(1);
  p.mWeights(0) = 4.0f;
  return p;
}

}  // namespace

TEST(Segmentation, RegionCountBelowTwoGivesOneRegion) {
  std::vector<CTrack> aTracks;
  addRow(aTracks, 30, 5, 0, 0);
  addRow(aTracks, 30, 5, 200, 0);
  CRandom aRandom;
  CProblem p = problemOf(aTracks, 0.0f, 1.0f, 30, aRandom);
  CVector<int> aResult;
  int aRegionNo = 1;
  segmentGraphMultiRegion(p.mFeatures, p.mWeights, aRegionNo, p.mIndexToNode, p.mNodeToIndex,
                          aTracks, aResult, aRandom);
  EXPECT_EQ(aRegionNo, 1);
  ASSERT_EQ(aResult.size(), 60);
  for (int n = 0; n < 60; n++) EXPECT_EQ(aResult(n), 0);
}

TEST(Segmentation, SeparatesTwoFeatureGroups) {
  std::vector<CTrack> aTracks;
  addRow(aTracks, 40, 8, 0, 0);
  addRow(aTracks, 3, 8, 100, 5);  // not part of the problem, yet listed as neighbours below
  addRow(aTracks, 40, 8, 300, 0);
  // Neighbour entries that must add nothing: an empty slot, an outside track, a repeat.
  aTracks[0].mNearestNeighbors(6) = -1;
  aTracks[0].mNearestNeighbors(7) = 41;
  aTracks[0].mNearestNeighbors(8) = aTracks[0].mNearestNeighbors(0);
  CRandom aRandom;
  CProblem p = problemOf(aTracks, 0.1f, 0.9f, 40, aRandom);
  CVector<int> aResult;
  int aRegionNo = 4;
  segmentGraphMultiRegion(p.mFeatures, p.mWeights, aRegionNo, p.mIndexToNode, p.mNodeToIndex,
                          aTracks, aResult, aRandom);
  EXPECT_EQ(aRegionNo, 2);
  ASSERT_EQ(aResult.size(), 80);
  EXPECT_NE(aResult(0), aResult(79));
  for (int n = 0; n < 80; n++) EXPECT_EQ(aResult(n), n < 40 ? aResult(0) : aResult(79)) << n;
}

TEST(Segmentation, TriesNoMoreRegionsThanWeightedNodes) {
  // Three of five nodes have frames; asking for ten regions must neither hang nor invent
  // regions, and weightless nodes never form a region of their own.
  std::vector<CTrack> aTracks;
  addRow(aTracks, 5, 4, 0, 0);
  aTracks[1].mx.clear();
  aTracks[3].mx.clear();
  CRandom aRandom;
  CProblem p = problemOf(aTracks, 0.0f, 1.0f, 2, aRandom);
  CVector<int> aResult;
  int aRegionNo = 10;
  segmentGraphMultiRegion(p.mFeatures, p.mWeights, aRegionNo, p.mIndexToNode, p.mNodeToIndex,
                          aTracks, aResult, aRandom);
  EXPECT_GE(aRegionNo, 1);
  EXPECT_LE(aRegionNo, 3);
  for (int n = 0; n < 5; n++) {
    EXPECT_GE(aResult(n), -1);
    EXPECT_LT(aResult(n), aRegionNo);
  }
}

TEST(KMeansZeroWeight, WeightlessPointKeepsMeansFinite) {
  // The weightless point moves into the empty cluster 1: its mean must stay a number.
  std::vector<CVector<float>> aData{CVector<float>(1, 10.0f), CVector<float>(1, 1.0f)};
  CVector<int> aLength(2), aLabels(2);
  aLength(0) = 1;
  aLength(1) = 0;
  aLabels(0) = 0;
  aLabels(1) = 0;
  CVector<float> aSum[2], aMean[2];
  float aNum[2];
  kmeansRecomputeStatistics(aData.data(), aSum, aNum, aLabels, aLength, 2);
  // A NaN mean would send the point back and forth until the sweep limit.
  EXPECT_EQ(kmeansOptimize(aData.data(), aMean, aSum, aNum, aLabels, aLength, 2, 10), 2);
  EXPECT_EQ(aLabels(0), 0);
  EXPECT_EQ(aLabels(1), 1);
  for (int k = 0; k < 2; k++) EXPECT_FALSE(std::isnan(aMean[k](0))) << k;
}

TEST(Segmentation, CompactionRemovesRegionsWithoutLength) {
  // Region 1 has no length: its node becomes -1 and label 3 moves into its place. Region 2
  // (now the last) is empty as well and simply goes.
  CVector<int> aResult(6), aLength(6);
  const int aLabels[6] = {0, 1, 3, 3, 2, 0};
  const int aLengths[6] = {2, 0, 1, 4, 0, 1};
  for (int n = 0; n < 6; n++) {
    aResult(n) = aLabels[n];
    aLength(n) = aLengths[n];
  }
  int aRegionNo = 4;
  compactRegions(aResult, aLength, aRegionNo);
  EXPECT_EQ(aRegionNo, 2);
  const int aExpected[6] = {0, -1, 1, 1, -1, 0};
  for (int n = 0; n < 6; n++) EXPECT_EQ(aResult(n), aExpected[n]) << n;
}

TEST(SplitTracks, SplitsBlocksMarksOutliersAndOffsetsLabels) {
  std::vector<CTrack> aTracks;
  addRow(aTracks, 150, 16, 0, 0);    // block A: 0 ... 149
  addRow(aTracks, 150, 16, 400, 0);  // block B: 150 ... 299
  addRow(aTracks, 10, 16, 800, 0);   // small group C: 300 ... 309, weight 10 * 4 < 100
  addRow(aTracks, 1, 16, 900, 7);    // another cluster: 310
  // The graph is drawn from the random numbers the splitting then goes on with.
  CClusteringState aState;
  CGraph& aGraph = aState.mGraph;
  CRandom& aRandom = aState.mRandom;
  aGraph.assign(aTracks.size(), {});
  linkBlock(aGraph, 0, 150, aRandom);
  linkBlock(aGraph, 150, 150, aRandom);
  linkBlock(aGraph, 300, 10, aRandom);
  for (int e = 0; e < 4; e++) {
    const int i = aRandom.next() % 150;
    addEdge(aGraph, i, 150 + aRandom.next() % 150, 0.01f);
  }
  addEdge(aGraph, 0, 300, 0.0001f);
  addEdge(aGraph, 310, 0, 1.0f);  // an edge to a track of another label is ignored

  aState.mRegionNo = 3;
  std::ostringstream aLog;
  splitTracks(0, aTracks, aState, aLog);
  EXPECT_EQ(aState.mRegionNo, 4);
  const CVector<float>& aEigVals = aState.mEigVals;
  const int a = aTracks[0].mLabel, b = aTracks[150].mLabel;
  EXPECT_EQ(std::set<int>({a, b}), std::set<int>({0, 3}));
  for (int i = 0; i < 300; i++)
    EXPECT_EQ(aTracks[static_cast<size_t>(i)].mLabel, i < 150 ? a : b) << i;
  for (int i = 300; i < 310; i++) EXPECT_EQ(aTracks[static_cast<size_t>(i)].mLabel, -1) << i;

  const CTrack& aOther = aTracks[310];
  EXPECT_EQ(aOther.mLabel, 7);
  ASSERT_GE(aEigVals.size(), 1);
  ASSERT_EQ(aOther.mProjection.size(), aEigVals.size());
  for (int j = 0; j < aOther.mProjection.size(); j++) EXPECT_EQ(aOther.mProjection(j), -100.0f);
  for (int i = 0; i < 310; i++)
    for (int j = 0; j < aEigVals.size(); j++) {
      EXPECT_GE(aTracks[static_cast<size_t>(i)].mProjection(j), 0.0f);
      EXPECT_LE(aTracks[static_cast<size_t>(i)].mProjection(j), 1.0f);
    }
}

TEST(SplitTracks, AllEigenvectorsDroppedKeepsOneRegion) {
  // Single-frame tracks weigh 1 each: two sides of 150 tracks cannot both reach 100.
  std::vector<CTrack> aTracks;
  addRow(aTracks, 150, 1, 0, 2);
  CClusteringState aState;
  aState.mGraph.assign(aTracks.size(), {});
  linkBlock(aState.mGraph, 0, 150, aState.mRandom);
  aState.mRegionNo = 5;
  std::ostringstream aLog;
  splitTracks(2, aTracks, aState, aLog);
  EXPECT_EQ(aState.mRegionNo, 5);
  EXPECT_EQ(aState.mEigVals.size(), 0);
  int aKept = 0;
  for (const CTrack& T : aTracks) {
    EXPECT_TRUE(T.mLabel == 2 || T.mLabel == -1);
    EXPECT_EQ(T.mProjection.size(), 0);
    if (T.mLabel == 2) aKept++;
  }
  EXPECT_GT(aKept, 0);
}

TEST(SplitTracks, TinyClusterStaysWholeAndLogsItsSteps) {
  std::vector<CTrack> aTracks;
  addRow(aTracks, 2, 10, 0, 0);
  CClusteringState aState;
  aState.mGraph.assign(aTracks.size(), {});
  addEdge(aState.mGraph, 0, 1, 1.0f);
  aState.mRegionNo = 1;
  std::ostringstream aLog;
  splitTracks(0, aTracks, aState, aLog);
  EXPECT_EQ(aLog.str(), "Before N-Cut.\nAfter N-Cut.\nBefore segmentation.\nAfter segmentation.\n");
  EXPECT_EQ(aState.mRegionNo, 1);
  EXPECT_EQ(aTracks[0].mLabel, 0);
  EXPECT_EQ(aTracks[1].mLabel, 0);
}
