// quorvik-segment from outside: a generated video in which objects enter and leave the picture,
// segmented in several windows (results for every frame, one region number per object, a
// second start after a killed window that redoes only that window), and a video shorter than
// one window (exactly its one run's regions).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "evaluation/IdentitySwitches.h"
#include "foundation/PNGFile.h"
#include "tests/TestUtil.h"
#include "windows/LinkedResults.h"
#include "windows/WindowPlan.h"

extern char** environ;

using namespace testutil;

namespace {

namespace fs = std::filesystem;

CMatrix<int> readMap(const std::string& aPath) {
  NPNG::CImage aImage;
  EXPECT_TRUE(NPNG::readPNG(aPath, aImage)) << aPath;
  CMatrix<int> aMap(aImage.mPixels.xSize(), aImage.mPixels.ySize());
  for (int i = 0; i < aMap.size(); i++) aMap[i] = static_cast<int>(aImage.mPixels.data()[i]);
  return aMap;
}

std::string frame(const char* aKind, int f, int aFrames) {
  for (const CNumberedName* aName :
       {&NResultNames::kVideoRegions, &NResultNames::kVideoMask, &NResultNames::kVideoOverlay})
    if (std::string(aName->mPrefix) == aKind) return videoPicture(*aName, f, aFrames);
  ADD_FAILURE() << "no picture kind " << aKind;
  return "";
}

// Modification time of a file in nanoseconds, 0 when it is missing.
long long changed(const std::string& aPath) {
  struct stat aInfo;
  if (stat(aPath.c_str(), &aInfo) != 0) return 0;
  return aInfo.st_mtim.tv_sec * 1000000000LL + aInfo.st_mtim.tv_nsec;
}

// True once nobody holds the advisory lock of aPath (the run that held it has ended).
bool lockFree(const std::string& aPath) {
  const int aFile = open(aPath.c_str(), O_RDWR);
  if (aFile < 0) return true;
  const bool aFree = flock(aFile, LOCK_EX | LOCK_NB) == 0;
  close(aFile);
  return aFree;
}

template <class TCondition>
bool waitFor(TCondition aCondition, double aSeconds) {
  const auto aUntil = std::chrono::steady_clock::now() + std::chrono::duration<double>(aSeconds);
  while (!aCondition()) {
    if (std::chrono::steady_clock::now() > aUntil) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// aDir/gen/tiny.bmf, aFrames generated frames of 48 x 32, and aDir/programs/ with copies of
// aCopies and a stand-in for aStandIn that appends the value of the environment variable aVariable
// to aDir/seen and fails, aWait seconds later.
void standInPrograms(const TempDir& aDir, int aFrames, const std::vector<std::string>& aCopies,
                     const std::string& aStandIn, const std::string& aVariable,
                     const std::string& aWait) {
  ASSERT_EQ(runProgram({programPath("quorvik-generate"), "--out", aDir.file("gen"), "--name",
                        "tiny", "--size", "48", "32", "--frames", std::to_string(aFrames)}),
            0);
  fs::create_directories(aDir.file("programs"));
  for (const std::string& aProgram : aCopies)
    fs::copy_file(programPath(aProgram), aDir.file("programs/" + aProgram));
  const std::string aScript = aDir.file("programs/" + aStandIn);
  writeFile(aScript, "#!/bin/sh\nprintf '%s\\n' \"${" + aVariable + "-none}\" >> " +
                         aDir.file("seen") + "\nsleep " + aWait + "\nexit 1\n");
  fs::permissions(aScript, fs::perms::owner_all);
}

std::vector<std::string> fileLines(const std::string& aPath) {
  std::vector<std::string> aLines;
  std::istringstream aText(readFile(aPath));
  for (std::string aLine; std::getline(aText, aLine);) aLines.push_back(aLine);
  return aLines;
}

constexpr int kFrames = 36;

}  // namespace

TEST(SegmentTool, FollowsObjectsThroughWindowsAndResumesAfterAKilledWindow) {
  TempDir aDir;
  // Two objects cross the picture one after the other (the second enters at frame 18) over a
  // slowly panning background; 36 frames are four windows of 12 that share 4 frames.
  ASSERT_EQ(runProgram({programPath("quorvik-generate"), "--out", aDir.file("gen"), "--name",
                        "cross", "--size", "160", "120", "--frames", std::to_string(kFrames),
                        "--passing", "2", "--speed", "4", "--background", "0.5", "0"}),
            0);
  const std::vector<std::string> aOptions = {"--window", "12", "--overlap", "4", "--step", "4"};
  std::vector<std::string> aCommand = {programPath("quorvik-segment"), aDir.file("gen/cross.bmf"),
                                       aDir.file("out")};
  aCommand.insert(aCommand.end(), aOptions.begin(), aOptions.end());
  ASSERT_EQ(runProgram(aCommand, aDir.file("out.txt"), aDir.file("err.txt")), 0)
      << readFile(aDir.file("err.txt"));
  const std::vector<CWindow> aPlan = planWindows(kFrames, 12, 4);
  ASSERT_EQ(aPlan.size(), 4u);
  const std::string aSummary = readFile(aDir.file("out/summary.txt"));
  EXPECT_NE(aSummary.find("36 frames of 160 x 120"), std::string::npos) << aSummary;
  // One job per core (the default) leaves each window's run one thread (unless it runs alone).
  EXPECT_NE(aSummary.find("programs at a time, windows on 1 thread each"), std::string::npos)
      << aSummary;
  // The windows' processor seconds come from their ends, not from a sum left at zero.
  std::smatch aProcessor;
  ASSERT_TRUE(std::regex_search(aSummary, aProcessor,
                                std::regex("processor  flows [0-9.]+ .*windows ([0-9.]+) \\(")))
      << aSummary;
  EXPECT_GT(std::stod(aProcessor[1]), 0.0) << aSummary;

  // Every frame has its three pictures; every object keeps one region number over all windows,
  // is found apart from the background in most frames where it is seen, and the background
  // keeps one number too.
  CIdentityCount aIdentity;
  std::set<int> aBackground;
  for (int f = 0; f < kFrames; f++) {
    EXPECT_TRUE(fileExists(aDir.file("out/" + frame("Overlay", f, kFrames)))) << f;
    EXPECT_TRUE(fileExists(aDir.file("out/" + frame("Mask", f, kFrames)))) << f;
    const CMatrix<int> aRegions = readMap(aDir.file("out/" + frame("Regions", f, kFrames)));
    const CMatrix<int> aTruth = readMap(aDir.file("gen/masks/" + frameNumber(f, 100) + ".png"));
    ASSERT_EQ(aRegions.size(), 160 * 120);
    aIdentity.add(aTruth, aRegions);
    std::map<int, int> aOnBackground;
    for (int i = 0; i < aTruth.size(); i++)
      if (aTruth[i] == 0) aOnBackground[aRegions[i]]++;
    aBackground.insert(
        std::max_element(aOnBackground.begin(), aOnBackground.end(), [](auto& a, auto& b) {
          return a.second < b.second;
        })->first);
  }
  EXPECT_FALSE(fileExists(aDir.file("out/" + frame("Regions", kFrames, kFrames))));
  EXPECT_EQ(aBackground.size(), 1u);
  ASSERT_EQ(aIdentity.objects().size(), 2u);
  EXPECT_EQ(aIdentity.switches(), 0);
  for (const auto& [aObject, aSeen] : aIdentity.objects())
    EXPECT_GE(2 * (aSeen.mFrames - aSeen.mMissed), aSeen.mFrames) << "object " << aObject;

  // The same video again in a second folder that holds its flows and all windows but the
  // second; started, killed while the second window runs, and started again.
  const std::string aWork = aDir.file("out/work/"), aAgain = aDir.file("again/work/");
  fs::create_directories(aAgain + "QuorvikResults");
  fs::copy_file(aWork + "cross.bmf", aAgain + "cross.bmf");
  fs::copy_file(aWork + "import.txt", aAgain + "import.txt");
  for (const fs::directory_entry& aEntry : fs::directory_iterator(aWork + "QuorvikResults"))
    fs::create_hard_link(aEntry.path(),
                         aAgain + "QuorvikResults/" + aEntry.path().filename().string());
  for (size_t w : {0, 2, 3}) {
    const std::string aWindow = windowFolder(aPlan[w], kFrames);
    fs::create_directories(aAgain + aWindow);
    fs::copy(aWork + aWindow, aAgain + aWindow, fs::copy_options::recursive);
  }
  aCommand[2] = aDir.file("again");
  std::vector<char*> aArgv;
  for (std::string& a : aCommand) aArgv.push_back(a.data());
  aArgv.push_back(nullptr);
  posix_spawn_file_actions_t aActions;
  posix_spawn_file_actions_init(&aActions);
  posix_spawn_file_actions_addopen(&aActions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&aActions, 2, "/dev/null", O_WRONLY, 0);
  pid_t aPid = 0;
  ASSERT_EQ(posix_spawn(&aPid, aArgv[0], &aActions, nullptr, aArgv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&aActions);
  const std::string aSecondLock =
      aAgain + windowFolder(aPlan[1], kFrames) + "/QuorvikResults/Run.lock";
  const bool aSecondStarted = waitFor([&] { return fileExists(aSecondLock); }, 120);
  kill(aPid, SIGKILL);
  int aWaitStatus = 0;
  waitpid(aPid, &aWaitStatus, 0);
  ASSERT_TRUE(aSecondStarted);
  // The window's run ends with quorvik-segment, and its folder is free again.
  ASSERT_TRUE(waitFor([&] { return lockFree(aSecondLock); }, 30));
  EXPECT_FALSE(fileExists(aAgain + windowFolder(aPlan[1], kFrames) + "/window.txt"));
  EXPECT_FALSE(fileExists(aDir.file("again/summary.txt")));
  std::vector<long long> aDoneTimes;
  for (const CWindow& aWindow : aPlan)
    aDoneTimes.push_back(changed(aAgain + windowFolder(aWindow, kFrames) + "/window.txt"));

  ASSERT_EQ(runProgram(aCommand, aDir.file("again.txt"), aDir.file("err.txt")), 0)
      << readFile(aDir.file("err.txt"));
  for (size_t w : {0, 2, 3}) {
    EXPECT_NE(aDoneTimes[w], 0) << w;
    EXPECT_EQ(changed(aAgain + windowFolder(aPlan[w], kFrames) + "/window.txt"), aDoneTimes[w])
        << "window " << w << " was run again";
  }
  EXPECT_NE(readFile(aDir.file("again/summary.txt"))
                .find("35 of 35 pairs and 3 of 4 windows were done before"),
            std::string::npos)
      << readFile(aDir.file("again/summary.txt"));
  for (int f = 0; f < kFrames; f++)
    for (const char* aKind : {"Regions", "Mask", "Overlay"}) {
      const std::string aName = frame(aKind, f, kFrames);
      EXPECT_EQ(readFile(aDir.file("again/" + aName)), readFile(aDir.file("out/" + aName)))
          << aName;
    }
}

TEST(SegmentTool, VideoShorterThanOneWindowIsOneRunWithItsOwnRegions) {
  TempDir aDir;
  ASSERT_EQ(runProgram({programPath("quorvik-generate"), "--out", aDir.file("gen"), "--name",
                        "short", "--size", "96", "72", "--frames", "6", "--speed", "-3"}),
            0);
  ASSERT_EQ(runProgram({programPath("quorvik-segment"), aDir.file("gen/short.bmf"),
                        aDir.file("out"), "--step", "4"},
                       aDir.file("out.txt"), aDir.file("err.txt")),
            0)
      << readFile(aDir.file("err.txt"));
  const std::string aRun = aDir.file("out/work/windows/00000-00005/QuorvikResults/");
  EXPECT_TRUE(fileExists(aRun + "Status6.txt"));
  for (int t = 0; t < 6; t++) {
    const CMatrix<int> aOwn = readMap(aRun + "Regions00" + std::to_string(t) + ".png");
    const CMatrix<int> aVideo = readMap(aDir.file("out/" + frame("Regions", t, 6)));
    ASSERT_EQ(aOwn.size(), aVideo.size());
    EXPECT_TRUE(std::equal(aOwn.data(), aOwn.data() + aOwn.size(), aVideo.data())) << t;
    EXPECT_EQ(readMap(aRun + "Mask00" + std::to_string(t) + ".png").size(), aOwn.size());
  }
  EXPECT_NE(readFile(aDir.file("out/summary.txt")).find("1 of 6 frames"), std::string::npos)
      << readFile(aDir.file("out/summary.txt"));
  // The same input spelled otherwise is the same input: nothing is computed again.
  ASSERT_EQ(runProgram({programPath("quorvik-segment"), aDir.file("gen") + "//./short.bmf",
                        aDir.file("out"), "--step", "4"},
                       aDir.file("out.txt"), aDir.file("err.txt")),
            0)
      << readFile(aDir.file("err.txt"));
  EXPECT_NE(readFile(aDir.file("out/summary.txt")).find("1 of 1 windows were done before"),
            std::string::npos)
      << readFile(aDir.file("out/summary.txt"));

  // Command lines it refuses, with its usage: exit status 2.
  EXPECT_EQ(runProgram({programPath("quorvik-segment"), aDir.file("gen/short.bmf")}), 2);
  EXPECT_EQ(runProgram({programPath("quorvik-segment"), aDir.file("gen/short.bmf"), aDir.file("x"),
                        "--window", "10", "--overlap", "10"}),
            2);
  EXPECT_EQ(runProgram({programPath("quorvik-segment"), aDir.file("gen/short.bmf"), aDir.file("x"),
                        "--step", "4x"}),
            2);
  // A missing input: one line, exit status 1.
  EXPECT_EQ(runProgram({programPath("quorvik-segment"), aDir.file("missing.mp4"), aDir.file("x")},
                       "", aDir.file("missing.txt")),
            1);
  EXPECT_EQ(readFile(aDir.file("missing.txt")).find('\n'),
            readFile(aDir.file("missing.txt")).size() - 1);
}

// The programs it starts get the allocator's settings, or the caller's own. A stand-in for
// quorvik-flow beside a copy of quorvik-segment records what it was given and fails.
TEST(SegmentTool, ProgramsGetTheAllocatorSettingsUnlessTheCallerGaveSome) {
  TempDir aDir;
  ASSERT_NO_FATAL_FAILURE(
      standInPrograms(aDir, 3, {"quorvik-segment"}, "quorvik-flow", "GLIBC_TUNABLES", "0"));
  auto seen = [&](const std::string& aSetting) {
    fs::remove(aDir.file("seen"));
    fs::remove_all(aDir.file("out"));
    EXPECT_EQ(runProgram({"/usr/bin/env", aSetting, aDir.file("programs/quorvik-segment"),
                          aDir.file("gen/tiny.bmf"), aDir.file("out")},
                         "", aDir.file("err.txt")),
              1);
    EXPECT_NE(readFile(aDir.file("err.txt")).find("the flow of frames"), std::string::npos)
        << readFile(aDir.file("err.txt"));
    const std::vector<std::string> aLines = fileLines(aDir.file("seen"));
    return std::set<std::string>(aLines.begin(), aLines.end());
  };
  EXPECT_EQ(seen("--unset=GLIBC_TUNABLES"),
            std::set<std::string>{"glibc.malloc.hugetlb=1:glibc.malloc.arena_max=1:"
                                  "glibc.malloc.mmap_threshold=33554432:"
                                  "glibc.malloc.trim_threshold=4294967296"});
  EXPECT_EQ(seen("GLIBC_TUNABLES=glibc.malloc.tcache_count=0"),
            std::set<std::string>{"glibc.malloc.tcache_count=0"});
}

// A window's run that has the machine to itself (nothing else running, nothing left to start)
// gets every core as its threads; windows that run side by side share them. A stand-in for
// quorvik beside copies of quorvik-segment and quorvik-flow records what it was given and fails a
// second later (one window's failure stops the others: they have written their line by then).
TEST(SegmentTool, AWindowAloneGetsEveryCoreAndWindowsSideBySideShareThem) {
  TempDir aDir;
  ASSERT_NO_FATAL_FAILURE(standInPrograms(aDir, 6, {"quorvik-segment", "quorvik-flow"}, "quorvik",
                                          "OMP_NUM_THREADS", "1"));
  auto seen = [&](std::vector<std::string> aOptions) {
    fs::remove(aDir.file("seen"));
    std::vector<std::string> aCommand = {aDir.file("programs/quorvik-segment"),
                                         aDir.file("gen/tiny.bmf"), aDir.file("out")};
    aCommand.insert(aCommand.end(), aOptions.begin(), aOptions.end());
    EXPECT_EQ(runProgram(aCommand, "", aDir.file("err.txt")), 1);
    EXPECT_NE(readFile(aDir.file("err.txt")).find("the run of window"), std::string::npos)
        << readFile(aDir.file("err.txt"));
    return fileLines(aDir.file("seen"));
  };
  const int aCores = std::max(1, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  // One window, started once the flows are done.
  EXPECT_EQ(seen({}), std::vector<std::string>{std::to_string(aCores)});
  // Two windows, both ready at once (the flows are kept from the run before).
  EXPECT_EQ(seen({"--window", "4", "--overlap", "2", "--jobs", "2"}),
            std::vector<std::string>(2, std::to_string(std::max(1, aCores / 2))));
}
