#include "windows/SegmentVideo.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"
#include "foundation/FileWrite.h"
#include "settings/ResultNames.h"
#include "settings/RunSettings.h"
#include "windows/ChildProcesses.h"
#include "windows/LinkedResults.h"
#include "windows/SequenceFolder.h"
#include "windows/TextFiles.h"

namespace {

namespace fs = std::filesystem;

// How long the scheduler waits for a program to end before it looks at memory and progress.
constexpr double kPollSeconds = 0.2;
constexpr double kMiB = 1024.0 * 1024.0;
// Guess of a window's seconds per frame relative to a pair's flow, until a window has ended.
constexpr double kWindowGuess = 1.0;
// Consecutive pairs whose flows one program computes. The pairs after the first reuse the
// memory the first filled and the preparation of their first frame: eight 640 x 480 pairs took
// 10.96 processor seconds (5.90 s wall) in one program and 11.90 (6.86 s) in eight, with the
// same flows. A window waits for the jobs of all its pairs, so more would delay the first one.
constexpr int kPairsPerFlowJob = 8;
// The memory allocator of every program this one starts: its heap on transparent huge pages,
// one arena for all its threads, blocks up to 32 MiB taken from the heap and freed memory kept
// for reuse. A frame pair's flow fills some 290 MiB of memory, and the faults of fresh 4 KiB
// pages cost a quarter of its processor time: 640 x 480 pairs took 2.78 processor seconds with
// the allocator's defaults and 2.09 with these (75,205 page faults against 694), with the same
// flows and the same peak memory. A caller's own GLIBC_TUNABLES is left as it is. The data-set
// workflow's flow jobs get the same settings (workflow/scripts/stage.py, FLOW_ALLOCATOR).
// This program takes the two thresholds itself (useProgramAllocator).
constexpr const char* kTunablesName = "GLIBC_TUNABLES";
constexpr long long kMmapThreshold = 33554432;
constexpr long long kTrimThreshold = 4294967296;
const std::string kAllocatorTunables =
    "glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1:glibc.malloc.mmap_threshold=" +
    std::to_string(kMmapThreshold) +
    ":glibc.malloc.trim_threshold=" + std::to_string(kTrimThreshold);

constexpr const char* kWork = "work/";
constexpr const char* kImportRecord = "import.txt";
constexpr const char* kLock = "Segment.lock";
constexpr const char* kSummary = "summary.txt";

bool fail(const std::string& aProblem) {
  std::cerr << "quorvik-segment: " << aProblem << std::endl;
  return false;
}
// The same, as the exit status of a failure.
int failed(const std::string& aProblem) {
  fail(aProblem);
  return 1;
}

std::string withSlash(const std::string& aFolder) {
  return aFolder.empty() || aFolder.back() == '/' ? aFolder : aFolder + "/";
}

// m:ss or h:mm:ss.
std::string clock(double aSeconds) {
  const long s = std::lround(std::max(0.0, aSeconds));
  char aText[32];
  if (s >= 3600)
    std::snprintf(aText, sizeof(aText), "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(aText, sizeof(aText), "%ld:%02ld", s / 60, s % 60);
  return aText;
}

std::string fixed(double aValue, int aDecimals) {
  char aText[64];
  std::snprintf(aText, sizeof(aText), "%.*f", aDecimals, aValue);
  return aText;
}

// The sequence name of an input: its file or folder name (of a folder called "frames": its
// parent's) up to the first dot, with every character other than letters, digits, "_" and "-"
// replaced by "_" (as import-video does).
std::string sequenceName(const std::string& aInput) {
  fs::path aPath = fs::path(aInput).lexically_normal();
  if (aPath.filename().empty()) aPath = aPath.parent_path();
  // A folder of pictures called "frames" (SEQ/frames) takes its sequence's name.
  if (aPath.filename() == "frames" && !aPath.parent_path().filename().empty())
    aPath = aPath.parent_path();
  std::string aBase = aPath.filename().string();
  aBase = aBase.substr(0, aBase.find('.'));
  for (char& c : aBase)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') c = '_';
  return aBase.empty() ? "video" : aBase;
}

bool isSequenceFile(const std::string& aInput) {
  const size_t aDot = aInput.rfind('.');
  return aDot != std::string::npos && (aInput.compare(aDot, std::string::npos, ".bmf") == 0 ||
                                       aInput.compare(aDot, std::string::npos, ".BMF") == 0);
}

// What the input was when it was imported: its path, the import's setting and a stamp of its
// contents (size and time of change of the file, or of every file of the folder).
std::string importRecord(const std::string& aInput, int aMaxWidth) {
  std::error_code aError;
  // One input, one record, however it is spelled ("DIR//frames", "DIR/./frames/"): otherwise a
  // second invocation would import it again and compute every window anew.
  fs::path aPath = fs::absolute(aInput, aError).lexically_normal();
  if (!aPath.has_filename() && aPath.has_relative_path()) aPath = aPath.parent_path();
  std::ostringstream aRecord;
  aRecord << "input " << aPath.string() << "\nmax-width " << aMaxWidth << "\n";
  auto stamp = [&](const fs::path& aFile) {
    struct stat aInfo;
    if (stat(aFile.c_str(), &aInfo) == 0)
      aRecord << aFile.filename().string() << " " << aInfo.st_size << " " << aInfo.st_mtim.tv_sec
              << "." << aInfo.st_mtim.tv_nsec << "\n";
  };
  if (fs::is_directory(aPath, aError)) {
    std::vector<fs::path> aFiles;
    for (const fs::directory_entry& aEntry : fs::directory_iterator(aPath, aError))
      if (aEntry.is_regular_file(aError)) aFiles.push_back(aEntry.path());
    std::sort(aFiles.begin(), aFiles.end());
    for (const fs::path& aFile : aFiles) stamp(aFile);
  } else {
    stamp(aPath);
  }
  return aRecord.str();
}

// The path of aProgram in the folders of PATH, or empty.
std::string findInPath(const std::string& aProgram) {
  const char* aPath = std::getenv("PATH");
  std::istringstream aFolders(aPath != nullptr ? aPath : "/usr/bin:/bin");
  std::string aFolder;
  while (std::getline(aFolders, aFolder, ':')) {
    const std::string aCandidate = withSlash(aFolder.empty() ? "." : aFolder) + aProgram;
    if (access(aCandidate.c_str(), X_OK) == 0) return aCandidate;
  }
  return "";
}

// Holds an advisory lock on a file for the lifetime of the object (and of the process).
class CFolderLock {
 public:
  explicit CFolderLock(const std::string& aPath) {
    mFile = open(aPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    mHeld = mFile >= 0 && flock(mFile, LOCK_EX | LOCK_NB) == 0;
  }
  ~CFolderLock() {
    if (mFile >= 0) close(mFile);
  }
  CFolderLock(const CFolderLock&) = delete;
  CFolderLock& operator=(const CFolderLock&) = delete;
  bool held() const { return mHeld; }

 private:
  int mFile = -1;
  bool mHeld = false;
};

// The environment settings of a program this one starts (CChildren::start); aThreads > 0 also
// sets its OpenMP threads.
std::vector<std::string> programSettings(int aThreads = 0) {
  std::vector<std::string> aSettings;
  if (getenv(kTunablesName) == nullptr)
    aSettings.push_back(std::string(kTunablesName) + "=" + kAllocatorTunables);
  if (aThreads > 0) aSettings.push_back("OMP_NUM_THREADS=" + std::to_string(aThreads));
  return aSettings;
}

}  // namespace

void useProgramAllocator() {
  if (getenv(kTunablesName) != nullptr) return;
  // mallopt takes an int: the largest one keeps freed memory as well for this program's needs.
  mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMmapThreshold));
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<long long>(kTrimThreshold, INT_MAX)));
}

