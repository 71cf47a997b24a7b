#include "app/Run.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
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
#include "foundation/CTensor.h"
#include "foundation/CommandLine.h"
#include "foundation/Exceptions.h"
#include "settings/ResultNames.h"
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

std::string statusLogName(const CRunSettings& aSettings) {
  return aSettings.mResultDir + NResultNames::kStatusLog.name(aSettings.mSequenceLength);
}

}  // namespace

bool readSequenceDescription(const std::string& aPath, const std::string& aInputDir,
                             CVector<std::string>& aInput) {
  std::vector<std::string> aNames;
  if (!readFrameList(aPath, aInputDir, aNames)) return false;
  aInput.setSize(static_cast<int>(aNames.size()));
  for (size_t i = 0; i < aNames.size(); i++) aInput(static_cast<int>(i)) = aNames[i];
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

int readCommandLine(int argc, char** argv, CRunSettings& aSettings) {
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
  const std::string aInputDir = aSlash == std::string::npos ? "" : aPath.substr(0, aSlash + 1);
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

  CRunSettings aRead;
  if (!readSequenceDescription(aPath, aInputDir, aRead.mInput)) return kRunFailed;
  if (aStart + aLength > aRead.mInput.size()) {
    std::cerr << "Frames " << aStart << " to " << aStart + aLength - 1 << " run past the end of "
              << aPath << ", which lists " << aRead.mInput.size() << " frames" << std::endl;
    return kRunFailed;
  }
  const std::string aBaseName = aSlash == std::string::npos ? aPath : aPath.substr(aSlash + 1);
  aRead.mSequenceFile = aPath;
  aRead.mFilename = aBaseName.substr(0, aBaseName.find('.'));
  aRead.mInputDir = aInputDir;
  aRead.mResultDir = aInputDir + NResultNames::kFolder + "/";
  aRead.mStartFrame = static_cast<int>(aStart);
  aRead.mSequenceLength = static_cast<int>(aLength);
  aRead.mStep = static_cast<int>(aStep);
  aSettings = aRead;
  return 0;
}

bool finishRun(CRun& aRun, std::clock_t aStart) {
  const std::clock_t aFinish = std::clock();
  errno = 0;
  aRun.mStatus << "Computation time: " << (aFinish - aStart) / 1000000.0 << " seconds" << std::endl;
  aRun.mStatus.close();
  if (aRun.mStatus.fail()) {
    // The stream keeps no reason of its own; the failing write left it in errno.
    std::cerr << "Cannot write status log " << statusLogName(aRun.mSettings) << ": "
              << (errno != 0 ? std::strerror(errno) : "write failed") << std::endl;
    return false;
  }
  return true;
}

namespace {

// What the dense-regions phase reads and writes, from the run's settings.
CDenseInput denseInputOfRun(const CRunSettings& aSettings) {
  CDenseInput aInput;
  for (int t = 0; t < aSettings.mSequenceLength; t++)
    aInput.mFrames.push_back(aSettings.mInput(aSettings.mStartFrame + t));
  aInput.mFirstFrame = aSettings.mStartFrame;
  aInput.mFlowDir = aInput.mOutputDir = aSettings.mResultDir;
  aInput.mXSize = aSettings.mXSize;
  aInput.mYSize = aSettings.mYSize;
  return aInput;
}

// The command that the folder's lock records: the program and its four arguments.
std::string commandOf(const CRunSettings& aSettings) {
  return "quorvik " + aSettings.mSequenceFile + " " + std::to_string(aSettings.mStartFrame) + " " +
         std::to_string(aSettings.mSequenceLength) + " " + std::to_string(aSettings.mStep);
}

int runPhases(const CRunSettings& aSettings, const CRunHooks& aHooks) {
  // The result folder is given up however the run ends, after the status log is closed.
  CResultFolderHold aFolder;
  CRun aRun;
  aRun.mSettings = aSettings;
  CRunSettings& aOwn = aRun.mSettings;
  const std::string aFolderPath = aOwn.mResultDir.substr(0, aOwn.mResultDir.size() - 1);
  if (!makeResultDirectory(aFolderPath)) return kRunFailed;
  // One run at a time per folder; the folder is held before anything in it is written.
  const size_t aSlash = aOwn.mSequenceFile.rfind('/');
  const std::string aBaseName =
      aSlash == std::string::npos ? aOwn.mSequenceFile : aOwn.mSequenceFile.substr(aSlash + 1);
  if (!aFolder.hold(aOwn, aBaseName, commandOf(aOwn))) return kRunFailed;

  const std::string aStatusName = statusLogName(aOwn);
  aRun.mStatus.open(aStatusName, std::ios::out | std::ios::trunc);
  if (!aRun.mStatus) {
    std::cerr << "Cannot write status log " << aStatusName << ": " << std::strerror(errno)
              << std::endl;
    return kRunFailed;
  }
  const std::clock_t aStart = std::clock();
  auto phaseDone = [&](const char* aPhase) {
    if (aHooks.mPhaseDone) aHooks.mPhaseDone(aPhase, aRun);
  };

  CTensor<float> aFirstFrame;
  if (!readFrame(aOwn, aOwn.mStartFrame, aFirstFrame)) return kRunFailed;
  aOwn.mXSize = aFirstFrame.xSize();
  aOwn.mYSize = aFirstFrame.ySize();

  // Trajectories: from the cache when this range was tracked before, else from the frames.
  if (!readTrackFromFile(aOwn, aRun.mTracks)) {
    aRun.mStatus << "Tracks are being computed..." << std::endl;
    const CPairFlow aPairFlow = aHooks.mPairFlow ? aHooks.mPairFlow : CMatching::hogFlow;
    const std::string aFolderName = aOwn.mResultDir;
    const int aFirst = aOwn.mStartFrame;
    const CPairFlowPictures aShowFlow = [aFolderName, aFirst](const CTensor<float>& aForward,
                                                              const CTensor<float>& aBackward,
                                                              int t) {
      return writeFlowPictures(aFolderName, aFirst + t, aForward, aBackward);
    };
    if (!computeTracks(aOwn, aFirstFrame, aPairFlow, aShowFlow, aRun.mTracks, aRun.mStatus))
      return kRunFailed;
  }
  phaseDone("tracks");

  clustering(aOwn, aRun.mTracks, aRun.mClustering, aRun.mStatus, &aRun.mClusteringTimes);
  phaseDone("clustering");

  if (!writeTracks(aOwn, aRun.mTracks)) return kRunFailed;
  if (!computeDenseRegions(denseInputOfRun(aOwn), aRun.mTracks)) return kRunFailed;
  phaseDone("regions");
  if (!computeError(aOwn, aRun.mTracks, aRun.mClustering.mRegionNo)) return kRunFailed;
  if (!writeSegmentPictures(aOwn, aRun.mTracks)) return kRunFailed;
  if (!finishRun(aRun, aStart)) return kRunFailed;
  phaseDone("output");
  return 0;
}

// aRun with the exceptions of the foundation and a failed allocation turned into kRunFailed.
int guarded(const std::function<int()>& aRun) {
  try {
    return aRun();
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

}  // namespace

int runQuorvik(const CRunSettings& aSettings, const CRunHooks& aHooks) {
  return guarded([&] { return runPhases(aSettings, aHooks); });
}

int runQuorvik(int argc, char** argv, const CRunHooks& aHooks) {
  // Beyond a file-size limit a write should fail and be reported, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  raiseDataSegmentLimit();
  return guarded([&] {
    CRunSettings aSettings;
    if (const int aStatus = readCommandLine(argc, argv, aSettings); aStatus != 0)
      return aStatus == kHelpShown ? 0 : aStatus;
    return runPhases(aSettings, aHooks);
  });
}
