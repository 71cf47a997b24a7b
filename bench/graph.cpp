// buildHOGraph on generated trajectories: a few rigid motions over a 640 x 480 picture, grid
// step 8, 20 frames. Reports wall time, triples per second, stored edges and peak memory.
// BM_GraphAndSplit also splits the graph (embedding and segmentation) and reports the seconds
// of both, for the growth of the two with the number of trajectories.
#include <benchmark/benchmark.h>
#include <omp.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "foundation/Random.h"
#include "graph/HOGraph.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "spectral/SplitTracks.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 20, kSteps = 19;

// aCount trajectories at random grid-aligned starts, each following one of four rigid motions
// by its quadrant, with a little position noise and a slowly growing flow variation.
std::vector<CTrack> generate(int aCount) {
  CRandom aRandom(7);
  std::vector<CTrack> aTracks(aCount);
  for (CTrack& aTrack : aTracks) {
    aTrack.mox = aRandom.next() % kWidth;
    aTrack.moy = aRandom.next() % kHeight;
    const int aKind = (aTrack.mox < kWidth / 2 ? 0 : 1) + (aTrack.moy < kHeight / 2 ? 0 : 2);
    const float aRate = 0.2f + 0.001f * static_cast<float>(aRandom.next() % 100);
    float aSum = 0.0f;
    for (int k = 1; k <= kSteps; k++) {
      const float fk = static_cast<float>(k);
      float x = static_cast<float>(aTrack.mox), y = static_cast<float>(aTrack.moy);
      const float aAngle = 0.005f * fk * static_cast<float>(aKind - 1);
      const float dx = x - 320.0f, dy = y - 240.0f;
      x = 320.0f + std::cos(aAngle) * dx - std::sin(aAngle) * dy + fk * (aKind - 1.5f);
      y = 240.0f + std::sin(aAngle) * dx + std::cos(aAngle) * dy + fk * 0.5f * aKind;
      x += 0.01f * static_cast<float>(aRandom.next() % 11 - 5);
      aTrack.mx.push_back(std::min(std::max(x, 0.0f), kWidth - 1.0f));
      aTrack.my.push_back(std::min(std::max(y, 0.0f), kHeight - 1.0f));
      aSum += aRate;
      aTrack.mFlowVar.push_back(aSum);
    }
  }
  return aTracks;
}

// The settings of a 640 x 480 run of 20 frames at step 8.
CRunSettings benchSettings() {
  CRunSettings aSettings;
  aSettings.mXSize = kWidth;
  aSettings.mYSize = kHeight;
  aSettings.mSequenceLength = kFrames;
  aSettings.mStep = 8;
  return aSettings;
}

void BM_BuildHOGraph(benchmark::State& aState) {
  const CRunSettings aSettings = benchSettings();
  omp_set_num_threads(static_cast<int>(aState.range(1)));
  const std::vector<CTrack> aInput = generate(static_cast<int>(aState.range(0)));
  size_t aEdges = 0;
  CHOGraphStats aStats;
  for (auto _ : aState) {
    aState.PauseTiming();
    std::vector<CTrack> aTracks = aInput;
    CVector<bool> aValid(static_cast<int>(aTracks.size()), true);
    CGraph aGraph;
    CRandom aRandom;
    aState.ResumeTiming();
    buildHOGraph(aSettings, aTracks, aValid, aGraph, aRandom, &aStats);
    aEdges = 0;
    for (const auto& aList : aGraph) aEdges += aList.size();
    aEdges /= 2;
  }
  rusage aUsage;
  getrusage(RUSAGE_SELF, &aUsage);
  aState.counters["edges"] = static_cast<double>(aEdges);
  aState.counters["weighed"] = static_cast<double>(aStats.mEdgesWeighed);
  aState.counters["triples/s"] =
      benchmark::Counter(static_cast<double>(aStats.mTriples), benchmark::Counter::kIsRate);
  aState.counters["peakMiB"] = static_cast<double>(aUsage.ru_maxrss) / 1024.0;
}

double now() {
  timeval aTime;
  gettimeofday(&aTime, nullptr);
  return aTime.tv_sec + aTime.tv_usec / 1e6;
}

// Every size is a run of its own: its own random numbers and eigen solver starts.
void BM_GraphAndSplit(benchmark::State& aState) {
  const CRunSettings aSettings = benchSettings();
  const std::vector<CTrack> aInput = generate(static_cast<int>(aState.range(0)));
  double aGraphSeconds = 0, aSplitSeconds = 0;
  int aRegions = 0;
  for (auto _ : aState) {
    std::vector<CTrack> aTracks = aInput;
    CClusteringState aClustering;
    CVector<bool> aValid(static_cast<int>(aTracks.size()), true);
    const double t0 = now();
    buildHOGraph(aSettings, aTracks, aValid, aClustering.mGraph, aClustering.mRandom);
    const double t1 = now();
    aClustering.mRegionNo = 1;
    std::ostringstream aLog;
    splitTracks(0, aTracks, aClustering, aLog);
    aGraphSeconds = t1 - t0;
    aSplitSeconds = now() - t1;
    aRegions = aClustering.mRegionNo;
  }
  aState.counters["graph_s"] = aGraphSeconds;
  aState.counters["split_s"] = aSplitSeconds;
  aState.counters["regions"] = aRegions;
}

}  // namespace

BENCHMARK(BM_GraphAndSplit)
    ->Arg(2000)
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK(BM_BuildHOGraph)
    ->Args({2000, 1})
    ->Args({2000, 2})
    ->Args({5000, 1})
    ->Args({5000, 2})
    ->Args({20000, 2})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

BENCHMARK_MAIN();
