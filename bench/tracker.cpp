// The tracker on one 640 x 480 frame pair, single-threaded: with the flows read from the
// ".flo" cache (frame preparation, seeding, flow variation, reliability map, propagation and
// pictures) and with both flows computed by the large-displacement flow.
#include "tracking/Tracker.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "flow/CMatching.h"
#include "flow/FlowPictures.h"
#include "settings/ResultNames.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kShift = 6;  // the box moves this many pixels right

// Textured background with a textured box that moves between the two frames.
CTensor<float> makeFrame(int t) {
  CTensor<float> aFrame(kWidth, kHeight, 3);
  for (int c = 0; c < 3; c++)
    for (int y = 0; y < kHeight; y++)
      for (int x = 0; x < kWidth; x++) {
        float v = 128.0f + 60.0f * std::sin(0.05f * x + 0.3f * c) * std::cos(0.07f * y) +
                  30.0f * std::sin(0.31f * x * (c + 1) + 0.17f * y);
        const int bx = x - 200 - kShift * t;
        if (bx >= 0 && bx < 200 && y >= 140 && y < 340)
          v = 128.0f + 90.0f * std::sin(0.23f * bx + c) * std::sin(0.19f * (y - 140));
        aFrame(x, y, c) = std::fmin(255.0f, std::fmax(0.0f, v));
      }
  return aFrame;
}

// Two frames in a fresh folder and the settings of a run over them.
struct CSetUp {
  CSetUp() {
    char aTemplate[] = "/tmp/quorvik-bench-tracker-XXXXXX";
    mDir = mkdtemp(aTemplate);
    mSettings.mInput.setSize(2);
    for (int t = 0; t < 2; t++) {
      mSettings.mInput(t) = mDir + "/frame" + std::to_string(t) + ".ppm";
      makeFrame(t).writeToPPM(mSettings.mInput(t).c_str());
    }
    mSettings.mResultDir = mDir + "/";
    mSettings.mStartFrame = 0;
    mSettings.mSequenceLength = 2;
    mSettings.mStep = 8;
    mSettings.mXSize = kWidth;
    mSettings.mYSize = kHeight;
    mFirst.readFromPPM(mSettings.mInput(0).c_str());
  }
  // The run's tracker with the run's flow pictures.
  void track() {
    const std::string aFolder = mSettings.mResultDir;
    computeTracks(
        mSettings, mFirst, CMatching::hogFlow,
        [aFolder](const CTensor<float>& aForward, const CTensor<float>& aBackward, int t) {
          return writeFlowPictures(aFolder, t, aForward, aBackward);
        },
        mTracks, mStatus);
  }
  ~CSetUp() {
    const std::string aCommand = "rm -rf '" + mDir + "'";
    if (std::system(aCommand.c_str()) != 0)
      std::fprintf(stderr, "could not remove %s\n", mDir.c_str());
  }
  void dropCache() const {
    std::remove((mSettings.mResultDir + NResultNames::kForwardFlow.name(0)).c_str());
    std::remove((mSettings.mResultDir + NResultNames::kBackwardFlow.name(0)).c_str());
  }
  std::string mDir;
  CRunSettings mSettings;
  CTensor<float> mFirst;
  std::vector<CTrack> mTracks;
  std::ostringstream mStatus;
};

void BM_TrackerCachedFlow(benchmark::State& aState) {
  CSetUp aSetUp;
  aSetUp.track();
  for (auto _ : aState) {
    aSetUp.track();
    benchmark::DoNotOptimize(aSetUp.mTracks.data());
  }
  aState.counters["tracks"] = static_cast<double>(aSetUp.mTracks.size());
}
BENCHMARK(BM_TrackerCachedFlow)->Unit(benchmark::kMillisecond);

void BM_TrackerComputedFlow(benchmark::State& aState) {
  CSetUp aSetUp;
  for (auto _ : aState) {
    aSetUp.dropCache();
    aSetUp.track();
    benchmark::DoNotOptimize(aSetUp.mTracks.data());
  }
  aState.counters["tracks"] = static_cast<double>(aSetUp.mTracks.size());
}
BENCHMARK(BM_TrackerComputedFlow)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
