// The whole run, timed per stage: flow, tracking, graph, split, merge, dense regions and output,
// with the peak resident memory after each stage. One run, not a repeated measurement.
//
//   bench_pipeline                      generates the 20-frame 640 x 480 sequence with three
//                                       objects in a fresh temporary folder, runs it at grid
//                                       step 8 and removes the folder
//   bench_pipeline SEQ.bmf FIRST COUNT STEP
//                                       runs over an existing sequence; flows already in its
//                                       result folder are read, not computed
//   bench_pipeline SEQ.bmf FIRST COUNT STEP --write-cache
//                                       the same, and writes the run's trajectories as the
//                                       track cache once they exist, so that later runs time
//                                       the graph and the split without flow and tracking
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/Run.h"
#include "clustering/Clustering.h"
#include "flow/CMatching.h"
#include "settings/ResultNames.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"
#include "tracking/TrackFiles.h"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFrames = 20;
constexpr int kStep = 8;

double now() {
  timeval aTime;
  gettimeofday(&aTime, nullptr);
  return aTime.tv_sec + aTime.tv_usec / 1e6;
}

// Peak resident set of the process so far, in MiB.
double peakMiB() {
  rusage aUsage;
  getrusage(RUSAGE_SELF, &aUsage);
  return aUsage.ru_maxrss / 1024.0;
}

std::string ownFolder() {
  char aPath[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", aPath, sizeof(aPath) - 1);
  if (n <= 0) return ".";
  aPath[n] = '\0';
  return std::filesystem::path(aPath).parent_path().string();
}

struct CStage {
  const char* mName;
  double mSeconds;
  double mPeak;
};

}  // namespace

