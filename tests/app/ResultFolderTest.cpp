// One result folder, several sequences or runs: cached flows are used only for the frames they
// were computed from, a second run at the same time is refused, a run of another sequence says
// which results it replaces, and what a killed run left half-written is removed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

constexpr int kFrames = 4;

void generate(const TempDir& aDir, const std::string& aName, const std::string& aSeed) {
  ASSERT_EQ(testutil::runProgram({testutil::programPath("quorvik-generate"), "--out", aDir.path(),
                                  "--name", aName, "--size", "96", "72", "--frames",
                                  std::to_string(kFrames), "--seed", aSeed, "--speed", "-3"}),
            0);
}

std::vector<std::string> command(const TempDir& aDir, const std::string& aName) {
  return {testutil::programPath("quorvik"), aDir.file(aName + ".bmf"), "0", std::to_string(kFrames),
          "8"};
}

int run(const TempDir& aDir, const std::string& aName, const std::string& aErr = "") {
  return testutil::runProgram(command(aDir, aName), "", aErr);
}

std::string result(const TempDir& aDir, const std::string& aName) {
  return testutil::readFile(aDir.file("QuorvikResults/" + aName));
}

int computedPairs(const TempDir& aDir) {
  const std::string aLog = result(aDir, "Status" + std::to_string(kFrames) + ".txt");
  int n = 0;
  for (size_t p = aLog.find("Compute optical flow"); p != std::string::npos;
       p = aLog.find("Compute optical flow", p + 1))
    n++;
  return n;
}

int lines(const std::string& aText) {
  return static_cast<int>(std::count(aText.begin(), aText.end(), '\n'));
}

}  // namespace

TEST(ResultFolder, SecondSequenceComputesItsOwnFlowsAndSaysWhatItReplaces) {
  TempDir aDir;
  generate(aDir, "a", "1");
  generate(aDir, "b", "2");
  ASSERT_EQ(run(aDir, "a"), 0);
  EXPECT_EQ(computedPairs(aDir), kFrames - 1);
  const std::string aTracksOfA = result(aDir, "Tracks4.dat");

  ASSERT_EQ(run(aDir, "b", aDir.file("err.txt")), 0);
  EXPECT_EQ(computedPairs(aDir), kFrames - 1);
  EXPECT_NE(result(aDir, "Tracks4.dat"), aTracksOfA);
  const std::string aErr = testutil::readFile(aDir.file("err.txt"));
  EXPECT_EQ(lines(aErr), 1) << aErr;
  for (const char* aPart :
       {"holds results of a.bmf", "this run of b.bmf replaces", "Tracks4.dat", "Status4.txt",
        "Segments000.ppm ... Segments003.ppm", "Regions000.png ... Regions003.png"})
    EXPECT_NE(aErr.find(aPart), std::string::npos) << aPart << " in " << aErr;

  // The same sequence again: every flow is read, nothing is said.
  ASSERT_EQ(run(aDir, "b", aDir.file("err.txt")), 0);
  EXPECT_EQ(computedPairs(aDir), 0);
  EXPECT_EQ(testutil::readFile(aDir.file("err.txt")), "");
}

TEST(ResultFolder, ReplacedFramesAndFlowsWithoutRecordAreComputedAgain) {
  TempDir aDir;
  generate(aDir, "a", "1");
  ASSERT_EQ(run(aDir, "a"), 0);
  const std::string aTracks = result(aDir, "Tracks4.dat");

  // Frames replaced under the same names.
  generate(aDir, "a", "3");
  ASSERT_EQ(run(aDir, "a"), 0);
  EXPECT_EQ(computedPairs(aDir), kFrames - 1);
  EXPECT_NE(result(aDir, "Tracks4.dat"), aTracks);

  // Flows as an earlier version wrote them: no record beside them.
  for (int a = 0; a + 1 < kFrames; a++) {
    char aName[64];
    std::snprintf(aName, sizeof(aName), "QuorvikResults/FlowSource%03d.txt", a);
    ASSERT_EQ(std::remove(aDir.file(aName).c_str()), 0) << aName;
  }
  ASSERT_EQ(run(aDir, "a"), 0);
  EXPECT_EQ(computedPairs(aDir), kFrames - 1);
}

