// Interrupted and starved runs: a run killed while it tracks leaves only complete flow files
// and a second run over the same folder comes to the uninterrupted result; a file-size limit
// (a full disk) is reported as a failure, never a silent success, and cuts no file.
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

// A full disk, as a file-size limit: the run and the generator stop with one line naming the
// file that did not fit and the reason, and every file a run wrote before is left whole and as
// it was (the run rewrites them all; a cut one would differ).
TEST(Interrupt, FullDiskLeavesEveryEarlierResultWhole) {
  TempDir aDir;
  const std::string aGenerate = testutil::programPath("quorvik-generate");
  ASSERT_EQ(testutil::runProgram({aGenerate, "--out", aDir.path(), "--name", "s", "--size", "64",
                                  "48", "--frames", "4", "--tracks", "0", "4", "4"}),
            0);
  const std::vector<std::string> aRun = {testutil::programPath("quorvik"), aDir.file("s.bmf"), "0",
                                         "4", "4"};
  ASSERT_EQ(testutil::runProgram(aRun), 0);
  const std::string aResults = aDir.file("QuorvikResults");
  auto snapshot = [&] {
    std::vector<std::pair<std::string, std::string>> aFiles;
    for (const auto& aEntry : std::filesystem::directory_iterator(aResults)) {
      const std::string aName = aEntry.path().filename().string();
      // The status log and the lock describe the latest run.
      if (aName.rfind("Status", 0) != 0 && aName != "Run.lock")
        aFiles.emplace_back(aName, testutil::readFile(aEntry.path()));
    }
    std::sort(aFiles.begin(), aFiles.end());
    return aFiles;
  };
  const auto aBefore = snapshot();
  ASSERT_GT(aBefore.size(), 20u);
  // Tracks4.dat (7,807 bytes) does not fit 4,000 bytes; with 8,500 it does, the PNGs do, and the
  // first annotated picture (9,231 bytes) does not.
  struct CCase {
    long long mLimit;
    std::string mKind, mFile;
  };
  for (const CCase& aCase :
       {CCase{4000, "result tracks", "Tracks4.dat"}, CCase{8500, "picture", "Truth000.ppm"}}) {
    testutil::CLimits aLimits;
    aLimits.mFileSize = aCase.mLimit;
    EXPECT_EQ(testutil::runProgram(aRun, aLimits, "", aDir.file("err.txt")), 1) << aCase.mFile;
    EXPECT_EQ(
        testutil::readFile(aDir.file("err.txt")),
        "Cannot write " + aCase.mKind + " " + aResults + "/" + aCase.mFile + ": File too large\n");
    EXPECT_EQ(snapshot(), aBefore) << aCase.mFile;
  }

  // The generator: the first frame does not fit, and no sequence description lists it.
  TempDir aOther;
  testutil::CLimits aLimits;
  aLimits.mFileSize = 8000;
  EXPECT_EQ(testutil::runProgram({aGenerate, "--out", aOther.path(), "--name", "s", "--size", "64",
                                  "48", "--frames", "4"},
                                 aLimits, "", aOther.file("err.txt")),
            1);
  EXPECT_EQ(testutil::readFile(aOther.file("err.txt")),
            "Cannot write frame " + aOther.path() + "/s000.ppm: File too large\n");
  EXPECT_FALSE(testutil::fileExists(aOther.file("s000.ppm")));
  EXPECT_FALSE(testutil::fileExists(aOther.file("s.bmf")));
}
