// The program's graph construction against the plain reference (ReferenceGraph.h) on small
// trajectory sets: same edges (the reference also stores the zero weights the program leaves
// out), labels, validity, neighbour lists and the state of the random numbers afterwards, for 1 and
// 2 threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <utility>
#include <vector>

#include "foundation/Simd.h"
#include "graph/HOGraph.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "tests/graph/ReferenceGraph.h"
#include "tests/graph/SyntheticTracks.h"
#include "tracking/CTrack.h"

namespace {

constexpr int kWidth = 128, kHeight = 96, kFrames = 20;

// Grid trajectories of two rigid motions (a slow turn on the left, a translation on the right)
// with staggered starts, most 9 to 13 steps long and every fourth 1 to 3 steps, so that pairs
// and triples share windows of every length from 1 step up; each position wobbles by up to
// 3 * aWobble pixels. aFlowVarStep(i, k) is the flow variation of track i's step k.
template <class F>
std::vector<CTrack> staggeredTracks(float aWobble, F aFlowVarStep) {
  std::vector<CTrack> aTracks;
  const float cx = 0.5f * kWidth, cy = 0.5f * kHeight;
  int i = 0;
  for (int y0 = 16; y0 < 80; y0 += 8)
    for (int x0 = 24; x0 < 104; x0 += 8, i++) {
      CTrack t;
      t.mox = x0;
      t.moy = y0;
      t.mSetupTime = (i * 5) % 3;
      const int aSteps = i % 4 == 0 ? 1 + (i / 4) % 3 : 9 + (i * 7) % 5;
      float aSum = 0.0f;
      for (int k = 1; k <= aSteps; k++) {
        const float aShift = aWobble * static_cast<float>((i * 3 + k * 5) % 7 - 3);
        const int f = t.mSetupTime + k;
        if (x0 < kWidth / 2) {
          const float a = 0.01f * static_cast<float>(f);
          const float dx = static_cast<float>(x0) - cx, dy = static_cast<float>(y0) - cy;
          t.mx.push_back(cx + std::cos(a) * dx - std::sin(a) * dy + aShift);
          t.my.push_back(cy + std::sin(a) * dx + std::cos(a) * dy);
        } else {
          t.mx.push_back(static_cast<float>(x0) - 1.0f * static_cast<float>(f) + aShift);
          t.my.push_back(static_cast<float>(y0) + 0.7f * static_cast<float>(f));
        }
        aSum += aFlowVarStep(i, k);
        t.mFlowVar.push_back(aSum);
      }
      aTracks.push_back(t);
    }
  return aTracks;
}

// Grid trajectories over kLongFrames frames in three spans of time: frames 0 to 19, frames 20
// to 39 (no step in common with the first span) and frames 6 to 33 with starts and ends spread
// over it, so that windows run from 1 to 27 steps (long ones sampled every third frame); two
// rigid motions as in staggeredTracks, with a wobble of a few hundredths of a pixel.
constexpr int kLongFrames = 40;
std::vector<CTrack> threeSpans() {
  std::vector<CTrack> aTracks;
  const float cx = 0.5f * kWidth, cy = 0.5f * kHeight;
  int i = 0;
  for (int y0 = 12; y0 < 88; y0 += 8)
    for (int x0 = 12; x0 < 120; x0 += 10, i++) {
      CTrack t;
      t.mox = x0;
      t.moy = y0;
      int aLast;
      switch (i % 3) {
        case 0:
          t.mSetupTime = (i / 3) % 4;
          aLast = 19;
          break;
        case 1:
          t.mSetupTime = 20 + (i / 3) % 3;
          aLast = 39;
          break;
        default:
          t.mSetupTime = 6 + (i * 7) % 9;
          aLast = std::min(33, t.mSetupTime + 1 + (i * 5) % 27);
      }
      float aSum = 0.0f;
      for (int f = t.mSetupTime + 1; f <= aLast; f++) {
        const float aShift = 0.02f * static_cast<float>((i * 3 + f * 5) % 7 - 3);
        if (x0 < kWidth / 2) {
          const float a = 0.005f * static_cast<float>(f);
          const float dx = static_cast<float>(x0) - cx, dy = static_cast<float>(y0) - cy;
          t.mx.push_back(cx + std::cos(a) * dx - std::sin(a) * dy + aShift);
          t.my.push_back(cy + std::sin(a) * dx + std::cos(a) * dy);
        } else {
          t.mx.push_back(static_cast<float>(x0) - 0.5f * static_cast<float>(f) + aShift);
          t.my.push_back(static_cast<float>(y0) + 0.3f * static_cast<float>(f));
        }
        aSum += 0.2f + 0.01f * static_cast<float>((i + f) % 9);
        t.mFlowVar.push_back(aSum);
      }
      aTracks.push_back(t);
    }
  return aTracks;
}

void expectSameAsReference(const std::vector<CTrack>& aInput, int aFrames = kFrames) {
  CRunSettings aSettings;
  aSettings.mXSize = kWidth;
  aSettings.mYSize = kHeight;
  aSettings.mSequenceLength = aFrames;
  aSettings.mStep = 8;
  const int N = static_cast<int>(aInput.size());

  std::vector<CTrack> aExpected = aInput;
  CVector<bool> aExpectedValid(N, true);
  CGraph aReference;
  CRandom aReferenceRandom;
  reference::buildGraph(aSettings, aExpected, aExpectedValid, aReference, aReferenceRandom);
  const int aNextDraw = aReferenceRandom.next();
  size_t aEdges = 0, aZeroEdges = 0;
  for (auto& aList : aReference) {
    std::vector<CEdge> aKept;
    for (const CEdge& e : aList) {
      if (e.mWeight == 0.0f)
        aZeroEdges++;
      else
        aKept.push_back(e);
    }
    aEdges += aList.size();
    aList.swap(aKept);
  }
  // The sets must exercise both weighed and vetoed edges.
  EXPECT_GT(aEdges, 2000u);
  EXPECT_GT(aZeroEdges, 100u);

  // One and two threads, and the edge weighing without AVX2 as well as with it.
  for (const auto& [aThreads, aAvx2] :
       {std::pair{1, true}, std::pair{2, true}, std::pair{2, false}}) {
    SCOPED_TRACE(aThreads);
    SCOPED_TRACE(aAvx2);
    omp_set_num_threads(aThreads);
    allowAvx2(aAvx2);
    std::vector<CTrack> aTracks = aInput;
    CVector<bool> aValid(N, true);
    CGraph aGraph;
    CRandom aRandom;
    buildHOGraph(aSettings, aTracks, aValid, aGraph, aRandom);
    EXPECT_EQ(aRandom.next(), aNextDraw);
    ASSERT_EQ(aGraph.size(), aReference.size());
    for (int i = 0; i < N; i++) {
      ASSERT_EQ(aGraph[i].size(), aReference[i].size()) << i;
      for (size_t e = 0; e < aGraph[i].size(); e++) {
        EXPECT_EQ(aGraph[i][e].mNode, aReference[i][e].mNode) << i;
        EXPECT_EQ(aGraph[i][e].mWeight, aReference[i][e].mWeight) << i << " " << e;
      }
      EXPECT_EQ(aTracks[i].mLabel, aExpected[i].mLabel) << i;
      EXPECT_EQ(aValid(i), aExpectedValid(i)) << i;
      for (int j = 0; j < kTrackNeighborCount; j++) {
        EXPECT_EQ(aTracks[i].mNearestNeighbors(j), aExpected[i].mNearestNeighbors(j));
        EXPECT_EQ(aTracks[i].mNearestNeighborsDX(j), aExpected[i].mNearestNeighborsDX(j));
        EXPECT_EQ(aTracks[i].mNearestNeighborsDY(j), aExpected[i].mNearestNeighborsDY(j));
      }
    }
  }
  omp_set_num_threads(2);
  allowAvx2(true);
}

}  // namespace

