// The program's graph construction against the plain reference (ReferenceGraph.h) on small
// trajectory sets: same edges (the reference also stores the zero weights the program leaves
// out), labels, validity, neighbour lists and the state of rand afterwards, for 1 and 2 threads.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "graph/HOGraph.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "tests/graph/ReferenceGraph.h"
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
  for (int y0 = 12; y0 < 88; y0 += 6)
    for (int x0 = 12; x0 < 120; x0 += 8, i++) {
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
  mXSize = kWidth;
  mYSize = kHeight;
  mSequenceLength = aFrames;
  mStep = 8;
  const int N = static_cast<int>(aInput.size());

  std::vector<CTrack> aExpected = aInput;
  CVector<bool> aExpectedValid(N, true);
  CGraph aReference;
  srand(1);
  reference::buildGraph(aExpected, aExpectedValid, aReference);
  const int aNextDraw = rand();
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

  for (int aThreads : {1, 2}) {
    SCOPED_TRACE(aThreads);
    omp_set_num_threads(aThreads);
    std::vector<CTrack> aTracks = aInput;
    CVector<bool> aValid(N, true);
    CGraph aGraph;
    srand(1);
    buildHOGraph(aTracks, aValid, aGraph);
    EXPECT_EQ(rand(), aNextDraw);
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