// The first run holds the folder; the second stops at once, and the first ends with what it
// would have written alone.
TEST(ResultFolder, SecondRunAtTheSameTimeIsRefused) {
  TempDir aAlone, aDir;
  for (const TempDir* aFolder : {&aAlone, &aDir}) generate(*aFolder, "a", "1");
  ASSERT_EQ(run(aAlone, "a"), 0);

  const std::vector<std::string> aArguments = command(aDir, "a");
  std::vector<char*> aArgv;
  for (const std::string& aArgument : aArguments)
    aArgv.push_back(const_cast<char*>(aArgument.c_str()));
  aArgv.push_back(nullptr);
  const pid_t aFirst = fork();
  ASSERT_GE(aFirst, 0);
  if (aFirst == 0) {
    freopen("/dev/null", "w", stderr);
    execv(aArgv[0], aArgv.data());
    _exit(127);
  }
  // Wait until the first run has taken the folder.
  const std::string aHolder = std::to_string(aFirst) + "\n";
  for (int i = 0; i < 2000 && result(aDir, "Run.lock").rfind(aHolder, 0) != 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(result(aDir, "Run.lock").rfind(aHolder, 0), 0u);

  EXPECT_EQ(run(aDir, "a", aDir.file("err.txt")), 1);
  int aStatus = -1;
  ASSERT_EQ(waitpid(aFirst, &aStatus, 0), aFirst);
  EXPECT_TRUE(WIFEXITED(aStatus) && WEXITSTATUS(aStatus) == 0);

  const std::string aErr = testutil::readFile(aDir.file("err.txt"));
  EXPECT_EQ(lines(aErr), 1) << aErr;
  EXPECT_NE(aErr.find(aDir.file("QuorvikResults/")), std::string::npos) << aErr;
  EXPECT_NE(aErr.find("process " + std::to_string(aFirst)), std::string::npos) << aErr;
  for (const char* aName : {"Tracks4.dat", "Segments003.ppm", "ForwardFlow002.flo"})
    EXPECT_EQ(result(aDir, aName), result(aAlone, aName)) << aName;
}

// quorvik-flow writes exactly the files the tracker would write for a pair, record included,
// so a run over flows computed as separate jobs computes none and comes to the same result. The
// first pair is one job; the others are one job for all of them, whose pairs after the first
// reuse the frame the pair before prepared.
TEST(ResultFolder, FlowsComputedAsSeparateJobsAreReadByTheRun) {
  TempDir aAlone, aDir;
  for (const TempDir* aFolder : {&aAlone, &aDir}) generate(*aFolder, "a", "1");
  ASSERT_EQ(run(aAlone, "a"), 0);
  auto frameFile = [&](int f) {
    char aName[32];
    std::snprintf(aName, sizeof(aName), "a%03d.ppm", f);
    return aDir.file(aName);
  };
  const std::string aProgram = testutil::programPath("quorvik-flow");
  ASSERT_EQ(
      testutil::runProgram({aProgram, frameFile(0), frameFile(1), aDir.file("QuorvikResults")}), 0);
  std::vector<std::string> aRest = {aProgram, "--frame", "1"};
  for (int f = 1; f < kFrames; f++) aRest.push_back(frameFile(f));
  aRest.push_back(aDir.file("QuorvikResults"));
  ASSERT_GE(aRest.size(), 7u);  // two pairs or more
  ASSERT_EQ(testutil::runProgram(aRest), 0);
  ASSERT_EQ(run(aDir, "a"), 0);
  EXPECT_EQ(computedPairs(aDir), 0);
  for (const char* aName : {"ForwardFlow002.flo", "BackwardFlow000.flo", "FlowSource001.txt",
                            "ForwardFlow001.ppm", "Tracks4.dat", "Segments003.ppm"})
    EXPECT_EQ(result(aDir, aName), result(aAlone, aName)) << aName;
}
