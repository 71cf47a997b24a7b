#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "evaluation/ComputeError.h"
#include "foundation/PNGFile.h"
#include "settings/RunSettings.h"
#include "tests/IdealCache.h"
#include "tests/TestUtil.h"

namespace {

std::string generate(const testutil::TempDir& aDir, std::vector<std::string> aArguments) {
  aArguments.insert(aArguments.begin(), {testutil::programPath("quorvik-generate"), "--out",
                                         aDir.path(), "--name", "seq"});
  EXPECT_EQ(testutil::runProgram(aArguments), 0);
  return aDir.path() + "/";
}

}  // namespace

TEST(Generator, WritesFramesSequenceAndAnnotationWithKnownMotion) {
  testutil::TempDir aDir;
  const std::string aPath =
      generate(aDir, {"--size", "96", "64", "--frames", "5", "--objects", "3", "--seed", "4"});
  std::istringstream aBmf(testutil::readFile(aPath + "seq.bmf"));
  int aCount = 0, aViews = 0;
  aBmf >> aCount >> aViews;
  ASSERT_EQ(aCount, 5);
  for (int f = 0; f < aCount; f++) {
    std::string aName;
    aBmf >> aName;
    const std::string aFrame = testutil::readFile(aPath + aName);
    const std::string aHeader = "P6\n96 64\n255\n";
    ASSERT_EQ(aFrame.substr(0, aHeader.size()), aHeader) << aName;
    EXPECT_EQ(aFrame.size(), aHeader.size() + 96 * 64 * 3);
  }
  std::istringstream aTruth(testutil::readFile(aPath + "seq_truth.txt"));
  int aPoints = 0, aRows = 0, aShift = -1;
  aTruth >> aPoints >> aRows >> aShift;
  ASSERT_GT(aPoints, 20);
  EXPECT_EQ(aRows, 5);
  EXPECT_EQ(aShift, 0);
  std::vector<int> x0(aPoints), y0(aPoints), aLabel(aPoints);
  std::map<int, double> aMotion;  // label -> summed displacement from first to last row
  std::map<int, int> aMembers;
  for (int r = 0; r < aRows; r++)
    for (int p = 0; p < aPoints; p++) {
      int x, y, l;
      ASSERT_TRUE(aTruth >> x >> y >> l);
      ASSERT_GE(x, 0);
      ASSERT_LT(x, 96);
      ASSERT_GE(y, 0);
      ASSERT_LT(y, 64);
      if (r == 0) {
        x0[p] = x;
        y0[p] = y;
        aLabel[p] = l;
        aMembers[l]++;
      } else {
        EXPECT_EQ(l, aLabel[p]);
      }
      if (r == aRows - 1) aMotion[l] += std::abs(x - x0[p]) + std::abs(y - y0[p]);
    }
  // Background (label 1) and three objects, each with reference points; only objects move.
  ASSERT_EQ(aMembers.size(), 4u);
  EXPECT_EQ(aMotion[1], 0.0);
  for (int l = 2; l <= 4; l++) EXPECT_GT(aMotion[l] / aMembers[l], 1.5) << l;
}

TEST(Generator, MasksLabelEveryReferencePointWithItsLayer) {
  testutil::TempDir aDir;
  const std::string aPath =
      generate(aDir, {"--size", "96", "64", "--frames", "4", "--objects", "3", "--speed", "3"});
  std::istringstream aTruth(testutil::readFile(aPath + "seq_truth.txt"));
  int aPoints = 0, aRows = 0, aShift = -1;
  aTruth >> aPoints >> aRows >> aShift;
  ASSERT_EQ(aRows, 4);
  std::map<int, int> aSeen;  // mask label -> reference points on it
  for (int f = 0; f < aRows; f++) {
    char aName[32];
    std::snprintf(aName, sizeof(aName), "masks/%05d.png", f);
    NPNG::CImage aMask;
    ASSERT_TRUE(NPNG::readPNG(aPath + aName, aMask)) << aName;
    ASSERT_EQ(aMask.mType, NPNG::CType::kPalette);
    ASSERT_EQ(aMask.mPixels.xSize(), 96);
    ASSERT_EQ(aMask.mPixels.ySize(), 64);
    for (int p = 0; p < aPoints; p++) {
      int x = 0, y = 0, aLabel = 0;
      ASSERT_TRUE(aTruth >> x >> y >> aLabel);
      // Annotation labels count from 1 with the background; mask labels from 0.
      EXPECT_EQ(aMask.mPixels(x, y, 0), aLabel - 1) << aName << " point " << p;
      aSeen[aLabel - 1]++;
    }
  }
  EXPECT_EQ(aSeen.size(), 4u);  // the background and three objects
}