TEST(ReferenceGraph, SameGraphOnTwoMotionsWithWindowsOfEveryLength) {
  expectSameAsReference(staggeredTracks(
      0.01f, [](int i, int k) { return 0.2f + 0.01f * static_cast<float>((i + k) % 9); }));
}

// Variations of a few hundredths of a pixel per step, and steps of none at all.
TEST(ReferenceGraph, SameGraphWhereTheFlowHardlyVaries) {
  expectSameAsReference(staggeredTracks(0.001f, [](int i, int k) {
    return (i + k) % 5 == 0 ? 0.0f : 0.01f * static_cast<float>((i * k) % 9);
  }));
}

// Longer windows, sampled every third frame, and spans of time without a common step.
TEST(ReferenceGraph, SameGraphOverThreeSpansOfTime) {
  expectSameAsReference(threeSpans(), kLongFrames);
}

// Edge weights of random triples against the reference, with noise from a twentieth of a pixel
// to several pixels so that many affinities lie near 1e-5: triples settled early, edges vetoed
// or not.
TEST(ReferenceGraph, SameEdgeWeightsOnRandomTriples) {
  constexpr int kTracks = 60, kSpan = 30, kEdges = 4000;
  const float kNoise[] = {0.05f, 0.3f, 1.0f, 2.0f, 4.0f};
  const CGraphTuning aTuning;
  CRandom aDraw;
  std::vector<CTrack> aTracks;
  for (int i = 0; i < kTracks; i++) {
    CTrack t;
    t.mox = aDraw.next() % kWidth;
    t.moy = aDraw.next() % kHeight;
    t.mSetupTime = aDraw.next() % 12;
    const int aSteps = 1 + aDraw.next() % (kSpan - t.mSetupTime);
    const float aNoise = kNoise[aDraw.next() % 5];
    float aSum = 0.0f;
    for (int k = 1; k <= aSteps; k++) {
      auto aJitter = [&]() {
        return aNoise * static_cast<float>(aDraw.next() % 201 - 100) * 0.01f;
      };
      t.mx.push_back(static_cast<float>(t.mox) + 0.8f * static_cast<float>(k) + aJitter());
      t.my.push_back(static_cast<float>(t.moy) - 0.3f * static_cast<float>(k) + aJitter());
      aSum += 0.05f + 0.01f * static_cast<float>(aDraw.next() % 30);
      t.mFlowVar.push_back(aSum);
    }
    aTracks.push_back(t);
  }
  for (CTrack& t : aTracks)
    for (int j = 0; j < kTrackNeighborCount; j++) t.mNearestNeighbors(j) = aDraw.next() % kTracks;
  int aPositive = 0, aZero = 0;
  for (int e = 0; e < kEdges; e++) {
    const int node1 = aDraw.next() % kTracks,
              node2 = (node1 + 1 + aDraw.next() % (kTracks - 1)) % kTracks;
    int aRandom[30];
    for (int& r : aRandom) r = aDraw.next() % kTracks;
    int aNext = 0;
    const float aExpected =
        reference::weighEdge(aTracks, node1, node2, aTuning, [&]() { return aRandom[aNext++]; });
    ASSERT_EQ(edgeWeight(aTracks, node1, node2, aRandom, aTuning), aExpected) << e;
    (aExpected > 0.0f ? aPositive : aZero)++;
  }
  EXPECT_GT(aPositive, kEdges / 20);
  EXPECT_GT(aZero, kEdges / 20);
}

