#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "evaluation/ComputeError.h"
#include "flow/FlowPictures.h"
#include "foundation/CTensor.h"
#include "settings/RunSettings.h"
#include "tests/TestUtil.h"
#include "tracking/CTrack.h"

namespace {

constexpr int kSize = 40;

// A grey kSize x kSize P6 picture.
void writeGreyPicture(const std::string& aPath) {
  std::string aData = "P6\n" + std::to_string(kSize) + " " + std::to_string(kSize) + "\n255\n";
  aData.append(static_cast<size_t>(kSize) * kSize * 3, static_cast<char>(128));
  testutil::writeFile(aPath, aData);
}

// A track standing still at (x, y) from frame aStart for aSteps steps.
CTrack still(int aLabel, int x, int y, int aStart, int aSteps) {
  CTrack aTrack;
  aTrack.mLabel = aLabel;
  aTrack.mox = x;
  aTrack.moy = y;
  aTrack.mSetupTime = aStart;
  for (int k = 0; k < aSteps; k++) {
    aTrack.mx.push_back(static_cast<float>(x));
    aTrack.my.push_back(static_cast<float>(y));
    aTrack.mFlowVar.push_back(static_cast<float>(k + 1));
  }
  return aTrack;
}

class Evaluation : public ::testing::Test {
 protected:
  void SetUp() override {
    mSettings.mInputDir = mDir.path() + "/";
    mSettings.mFilename = "seq";
    mResultDir = mSettings.mInputDir + "res/";
    mSettings.mResultDir = mResultDir;
    mkdir(mResultDir.c_str(), 0755);
    mSettings.mStartFrame = 0;
    mSettings.mSequenceLength = 2;
    mSettings.mXSize = mSettings.mYSize = kSize;
    mSettings.mInput.setSize(4);
    for (int i = 0; i < 4; i++) {
      mSettings.mInput(i) = mSettings.mInputDir + "frame" + std::to_string(i) + ".ppm";
      writeGreyPicture(mSettings.mInput(i));
    }
  }
  void writeTruth(const std::string& aText) {
    testutil::writeFile(mSettings.mInputDir + "seq_truth.txt", aText);
  }
  std::string errorFile() { return testutil::readFile(mResultDir + "error.txt"); }
  bool hasError() { return testutil::fileExists(mResultDir + "error.txt"); }
  // Runs the evaluation and returns what it wrote to standard error.
  std::string run(std::vector<CTrack>& aTracks) {
    testing::internal::CaptureStderr();
    computeError(mSettings, aTracks, mRegionNo);
    return testing::internal::GetCapturedStderr();
  }
  // Channel c of pixel (x, y) of a written Truth picture.
  int channelAt(int t, int x, int y, int c) {
    CTensor<float> aPicture;
    char aName[32];
    std::snprintf(aName, sizeof(aName), "Truth%03d.ppm", t);
    EXPECT_TRUE(aPicture.readFromPPM((mResultDir + aName).c_str()));
    return static_cast<int>(aPicture(x, y, c));
  }
  // The blue of the colour ramp: 255 in row 0 (the first object), 111 in row 400 (the second),
  // the frames' grey 128 where nothing is drawn.
  int blueAt(int t, int x, int y) { return channelAt(t, x, y, 2); }
  testutil::TempDir mDir{"quorvik eval"};
  CRunSettings mSettings;
  std::string mResultDir;
  int mRegionNo = 4;
};

}  // namespace

TEST_F(Evaluation, WithoutAnnotationDoesNothing) {
  std::vector<CTrack> aTracks{still(0, 5, 5, 0, 3)};
  EXPECT_EQ(run(aTracks), "");
  EXPECT_FALSE(hasError());
  EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth000.ppm"));
}

TEST_F(Evaluation, CountsVotesOfMatchedClusters) {
  // Object 1 (two points near cluster 1), object 2 (one point near cluster 3).
  writeTruth("3 2 0\n5 5 1  6 6 1  30 30 2\n5 5 1  6 6 1  30 30 2\n");
  std::vector<CTrack> aTracks{still(1, 5, 5, 0, 3), still(3, 30, 30, 0, 3)};
  EXPECT_EQ(run(aTracks), "");
  EXPECT_EQ(errorFile(), "6 0 0\n");
}

TEST_F(Evaluation, LargerObjectTakesContestedClusterFirst) {
  // Both objects vote for cluster 2 only: the larger gets it, the smaller's votes are wrong.
  writeTruth("3 2 0\n5 5 1  30 30 2  31 31 2\n5 5 1  30 30 2  31 31 2\n");
  std::vector<CTrack> aTracks{still(2, 20, 20, 0, 3)};
  run(aTracks);
  EXPECT_EQ(errorFile(), "4 2 33.3333\n");
}

