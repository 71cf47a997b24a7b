// Large-displacement flow of one 640 x 480 frame pair: the learning of the displacement window,
// the dense matching and the variational refinement of one direction, and forward plus
// backward flow of the pair as the tracker computes it (both directions run side by side).
//
// With OpenCV (found by bench/CMakeLists.txt only), BM_Grove3VersusDeepFlow times, in the same
// run and on the same machine state, forward plus backward flow of Middlebury's Grove3 pair
// (frame10.png, frame11.png, 640 x 480, grey) by CMatching::hogFlow and by OpenCV's DeepFlow,
// and reports both and their ratio (ours / DeepFlow). Both get the grey frames, the only pair
// Grove3 has: DeepFlow its one channel, ours that channel as red, green and blue, which is
// what quorvik-flow and the tracker make of a grey frame. Our time counts CMatching::hogFlow
// on frames already prepared (smoothing and HOG, once per frame, as the tracker does);
// ours_with_preparation_s adds the preparation of both frames. The data folder is
// QUORVIK_EVALDATA_DIR (a CMake cache variable, default ../shared/evaldata beside the
// repository). Both wall-clock seconds (the figures compared) and the processor seconds of all
// threads (ours_cpu_s, deepflow_cpu_s) are reported.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef QUORVIK_WITH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/optflow.hpp>
#endif

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "flow/COpticFlow.h"
#include "flow/FlowPyramid.h"
#include "flow/FramePreparation.h"
#include "flow/MatchingSearch.h"
#include "foundation/CFilter.h"
#include "foundation/Random.h"