namespace {

// Waits for the one program aChildren runs. Its exit status, or kSegmentStopped after stopping
// it when a signal asked to stop.
int waitForOne(CChildren& aChildren, CChildEnd& aEnd, double& aPeakBytes) {
  bool aStop = false;
  while (true) {
    const std::vector<CChildEnd> aEnded = aChildren.wait(kPollSeconds, aStop);
    aPeakBytes =
        std::max(aPeakBytes, static_cast<double>(aChildren.residentBytes() + ownResidentBytes()));
    if (!aEnded.empty()) {
      aEnd = aEnded.front();
      return aEnd.mStatus;
    }
    if (aStop) {
      aChildren.stopAll();
      return kSegmentStopped;
    }
  }
}

// What one invocation did and measured, for the progress line and the summary.
struct CReport {
  double mStart = secondsNow();
  double mImport = 0, mJobsWall = 0, mLink = 0, mVideo = 0;
  double mFlowSeconds = 0, mWindowSeconds = 0;
  // The same in processor seconds (user and system) of the programs.
  double mFlowProcessor = 0, mWindowProcessor = 0;
  int mFlowsRun = 0, mWindowsRun = 0, mFlowsKept = 0, mWindowsKept = 0;
  // Windows started with the machine to themselves (CSegmentOptions::mAloneThreads).
  int mWindowsAlone = 0;
  // Flows the windows' runs computed themselves (none when the shared flows fit their frames).
  int mFlowsByWindows = 0;
  double mPeakBytes = 0;
  int mWidth = 0, mHeight = 0;
  std::string mInput;
  bool mImported = false;
};

// The whole sequence's state while its pairs and windows are computed.
class CScheduler {
 public:
  CScheduler(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
             const CSegmentOptions& aOptions, CReport& aReport)
      : mSequence(aSequence), mPlan(aPlan), mOptions(aOptions), mReport(aReport) {}