// Mean displacement per label (x, y) of the reference points from the first to the last row.
std::map<int, std::pair<double, double>> meanDisplacements(const std::string& aTruthFile) {
  std::istringstream aTruth(testutil::readFile(aTruthFile));
  int aPoints = 0, aRows = 0, aShift = -1;
  aTruth >> aPoints >> aRows >> aShift;
  std::vector<int> x0(aPoints), y0(aPoints);
  std::map<int, std::pair<double, double>> aSums;
  std::map<int, int> aMembers;
  for (int r = 0; r < aRows; r++)
    for (int p = 0; p < aPoints; p++) {
      int x = 0, y = 0, l = 0;
      aTruth >> x >> y >> l;
      if (r == 0) {
        x0[p] = x;
        y0[p] = y;
        aMembers[l]++;
      }
      if (r == aRows - 1) {
        aSums[l].first += x - x0[p];
        aSums[l].second += y - y0[p];
      }
    }
  for (auto& [l, aSum] : aSums) {
    aSum.first /= aMembers[l];
    aSum.second /= aMembers[l];
  }
  return aSums;
}

TEST(Generator, SpeedFactorScalesAndReversesTheObjectsMotion) {
  testutil::TempDir aNormal, aFast;
  const std::string aSlow = generate(aNormal, {"--frames", "6"});
  const std::string aReversed = generate(aFast, {"--frames", "6", "--speed", "-2"});
  const auto aOne = meanDisplacements(aSlow + "seq_truth.txt");
  const auto aTwo = meanDisplacements(aReversed + "seq_truth.txt");
  ASSERT_EQ(aOne.size(), 3u);
  ASSERT_EQ(aTwo.size(), 3u);
  EXPECT_EQ(aTwo.at(1).first, 0.0);
  EXPECT_EQ(aTwo.at(1).second, 0.0);
  // The square (label 2) translates: its points move exactly twice as far, backwards, up to
  // the rounding of the annotation to whole pixels.
  EXPECT_NEAR(aTwo.at(2).first, -2 * aOne.at(2).first, 1.0);
  EXPECT_NEAR(aTwo.at(2).second, -2 * aOne.at(2).second, 1.0);
  EXPECT_GT(std::abs(aOne.at(2).first), 3.0);
  // The disc turns and grows as well, so only its direction is checked.
  EXPECT_LT(aTwo.at(3).first * aOne.at(3).first, 0.0);
}

TEST(Generator, WritesIdealTrajectoryCacheUnderTheRunsName) {
  testutil::TempDir aDir;
  const std::string aPath = generate(aDir, {"--frames", "6", "--tracks", "1", "4", "8"});
  const std::string aCache = aPath + "QuorvikResults/seqTracks_001_004_08.txt";
  ASSERT_TRUE(testutil::fileExists(aCache));
  std::istringstream aIn(testutil::readFile(aCache));
  int aCount = 0;
  aIn >> aCount;
  ASSERT_GT(aCount, 200);
  int aLong = 0;
  for (int i = 0; i < aCount; i++) {
    int ox, oy, n;
    ASSERT_TRUE(aIn >> ox >> oy >> n) << i;
    float aLastVar = 0;
    for (int k = 0; k < n; k++) {
      float x, y, v;
      ASSERT_TRUE(aIn >> x >> y >> v);
      EXPECT_TRUE(x >= 0 && x < 160 && y >= 0 && y < 120);
      EXPECT_GT(v, aLastVar);  // running sum of positive variations
      aLastVar = v;
    }
    int aLabel, aStopped, aScale, aSetup, aProjection, aNeighbours;
    ASSERT_TRUE(aIn >> aLabel >> aStopped >> aScale >> aSetup >> aProjection >> aNeighbours);
    EXPECT_EQ(aLabel, -1);
    EXPECT_LE(aSetup + n, 3);
    EXPECT_EQ(aProjection, 0);
    ASSERT_EQ(aNeighbours, 12);
    for (int j = 0; j < 12; j++) {
      int c;
      float dx, dy;
      ASSERT_TRUE(aIn >> c >> dx >> dy);
      EXPECT_EQ(c, -1);
    }
    if (n == 3) aLong++;
  }
  EXPECT_GT(aLong, aCount / 2);
  std::string aRest;
  EXPECT_FALSE(aIn >> aRest);
}

