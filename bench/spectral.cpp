// Speed of the spectral embedding and of the whole cluster splitting on synthetic graphs.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "foundation/Random.h"
#include "spectral/ArpackSolver.h"
#include "spectral/CGraph.h"
#include "spectral/SplitTracks.h"

namespace {

// aNodes nodes in aBlocks equal blocks; every node draws aLinks random partners in its block
// (weights in [0.5, 1.5]), so each list holds about 2 * aLinks entries; a few weak links join
// consecutive blocks.
CGraph blockGraph(int aNodes, int aBlocks, int aLinks) {
  CRandom aRandom;
  CGraph aGraph(static_cast<size_t>(aNodes));
  const int aBlock = aNodes / aBlocks;
  for (size_t i = 0; i < aGraph.size(); i++) aGraph[i].reserve(static_cast<size_t>(2 * aLinks + 8));
  for (int i = 0; i < aNodes; i++) {
    const int aFirst = (i / aBlock) * aBlock;
    for (int e = 0; e < aLinks; e++) {
      const int j = aFirst + aRandom.next() % aBlock;
      if (j == i) continue;
      const float w = 0.5f + static_cast<float>(aRandom.next() % 1000) * 0.001f;
      aGraph[static_cast<size_t>(i)].push_back(CEdge(j, w));
      aGraph[static_cast<size_t>(j)].push_back(CEdge(i, w));
    }
  }
  for (int b = 0; b + 1 < aBlocks; b++)
    for (int e = 0; e < 10; e++) {
      const int i = b * aBlock + aRandom.next() % aBlock,
                j = (b + 1) * aBlock + aRandom.next() % aBlock;
      aGraph[static_cast<size_t>(i)].push_back(CEdge(j, 0.01f));
      aGraph[static_cast<size_t>(j)].push_back(CEdge(i, 0.01f));
    }
  return aGraph;
}

void BM_Ncut(benchmark::State& aState) {
  CGraph aGraph = blockGraph(10000, 4, 250);
  CVector<bool> aValid(10000, true);
  CMatrix<float> aVecs;
  CVector<float> aVals;
  CArpackStats aStats;
  std::ostringstream aLog;
  for (auto _ : aState) {
    CEigenStart aStart;
    ncut(aGraph, aValid, aVecs, aVals, 2, aStart, aLog, &aStats);
  }
  aState.counters["products"] = aStats.mProducts;
  aState.counters["restarts"] = aStats.mIterations;
  aState.counters["converged"] = aStats.mConverged;
  aState.counters["eigenvectors"] = aVals.size();
}
BENCHMARK(BM_Ncut)->Unit(benchmark::kSecond)->Iterations(1);

// Tracks in rows of 2 px spacing with their 12 row neighbours, one block of the graph per
// quarter of the tracks.
void BM_SplitTracks(benchmark::State& aState) {
  const int aCount = 10000;
  std::vector<CTrack> aTracks(static_cast<size_t>(aCount));
  for (int i = 0; i < aCount; i++) {
    CTrack& T = aTracks[static_cast<size_t>(i)];
    T.mox = 2 * (i % 100);
    T.moy = 2 * (i / 100);
    T.mx.assign(16, static_cast<float>(T.mox));
    T.my.assign(16, static_cast<float>(T.moy));
    int r = 0;
    for (int d = 1; d <= 6; d++)
      for (int s = -1; s <= 1; s += 2) {
        const int j = i + s * d;
        if (j < 0 || j >= aCount) continue;
        T.mNearestNeighbors(r) = j;
        T.mNearestNeighborsDX(r) = static_cast<float>(2 * s * d);
        T.mNearestNeighborsDY(r) = 0.0f;
        r++;
      }
  }
  const CGraph aGraph = blockGraph(aCount, 4, 50);
  CClusteringState aSplit;
  std::ostringstream aLog;
  for (auto _ : aState) {
    aState.PauseTiming();
    for (CTrack& T : aTracks) T.mLabel = 0;
    aSplit = CClusteringState();
    aSplit.mGraph = aGraph;
    aSplit.mRegionNo = 1;
    aState.ResumeTiming();
    splitTracks(0, aTracks, aSplit, aLog);
  }
  aState.counters["regions"] = aSplit.mRegionNo;
  aState.counters["features"] = aSplit.mEigVals.size();
}
BENCHMARK(BM_SplitTracks)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
