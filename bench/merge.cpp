// Cost of the affine cluster merging on a 640 x 480 grid of trajectories (step 8, 20
// frames) split into six clusters, two pairs of which share one motion and get merged.
#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "clustering/MergeClustersAffine.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

namespace {

std::vector<CTrack> gridTracks() {
  std::vector<CTrack> aTracks;
  const int aFrames = 20;
  for (int y = 0; y < 480; y += 8)
    for (int x = 0; x < 640; x += 8) {
      // Clusters: three columns by two rows; in each row the first two columns move alike.
      const int aLabel = (x / 214) + 3 * (y / 240);
      const double aRot = 0.002 * (aLabel % 3 == 2 ? 1 : 0) + 0.001 * (aLabel / 3);
      const double aVx = aLabel % 3 == 2 ? -1.5 : 1.0, aVy = aLabel / 3 == 0 ? 0.3 : -0.4;
      CTrack aTrack;
      aTrack.mLabel = aLabel;
      aTrack.mox = x;
      aTrack.moy = y;
      aTrack.mSetupTime = 0;
      float aVar = 0;
      for (int k = 1; k < aFrames; k++) {
        const double a = aRot * k;
        const double px = 320 + std::cos(a) * (x - 320) - std::sin(a) * (y - 240) + aVx * k;
        const double py = 240 + std::sin(a) * (x - 320) + std::cos(a) * (y - 240) + aVy * k;
        aTrack.mx.push_back(static_cast<float>(px + 0.05 * std::sin(x * 0.7 + k)));
        aTrack.my.push_back(static_cast<float>(py + 0.05 * std::cos(y * 0.3 + k)));
        aVar += 0.1f;
        aTrack.mFlowVar.push_back(aVar);
      }
      aTracks.push_back(aTrack);
    }
  return aTracks;
}

void BM_MergeClustersAffine(benchmark::State& aState) {
  const std::vector<CTrack> aInput = gridTracks();
  CRunSettings aSettings;
  aSettings.mStep = 8;
  aSettings.mSequenceLength = 20;
  std::ostringstream aLog;
  for (auto _ : aState) {
    aState.PauseTiming();
    std::vector<CTrack> aTracks = aInput;
    aState.ResumeTiming();
    mergeClustersAffine(aSettings, aTracks, 6, aLog);
    benchmark::DoNotOptimize(aTracks.data());
  }
}
BENCHMARK(BM_MergeClustersAffine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