TEST(Generator, PassingObjectsEnterOneAfterAnotherCrossAndLeave) {
  // Three objects over 150 frames at 64 x 48: object k (from 1) enters at frame 50 (k - 1) and
  // shows within a few frames, is in the picture for one unbroken stretch and, apart from the
  // last, has left again before the end; rightward objects keep to the upper half, leftward
  // ones to the lower.
  testutil::TempDir aDir;
  const std::string aPath =
      generate(aDir, {"--size", "64", "48", "--frames", "150", "--passing", "3", "--speed", "3"});
  std::map<int, std::vector<int>> aFrames;  // object -> frames where it is seen
  std::map<int, double> aRow;               // object -> mean row of its pixels
  std::map<int, long> aPixels;
  for (int f = 0; f < 150; f++) {
    char aName[32];
    std::snprintf(aName, sizeof(aName), "masks/%05d.png", f);
    NPNG::CImage aMask;
    ASSERT_TRUE(NPNG::readPNG(aPath + aName, aMask)) << aName;
    ASSERT_EQ(aMask.mPalette.size(), 4u);
    std::map<int, int> aSeen;
    for (int y = 0; y < 48; y++)
      for (int x = 0; x < 64; x++) {
        const int k = static_cast<int>(aMask.mPixels(x, y, 0));
        if (k == 0) continue;
        aSeen[k]++;
        aRow[k] += y;
        aPixels[k]++;
      }
    for (const auto& aEntry : aSeen) aFrames[aEntry.first].push_back(f);
  }
  ASSERT_EQ(aFrames.size(), 3u);
  for (int k = 1; k <= 3; k++) {
    const std::vector<int>& aSeen = aFrames[k];
    EXPECT_GE(aSeen.front(), 50 * (k - 1)) << "object " << k;
    EXPECT_LE(aSeen.front(), 50 * (k - 1) + 6) << "object " << k;
    EXPECT_EQ(aSeen.back() - aSeen.front(), static_cast<int>(aSeen.size() - 1))
        << "object " << k << " is not seen in one stretch";
    if (k < 3) {
      EXPECT_LT(aSeen.back(), 140) << "object " << k << " never leaves";
    }
    EXPECT_EQ(aRow[k] / aPixels[k] < 24, k % 2 == 1) << "object " << k;
  }
}

TEST(Generator, RefusesBadOptions) {
  testutil::TempDir aDir;
  const std::string aProgram = testutil::programPath("quorvik-generate");
  EXPECT_NE(testutil::runProgram({aProgram, "--out", aDir.path(), "--frames", "1"}), 0);
  EXPECT_NE(testutil::runProgram({aProgram, "--out", aDir.path(), "--objects", "5"}), 0);
  EXPECT_NE(testutil::runProgram({aProgram, "--out", aDir.path(), "--name", "a.b"}), 0);
  EXPECT_NE(testutil::runProgram({aProgram, "--out", aDir.path(), "--tracks", "3", "9", "8"}), 0);
  EXPECT_NE(testutil::runProgram({aProgram, "--size"}), 0);
  EXPECT_NE(testutil::runProgram({aProgram, "--out", aDir.path(), "--speed", "0"}), 0);
  EXPECT_NE(testutil::runProgram({aProgram, "--out", aDir.path(), "--passing", "0"}), 0);
  EXPECT_FALSE(testutil::fileExists(aDir.file("synth.bmf")));
}

TEST(Generator, PerfectSegmentationOfItsSequenceHasAlmostNoWrongVotes) {
  // The ideal labels (true layers) of the generated cache, evaluated against the generated
  // annotation: reference points vote for their own layer, apart from the odd point whose
  // nearest trajectory lies across an object outline (well below 1 %).
  testutil::TempDir aDir;
  const std::string aPath = generate(
      aDir, {"--objects", "3", "--frames", "8", "--tracks", "0", "8", "8", "--ideal-labels"});
  std::vector<CTrack> aTracks;
  ASSERT_TRUE(testutil::readIdealCache(aPath + "QuorvikResults/seqTracks_000_008_08.txt", aTracks));
  CRunSettings aSettings;
  aSettings.mInputDir = aPath;
  aSettings.mFilename = "seq";
  aSettings.mResultDir = aPath + "QuorvikResults/";
  aSettings.mSequenceLength = 8;
  aSettings.mXSize = 160;
  aSettings.mYSize = 120;
  aSettings.mInput.setSize(8);
  for (int f = 0; f < 8; f++) aSettings.mInput(f) = aPath + "seq00" + std::to_string(f) + ".ppm";
  testing::internal::CaptureStderr();
  computeError(aSettings, aTracks, 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::istringstream aError(testutil::readFile(aSettings.mResultDir + "error.txt"));
  int aPositives = -1, aNegatives = -1;
  aError >> aPositives >> aNegatives;
  EXPECT_GT(aPositives, 8 * 50);
  EXPECT_GE(aNegatives, 0);
  EXPECT_LT(aNegatives * 100, aPositives) << aPositives << " " << aNegatives;
}
