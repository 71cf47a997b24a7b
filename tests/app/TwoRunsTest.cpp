// Runs of the library in one process are independent: two different sequences run side by side
// on two threads, and the first once more afterwards, write every result file byte for byte as
// the program does in processes of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/Run.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

// A generated sequence and the command line of its run.
struct CSequence {
  std::vector<std::string> mGenerate;
  std::vector<std::string> mRun;  // FIRST COUNT STEP
};

// Both large enough for more than 200 trajectories in the graph, so that the eigen solver's
// starting vector shapes its results.
const CSequence kFirst{{"--size", "160", "120", "--frames", "5", "--speed", "-3"}, {"0", "5", "5"}};
const CSequence kSecond{
    {"--size", "160", "120", "--frames", "5", "--objects", "3", "--seed", "3", "--speed", "-2"},
    {"1", "4", "5"}};

void generate(const TempDir& aDir, const CSequence& aSequence) {
  std::vector<std::string> aCommand = {testutil::programPath("quorvik-generate"), "--out",
                                       aDir.path(), "--name", "synth"};
  aCommand.insert(aCommand.end(), aSequence.mGenerate.begin(), aSequence.mGenerate.end());
  ASSERT_EQ(testutil::runProgram(aCommand), 0);
}

std::vector<std::string> commandLine(const TempDir& aDir, const CSequence& aSequence) {
  std::vector<std::string> aArguments = {"quorvik", aDir.file("synth.bmf")};
  aArguments.insert(aArguments.end(), aSequence.mRun.begin(), aSequence.mRun.end());
  return aArguments;
}

// The settings the program makes of the sequence's command line.
CRunSettings settingsOf(const TempDir& aDir, const CSequence& aSequence) {
  std::vector<std::string> aArguments = commandLine(aDir, aSequence);
  std::vector<char*> aArgv;
  for (std::string& a : aArguments) aArgv.push_back(a.data());
  CRunSettings aSettings;
  EXPECT_EQ(readCommandLine(static_cast<int>(aArgv.size()), aArgv.data(), aSettings), 0);
  return aSettings;
}

// Every file of aDir's result folder equals the reference's (the status log but for its times).
void expectSameResults(const TempDir& aReference, const TempDir& aDir, const char* aWhat) {
  const std::string aExpected = aReference.file("QuorvikResults");
  std::set<std::string> aNames, aOther;
  for (const auto& aEntry : std::filesystem::directory_iterator(aExpected))
    aNames.insert(aEntry.path().filename().string());
  for (const auto& aEntry : std::filesystem::directory_iterator(aDir.file("QuorvikResults")))
    aOther.insert(aEntry.path().filename().string());
  EXPECT_EQ(aOther, aNames) << aWhat;
  EXPECT_GT(aNames.size(), 30u);
  for (const std::string& aName : aNames) {
    if (aName == "Run.lock") continue;
    const std::string aMine = testutil::readFile(aDir.file("QuorvikResults/" + aName));
    const std::string aTheirs = testutil::readFile(aExpected + "/" + aName);
    if (aName.rfind("Status", 0) == 0)
      EXPECT_EQ(testutil::withoutTimes(aMine), testutil::withoutTimes(aTheirs))
          << aWhat << " " << aName;
    else
      EXPECT_TRUE(aMine == aTheirs) << aWhat << " " << aName;
  }
}

}  // namespace

TEST(TwoRuns, SideBySideAndAgainInOneProcessAsInProcessesOfTheirOwn) {
  // The references: the program, one process per run.
  TempDir aFirstAlone, aSecondAlone;
  generate(aFirstAlone, kFirst);
  generate(aSecondAlone, kSecond);
  for (const auto& [aDir, aSequence] :
       {std::make_pair(&aFirstAlone, &kFirst), std::make_pair(&aSecondAlone, &kSecond)}) {
    std::vector<std::string> aCommand = commandLine(*aDir, *aSequence);
    aCommand[0] = testutil::programPath("quorvik");
    ASSERT_EQ(testutil::runProgram(aCommand), 0);
  }

  // Both at once on two threads of this process, then the first once more.
  TempDir aFirst, aSecond, aFirstAgain;
  generate(aFirst, kFirst);
  generate(aSecond, kSecond);
  generate(aFirstAgain, kFirst);
  int aStatus[2] = {-1, -1};
  std::thread aThread([&] { aStatus[0] = runQuorvik(settingsOf(aFirst, kFirst)); });
  aStatus[1] = runQuorvik(settingsOf(aSecond, kSecond));
  aThread.join();
  ASSERT_EQ(aStatus[0], 0);
  ASSERT_EQ(aStatus[1], 0);
  ASSERT_EQ(runQuorvik(settingsOf(aFirstAgain, kFirst)), 0);

  expectSameResults(aFirstAlone, aFirst, "first sequence, side by side");
  expectSameResults(aSecondAlone, aSecond, "second sequence, side by side");
  expectSameResults(aFirstAlone, aFirstAgain, "first sequence, again");
}
