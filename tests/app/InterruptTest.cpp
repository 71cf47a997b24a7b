// Interrupted and starved runs: a run killed while it tracks leaves only complete flow files
// and a second run over the same folder comes to the uninterrupted result; a file-size limit
// is reported as a failure, never a silent success.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

constexpr int kWidth = 96, kHeight = 72, kFrames = 6;

void generate(const std::string& aFolder) {
  ASSERT_EQ(testutil::runProgram({testutil::programPath("quorvik-generate"), "--out", aFolder,
                                  "--name", "synth", "--size", std::to_string(kWidth),
                                  std::to_string(kHeight), "--frames", std::to_string(kFrames)}),
            0);
}

std::vector<std::string> runArguments(const std::string& aFolder) {
  return {testutil::programPath("quorvik"), aFolder + "/synth.bmf", "0", std::to_string(kFrames),
          "8"};
}

// Starts the run and kills it with SIGKILL after aMilliseconds (or lets it end first).
void runAndKill(const std::string& aFolder, int aMilliseconds) {
  const std::vector<std::string> aArguments = runArguments(aFolder);
  std::vector<char*> aArgv;
  for (const std::string& aArgument : aArguments)
    aArgv.push_back(const_cast<char*>(aArgument.c_str()));
  aArgv.push_back(nullptr);
  const pid_t aPid = fork();
  ASSERT_GE(aPid, 0);
  if (aPid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execv(aArgv[0], aArgv.data());
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(aMilliseconds));
  kill(aPid, SIGKILL);
  int aStatus = 0;
  waitpid(aPid, &aStatus, 0);
}

}  // namespace

TEST(Interrupt, KilledRunLeavesOnlyCompleteFlowsAndResumesToTheSameResult) {
  TempDir aReference;
  generate(aReference.path());
  ASSERT_EQ(testutil::runProgram(runArguments(aReference.path())), 0);
  const std::string aResults = "/QuorvikResults/";
  const std::string aTracks = testutil::readFile(aReference.path() + aResults + "Tracks6.dat");
  ASSERT_FALSE(aTracks.empty());
  const size_t aFlowBytes = 12 + 8 * kWidth * kHeight;

  for (const int aDelay : {40, 150, 300, 600}) {
    TempDir aDir;
    generate(aDir.path());
    runAndKill(aDir.path(), aDelay);
    // A slow start (sanitizers, a busy machine) can be killed before the result folder exists;
    // then there is nothing half-written to look at, and the second run below starts afresh.
    const bool aStarted = std::filesystem::is_directory(aDir.path() + aResults);
    for (const auto& aEntry : aStarted ? std::filesystem::directory_iterator(aDir.path() + aResults)
                                       : std::filesystem::directory_iterator()) {
      if (aEntry.path().extension() != ".flo") continue;
      EXPECT_EQ(std::filesystem::file_size(aEntry.path()), aFlowBytes) << aEntry.path();
      EXPECT_EQ(
          testutil::readFile(aEntry.path().string()),
          testutil::readFile(aReference.path() + aResults + aEntry.path().filename().string()))
          << aEntry.path() << " after " << aDelay << " ms";
    }
    ASSERT_EQ(testutil::runProgram(runArguments(aDir.path())), 0) << aDelay;
    // The second run has removed what the killed one left half-written.
    for (const auto& aEntry : std::filesystem::directory_iterator(aDir.path() + aResults))
      EXPECT_EQ(aEntry.path().filename().string().find(".part"), std::string::npos)
          << aEntry.path() << " after " << aDelay << " ms";
    EXPECT_EQ(testutil::readFile(aDir.path() + aResults + "Tracks6.dat"), aTracks) << aDelay;
    for (int a = 0; a < kFrames; a++) {
      const std::string aName = "Segments00" + std::to_string(a) + ".ppm";
      EXPECT_EQ(testutil::readFile(aDir.path() + aResults + aName),
                testutil::readFile(aReference.path() + aResults + aName))
          << aName << " after " << aDelay << " ms";
    }
  }
}

TEST(Interrupt, FileSizeLimitIsReportedWithFailureStatus) {
  TempDir aDir;
  generate(aDir.path());
  // 16 KiB: the frames fit, a flow file of the pair does not.
  std::vector<std::string> aCommand = {"/bin/bash", "-c", "ulimit -f 16; exec \"$0\" \"$@\""};
  const std::vector<std::string> aRun = runArguments(aDir.path());
  aCommand.insert(aCommand.end(), aRun.begin(), aRun.end());
  const int aStatus = testutil::runProgram(aCommand, "", aDir.file("err.txt"));
  EXPECT_EQ(aStatus, 1);
  const std::string aErr = testutil::readFile(aDir.file("err.txt"));
  EXPECT_NE(aErr.find("Cannot write"), std::string::npos) << aErr;
  EXPECT_EQ(std::count(aErr.begin(), aErr.end(), '\n'), 1) << aErr;
  for (const auto& aEntry : std::filesystem::directory_iterator(aDir.path() + "/QuorvikResults")) {
    if (aEntry.path().extension() == ".flo") {
      EXPECT_EQ(std::filesystem::file_size(aEntry.path()), 12u + 8u * kWidth * kHeight);
    }
  }
}