namespace {

constexpr int kXSize = 640, kYSize = 480;

// Multi-octave value noise in colour, sampled at (x - aShiftX, y - aShiftY); a square of a
// second texture moves by a further (6, 4) in front of it.
struct CTexture {
  std::vector<float> mLattice[3][3];
  int mCells[3] = {8, 24, 72};
  explicit CTexture(CRandom& aRandom) {
    for (int o = 0; o < 3; o++)
      for (int c = 0; c < 3; c++) {
        mLattice[o][c].resize((mCells[o] + 3) * (mCells[o] + 3));
        for (float& v : mLattice[o][c]) v = aRandom.next() / static_cast<float>(CRandom::kMax);
      }
  }
  float at(double x, double y, int c) const {
    double aValue = 0, aAmplitude = 110;
    for (int o = 0; o < 3; o++, aAmplitude *= 0.6) {
      const double gx = (x + 64) / 800.0 * mCells[o], gy = (y + 64) / 800.0 * mCells[o];
      const int ix = (int)gx, iy = (int)gy;
      const double fx = gx - ix, fy = gy - iy;
      const int w = mCells[o] + 3;
      const std::vector<float>& l = mLattice[o][c];
      aValue +=
          aAmplitude * ((1 - fy) * ((1 - fx) * l[ix + w * iy] + fx * l[ix + 1 + w * iy]) +
                        fy * ((1 - fx) * l[ix + w * (iy + 1)] + fx * l[ix + 1 + w * (iy + 1)]));
    }
    return (float)std::fmin(255.0, aValue);
  }
};

struct CFrame {
  CTensor<float> mImage, mHOG;
  CMatrix<float> mEnergy;
};

CFrame makeFrame(const CTexture& aBack, const CTexture& aFront, double aShiftX, double aShiftY,
                 double aSquareX, double aSquareY) {
  CFrame f;
  f.mImage.setSize(kXSize, kYSize, 3);
  for (int c = 0; c < 3; c++)
    for (int y = 0; y < kYSize; y++)
      for (int x = 0; x < kXSize; x++) {
        const bool aInSquare =
            x - aSquareX >= 200 && x - aSquareX < 360 && y - aSquareY >= 150 && y - aSquareY < 300;
        f.mImage(x, y, c) = aInSquare ? aFront.at(x - aSquareX, y - aSquareY, c)
                                      : aBack.at(x - aShiftX, y - aShiftY, c);
      }
  prepareFrame(f.mImage, f.mHOG, f.mEnergy);
  return f;
}

struct CPair {
  CFrame mFirst, mSecond;
  CMatrix<float> mCorners;
  int rx1 = 0, ry1 = 0, rx2 = 0, ry2 = 0;
  CMatrix<bool> mAllowed;
  std::vector<CMatch> mSeeds;
};

const CPair& pair() {
  static CPair* aPair = [] {
    CRandom aRandom;
    const CTexture aBack(aRandom), aFront(aRandom);
    CPair* p = new CPair;
    p->mFirst = makeFrame(aBack, aFront, 0, 0, 0, 0);
    p->mSecond = makeFrame(aBack, aFront, 3.4, -1.2, 9.4, 2.8);
    CMatching::computeCorners(p->mFirst.mImage, p->mCorners, 2.5f);
    findMotionsFields(p->mFirst.mImage, p->mSecond.mImage, CHOGField(p->mFirst.mHOG),
                      CHOGField(p->mSecond.mHOG), p->mFirst.mEnergy, p->mSecond.mEnergy,
                      p->mCorners, p->mCorners.avg(), p->rx1, p->ry1, p->rx2, p->ry2, p->mAllowed);
    const double aThreshold = 0.125 * p->mCorners.avg();
    for (int y = 8; y < kYSize - 8; y += 4)
      for (int x = 8; x < kXSize - 8; x += 4)
        if (p->mCorners(x, y) >= aThreshold) p->mSeeds.emplace_back(x, y);
    return p;
  }();
  return *aPair;
}

void BM_FindMotions(benchmark::State& state) {
  const CPair& p = pair();
  for (auto _ : state) {
    int rx1, ry1, rx2, ry2;
    CMatrix<bool> aAllowed;
    findMotionsFields(p.mFirst.mImage, p.mSecond.mImage, CHOGField(p.mFirst.mHOG),
                      CHOGField(p.mSecond.mHOG), p.mFirst.mEnergy, p.mSecond.mEnergy, p.mCorners,
                      p.mCorners.avg(), rx1, ry1, rx2, ry2, aAllowed);
    benchmark::DoNotOptimize(aAllowed.data());
  }
  state.counters["window"] = (p.rx2 - p.rx1 + 1) * (p.ry2 - p.ry1 + 1);
}

void BM_DenseMatchingOneDirection(benchmark::State& state) {
  const CPair& p = pair();
  for (auto _ : state) {
    std::vector<CMatch> aPoints = p.mSeeds;
    hogMatchingFields(aPoints, p.mFirst.mImage, p.mSecond.mImage, CHOGField(p.mFirst.mHOG),
                      CHOGField(p.mSecond.mHOG), p.mFirst.mEnergy, p.mSecond.mEnergy, p.rx1, p.ry1,
                      p.rx2, p.ry2, p.mAllowed);
    benchmark::DoNotOptimize(aPoints.data());
  }
  state.counters["seeds"] = p.mSeeds.size();
}

void BM_VariationalOneDirection(benchmark::State& state) {
  const CPair& p = pair();
  const CTensor<float> aZero(kXSize, kYSize, 1, 0.0f);
  for (auto _ : state) {
    CTensor<float> aFlow;
    const CVariationalParameters aParameters;
    const CImagePyramid aFirst(p.mFirst.mImage, aParameters.mEta),
        aSecond(p.mSecond.mImage, aParameters.mEta);
    warpingGeometricPyramids(aFirst, aSecond, aFlow, aZero, aZero, aZero, nullptr, aParameters);
    benchmark::DoNotOptimize(aFlow.data());
  }
}

void BM_HogFlowPair(benchmark::State& state) {
  const CPair& p = pair();
  for (auto _ : state) {
    CTensor<float> aForward, aBackward;
    CMatching::hogFlow(p.mFirst.mImage, p.mSecond.mImage, p.mFirst.mHOG, p.mSecond.mHOG,
                       p.mFirst.mEnergy, p.mSecond.mEnergy, aForward, aBackward);
    benchmark::DoNotOptimize(aForward.data());
  }
}

#ifdef QUORVIK_WITH_OPENCV

// Repetitions of the Grove3 comparison; each times both methods once, in alternating order.
constexpr int kGrove3Rounds = 3;

double seconds(std::chrono::steady_clock::time_point aStart) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - aStart).count();
}

// Processor time of the whole process (all threads) so far, in seconds.
double processorSeconds() {
  rusage aUsage;
  getrusage(RUSAGE_SELF, &aUsage);
  return aUsage.ru_utime.tv_sec + aUsage.ru_utime.tv_usec / 1e6 + aUsage.ru_stime.tv_sec +
         aUsage.ru_stime.tv_usec / 1e6;
}

