// The whole program on generated sequences with known motion: from a trajectory cache, and from
// the frames through the tracker, to labelled tracks, segment pictures and the evaluation.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

int generate(const TempDir& aDir, const std::vector<std::string>& aOptions) {
  std::vector<std::string> aCommand = {testutil::programPath("quorvik-generate"), "--out",
                                       aDir.path(), "--name", "synth"};
  aCommand.insert(aCommand.end(), aOptions.begin(), aOptions.end());
  return testutil::runProgram(aCommand);
}

int runQuorvik(const TempDir& aDir, const std::string& aFrames) {
  return testutil::runProgram(
      {testutil::programPath("quorvik"), aDir.file("synth.bmf"), "0", aFrames, "8"}, "",
      aDir.file("err.txt"));
}

std::vector<std::string> statusLines(const TempDir& aDir, const std::string& aName) {
  std::istringstream aIn(testutil::readFile(aDir.file("QuorvikResults/" + aName)));
  std::vector<std::string> aLines;
  for (std::string aLine; std::getline(aIn, aLine);) aLines.push_back(aLine);
  return aLines;
}

double wrongShare(const TempDir& aDir) {
  std::istringstream aIn(testutil::readFile(aDir.file("QuorvikResults/error.txt")));
  double aPositives = -1, aNegatives = -1, aPercentage = -1;
  aIn >> aPositives >> aNegatives >> aPercentage;
  return aPercentage;
}

bool startsWith(const std::string& aText, const std::string& aPrefix) {
  return aText.rfind(aPrefix, 0) == 0;
}

}  // namespace

TEST(Pipeline, SegmentsCachedTrajectoriesOfTwoObjectsWithFewWrongVotes) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "160", "120", "--frames", "10", "--tracks", "0", "10", "8"}),
            0);
  ASSERT_EQ(runQuorvik(aDir, "10"), 0) << testutil::readFile(aDir.file("err.txt"));

  const std::vector<std::string> aLog = statusLines(aDir, "Status10.txt");
  const std::vector<std::string> aExpected = {"clustering   >> number of tracks: ",
                                              "clustering   >> number of valid tracks: ",
                                              "clustering   >> TIME FOR build Graph:    [ ",
                                              "Before N-Cut.",
                                              "After N-Cut.",
                                              "Before segmentation.",
                                              "After segmentation.",
                                              "clustering   >> TIME FOR split Tracks:   [ ",
                                              "Merging..."};
  ASSERT_GE(aLog.size(), aExpected.size() + 2);
  for (size_t i = 0; i < aExpected.size(); i++)
    EXPECT_TRUE(startsWith(aLog[i], aExpected[i])) << aLog[i];
  EXPECT_TRUE(startsWith(aLog[aLog.size() - 2], "clustering   >> TIME FOR mergeClusters:  [ "));
  EXPECT_TRUE(startsWith(aLog.back(), "Computation time: "));

  // A cached run computes no flow and draws no tracking pictures.
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults/ForwardFlow000.flo")));
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults/Tracking000.ppm")));
  for (const char* aName : {"Tracks10.dat", "Segments000.ppm", "Segments009.ppm"})
    EXPECT_TRUE(testutil::fileExists(aDir.file(std::string("QuorvikResults/") + aName))) << aName;

  const double aWrong = wrongShare(aDir);
  EXPECT_GE(aWrong, 0.0);
  EXPECT_LT(aWrong, 15.0);
}

TEST(Pipeline, TracksFramesThenReusesTheFlowCacheWithIdenticalResults) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "96", "72", "--frames", "4"}), 0);
  ASSERT_EQ(runQuorvik(aDir, "4"), 0) << testutil::readFile(aDir.file("err.txt"));
  const std::vector<std::string> aLog = statusLines(aDir, "Status4.txt");
  ASSERT_FALSE(aLog.empty());
  EXPECT_EQ(aLog[0], "Tracks are being computed...");
  for (int t = 0; t < 3; t++)
    EXPECT_EQ(aLog[1 + t], "Compute optical flow. Frame" + std::to_string(t));
  for (const char* aName : {"ForwardFlow002.flo", "BackwardFlow002.ppm", "Tracking003.ppm"})
    EXPECT_TRUE(testutil::fileExists(aDir.file(std::string("QuorvikResults/") + aName))) << aName;
  const std::string aTracks = testutil::readFile(aDir.file("QuorvikResults/Tracks4.dat"));
  const std::string aSegments = testutil::readFile(aDir.file("QuorvikResults/Segments003.ppm"));
  EXPECT_FALSE(aTracks.empty());

  // The second run reads every flow from the cache and comes to the same result.
  ASSERT_EQ(runQuorvik(aDir, "4"), 0);
  const std::vector<std::string> aSecond = statusLines(aDir, "Status4.txt");
  for (const std::string& aLine : aSecond) EXPECT_FALSE(startsWith(aLine, "Compute optical flow"));
  EXPECT_EQ(testutil::readFile(aDir.file("QuorvikResults/Tracks4.dat")), aTracks);
  EXPECT_EQ(testutil::readFile(aDir.file("QuorvikResults/Segments003.ppm")), aSegments);
}