// An edge that is not vetoed although 48 of its 54 triples are negative, whose weight comes from
// the first negative triple: over 8 steps its product beats that of the 6 non-negative triples
// of a single step. The program leaves negative triples open until the veto is decided and must
// then go back to them.
TEST(ReferenceGraph, WeightFromANegativeTripleOfAnEdgeThatIsNotVetoed) {
  const CGraphTuning aTuning;
  std::vector<CTrack> aTracks;
  aTracks.push_back(synthetic::translating(10, 10, 0, 8, 1, 0));
  aTracks.push_back(synthetic::translating(40, 10, 0, 8, 1, 0));
  // A third member whose last position is off by the smallest whole number of hundredths of
  // a pixel that brings its affinity below aLimit.
  auto aMemberBelow = [&](int aStart, int aSteps, float aLimit) {
    const float aSptDist = computeEuclidDistance(aTracks[0], aTracks[1]);
    for (int aOff = 0;; aOff++) {
      CTrack t = synthetic::translating(25, 30, aStart, aSteps, 1, 0);
      t.my.back() += 0.01f * static_cast<float>(aOff);
      int aLength = 0;
      const float w = computeDistance(aTracks[0], aTracks[1], t, aSptDist, &aLength, aTuning);
      if (w < aLimit) return std::make_pair(t, w);
    }
  };
  const auto [aShort, aShortWeight] = aMemberBelow(7, 1, 3e-5f);
  const auto [aLong, aLongWeight] = aMemberBelow(0, 8, 5e-6f);
  ASSERT_GE(aShortWeight, 1e-5f);
  ASSERT_GT(8.0f * aLongWeight, aShortWeight);
  aTracks.push_back(aShort);  // 2
  aTracks.push_back(aLong);   // 3
  int aRandom[30];
  int aSlot = 0;
  auto next = [&]() { return aSlot++ % 9 == 0 ? 2 : 3; };  // 6 short members of 54
  for (int aNode : {0, 1})
    for (int j = 0; j < 12; j++) aTracks[aNode].mNearestNeighbors(j) = next();
  for (int& r : aRandom) r = next();
  int aNext = 0;
  const float aExpected =
      reference::weighEdge(aTracks, 0, 1, aTuning, [&]() { return aRandom[aNext++]; });
  EXPECT_EQ(aExpected, aLongWeight);
  EXPECT_EQ(edgeWeight(aTracks, 0, 1, aRandom, aTuning), aExpected);
}
