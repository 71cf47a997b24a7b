#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <map>
#include <sstream>
#include <vector>

#include "foundation/Random.h"
#include "graph/HOGraph.h"
#include "graph/TrackDistances.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "spectral/SplitTracks.h"
#include "tests/graph/SyntheticTracks.h"
#include "tracking/CTrack.h"

namespace {

CRunSettings frame(int aXSize, int aYSize, int aLength, int aStep) {
  CRunSettings aSettings;
  aSettings.mXSize = aXSize;
  aSettings.mYSize = aYSize;
  aSettings.mSequenceLength = aLength;
  aSettings.mStep = aStep;
  return aSettings;
}

// Every edge is held in both lists with one weight, never twice, never to itself.
void expectSymmetric(const CGraph& aGraph) {
  for (size_t i = 0; i < aGraph.size(); i++) {
    std::map<int, int> aSeen;
    for (const CEdge& e : aGraph[i]) {
      EXPECT_NE(e.mNode, static_cast<int>(i));
      EXPECT_EQ(++aSeen[e.mNode], 1);
      EXPECT_TRUE(std::isfinite(e.mWeight));
      EXPECT_GT(e.mWeight, 0.0f);
      int aBack = 0;
      for (const CEdge& f : aGraph[e.mNode])
        if (f.mNode == static_cast<int>(i)) {
          aBack++;
          EXPECT_EQ(f.mWeight, e.mWeight);
        }
      EXPECT_EQ(aBack, 1);
    }
  }
}

size_t edgeCount(const CGraph& aGraph) {
  size_t n = 0;
  for (const auto& aList : aGraph) n += aList.size();
  return n / 2;
}

}  // namespace

TEST(HOGraph, NoValidTrackGivesEmptyListsAndEnds) {
  const CRunSettings aSettings = frame(64, 48, 5, 8);
  std::vector<CTrack> aTracks(4);
  aTracks[1] = synthetic::translating(5, 5, 0, 3, 1, 0);
  CVector<bool> aValid(4, false);
  CGraph aGraph(2);
  aGraph[0].emplace_back(1, 1.0f);
  CRandom aRandom;
  buildHOGraph(aSettings, aTracks, aValid, aGraph, aRandom);
  ASSERT_EQ(aGraph.size(), 4u);
  for (const auto& aList : aGraph) EXPECT_TRUE(aList.empty());
  for (const CTrack& aTrack : aTracks) EXPECT_EQ(aTrack.mLabel, -1);
}

TEST(HOGraph, StageOfTwelveWeighsOnlyTheFirstAndStopsWhenNothingIsSelected) {
  const CRunSettings aSettings = frame(64, 48, 6, 4);
  std::vector<CTrack> aTracks;
  // One common translation; the flow variation fixes the order of selection (track 11 first).
  for (int i = 0; i < 12; i++)
    aTracks.push_back(synthetic::translating(4 + 4 * (i % 4), 4 + 4 * (i / 4), 0, 5, 1.0f, 0.5f,
                                             0.2f + 0.01f * static_cast<float>(i)));
  CVector<bool> aValid(12, true);
  CGraph aGraph;
  CRandom aRandom;
  buildHOGraph(aSettings, aTracks, aValid, aGraph, aRandom);
  // Stage 1 selects 11, 10, 9 and weighs 11-10 and 11-9; 10-9 is never weighed. The later
  // stages select 2, 1, 1, 1, 1 without weighing, then 3 candidates remain and nothing more
  // can be selected although only 9 of 12 tracks' points are covered.
  EXPECT_EQ(edgeCount(aGraph), 2u);
  ASSERT_EQ(aGraph[11].size(), 2u);
  EXPECT_EQ(aGraph[11][0].mNode, 10);
  EXPECT_EQ(aGraph[11][1].mNode, 9);
  EXPECT_GT(aGraph[11][0].mWeight, 0.5f);
  EXPECT_EQ(aGraph[10].size(), 1u);
  EXPECT_EQ(aGraph[9].size(), 1u);
  expectSymmetric(aGraph);
  int aExcluded = 0;
  for (int i = 0; i < 12; i++)
    if (!aValid(i)) {
      aExcluded++;
      EXPECT_EQ(aTracks[i].mLabel, -1);
    }
  EXPECT_EQ(aExcluded, 3);
  for (int i : {9, 10, 11}) EXPECT_EQ(aTracks[i].mLabel, 0);
}

