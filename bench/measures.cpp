// Per-frame image measures on one 640 x 480 frame, single-threaded: the orientation histograms,
// the corner measure (at the tracker's integration scale) and the local flow variation.
#include <benchmark/benchmark.h>

#include <cmath>

#include "flow/CMatching.h"
#include "tracking/CFlowVariation.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// A colour frame with texture at several scales and a few sharp-edged shapes.
CTensor<float> makeFrame() {
  CTensor<float> aFrame(kWidth, kHeight, 3);
  for (int c = 0; c < 3; c++)
    for (int y = 0; y < kHeight; y++)
      for (int x = 0; x < kWidth; x++) {
        float v = 128.0f + 60.0f * std::sin(0.05f * x + 0.3f * c) * std::cos(0.07f * y) +
                  30.0f * std::sin(0.31f * x * (c + 1) + 0.17f * y);
        if ((x / 80 + y / 60) % 3 == 0) v = 0.5f * v + 100.0f;
        aFrame(x, y, c) = std::fmin(255.0f, std::fmax(0.0f, v));
      }
  return aFrame;
}

void BM_HOG(benchmark::State& aState) {
  const CTensor<float> aFrame = makeFrame();
  CTensor<float> aHOG;
  for (auto _ : aState) {
    CMatching::computeHOG(aFrame, aHOG);
    benchmark::DoNotOptimize(aHOG.data());
  }
}
BENCHMARK(BM_HOG)->Unit(benchmark::kMillisecond);

void BM_Corners(benchmark::State& aState) {
  const CTensor<float> aFrame = makeFrame();
  CMatrix<float> aCorners;
  for (auto _ : aState) {
    CMatching::computeCorners(aFrame, aCorners, 1.0f);
    benchmark::DoNotOptimize(aCorners.data());
  }
}
BENCHMARK(BM_Corners)->Unit(benchmark::kMillisecond);

// A flow of several moving regions with smooth variation inside them.
CTensor<float> makeFlow() {
  CTensor<float> aFlow(kWidth, kHeight, 2);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      const bool aObject = (x - 320) * (x - 320) + (y - 240) * (y - 240) < 120 * 120;
      aFlow(x, y, 0) = aObject ? 6.0f + 0.01f * x : 0.5f * std::sin(0.01f * y);
      aFlow(x, y, 1) = aObject ? -3.0f : 0.002f * x;
    }
  return aFlow;
}

void BM_FlowVariation(benchmark::State& aState) {
  const CTensor<float> aFlow = makeFlow();
  CMatrix<float> aFlowVar;
  for (auto _ : aState) {
    computeLocalFlowVariation(aFlow, aFlowVar);
    benchmark::DoNotOptimize(aFlowVar.data());
  }
}
BENCHMARK(BM_FlowVariation)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
