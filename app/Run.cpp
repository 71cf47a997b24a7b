#include "app/Run.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/ResultFolder.h"
#include "app/SegmentPictures.h"
#include "clustering/Clustering.h"
#include "densify/Densification.h"
#include "evaluation/ComputeError.h"
#include "flow/CMatching.h"
#include "flow/FlowPictures.h"
#include "foundation/CommandLine.h"
#include "foundation/Exceptions.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"
#include "tracking/TrackFiles.h"

namespace {

constexpr rlim_t kDataSoftLimit = 6000000000ULL;
constexpr rlim_t kDataHardLimit = 7000000000ULL;

constexpr const char* kUsage = " SEQUENCE.bmf FIRST COUNT STEP";

// One whole-number argument of the command line (NCommandLine::readInteger's rule, within
// the range of int). False after one line on standard error naming it and its text.
bool parseArgument(const char* aName, const char* aText, long& aValue) {
  long long v = 0;
  if (!NCommandLine::readInteger(aText, v)) {
    std::cerr << "The " << aName << " must be a whole number, not \"" << aText << "\"" << std::endl;
    return false;
  }
  if (v < -2147483647LL || v > 2147483647LL) {
    std::cerr << "The " << aName << " is out of range: \"" << aText << "\"" << std::endl;
    return false;
  }
  aValue = static_cast<long>(v);
  return true;
}

// The result folder is made with mkdir(2), never through a shell, so any path is safe.
bool makeResultDirectory(const std::string& aPath) {
  if (mkdir(aPath.c_str(), 0777) == 0) return true;
  struct stat aInfo;
  if (errno == EEXIST && stat(aPath.c_str(), &aInfo) == 0 && S_ISDIR(aInfo.st_mode)) return true;
  std::cerr << "Cannot create result folder " << aPath << ": " << std::strerror(errno) << std::endl;
  return false;
}

}  // namespace

bool readSequenceDescription(const std::string& aPath) {
  std::vector<std::string> aNames;
  if (!readFrameList(aPath, mInputDir, aNames)) return false;
  mInput.setSize(static_cast<int>(aNames.size()));
  for (size_t i = 0; i < aNames.size(); i++) mInput(static_cast<int>(i)) = aNames[i];
  return true;
}

void raiseDataSegmentLimit() {
  struct rlimit aLimit;
  if (getrlimit(RLIMIT_DATA, &aLimit) != 0) return;
  struct rlimit aWanted = aLimit;
  if (aWanted.rlim_max != RLIM_INFINITY && aWanted.rlim_max < kDataHardLimit)
    aWanted.rlim_max = kDataHardLimit;
  if (aWanted.rlim_cur != RLIM_INFINITY && aWanted.rlim_cur < kDataSoftLimit)
    aWanted.rlim_cur = kDataSoftLimit;
  if (setrlimit(RLIMIT_DATA, &aWanted) == 0) return;
  // Without the privilege to raise the hard limit, raise the soft limit as far as it allows.
  aWanted.rlim_max = aLimit.rlim_max;
  if (aWanted.rlim_max != RLIM_INFINITY && aWanted.rlim_cur > aWanted.rlim_max)
    aWanted.rlim_cur = aWanted.rlim_max;
  setrlimit(RLIMIT_DATA, &aWanted);
}

int setUpRun(int argc, char** argv) {
  // A process may run several times (tests, benchmarks); a log left open by a failed run is
  // closed first so that this run's log can be opened.
  if (mStatus.is_open()) mStatus.close();
  mStatus.clear();
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout << "Usage: " << argv[0] << kUsage << std::endl;
    return kHelpShown;
  }
  if (argc != 5) {
    std::cerr << "Usage: " << (argc > 0 ? argv[0] : "quorvik") << kUsage << std::endl;
    return kRunFailed;
  }
  const std::string aPath = argv[1];
  const size_t aSlash = aPath.rfind('/');
  mInputDir = aSlash == std::string::npos ? "" : aPath.substr(0, aSlash + 1);
  const size_t aDot = aPath.rfind('.');
  const std::string aSuffix = aDot == std::string::npos ? "" : aPath.substr(aDot);
  if (aSuffix != ".bmf" && aSuffix != ".BMF") {
    std::cout << "Must pass a bmf file as input" << std::endl;
    return kNotABmfFile;
  }

  long aStart = 0, aLength = 0, aStep = 0;
  if (!parseArgument("first frame", argv[2], aStart) ||
      !parseArgument("frame count", argv[3], aLength) ||
      !parseArgument("grid step", argv[4], aStep))
    return kRunFailed;
  if (aStart < 0) {
    std::cerr << "The first frame must be 0 or more, not " << aStart << std::endl;
    return kRunFailed;
  }
  if (aLength < 1) {
    std::cerr << "The frame count must be at least 1, not " << aLength << std::endl;
    return kRunFailed;
  }
  if (aStep < 1) {
    std::cerr << "The grid step must be at least 1, not " << aStep << std::endl;
    return kRunFailed;
  }

  if (!readSequenceDescription(aPath)) return kRunFailed;
  if (aStart + aLength > mInput.size()) {
    std::cerr << "Frames " << aStart << " to " << aStart + aLength - 1 << " run past the end of "
              << aPath << ", which lists " << mInput.size() << " frames" << std::endl;
    return kRunFailed;
  }
  const std::string aBaseName = aSlash == std::string::npos ? aPath : aPath.substr(aSlash + 1);
  mFilename = aBaseName.substr(0, aBaseName.find('.'));

  mResultDir = mInputDir + "QuorvikResults";
  if (!makeResultDirectory(mResultDir)) return kRunFailed;
  mResultDir += "/";
  buildColorCode();
  mStartFrame = static_cast<int>(aStart);
  mSequenceLength = static_cast<int>(aLength);
  mStep = static_cast<int>(aStep);

  // One run at a time per folder; the folder is held before anything in it is written.
  std::string aCommand = "quorvik";
  for (int i = 1; i < argc; i++) aCommand += std::string(" ") + argv[i];
  if (!holdResultFolder(aBaseName, aCommand)) return kRunFailed;

  const std::string aStatusName = resultFileName("Status%d.txt", mSequenceLength);
  mStatus.open(aStatusName, std::ios::out | std::ios::trunc);
  if (!mStatus) {
    std::cerr << "Cannot write status log " << aStatusName << ": " << std::strerror(errno)
              << std::endl;
    return kRunFailed;
  }
  return 0;
}