  // Computes every missing pair and window. 0, kSegmentStopped or 1 (after one line).
  int run();

 private:
  enum { kFlow = 0, kWindow = 1 };
  enum class CStart { kStarted, kNothing, kFailed };
  CStart startNext();
  // True when every pair and window is done or started: with nothing running, a window started
  // then runs alone to the end.
  bool nothingLeftToStart() const;
  bool ended(const CChildEnd& aEnd);
  void showProgress(bool aFinal) const;
  int slots() const { return mOptions.mJobs; }

  const CSequence& mSequence;
  const std::vector<CWindow>& mPlan;
  const CSegmentOptions& mOptions;
  CReport& mReport;
  CChildren mChildren;
  std::vector<char> mPairDone, mPairStarted, mWindowDone, mWindowStarted;
  // The pair after the last of the flow job that starts at each pair.
  std::vector<int> mFlowJobEnd;
  std::vector<int> mOwned;  // frames each window gives its result
};

CScheduler::CStart CScheduler::startNext() {
  const int aPairs = static_cast<int>(mPairDone.size());
  // A window whose flows are there goes first: it frees its memory sooner than flows would.
  for (size_t w = 0; w < mPlan.size(); w++) {
    if (mWindowDone[w] || mWindowStarted[w]) continue;
    bool aReady = true;
    for (int a = mPlan[w].mFirst; a < mPlan[w].last() && aReady; a++) aReady = mPairDone[a];
    if (!aReady) continue;
    if (!prepareWindow(mSequence, mPlan[w])) return CStart::kFailed;
    const std::string aLog = windowPath(mSequence, mPlan[w]) + "run.log";
    mWindowStarted[w] = 1;
    const bool aAlone = mChildren.running() == 0 && nothingLeftToStart();
    if (!mChildren.start(
            windowRun(mOptions.mPrograms + "quorvik", mSequence, mPlan[w], mOptions.mStep), aLog,
            2 * static_cast<int>(w) + kWindow,
            programSettings(aAlone ? mOptions.mAloneThreads : mOptions.mWindowThreads))) {
      mWindowStarted[w] = 0;
      return CStart::kFailed;
    }
    if (aAlone) mReport.mWindowsAlone++;
    return CStart::kStarted;
  }
  for (int a = 0; a < aPairs; a++) {
    if (mPairDone[a] || mPairStarted[a]) continue;
    // The job takes the pairs from a on that are neither done nor started, up to
    // kPairsPerFlowJob.
    int b = a + 1;
    while (b < aPairs && b - a < kPairsPerFlowJob && !mPairDone[b] && !mPairStarted[b]) b++;
    const std::string aLog = mSequence.mFolder + "logs/flow" + frameNumber(a, aPairs + 1) + ".log";
    std::vector<std::string> aArguments = {mOptions.mPrograms + "quorvik-flow", "--frame",
                                           std::to_string(a)};
    for (int f = a; f <= b; f++) aArguments.push_back(mSequence.mFolder + mSequence.mFrames[f]);
    aArguments.push_back(flowFolder(mSequence));
    if (!mChildren.start(aArguments, aLog, 2 * a + kFlow, programSettings()))
      return CStart::kFailed;
    std::fill(mPairStarted.begin() + a, mPairStarted.begin() + b, 1);
    mFlowJobEnd[a] = b;
    return CStart::kStarted;
  }
  return CStart::kNothing;
}

bool CScheduler::nothingLeftToStart() const {
  for (size_t a = 0; a < mPairDone.size(); a++)
    if (!mPairDone[a] && !mPairStarted[a]) return false;
  for (size_t w = 0; w < mPlan.size(); w++)
    if (!mWindowDone[w] && !mWindowStarted[w]) return false;
  return true;
}

bool CScheduler::ended(const CChildEnd& aEnd) {
  const int aIndex = aEnd.mTag / 2;
  if (aEnd.mTag % 2 == kFlow) {
    const int aEndPair = mFlowJobEnd[aIndex];
    std::fill(mPairStarted.begin() + aIndex, mPairStarted.begin() + aEndPair, 0);
    if (aEnd.mStatus != 0)
      return fail("the flow of frames " + std::to_string(aIndex) +
                  (aEndPair - aIndex == 1 ? " and " : " ... ") + std::to_string(aEndPair) +
                  " failed: " + lastLine(aEnd.mLog) + " (" + aEnd.mLog + ")");
    std::fill(mPairDone.begin() + aIndex, mPairDone.begin() + aEndPair, 1);
    mReport.mFlowsRun += aEndPair - aIndex;
    mReport.mFlowSeconds += aEnd.mSeconds;
    mReport.mFlowProcessor += aEnd.mProcessorSeconds;
    std::remove(aEnd.mLog.c_str());
    return true;
  }
  const CWindow& aWindow = mPlan[aIndex];
  mWindowStarted[aIndex] = 0;
  if (aEnd.mStatus != 0)
    return fail("the run of window " + std::to_string(aWindow.mFirst) + " ... " +
                std::to_string(aWindow.last()) + " failed: " + lastLine(aEnd.mLog) + " (" +
                aEnd.mLog + ")");
  if (!recordWindowDone(mSequence, aWindow, mOptions.mStep)) return false;
  if (!windowDone(mSequence, aWindow, mOptions.mStep))
    return fail("the run of window " + std::to_string(aWindow.mFirst) + " ... " +
                std::to_string(aWindow.last()) + " ended without all its results (" + aEnd.mLog +
                ")");
  if (!mOptions.mKeepWindows) tidyWindow(mSequence, aWindow);
  mWindowDone[aIndex] = 1;
  mReport.mWindowsRun++;
  mReport.mWindowSeconds += aEnd.mSeconds;
  mReport.mWindowProcessor += aEnd.mProcessorSeconds;
  mReport.mFlowsByWindows += flowsComputed(mSequence, aWindow);
  return true;
}

void CScheduler::showProgress(bool aFinal) const {
  if (!mOptions.mProgress) return;
  const int aPairs = static_cast<int>(mPairDone.size());
  const int aWindows = static_cast<int>(mPlan.size());
  const int aPairsDone = static_cast<int>(std::count(mPairDone.begin(), mPairDone.end(), 1));
  const int aWindowsDone = static_cast<int>(std::count(mWindowDone.begin(), mWindowDone.end(), 1));
  int aFrames = 0;
  for (int w = 0; w < aWindows; w++) aFrames += mWindowDone[w] ? mOwned[w] : 0;
  const double aElapsed = secondsNow() - mReport.mStart;
  std::string aLine = "\rquorvik-segment: " + std::to_string(aFrames) + " of " +
                      std::to_string(mSequence.frames()) + " frames segmented, flows " +
                      std::to_string(aPairsDone) + "/" + std::to_string(aPairs) + ", windows " +
                      std::to_string(aWindowsDone) + "/" + std::to_string(aWindows) + ", " +
                      clock(aElapsed) + " elapsed";
  if (!aFinal && mReport.mFlowsRun + mReport.mWindowsRun > 0) {
    const double aPair = mReport.mFlowsRun > 0 ? mReport.mFlowSeconds / mReport.mFlowsRun : 0;
    double aWindowFrame = kWindowGuess * aPair;
    if (mReport.mWindowsRun > 0)
      aWindowFrame = mReport.mWindowSeconds / (mReport.mWindowsRun * mPlan[0].mCount);
    double aLeft = (aPairs - aPairsDone) * aPair;
    for (int w = 0; w < aWindows; w++)
      if (!mWindowDone[w]) aLeft += mPlan[w].mCount * aWindowFrame;
    aLine += ", about " + clock(aLeft / std::max(1, slots())) + " left";
  }
  std::cerr << aLine << "\033[K" << (aFinal ? "\n" : "") << std::flush;
}

int CScheduler::run() {
  const int aPairs = std::max(0, mSequence.frames() - 1);
  mPairDone.assign(aPairs, 0);
  mPairStarted.assign(aPairs, 0);
  mFlowJobEnd.assign(aPairs, 0);
  mWindowDone.assign(mPlan.size(), 0);
  mWindowStarted.assign(mPlan.size(), 0);
  const std::vector<int> aOwner = frameOwners(mPlan);
  mOwned.assign(mPlan.size(), 0);
  for (int w : aOwner) mOwned[w]++;
  for (int a = 0; a < aPairs; a++) mPairDone[a] = pairDone(mSequence, a);
  for (size_t w = 0; w < mPlan.size(); w++) {
    mWindowDone[w] = windowDone(mSequence, mPlan[w], mOptions.mStep);
    if (mWindowDone[w] && !mOptions.mKeepWindows) tidyWindow(mSequence, mPlan[w]);
  }
  mReport.mFlowsKept = static_cast<int>(std::count(mPairDone.begin(), mPairDone.end(), 1));
  mReport.mWindowsKept = static_cast<int>(std::count(mWindowDone.begin(), mWindowDone.end(), 1));
  if (!makeFolders(mSequence.mFolder + "logs") || !makeFolders(flowFolder(mSequence))) return 1;

  const double aStart = secondsNow();
  bool aStop = false;
  while (true) {
    CStart aStarted = CStart::kStarted;
    while (mChildren.running() < slots() && aStarted == CStart::kStarted) aStarted = startNext();
    if (aStarted == CStart::kFailed) {
      mChildren.stopAll();
      showProgress(true);
      return 1;
    }
    if (mChildren.running() == 0) break;
    const std::vector<CChildEnd> aEnded = mChildren.wait(kPollSeconds, aStop);
    mReport.mPeakBytes = std::max(
        mReport.mPeakBytes, static_cast<double>(mChildren.residentBytes() + ownResidentBytes()));
    for (const CChildEnd& aEnd : aEnded)
      if (!ended(aEnd)) {
        mChildren.stopAll();
        showProgress(true);
        return 1;
      }
    if (aStop) {
      mChildren.stopAll();
      showProgress(true);
      return kSegmentStopped;
    }
    showProgress(false);
  }
  showProgress(true);
  mReport.mJobsWall = secondsNow() - aStart;
  for (size_t w = 0; w < mPlan.size(); w++)
    if (!mWindowDone[w])
      return failed("window " + std::to_string(mPlan[w].mFirst) + " ... " +
                    std::to_string(mPlan[w].last()) + " could not be started");
  return 0;
}

// Imports aInput into the sequence folder aWork (aWork + NAME.bmf) unless the same input was
// imported there before. The sequence's path, or empty after one line on standard error.
std::string importInput(const std::string& aInput, const std::string& aWork,
                        const CSegmentOptions& aOptions, CReport& aReport, int& aStatus) {
  aStatus = 1;
  const std::string aName = sequenceName(aInput);
  const std::string aBmf = aWork + aName + ".bmf";
  const std::string aRecord = importRecord(aInput, aOptions.mMaxWidth);
  std::error_code aError;
  if (readTextFile(aWork + kImportRecord) == aRecord && fs::exists(aBmf, aError)) {
    aStatus = 0;
    return aBmf;
  }
  // Another input, or an import that did not finish: nothing of the old work fits the new.
  for (const fs::directory_entry& aEntry : fs::directory_iterator(aWork, aError))
    if (aEntry.path().filename() != kLock) fs::remove_all(aEntry.path(), aError);
  const double aStart = secondsNow();
  std::vector<std::string> aFrames;
  if (isSequenceFile(aInput)) {
    if (aOptions.mMaxWidth != 0) {
      fail("--max-width applies to videos and folders of pictures, not to " + aInput);
      return "";
    }
    const size_t aSlash = aInput.rfind('/');
    std::vector<std::string> aPaths;
    if (!readFrameList(aInput, aSlash == std::string::npos ? "" : aInput.substr(0, aSlash + 1),
                       aPaths))
      return "";
    // Names relative to the work folder, since a ".bmf" file's names are read relative to it.
    const fs::path aFrom =
        fs::absolute(aWork.substr(0, aWork.size() - 1), aError).lexically_normal();
    for (const std::string& aPath : aPaths)
      aFrames.push_back(
          fs::absolute(aPath, aError).lexically_normal().lexically_relative(aFrom).string());
  } else {
    const std::string aStaging = aWork + "frames.import";
    if (!makeFolders(aWork + "logs")) return "";
    CChildren aChildren;
    const std::string aLog = aWork + "logs/import.log";
    if (!aChildren.start({aOptions.mPrograms + "import-video", aInput, aStaging, "--name", aName,
                          "--max-frames", "0", "--max-width", std::to_string(aOptions.mMaxWidth)},
                         aLog, 0))
      return "";
    CChildEnd aEnd;
    const int aResult = waitForOne(aChildren, aEnd, aReport.mPeakBytes);
    if (aResult != 0) {
      aStatus = aResult == kSegmentStopped ? kSegmentStopped : 1;
      if (aResult != kSegmentStopped)
        fail("the import of " + aInput + " failed: " + lastLine(aLog));
      return "";
    }
    std::vector<std::string> aNames;
    if (!readFrameList(aStaging + "/" + aName + ".bmf", "", aNames)) return "";
    fs::remove(aStaging + "/" + aName + ".bmf", aError);
    fs::rename(aStaging, aWork + "frames", aError);
    if (aError) {
      fail("cannot rename " + aStaging + ": " + aError.message());
      return "";
    }
    for (const std::string& aFrame : aNames) aFrames.push_back("frames/" + aFrame);
  }
  if (aFrames.empty()) {
    fail(aInput + " holds no frame");
    return "";
  }
  std::string aList = std::to_string(aFrames.size()) + " 1\n";
  for (const std::string& aFrame : aFrames) aList += aFrame + "\n";
  if (!writeTextFile(aBmf, aList) || !writeTextFile(aWork + kImportRecord, aRecord)) return "";
  aReport.mImport = secondsNow() - aStart;
  aReport.mImported = true;
  aStatus = 0;
  return aBmf;
}

// The overlay pictures as one MP4 video, aOutDir + NAME-overlay.mp4. A missing ffmpeg is
// reported and skipped; a failing one fails.
bool writeOverlayVideo(const CSequence& aSequence, const std::string& aOutDir,
                       const CSegmentOptions& aOptions, CReport& aReport, int& aStatus) {
  aStatus = 0;
  const std::string aFfmpeg = findInPath("ffmpeg");
  if (aFfmpeg.empty()) {
    std::cerr << "quorvik-segment: ffmpeg is missing, so no overlay video "
                 "(scripts/install-deps installs it)"
              << std::endl;
    return true;
  }
  const double aStart = secondsNow();
  const std::string aVideo = aOutDir + aSequence.mName + "-overlay.mp4";
  const std::string aTemporary = NFile::temporaryName(aVideo);
  const std::string aPattern =
      aOutDir + NResultNames::kVideoOverlay.pattern(frameDigits(aSequence.frames()));
  CChildren aChildren;
  const std::string aLog = aSequence.mFolder + "logs/video.log";
  if (!aChildren.start({aFfmpeg,
                        "-nostdin",
                        "-loglevel",
                        "error",
                        "-y",
                        "-framerate",
                        fixed(aOptions.mFps, 3),
                        "-start_number",
                        "0",
                        "-i",
                        aPattern,
                        "-vf",
                        "pad=ceil(iw/2)*2:ceil(ih/2)*2",
                        "-c:v",
                        "libx264",
                        "-preset",
                        "veryfast",
                        "-crf",
                        "20",
                        "-pix_fmt",
                        "yuv420p",
                        "-f",
                        "mp4",
                        aTemporary},
                       aLog, 0))
    return false;
  CChildEnd aEnd;
  const int aResult = waitForOne(aChildren, aEnd, aReport.mPeakBytes);
  if (aResult != 0 || std::rename(aTemporary.c_str(), aVideo.c_str()) != 0) {
    std::remove(aTemporary.c_str());
    aStatus = aResult == kSegmentStopped ? kSegmentStopped : 1;
    return aResult == kSegmentStopped ||
           fail("cannot make the overlay video " + aVideo + ": " + lastLine(aLog));
  }
  aReport.mVideo = secondsNow() - aStart;
  return true;
}

std::string summaryText(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
                        const CLinkedVideo& aVideo, const CSegmentOptions& aOptions,
                        const CReport& aReport) {
  const int aPairs = std::max(0, aSequence.frames() - 1);
  int aLeast = aPlan.size() > 1 ? aPlan[0].mCount : 0, aMost = 0;
  for (size_t w = 0; w + 1 < aPlan.size(); w++) {
    const int aCommon = aPlan[w].last() - aPlan[w + 1].mFirst + 1;
    aLeast = std::min(aLeast, aCommon);
    aMost = std::max(aMost, aCommon);
  }
  struct rusage aUsage;
  getrusage(RUSAGE_CHILDREN, &aUsage);
  const double aLargest = std::max<double>(aUsage.ru_maxrss * 1024.0, ownResidentBytes());
  std::ostringstream s;
  s << "video      " << (aReport.mInput.empty() ? aSequence.mBmf : aReport.mInput) << ": "
    << aSequence.frames() << " frames";
  if (aReport.mWidth > 0) s << " of " << aReport.mWidth << " x " << aReport.mHeight;
  s << "\nwindows    " << aPlan.size() << " of " << aPlan[0].mCount << " frames";
  if (aPlan.size() > 1)
    s << ", consecutive ones sharing " << aLeast
      << (aMost > aLeast ? " to " + std::to_string(aMost) : "") << " frames";
  s << ", grid step " << aOptions.mStep << "\n";
  s << "regions    " << aVideo.mRegions
    << (aVideo.mRegions == 1 ? " region number, " : " region numbers, ") << aVideo.mAcrossWindows
    << " followed across windows";
  if (aVideo.mReused > 0) s << ", " << aVideo.mReused << " numbers handed out again";
  s << "\nseconds    ";
  if (aReport.mImported) s << "import " << fixed(aReport.mImport, 1) << ", ";
  if (aReport.mFlowsRun > 0)
    s << "flows " << fixed(aReport.mFlowSeconds, 1) << " (" << aReport.mFlowsRun << " pairs, "
      << fixed(aReport.mFlowSeconds / aReport.mFlowsRun, 2) << " each), ";
  if (aReport.mWindowsRun > 0)
    s << "windows " << fixed(aReport.mWindowSeconds, 1) << " (" << aReport.mWindowsRun << ", "
      << fixed(aReport.mWindowSeconds / aReport.mWindowsRun, 1) << " each), ";
  if (aReport.mFlowsRun + aReport.mWindowsRun > 0)
    s << "flows and windows side by side " << fixed(aReport.mJobsWall, 1) << " (" << aOptions.mJobs
      << " programs at a time, windows on " << aOptions.mWindowThreads
      << (aOptions.mWindowThreads == 1 ? " thread" : " threads") << " each"
      << (aReport.mWindowsAlone > 0 && aOptions.mAloneThreads != aOptions.mWindowThreads
              ? ", " + std::to_string(aReport.mWindowsAlone) + " alone on " +
                    std::to_string(aOptions.mAloneThreads)
              : "")
      << "), ";
  s << "linking " << fixed(aReport.mLink, 1) << ", video " << fixed(aReport.mVideo, 1) << ", total "
    << fixed(secondsNow() - aReport.mStart, 1) << "\n";
  // Processor seconds do not depend on what else the machine runs, unlike the seconds above.
  struct rusage aOwn;
  getrusage(RUSAGE_SELF, &aOwn);
  const double aAll = processorSeconds(aUsage) + processorSeconds(aOwn);
  s << "processor  ";
  if (aReport.mFlowsRun > 0)
    s << "flows " << fixed(aReport.mFlowProcessor, 1) << " ("
      << fixed(aReport.mFlowProcessor / aReport.mFlowsRun, 2) << " per pair), ";
  if (aReport.mWindowsRun > 0)
    s << "windows " << fixed(aReport.mWindowProcessor, 1) << " ("
      << fixed(aReport.mWindowProcessor / aReport.mWindowsRun, 1) << " each), ";
  s << "all programs and this one together " << fixed(aAll, 1) << " ("
    << fixed(aAll / aSequence.frames(), 2) << " per frame)\n";
  // A program too short for the sampling still counts with its own peak.
  s << "memory     peak " << fixed(std::max(aReport.mPeakBytes, aLargest) / kMiB, 0)
    << " MiB, all programs running at once together (sampled 5 times a second); largest "
       "single program "
    << fixed(aLargest / kMiB, 0) << " MiB\n";
  if (aReport.mFlowsByWindows > 0)
    s << "warning    the windows' runs computed " << aReport.mFlowsByWindows
      << " flows themselves: the shared ones did not fit their frames\n";
  if (aReport.mFlowsKept + aReport.mWindowsKept > 0)
    s << "resumed    " << aReport.mFlowsKept << " of " << aPairs << " pairs and "
      << aReport.mWindowsKept << " of " << aPlan.size() << " windows were done before\n";
  return s.str();
}

// Linking, result pictures, overlay video and summary of a sequence whose windows are complete.
int finishVideo(const CSequence& aSequence, const std::vector<CWindow>& aPlan,
                const std::string& aOutDir, const CSegmentOptions& aOptions, CReport& aReport) {
  for (const CWindow& aWindow : aPlan)
    if (!windowDone(aSequence, aWindow, aOptions.mStep))
      return failed("window " + windowPath(aSequence, aWindow) + " is not complete");
  const double aStart = secondsNow();
  CLinkedVideo aVideo;
  if (!linkWindows(aSequence, aPlan, aVideo)) return 1;
  {
    CChildren aSignals;  // holds SIGINT and its kind back, so the writing can stop cleanly
    auto aWatch = [&](int aWritten) {
      aReport.mPeakBytes = std::max(aReport.mPeakBytes, static_cast<double>(ownResidentBytes()));
      if (aOptions.mProgress)
        std::cerr << "\rquorvik-segment: linking, " << aWritten << " of " << aSequence.frames()
                  << " frames written\033[K" << std::flush;
      return !aSignals.stopRequested();
    };
    const bool aWritten =
        writeVideoResults(aSequence, aPlan, aVideo, aOutDir, aOptions.mJobs, aWatch);
    if (aOptions.mProgress) std::cerr << "\n";
    if (!aWritten) return aSignals.stopRequested() ? kSegmentStopped : 1;
  }
  aReport.mLink = secondsNow() - aStart;
  int aStatus = 0;
  if (!writeOverlayVideo(aSequence, aOutDir, aOptions, aReport, aStatus)) return aStatus;
  if (aStatus != 0) return aStatus;
  CTensor<float> aFirst;
  try {
    if (aFirst.readFromPPM((aSequence.mFolder + aSequence.mFrames[0]).c_str())) {
      aReport.mWidth = aFirst.xSize();
      aReport.mHeight = aFirst.ySize();
    }
  } catch (const EInvalidFileFormat&) {
  }
  const std::string aSummary = summaryText(aSequence, aPlan, aVideo, aOptions, aReport);
  if (!writeTextFile(aOutDir + kSummary, aSummary)) return 1;
  std::cout << aSummary << "results    " << aOutDir << std::endl;
  return 0;
}

CSegmentOptions withJobs(CSegmentOptions aOptions) {
  const int aCores = std::max(1, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  if (aOptions.mJobs <= 0) aOptions.mJobs = aCores;
  if (aOptions.mWindowThreads <= 0) aOptions.mWindowThreads = std::max(1, aCores / aOptions.mJobs);
  if (aOptions.mAloneThreads <= 0) aOptions.mAloneThreads = aCores;
  return aOptions;
}

// Opens the sequence aBmf and plans its windows. False after one line.
bool openPlanned(const std::string& aBmf, const CSegmentOptions& aOptions, CSequence& aSequence,
                 std::vector<CWindow>& aPlan) {
  if (!openSequence(aBmf, aSequence)) return false;
  if (!validPlan(aSequence.frames(), aOptions.mWindow, aOptions.mOverlap))
    return fail("cannot plan windows of " + std::to_string(aOptions.mWindow) + " frames sharing " +
                std::to_string(aOptions.mOverlap) + " over " + std::to_string(aSequence.frames()) +
                " frames");
  aPlan = planWindows(aSequence.frames(), aOptions.mWindow, aOptions.mOverlap);
  return true;
}

}  // namespace

int segmentVideo(const std::string& aInput, const std::string& aOutDirGiven,
                 const CSegmentOptions& aGiven) {
  const CSegmentOptions aOptions = withJobs(aGiven);
  CReport aReport;
  aReport.mInput = aInput;
  std::error_code aError;
  if (!fs::exists(aInput, aError)) return failed(aInput + " does not exist");
  const std::string aOutDir = withSlash(aOutDirGiven);
  const std::string aWork = aOutDir + kWork;
  if (!makeFolders(aWork)) return 1;
  CFolderLock aLock(aWork + kLock);
  if (!aLock.held()) return failed(aOutDir + " is in use by another quorvik-segment");

  int aStatus = 0;
  const std::string aBmf = importInput(aInput, aWork, aOptions, aReport, aStatus);
  if (aBmf.empty()) return aStatus;
  CSequence aSequence;
  std::vector<CWindow> aPlan;
  if (!openPlanned(aBmf, aOptions, aSequence, aPlan)) return 1;
  if (!aOptions.mFlows.empty() && !shareFlows(aSequence, withSlash(aOptions.mFlows))) return 1;
  {
    CScheduler aScheduler(aSequence, aPlan, aOptions, aReport);
    aStatus = aScheduler.run();
  }
  if (aStatus == kSegmentStopped)
    std::cerr << "quorvik-segment: stopped; the same command goes on where it stopped" << std::endl;
  if (aStatus != 0) return aStatus;
  aStatus = finishVideo(aSequence, aPlan, aOutDir, aOptions, aReport);
  if (aStatus == kSegmentStopped)
    std::cerr << "quorvik-segment: stopped; the same command goes on where it stopped" << std::endl;
  return aStatus;
}

int runWindowJob(const std::string& aBmf, int aIndex, const CSegmentOptions& aGiven) {
  const CSegmentOptions aOptions = withJobs(aGiven);
  CSequence aSequence;
  std::vector<CWindow> aPlan;
  if (!openPlanned(aBmf, aOptions, aSequence, aPlan)) return 1;
  if (aIndex < 0 || aIndex >= static_cast<int>(aPlan.size()))
    return failed("window " + std::to_string(aIndex) + " does not exist: the plan has " +
                  std::to_string(aPlan.size()));
  const CWindow& aWindow = aPlan[aIndex];
  if (!prepareWindow(aSequence, aWindow)) return 1;
  CChildren aChildren;
  if (!aChildren.start(
          windowRun(aOptions.mPrograms + "quorvik", aSequence, aWindow, aOptions.mStep), "", 0,
          programSettings()))
    return 1;
  CChildEnd aEnd;
  double aPeak = 0;
  const int aStatus = waitForOne(aChildren, aEnd, aPeak);
  if (aStatus != 0) return aStatus;
  if (!recordWindowDone(aSequence, aWindow, aOptions.mStep)) return 1;
  if (!windowDone(aSequence, aWindow, aOptions.mStep))
    return failed("the run of window " + windowPath(aSequence, aWindow) +
                  " ended without all its results");
  return 0;
}

int linkJob(const std::string& aBmf, const std::string& aOutDirGiven,
            const CSegmentOptions& aGiven) {
  const CSegmentOptions aOptions = withJobs(aGiven);
  CReport aReport;
  CSequence aSequence;
  std::vector<CWindow> aPlan;
  if (!openPlanned(aBmf, aOptions, aSequence, aPlan)) return 1;
  const std::string aOutDir = withSlash(aOutDirGiven);
  if (!makeFolders(aOutDir) || !makeFolders(aSequence.mFolder + "logs")) return 1;
  return finishVideo(aSequence, aPlan, aOutDir, aOptions, aReport);
}
