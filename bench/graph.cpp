// buildHOGraph on generated trajectories: a few rigid motions over a 640 x 480 picture, grid
// step 8, 20 frames. Reports wall time, triples per second, stored edges and peak memory.
// BM_GraphAndSplit also splits the graph (embedding and segmentation) and reports the seconds
// of both, for the growth of the two with the number of trajectories.
#include <benchmark/benchmark.h>
#include <omp.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "graph/HOGraph.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "spectral/SplitTracks.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kFrames = 20, kSteps = 19;

// aCount trajectories at random grid-aligned starts, each following one of four rigid motions
// by its quadrant, with a little position noise and a slowly growing flow variation.
std::vector<CTrack> generate(int aCount) {
  srand(7);
  std::vector<CTrack> aTracks(aCount);
  for (CTrack& aTrack : aTracks) {
    aTrack.mox = rand() % kWidth;
    aTrack.moy = rand() % kHeight;
    const int aKind = (aTrack.mox < kWidth / 2 ? 0 : 1) + (aTrack.moy < kHeight / 2 ? 0 : 2);
    const float aRate = 0.2f + 0.001f * static_cast<float>(rand() % 100);
    float aSum = 0.0f;
    for (int k = 1; k <= kSteps; k++) {
      const float fk = static_cast<float>(k);
      float x = static_cast<float>(aTrack.mox), y = static_cast<float>(aTrack.moy);
      const float aAngle = 0.005f * fk * static_cast<float>(aKind - 1);
      const float dx = x - 320.0f, dy = y - 240.0f;
      x = 320.0f + std::cos(aAngle) * dx - std::sin(aAngle) * dy + fk * (aKind - 1.5f);
      y = 240.0f + std::sin(aAngle) * dx + std::cos(aAngle) * dy + fk * 0.5f * aKind;
      x += 0.01f * static_cast<float>(rand() % 11 - 5);
      aTrack.mx.push_back(std::min(std::max(x, 0.0f), kWidth - 1.0f));
      aTrack.my.push_back(std::min(std::max(y, 0.0f), kHeight - 1.0f));
      aSum += aRate;
      aTrack.mFlowVar.push_back(aSum);
    }
  }
  return aTracks;
}

void BM_BuildHOGraph(benchmark::State& aState) {
  mXSize = kWidth;
  mYSize = kHeight;
  mSequenceLength = kFrames;
  mStep = 8;
  omp_set_num_threads(static_cast<int>(aState.range(1)));
  const std::vector<CTrack> aInput = generate(static_cast<int>(aState.range(0)));
  size_t aEdges = 0;
  long long aTriples = 0;
  for (auto _ : aState) {
    aState.PauseTiming();
    std::vector<CTrack> aTracks = aInput;
    CVector<bool> aValid(static_cast<int>(aTracks.size()), true);
    CGraph aGraph;
    srand(1);
    aState.ResumeTiming();
    buildHOGraph(aTracks, aValid, aGraph);
    aEdges = 0;
    for (const auto& aList : aGraph) aEdges += aList.size();
    aEdges /= 2;
    aTriples = lastHOGraphStats().mTriples;
  }
  rusage aUsage;
  getrusage(RUSAGE_SELF, &aUsage);
  aState.counters["edges"] = static_cast<double>(aEdges);
  aState.counters["weighed"] = static_cast<double>(lastHOGraphStats().mEdgesWeighed);
  aState.counters["triples/s"] =
      benchmark::Counter(static_cast<double>(aTriples), benchmark::Counter::kIsRate);
  aState.counters["peakMiB"] = static_cast<double>(aUsage.ru_maxrss) / 1024.0;
}

double now() {
  timeval aTime;
  gettimeofday(&aTime, nullptr);
  return aTime.tv_sec + aTime.tv_usec / 1e6;
}

void BM_GraphAndSplit(benchmark::State& aState) {
  mXSize = kWidth;
  mYSize = kHeight;
  mSequenceLength = kFrames;
  mStep = 8;
  const std::vector<CTrack> aInput = generate(static_cast<int>(aState.range(0)));
  double aGraphSeconds = 0, aSplitSeconds = 0;
  int aRegions = 0;
  for (auto _ : aState) {
    mTracks = aInput;
    CVector<bool> aValid(static_cast<int>(mTracks.size()), true);
    srand(1);
    const double t0 = now();
    buildHOGraph(mTracks, aValid, mGraph);
    const double t1 = now();
    aRegions = 1;
    splitTracks(0, mTracks, aRegions);
    aGraphSeconds = t1 - t0;
    aSplitSeconds = now() - t1;
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