bool finishRun(std::clock_t aStart) {
  const std::clock_t aFinish = std::clock();
  errno = 0;
  mStatus << "Computation time: " << (aFinish - aStart) / 1000000.0 << " seconds" << std::endl;
  mStatus.close();
  if (mStatus.fail()) {
    // The stream keeps no reason of its own; the failing write left it in errno.
    std::cerr << "Cannot write status log " << resultFileName("Status%d.txt", mSequenceLength)
              << ": " << (errno != 0 ? std::strerror(errno) : "write failed") << std::endl;
    return false;
  }
  return true;
}

namespace {

// What the dense-regions phase reads and writes, from the run's settings.
CDenseInput denseInputOfRun() {
  CDenseInput aInput;
  for (int t = 0; t < mSequenceLength; t++) aInput.mFrames.push_back(mInput(mStartFrame + t));
  aInput.mFirstFrame = mStartFrame;
  aInput.mFlowDir = aInput.mOutputDir = mResultDir;
  aInput.mXSize = mXSize;
  aInput.mYSize = mYSize;
  return aInput;
}

int runPhases(int argc, char** argv, const CRunHooks& aHooks) {
  // Beyond a file-size limit a write should fail and be reported, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  raiseDataSegmentLimit();
  // The random draws of the graph, the splitting and the k-means start from the C library's
  // initial sequence, as in a fresh process, also when a process runs several times.
  std::srand(1);
  if (const int aStatus = setUpRun(argc, argv); aStatus != 0)
    return aStatus == kHelpShown ? 0 : aStatus;
  const std::clock_t aStart = std::clock();
  auto phaseDone = [&](const char* aPhase) {
    if (aHooks.mPhaseDone) aHooks.mPhaseDone(aPhase);
  };

  CTensor<float> aFirstFrame;
  if (!readFrame(mStartFrame, aFirstFrame)) return kRunFailed;
  mXSize = aFirstFrame.xSize();
  mYSize = aFirstFrame.ySize();

  // Trajectories: from the cache when this range was tracked before, else from the frames.
  if (!readTrackFromFile(mTracks)) {
    mStatus << "Tracks are being computed..." << std::endl;
    const CPairFlow aPairFlow = aHooks.mPairFlow ? aHooks.mPairFlow : CMatching::hogFlow;
    if (!computeTracks(aFirstFrame, aPairFlow, &showFlow)) return kRunFailed;
  }
  phaseDone("tracks");

  clustering(mTracks);
  phaseDone("clustering");

  if (!writeTracks()) return kRunFailed;
  if (!computeDenseRegions(denseInputOfRun(), mTracks)) return kRunFailed;
  phaseDone("regions");
  if (!computeError(mTracks)) return kRunFailed;
  if (!writeSegmentPictures()) return kRunFailed;
  if (!finishRun(aStart)) return kRunFailed;
  phaseDone("output");
  return 0;
}

}  // namespace

int runQuorvik(int argc, char** argv, const CRunHooks& aHooks) {
  // The result folder is given up however the run ends.
  struct CRelease {
    ~CRelease() { releaseResultFolder(); }
  } aRelease;
  try {
    return runPhases(argc, argv, aHooks);
  } catch (const EInvalidFileFormat&) {
  } catch (const ETensorIncompatibleSize&) {
  } catch (const EIncompatibleMatrices&) {
  } catch (const EFilterIncompatibleSize&) {
  } catch (const EFilterNotAvailable&) {
  } catch (const ENonquadraticMatrix&) {
  } catch (const std::bad_alloc&) {
    std::cerr << "quorvik: out of memory" << std::endl;
  }
  return kRunFailed;
}