TEST_F(Evaluation, SmallerObjectFallsBackToItsNextBestCluster) {
  // Object 2 (2 points) takes cluster 2; object 1 votes 2 x cluster 2, 2 x cluster 1 over two
  // frames and is matched to cluster 1.
  writeTruth("3 2 0\n5 5 1  30 30 2  31 31 2\n30 29 1  30 30 2  31 31 2\n");
  std::vector<CTrack> aTracks{still(1, 5, 5, 0, 3), still(2, 30, 30, 0, 3)};
  run(aTracks);
  EXPECT_EQ(errorFile(), "5 1 16.6667\n");
}

TEST_F(Evaluation, SizesExampleOrdersObjectsLargestFirst) {
  // Labels 2, 2, 1 in both rows: object 0 is label 2 (ramp row 0), object 1 label 1 (row 400).
  writeTruth("3 2 0\n5 5 2  10 10 2  30 30 1\n5 5 2  10 10 2  30 30 1\n");
  std::vector<CTrack> aTracks{still(0, 5, 5, 0, 3), still(1, 30, 30, 0, 3)};
  run(aTracks);
  EXPECT_EQ(blueAt(0, 5, 5), 255);
  EXPECT_EQ(blueAt(0, 10, 10), 255);
  EXPECT_EQ(blueAt(1, 30, 30), 111);
  EXPECT_EQ(blueAt(1, 20, 20), 128);
  EXPECT_EQ(errorFile(), "6 0 0\n");
}

TEST_F(Evaluation, LaterLabelsOnlyChangeObjectSizes) {
  // Point 2 has label 1 in row 0 and label 2 in row 1: it stays with object 1 (points 0 and 2,
  // all four votes for cluster 1); were it counted with object 2, that object would split its
  // votes between clusters 1 and 2.
  writeTruth("3 2 0\n5 5 1  30 30 2  6 6 1\n5 5 1  30 30 2  6 6 2\n");
  std::vector<CTrack> aTracks{still(1, 5, 5, 0, 3), still(2, 30, 30, 0, 3)};
  run(aTracks);
  EXPECT_EQ(errorFile(), "6 0 0\n");
}

TEST_F(Evaluation, FrameWithoutLabelledTrajectoryVotesForClusterZero) {
  // The track exists only in frame 0; in frame 1 the point votes for cluster 0.
  writeTruth("1 2 0\n5 5 1\n5 5 1\n");
  std::vector<CTrack> aTracks{still(3, 5, 5, 0, 0)};
  run(aTracks);
  EXPECT_EQ(errorFile(), "1 1 50\n");
}

TEST_F(Evaluation, WithoutPointsThePercentageIsNotANumber) {
  writeTruth("0 2 0\n");
  std::vector<CTrack> aTracks;
  run(aTracks);
  EXPECT_NE(errorFile().find("0 0 "), std::string::npos);
  EXPECT_NE(errorFile().find("nan"), std::string::npos);
}

TEST_F(Evaluation, WritesOnlyTheEvaluatedFrames) {
  writeTruth("1 2 2\n5 5 1\n5 5 1\n");
  std::vector<CTrack> aTracks{still(0, 5, 5, 2, 1)};
  EXPECT_EQ(run(aTracks), "");
  EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth000.ppm"));
  EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth001.ppm"));
  EXPECT_TRUE(testutil::fileExists(mResultDir + "Truth002.ppm"));
  EXPECT_TRUE(testutil::fileExists(mResultDir + "Truth003.ppm"));
  EXPECT_EQ(errorFile(), "2 0 0\n");
}

TEST_F(Evaluation, PointOutsidePictureVotesWithoutPainting) {
  writeTruth("1 2 0\n-5 -5 1\n-5 -5 1\n");
  std::vector<CTrack> aTracks{still(0, 1, 1, 0, 3)};
  run(aTracks);
  EXPECT_EQ(errorFile(), "2 0 0\n");
  EXPECT_EQ(blueAt(0, 0, 0), 128);
}

// A run of frames 1 and 2 against an annotation of frames 0 to 3: the object moves 8 pixels a
// frame, so votes, rows and pictures must all refer to frames 1 and 2. Trajectory A follows
// the object (relative frames 0 and 1), C stands beside the two background points.
TEST_F(Evaluation, RunStartingLaterIsScoredOnItsOwnFrames) {
  mSettings.mStartFrame = 1;
  std::string aText = "3 4 0\n";
  for (int a = 0; a < 4; a++) aText += std::to_string(5 + 8 * a) + " 20 1  3 20 2  3 24 2\n";
  writeTruth(aText);
  CTrack A;
  A.mLabel = 0;
  A.mox = 13;
  A.moy = 20;
  A.mx = {21.0f};
  A.my = {20.0f};
  A.mFlowVar = {1.0f};
  std::vector<CTrack> aTracks{A, still(1, 3, 20, 0, 1)};
  EXPECT_EQ(run(aTracks), "");
  EXPECT_EQ(errorFile(), "6 0 0\n");
  EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth000.ppm"));
  EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth003.ppm"));
  // Object 1 (the moving one, ramp row 400) drawn where it is in frame 2.
  EXPECT_EQ(blueAt(2, 21, 20), 111);
  EXPECT_EQ(blueAt(1, 13, 20), 111);
}

