// Outputs of fixed runs, held against fingerprints of what the code wrote before its
// optimisations: a flow pair from quorvik-flow, a run through the tracker and a run from a
// trajectory cache. A change that is meant to keep results must leave every file as it was;
// a change that is meant to move results updates the fingerprints and says why.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Run.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

// FNV-1a, 64 bits, of a file's bytes.
std::uint64_t fingerprint(const std::string& aPath) {
  std::uint64_t h = 14695981039346656037ULL;
  for (unsigned char c : testutil::readFile(aPath)) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

// One fingerprint over the files, in the given order.
std::uint64_t fingerprint(const TempDir& aDir, const std::vector<std::string>& aNames) {
  std::uint64_t h = 0;
  for (const std::string& aName : aNames) h = h * 31 + fingerprint(aDir.file(aName));
  return h;
}

int generate(const TempDir& aDir, const std::vector<std::string>& aOptions) {
  std::vector<std::string> aCommand = {testutil::programPath("quorvik-generate"), "--out",
                                       aDir.path(), "--name", "synth"};
  aCommand.insert(aCommand.end(), aOptions.begin(), aOptions.end());
  return testutil::runProgram(aCommand);
}

int run(const TempDir& aDir, const std::string& aFrames, const std::string& aStep) {
  std::vector<std::string> aArguments = {"quorvik", aDir.file("synth.bmf"), "0", aFrames, aStep};
  std::vector<char*> aArgv;
  for (std::string& a : aArguments) aArgv.push_back(a.data());
  return runQuorvik(static_cast<int>(aArgv.size()), aArgv.data());
}

std::vector<std::string> numbered(const std::string& aPattern, int aCount) {
  std::vector<std::string> aNames;
  for (int i = 0; i < aCount; i++) {
    char aName[64];
    std::snprintf(aName, sizeof(aName), aPattern.c_str(), i);
    aNames.push_back(aName);
  }
  return aNames;
}

}  // namespace

// 192 x 144 makes the displacement search run its coarse passes (steps 16 and 8).
TEST(OutputIdentity, FlowOfAGeneratedPair) {
  TempDir aDir;
  ASSERT_EQ(
      generate(aDir, {"--size", "192", "144", "--frames", "2", "--objects", "3", "--speed", "-3"}),
      0);
  ASSERT_EQ(testutil::runProgram({testutil::programPath("quorvik-flow"), aDir.file("synth000.ppm"),
                                  aDir.file("synth001.ppm"), aDir.file("out")}),
            0);
  EXPECT_EQ(fingerprint(aDir.file("out/ForwardFlow000.flo")), 0x63b769f6bf925188ULL);
  EXPECT_EQ(fingerprint(aDir.file("out/BackwardFlow000.flo")), 0xb0a20933a4f2c0e6ULL);
}

TEST(OutputIdentity, RunThroughTheTracker) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "160", "120", "--frames", "8", "--speed", "-3"}), 0);
  ASSERT_EQ(run(aDir, "8", "6"), 0);
  std::vector<std::string> aFlows = numbered("QuorvikResults/ForwardFlow%03d.flo", 7);
  const std::vector<std::string> aBack = numbered("QuorvikResults/BackwardFlow%03d.flo", 7);
  aFlows.insert(aFlows.end(), aBack.begin(), aBack.end());
  EXPECT_EQ(fingerprint(aDir, aFlows), 0xde7235cf36d585b3ULL);
  EXPECT_EQ(fingerprint(aDir, numbered("QuorvikResults/Tracking%03d.ppm", 8)),
            0x962ecb524efefe28ULL);
  EXPECT_EQ(fingerprint(aDir.file("QuorvikResults/Tracks8.dat")), 0x1e3b0ec35467dc18ULL);
  EXPECT_EQ(fingerprint(aDir, numbered("QuorvikResults/Segments%03d.ppm", 8)),
            0x03d7bf0ba7dbf498ULL);
  EXPECT_EQ(fingerprint(aDir, {"QuorvikResults/error.txt"}), 0x210fe1c93cc0dc9fULL);
}

// The generated cache's flow variation is 0.08 to 0.12 per step, so short samples lie below a
// tenth of a pixel: these fingerprints were taken after such variations began to enter the
// affinities as they are instead of being raised to 0.1.
TEST(OutputIdentity, RunFromATrajectoryCache) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "160", "120", "--frames", "10", "--objects", "3", "--tracks",
                            "0", "10", "6"}),
            0);
  ASSERT_EQ(run(aDir, "10", "6"), 0);
  EXPECT_EQ(fingerprint(aDir.file("QuorvikResults/Tracks10.dat")), 0xae54803264d056faULL);
  EXPECT_EQ(fingerprint(aDir, numbered("QuorvikResults/Segments%03d.ppm", 10)),
            0xc7e30d274f9fa6d3ULL);
}

// The graph's edge weighing and the flows computed ahead of the tracker use as many threads as
// OpenMP is given; every output stays the same (the status log but for its times).
TEST(OutputIdentity, SameOutputsForOneTwoAndFourThreads) {
  std::vector<std::unique_ptr<TempDir>> aDirs;
  for (const char* aThreads : {"1", "2", "4"}) {
    aDirs.push_back(std::make_unique<TempDir>());
    const TempDir& aDir = *aDirs.back();
    ASSERT_EQ(generate(aDir, {"--size", "96", "72", "--frames", "5", "--speed", "-3"}), 0);
    ASSERT_EQ(testutil::runProgram({"/usr/bin/env", std::string("OMP_NUM_THREADS=") + aThreads,
                                    testutil::programPath("quorvik"), aDir.file("synth.bmf"), "0",
                                    "5", "8"}),
              0)
        << aThreads;
  }
  const std::string aResults = aDirs[0]->file("QuorvikResults");
  int aCompared = 0;
  for (const auto& aEntry : std::filesystem::directory_iterator(aResults)) {
    const std::string aName = aEntry.path().filename().string();
    if (aName == "Run.lock") continue;
    for (size_t d = 1; d < aDirs.size(); d++) {
      const std::string aOther = aDirs[d]->file("QuorvikResults/" + aName);
      if (aName.rfind("Status", 0) == 0)
        EXPECT_EQ(testutil::withoutTimes(testutil::readFile(aOther)),
                  testutil::withoutTimes(testutil::readFile(aEntry.path().string())))
            << aName;
      else
        EXPECT_EQ(testutil::readFile(aOther), testutil::readFile(aEntry.path().string()))
            << aName << " with " << d;
    }
    aCompared++;
  }
  EXPECT_GT(aCompared, 40);
}