int main(int argc, char** argv) {
  const bool aWriteCache = argc == 6 && std::string(argv[5]) == "--write-cache";
  if (argc != 1 && argc != 5 && !aWriteCache) {
    std::fprintf(stderr, "usage: bench_pipeline [SEQUENCE.bmf FIRST COUNT STEP [--write-cache]]\n");
    return 2;
  }
  std::string aTempDir;
  std::vector<std::string> aArguments = {"quorvik"};
  if (argc >= 5) {
    aArguments.insert(aArguments.end(), argv + 1, argv + 5);
  } else {
    char aTemplate[] = "/tmp/quorvik-bench-pipeline-XXXXXX";
    if (mkdtemp(aTemplate) == nullptr) {
      std::perror("bench_pipeline: temporary folder");
      return 1;
    }
    aTempDir = aTemplate;
    const std::string aGenerate = ownFolder() + "/quorvik-generate --out " + aTempDir +
                                  " --name synth --size " + std::to_string(kWidth) + " " +
                                  std::to_string(kHeight) + " --frames " + std::to_string(kFrames) +
                                  " --objects 3 >/dev/null";
    if (std::system(aGenerate.c_str()) != 0) {
      std::fprintf(stderr, "bench_pipeline: could not run %s\n", aGenerate.c_str());
      std::filesystem::remove_all(aTempDir);
      return 1;
    }
    aArguments.insert(aArguments.end(), {aTempDir + "/synth.bmf", "0", std::to_string(kFrames),
                                         std::to_string(kStep)});
  }
  std::vector<char*> aArgv;
  for (std::string& a : aArguments) aArgv.push_back(a.data());

  // Flow time is what the pair flows take; tracking is the rest of the tracker.
  std::vector<CStage> aStages;
  // With cores to spare the flows of later pairs run on other threads (and overlap).
  std::mutex aFlowMutex;
  double aFlowSeconds = 0;
  int aFlowPairs = 0;
  CRunHooks aHooks;
  aHooks.mPairFlow = [&](const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                         const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                         const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                         CTensor<float>& aForward, CTensor<float>& aBackward) {
    const double t0 = now();
    CMatching::hogFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
    const std::lock_guard<std::mutex> aLock(aFlowMutex);
    aFlowSeconds += now() - t0;
    aFlowPairs++;
  };
  double aPhaseStart = now();
  // What the run leaves for the summary.
  CRunSettings aSettings;
  size_t aTrackCount = 0;
  int aValid = 0, aRegions = 0;
  aHooks.mPhaseDone = [&](const std::string& aPhase, const CRun& aRun) {
    const double aSeconds = now() - aPhaseStart;
    if (aPhase == "tracks") {
      // Written before the clustering labels the trajectories, as the tracker left them.
      if (aWriteCache) writeTrackToFile(aRun.mSettings, aRun.mTracks);
      aStages.push_back({"flow", aFlowSeconds, peakMiB()});
      aStages.push_back({"tracking", aSeconds - aFlowSeconds, peakMiB()});
    } else if (aPhase == "clustering") {
      const CClusteringTimes& aTimes = aRun.mClusteringTimes;
      aStages.push_back({"graph", aTimes.mGraph, peakMiB()});
      aStages.push_back({"split", aTimes.mSplit, peakMiB()});
      aStages.push_back({"merge", aTimes.mMerge, peakMiB()});
    } else if (aPhase == "regions") {
      aStages.push_back({"regions", aSeconds, peakMiB()});
    } else {
      aStages.push_back({"output", aSeconds, peakMiB()});
      aSettings = aRun.mSettings;
      aTrackCount = aRun.mTracks.size();
      for (const CTrack& aTrack : aRun.mTracks) aValid += aTrack.mx.empty() ? 0 : 1;
      aRegions = aRun.mClustering.mRegionNo;
    }
    aPhaseStart = now();
  };
  const std::clock_t aStart = std::clock();
  if (runQuorvik(static_cast<int>(aArgv.size()), aArgv.data(), aHooks) != 0) return 1;

  int aThreads = 1;
#ifdef _OPENMP
  aThreads = omp_get_max_threads();
#endif
  std::printf("%s, frames %d ... %d, %d x %d, step %d, %d threads\n", aArguments[1].c_str(),
              aSettings.mStartFrame, aSettings.mStartFrame + aSettings.mSequenceLength - 1,
              aSettings.mXSize, aSettings.mYSize, aSettings.mStep, aThreads);
  std::printf("%d flow pairs computed, %zu tracks (%d with a step), %d clusters\n", aFlowPairs,
              aTrackCount, aValid, aRegions);
  std::printf("%-10s %10s %14s\n", "stage", "seconds", "peak MiB");
  double aTotal = 0;
  for (const CStage& s : aStages) {
    std::printf("%-10s %10.2f %14.1f\n", s.mName, s.mSeconds, s.mPeak);
    aTotal += s.mSeconds;
  }
  std::printf("%-10s %10.2f %14.1f\n", "total", aTotal, peakMiB());
  for (size_t i = 1; i < aStages.size(); i++)
    if (std::string(aStages[i].mName) == "regions")
      std::printf("dense regions: %.3f s per frame, peak memory %.2f times that before them\n",
                  aStages[i].mSeconds / aSettings.mSequenceLength,
                  aStages[i].mPeak / aStages[i - 1].mPeak);
  std::printf("processor time %.1f s\n",
              static_cast<double>(std::clock() - aStart) / CLOCKS_PER_SEC);
  const std::string aEvaluation = aSettings.mResultDir + NResultNames::kEvaluation;
  if (std::FILE* aError = std::fopen(aEvaluation.c_str(), "r")) {
    double aPositives = 0, aNegatives = 0, aShare = 0;
    if (std::fscanf(aError, "%lf %lf %lf", &aPositives, &aNegatives, &aShare) == 3)
      std::printf("wrong votes %.2f %%\n", aShare);
    std::fclose(aError);
  }
  if (!aTempDir.empty()) std::filesystem::remove_all(aTempDir);
  return 0;
}