TEST_F(Evaluation, WrongVotesAreMarkedWithLargerSquare) {
  writeTruth("3 2 0\n5 5 1  30 30 2  31 31 2\n5 5 1  30 30 2  31 31 2\n");
  std::vector<CTrack> aTracks{still(2, 20, 20, 0, 3)};
  run(aTracks);
  // Object 0 (label 2) is right, object 1 (label 1, ramp row 400) wrong: 7 x 7 mark.
  EXPECT_EQ(blueAt(0, 8, 8), 111);
  EXPECT_EQ(blueAt(0, 9, 9), 128);
  EXPECT_EQ(blueAt(0, 33, 33), 128);
}

TEST_F(Evaluation, ClusterNumbersAbove127AreCounted) {
  mRegionNo = 300;
  writeTruth("2 2 0\n5 5 1  30 30 2\n5 5 1  30 30 2\n");
  std::vector<CTrack> aTracks{still(200, 5, 5, 0, 3), still(255, 30, 30, 0, 3)};
  run(aTracks);
  EXPECT_EQ(errorFile(), "4 0 0\n");
}

TEST_F(Evaluation, RefusesUnusableAnnotations) {
  const std::vector<std::string> aBad = {
      "3 2",                                // truncated header
      "1 2 0\n5 5 1\n5 x 1\n",              // not a number
      "1 2 0\n5 5 1\n",                     // fewer entries than promised
      "1 2 0\n5 5 0\n5 5 0\n",              // label below 1
      "1 1 0\n5 5 1\n",                     // fewer rows than evaluated frames
      "1 2 0\n5 5 1000001\n5 5 1000001\n",  // an implausible object number
      "-1 2 0\n",                           // negative count
      "1 2 3\n5 5 1\n5 5 1\n",              // frame 4 is not in the sequence list
  };
  for (const std::string& aText : aBad) {
    writeTruth(aText);
    std::vector<CTrack> aTracks{still(0, 5, 5, 0, 3)};
    const std::string aMessage = run(aTracks);
    EXPECT_NE(aMessage.find("computeError: "), std::string::npos) << aText;
    EXPECT_EQ(aMessage.find('\n'), aMessage.size() - 1) << aText << aMessage;
    EXPECT_FALSE(hasError()) << aText;
    EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth000.ppm")) << aText;
  }
}

// Forty objects, label L with L points at (L - 1, 20), each beside a track of cluster L: all
// votes are right. Objects 38 and 39 (labels 2 and 1) lie beyond the ramp's 38 rows of 400 and
// are drawn with its last row, magenta (255, 0, 255).
TEST_F(Evaluation, FortyObjectsAreScoredAndThoseBeyondTheRampTakeItsLastRow) {
  int aPoints = 0;
  std::string aRow;
  for (int aLabel = 1; aLabel <= 40; aLabel++)
    for (int p = 0; p < aLabel; p++, aPoints++)
      aRow += std::to_string(aLabel - 1) + " 20 " + std::to_string(aLabel) + " ";
  writeTruth(std::to_string(aPoints) + " 2 0\n" + aRow + "\n" + aRow + "\n");
  std::vector<CTrack> aTracks;
  for (int aLabel = 1; aLabel <= 40; aLabel++)
    aTracks.push_back(still(aLabel, aLabel - 1, 20, 0, 3));
  EXPECT_EQ(run(aTracks), "");
  EXPECT_EQ(errorFile(), std::to_string(2 * aPoints) + " 0 0\n");
  EXPECT_EQ(channelAt(0, 0, 20, 0), 255);
  EXPECT_EQ(channelAt(0, 0, 20, 1), 0);
  EXPECT_EQ(channelAt(0, 0, 20, 2), 255);
}

TEST_F(Evaluation, RefusesUnreadableFrame) {
  writeTruth("1 2 0\n5 5 1\n5 5 1\n");
  testutil::writeFile(mSettings.mInput(1), "P6\n40 40\n255\nshort");
  std::vector<CTrack> aTracks{still(0, 5, 5, 0, 3)};
  const std::string aMessage = run(aTracks);
  EXPECT_NE(aMessage.find("computeError: "), std::string::npos);
  EXPECT_FALSE(hasError());
  EXPECT_FALSE(testutil::fileExists(mResultDir + "Truth000.ppm"));
}