// A grey frame as a three-channel tensor (the channel repeated), values 0 ... 255.
CTensor<float> greyToColour(const cv::Mat& aGrey) {
  CTensor<float> aFrame(aGrey.cols, aGrey.rows, 3);
  const int aPlane = aGrey.cols * aGrey.rows;
  for (int y = 0; y < aGrey.rows; y++)
    for (int x = 0; x < aGrey.cols; x++)
      for (int c = 0; c < 3; c++)
        aFrame[x + aGrey.cols * y + c * aPlane] = static_cast<float>(aGrey.at<unsigned char>(y, x));
  return aFrame;
}

void BM_Grove3VersusDeepFlow(benchmark::State& state) {
  const std::string aFolder = std::string(QUORVIK_EVALDATA_DIR) + "/flow/Grove3/";
  const cv::Mat aGrey1 = cv::imread(aFolder + "frame10.png", cv::IMREAD_GRAYSCALE);
  const cv::Mat aGrey2 = cv::imread(aFolder + "frame11.png", cv::IMREAD_GRAYSCALE);
  if (aGrey1.empty() || aGrey2.empty() || aGrey1.size() != aGrey2.size()) {
    state.SkipWithError(("cannot read the Grove3 pair in " + aFolder).c_str());
    return;
  }
  const cv::Ptr<cv::DenseOpticalFlow> aDeepFlow = cv::optflow::createOptFlow_DeepFlow();
  double aOurs = 0, aPreparation = 0, aPeer = 0, aOursProcessor = 0, aPeerProcessor = 0;
  int aRounds = 0;
  for (auto _ : state) {
    for (int aRound = 0; aRound < kGrove3Rounds; aRound++, aRounds++) {
      auto aRunOurs = [&]() {
        CTensor<float> aImage1 = greyToColour(aGrey1), aImage2 = greyToColour(aGrey2);
        CTensor<float> aHOG1, aHOG2, aForward, aBackward;
        CMatrix<float> aEnergy1, aEnergy2;
        auto aStart = std::chrono::steady_clock::now();
        prepareFrame(aImage1, aHOG1, aEnergy1);
        prepareFrame(aImage2, aHOG2, aEnergy2);
        aPreparation += seconds(aStart);
        aStart = std::chrono::steady_clock::now();
        const double aProcessor = processorSeconds();
        CMatching::hogFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
        aOurs += seconds(aStart);
        aOursProcessor += processorSeconds() - aProcessor;
        benchmark::DoNotOptimize(aForward.data());
        benchmark::DoNotOptimize(aBackward.data());
      };
      auto aRunPeer = [&]() {
        cv::Mat aForward, aBackward;
        const auto aStart = std::chrono::steady_clock::now();
        const double aProcessor = processorSeconds();
        aDeepFlow->calc(aGrey1, aGrey2, aForward);
        aDeepFlow->calc(aGrey2, aGrey1, aBackward);
        aPeer += seconds(aStart);
        aPeerProcessor += processorSeconds() - aProcessor;
        benchmark::DoNotOptimize(aForward.data);
        benchmark::DoNotOptimize(aBackward.data);
      };
      if (aRound % 2 == 0) {
        aRunOurs();
        aRunPeer();
      } else {
        aRunPeer();
        aRunOurs();
      }
    }
    state.SetIterationTime(aOurs / aRounds);
  }
  state.counters["ours_s"] = aOurs / aRounds;
  state.counters["ours_with_preparation_s"] = (aOurs + aPreparation) / aRounds;
  state.counters["deepflow_s"] = aPeer / aRounds;
  state.counters["ours_cpu_s"] = aOursProcessor / aRounds;
  state.counters["deepflow_cpu_s"] = aPeerProcessor / aRounds;
  state.counters["ratio"] = aOurs / aPeer;
  state.counters["ratio_with_preparation"] = (aOurs + aPreparation) / aPeer;
}

#endif

}  // namespace

#ifdef QUORVIK_WITH_OPENCV
BENCHMARK(BM_Grove3VersusDeepFlow)->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime();
#endif
BENCHMARK(BM_FindMotions)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_DenseMatchingOneDirection)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_VariationalOneDirection)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_HogFlowPair)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_MAIN();