TEST(HOGraph, NegativeShareAboveNineTenthsVetoesTheEdge) {
  const CGraphTuning aTuning;
  ASSERT_EQ(aTuning.SAMPLE_NN_COUNT, 12);
  ASSERT_EQ(aTuning.SAMPLE_RAND_COUNT, 30);
  std::vector<CTrack> aTracks;
  aTracks.push_back(synthetic::translating(10, 10, 0, 8, 1, 0));   // node1
  aTracks.push_back(synthetic::translating(40, 10, 0, 8, 1, 0));   // node2
  aTracks.push_back(synthetic::translating(25, 30, 0, 8, 1, 0));   // agrees: affinity near 1
  aTracks.push_back(synthetic::translating(25, 50, 0, 8, -9, 7));  // disagrees: below 1e-5
  aTracks.push_back(synthetic::translating(25, 70, 9, 8, 1, 0));   // after the pair: empty
  int aRandom[30];
  // 54 triples of which aBad have the third member aBadMember.
  auto weightWithBad = [&](int aBad, int aBadMember = 3) {
    int aSlot = 0;
    auto next = [&]() { return aSlot++ < aBad ? aBadMember : 2; };
    for (int aNode : {0, 1})
      for (int j = 0; j < 12; j++) {
        aTracks[aNode].mNearestNeighbors(j) = next();
        aTracks[aNode].mNearestNeighborsDX(j) = 1.0f;
      }
    for (int r = 0; r < 30; r++) aRandom[r] = next();
    long long aTriples = 0;
    const float w = edgeWeight(aTracks, 0, 1, aRandom, aTuning, &aTriples);
    EXPECT_LE(aTriples, 54);
    return w;
  };
  int aLength = 0;
  const float aSptDist = 30.0f;
  ASSERT_LT(computeDistance(aTracks[0], aTracks[1], aTracks[3], aSptDist, &aLength, aTuning),
            1e-5f);
  const float aGood =
      computeDistance(aTracks[0], aTracks[1], aTracks[2], aSptDist, &aLength, aTuning);
  ASSERT_GT(aGood, 0.5f);
  EXPECT_EQ(weightWithBad(49), 0.0f);
  EXPECT_EQ(weightWithBad(48), aGood);
  EXPECT_EQ(weightWithBad(0), aGood);
  EXPECT_EQ(weightWithBad(49, 4), 0.0f);
  EXPECT_EQ(weightWithBad(48, 4), aGood);
}

TEST(HOGraph, SameGraphForOneAndTwoThreadsAndSymmetric) {
  const CRunSettings aSettings = frame(96, 80, 12, 8);
  CRandom aNoise;
  std::vector<int> aMotion;
  const std::vector<CTrack> aInput = synthetic::twoMotions(96, 80, 8, 10, aMotion, aNoise);
  std::vector<std::vector<CTrack>> aTracks;
  std::vector<CGraph> aGraphs;
  std::vector<CVector<bool>> aValid;
  for (int aThreads : {1, 2}) {
    omp_set_num_threads(aThreads);
    CRandom aRandom;
    aTracks.push_back(aInput);
    aValid.emplace_back(static_cast<int>(aInput.size()), true);
    aGraphs.emplace_back();
    buildHOGraph(aSettings, aTracks.back(), aValid.back(), aGraphs.back(), aRandom);
  }
  omp_set_num_threads(2);
  ASSERT_EQ(aGraphs[0].size(), aGraphs[1].size());
  EXPECT_GT(edgeCount(aGraphs[0]), 300u);
  for (size_t i = 0; i < aGraphs[0].size(); i++) {
    ASSERT_EQ(aGraphs[0][i].size(), aGraphs[1][i].size()) << i;
    for (size_t e = 0; e < aGraphs[0][i].size(); e++) {
      EXPECT_EQ(aGraphs[0][i][e].mNode, aGraphs[1][i][e].mNode);
      EXPECT_EQ(aGraphs[0][i][e].mWeight, aGraphs[1][i][e].mWeight);
    }
    EXPECT_EQ(aTracks[0][i].mLabel, aTracks[1][i].mLabel);
    EXPECT_EQ(aValid[0](static_cast<int>(i)), aValid[1](static_cast<int>(i)));
  }
  expectSymmetric(aGraphs[0]);
}

TEST(HOGraph, GraphAndSplittingSeparateTwoRigidMotions) {
  const CRunSettings aSettings = frame(160, 120, 12, 8);
  CRandom aNoise;
  std::vector<int> aMotion;
  std::vector<CTrack> aTracks = synthetic::twoMotions(160, 120, 8, 10, aMotion, aNoise);
  CVector<bool> aValid(static_cast<int>(aTracks.size()), true);
  CClusteringState aState;
  buildHOGraph(aSettings, aTracks, aValid, aState.mGraph, aState.mRandom);
  // Edges between the two motions are far weaker than those within one.
  double aWithin = 0, aAcross = 0;
  for (size_t i = 0; i < aState.mGraph.size(); i++)
    for (const CEdge& e : aState.mGraph[i])
      (aMotion[i] == aMotion[e.mNode] ? aWithin : aAcross) += e.mWeight;
  EXPECT_GT(aWithin, 20 * aAcross);
  aState.mRegionNo = 1;
  std::ostringstream aLog;
  splitTracks(0, aTracks, aState, aLog);
  EXPECT_GE(aState.mRegionNo, 2);
  // Each motion is (nearly) one label, and the two labels differ.
  std::map<int, int> aCount[2];
  int aLabelled[2] = {0, 0};
  for (size_t i = 0; i < aTracks.size(); i++)
    if (aTracks[i].mLabel >= 0) {
      aCount[aMotion[i]][aTracks[i].mLabel]++;
      aLabelled[aMotion[i]]++;
    }
  int aMajority[2], aMajorityCount[2] = {0, 0};
  for (int m = 0; m < 2; m++)
    for (const auto& [aLabel, n] : aCount[m])
      if (n > aMajorityCount[m]) {
        aMajorityCount[m] = n;
        aMajority[m] = aLabel;
      }
  for (int m = 0; m < 2; m++) EXPECT_GT(aMajorityCount[m], 0.9 * aLabelled[m]);
  EXPECT_NE(aMajority[0], aMajority[1]);
}
