// Scoring whole sequences: the frames taken, the refusals, trajectories as sparse labels,
// and quorvik-evaluate end to end on a generated sequence.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "evaluation/SequenceEvaluation.h"
#include "foundation/PNGFile.h"
#include "tests/TestUtil.h"
#include "tracking/TrackFiles.h"

using testutil::TempDir;

namespace {

constexpr int kSide = 20;
const NPNG::CPalette kPalette(8, {128, 128, 128});

std::string numbered(const char* aPattern, int aNumber) {
  char aName[64];
  std::snprintf(aName, sizeof(aName), aPattern, aNumber);
  return aName;
}

// Object 1: the square x, y 2 ... 5; object 2: the square x, y 12 ... 15; background 0.
CMatrix<int> twoObjects() {
  CMatrix<int> aLabels(kSide, kSide, 0);
  for (int y = 2; y <= 5; y++)
    for (int x = 2; x <= 5; x++) aLabels(x, y) = 1;
  for (int y = 12; y <= 15; y++)
    for (int x = 12; x <= 15; x++) aLabels(x, y) = 2;
  return aLabels;
}

// Grey mask: 255 where aLabels is one of the given labels.
CMatrix<float> greyOf(const CMatrix<int>& aLabels, std::vector<int> aForeground) {
  CMatrix<float> aGrey(aLabels.xSize(), aLabels.ySize(), 0.0f);
  for (int i = 0; i < aLabels.size(); i++)
    for (int l : aForeground)
      if (aLabels.data()[i] == l) aGrey.data()[i] = 255.0f;
  return aGrey;
}

// CSV fields of one line.
std::vector<std::string> fields(const std::string& aLine) {
  std::vector<std::string> aFields;
  std::istringstream aIn(aLine);
  std::string aField;
  while (std::getline(aIn, aField, ',')) aFields.push_back(aField);
  if (!aLine.empty() && aLine.back() == ',') aFields.push_back("");
  return aFields;
}

bool evaluateQuietly(const CEvaluationRequest& aRequest, CSequenceScore& aScore,
                     std::string& aMessage) {
  testing::internal::CaptureStderr();
  const bool aOk = evaluateSequence(aRequest, aScore);
  aMessage = testing::internal::GetCapturedStderr();
  return aOk;
}

}  // namespace

TEST(SequenceEvaluation, ScoresFramesPresentOnBothSidesAndAveragesWithoutFirstAndLast) {
  TempDir aTruth, aResults;
  const CMatrix<int> aObjects = twoObjects();
  // Ground truth 00004, 00005, 00006, 00008 (no 00007); results 0 ... 3, which with first
  // frame 5 are ground truth 00005 ... 00008: scored t = 0, 1, 3.
  for (int n : {4, 5, 6, 8})
    ASSERT_TRUE(NPNG::writeIndexedPNG(aTruth.file(numbered("%05d.png", n)), aObjects, kPalette));
  CMatrix<int> aRegions = aObjects;
  for (int i = 0; i < aRegions.size(); i++)
    aRegions.data()[i] = aObjects.data()[i] == 1 ? 3 : aObjects.data()[i] == 2 ? 5 : 0;
  for (int t = 0; t < 4; t++) {
    // The masks of the first and last scored frames find nothing; the middle one finds
    // object 1 only: J = 16 / 32, boundary precision 1 and recall 12 / 24, F = 2 / 3.
    const CMatrix<float> aMask = t == 1 ? greyOf(aObjects, {1}) : greyOf(aObjects, {});
    ASSERT_TRUE(NPNG::writeGreyPNG(aResults.file(numbered("Mask%03d.png", t)), aMask));
    ASSERT_TRUE(
        NPNG::writeIndexedPNG(aResults.file(numbered("Regions%03d.png", t)), aRegions, kPalette));
  }
  CEvaluationRequest aRequest;
  aRequest.mTruthDir = aTruth.path();
  aRequest.mResultDir = aResults.path();
  aRequest.mFirst = 5;
  aRequest.mName = "squares";
  CSequenceScore s;
  std::string aMessage;
  ASSERT_TRUE(evaluateQuietly(aRequest, s, aMessage)) << aMessage;
  EXPECT_EQ(s.mFrames, 3);
  EXPECT_EQ(s.mAveragedFrames, 1);
  ASSERT_EQ(s.mPerFrame.size(), 3u);
  EXPECT_EQ(s.mPerFrame[2].t, 3);
  EXPECT_EQ(s.mPerFrame[2].mTruthFrame, 8);
  EXPECT_EQ(s.mPerFrame[0].mMaskJ, 0.0);
  EXPECT_DOUBLE_EQ(s.mMaskJ, 0.5);
  EXPECT_EQ(s.mOracleRegions, (std::vector<int>{3, 5}));
  EXPECT_EQ(s.mOracleJ, 1.0);
  EXPECT_EQ(s.mOracleF, 1.0);
  EXPECT_EQ(s.mObjects, 2);
  EXPECT_EQ(s.mRegions.mExtracted, 2);
  EXPECT_EQ(s.mRegions.mF, 1.0);
  EXPECT_FALSE(s.mHasTracks);
  EXPECT_EQ(csvRow(s), "squares,5,3,1,0.5,0.666667,1,1,2,2,3,2,1,1,1,1,,,,,,\n");
  EXPECT_EQ(fields(csvHeader()).size(), fields(csvRow(s)).size());
}

TEST(SequenceEvaluation, RefusesWithOneLine) {
  TempDir aTruth, aResults, aEmpty, aSmall;
  ASSERT_TRUE(NPNG::writeIndexedPNG(aTruth.file("00000.png"), twoObjects(), kPalette));
  ASSERT_TRUE(NPNG::writeGreyPNG(aResults.file("Mask000.png"), greyOf(twoObjects(), {1})));
  CEvaluationRequest aGood;
  aGood.mTruthDir = aTruth.path();
  aGood.mResultDir = aResults.path();
  struct CCase {
    CEvaluationRequest mRequest;
    std::string mWords;
  };
  std::vector<CCase> aCases(5, {aGood, ""});
  aCases[0].mRequest.mTruthDir = aTruth.file("none");
  aCases[0].mWords = "ground-truth folder " + aTruth.file("none") + " does not exist";
  aCases[1].mRequest.mResultDir = aEmpty.path();
  aCases[1].mWords = "holds no Regions%03d.png or Mask%03d.png";
  aCases[2].mRequest.mFirst = 100;
  aCases[2].mWords = "no frame has both a prediction and ground truth";
  aCases[3].mRequest.mTracksFile = aResults.file("Tracks1.dat");
  aCases[3].mWords = "Cannot read tracks file " + aResults.file("Tracks1.dat");
  aCases[4].mRequest.mResultDir = aSmall.path();
  ASSERT_TRUE(NPNG::writeGreyPNG(aSmall.file("Mask000.png"), CMatrix<float>(kSide, 9, 0.0f)));
  aCases[4].mWords = "sizes differ: " + aSmall.file("Mask000.png") + " is 20 x 9";
  for (const CCase& c : aCases) {
    CSequenceScore s;
    std::string aMessage;
    EXPECT_FALSE(evaluateQuietly(c.mRequest, s, aMessage)) << c.mWords;
    EXPECT_NE(aMessage.find(c.mWords), std::string::npos) << aMessage;
    EXPECT_EQ(std::count(aMessage.begin(), aMessage.end(), '\n'), 1) << aMessage;
  }
  CSequenceScore s;
  std::string aMessage;
  EXPECT_TRUE(evaluateQuietly(aGood, s, aMessage)) << aMessage;
}

TEST(SequenceEvaluation, TrajectoriesBecomeSparseLabelsAtTheirRoundedPositions) {
  TempDir aDir;
  // Three frames, four tracks: A (label 2) at (1, 2), (3.6, 0.2), (19.5, 1); B (label 4)
  // at (0, 0), (3.5, 0.4); C (label 0) at (0, 0) in frame 2 only; D (label 1) at (1, 1),
  // (1.49, 2.5) from frame 1.
  testutil::writeFile(aDir.file("Tracks3.dat"),
                      "3\n4\n"
                      "2 3\n1 2 0\n3.6 0.2 1\n19.5 1 2\n"
                      "4 2\n0 0 0\n3.5 0.4 1\n"
                      "0 1\n0 0 2\n"
                      "1 2\n1 1 1\n1.49 2.5 2\n");
  int aLength = 0;
  std::vector<CTrack> aTracks;
  ASSERT_TRUE(readTracks(aDir.file("Tracks3.dat"), aLength, aTracks));
  EXPECT_EQ(aLength, 3);
  ASSERT_EQ(aTracks.size(), 4u);
  auto labelled = [](const CMatrix<int>& aLabels) {
    std::vector<std::pair<int, int>> aPixels;  // (index, label)
    for (int i = 0; i < aLabels.size(); i++)
      if (aLabels.data()[i] != kNoLabel) aPixels.push_back({i, aLabels.data()[i]});
    return aPixels;
  };
  using CPixels = std::vector<std::pair<int, int>>;
  CMatrix<int> aLabels;
  // 5 x 4 picture, pixel (x, y) at index x + 5 y.
  trackLabels(aTracks, 0, 5, 4, aLabels);
  EXPECT_EQ(labelled(aLabels), (CPixels{{0, 4}, {11, 2}}));
  // A and B both round to (4, 0) (3.5 rounds up); B comes later and wins.
  trackLabels(aTracks, 1, 5, 4, aLabels);
  EXPECT_EQ(labelled(aLabels), (CPixels{{4, 4}, {6, 1}}));
  // A lies outside the picture at x = 20; D rounds to (1, 3).
  trackLabels(aTracks, 2, 5, 4, aLabels);
  EXPECT_EQ(labelled(aLabels), (CPixels{{0, 0}, {16, 1}}));

  // A file whose frames do not count up is refused, naming the file.
  testutil::writeFile(aDir.file("Bad.dat"), "3\n1\n2 2\n1 2 0\n3 3 2\n");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(readTracks(aDir.file("Bad.dat"), aLength, aTracks));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Cannot read tracks file " +
                                                        aDir.file("Bad.dat") +
                                                        ": track 0 has its frames out of order\n");
}

TEST(EvaluateTool, ScoresAGeneratedSequenceAndWritesTheCsv) {
  TempDir aDir;
  const std::string aProgram = testutil::programPath("quorvik-evaluate");
  ASSERT_EQ(testutil::runProgram({testutil::programPath("quorvik-generate"), "--out",
                                  aDir.file("seq"), "--name", "seq", "--size", "64", "48",
                                  "--frames", "4", "--objects", "3", "--speed", "3"}),
            0);
  // Perfect results: the generated masks as regions, their objects as the moving mask, and
  // one trajectory per reference point of the annotation, labelled with its layer.
  const std::string aResults = aDir.file("results");
  ASSERT_EQ(mkdir(aResults.c_str(), 0755), 0);
  for (int t = 0; t < 4; t++) {
    NPNG::CImage aMask;
    ASSERT_TRUE(NPNG::readPNG(aDir.file("seq/masks/" + numbered("%05d.png", t)), aMask));
    CMatrix<int> aLabels(64, 48);
    for (int i = 0; i < aLabels.size(); i++)
      aLabels.data()[i] = static_cast<int>(aMask.mPixels.data()[i]);
    ASSERT_TRUE(
        NPNG::writeIndexedPNG(aResults + numbered("/Regions%03d.png", t), aLabels, aMask.mPalette));
    ASSERT_TRUE(
        NPNG::writeGreyPNG(aResults + numbered("/Mask%03d.png", t), greyOf(aLabels, {1, 2, 3})));
  }
  std::istringstream aTruth(testutil::readFile(aDir.file("seq/seq_truth.txt")));
  int aPoints = 0, aRows = 0, aShift = 0;
  aTruth >> aPoints >> aRows >> aShift;
  ASSERT_GT(aPoints, 0);
  std::vector<std::string> aTracks(aPoints);
  std::vector<int> aLayer(aPoints);
  for (int r = 0; r < aRows; r++)
    for (int p = 0; p < aPoints; p++) {
      int x, y;
      ASSERT_TRUE(aTruth >> x >> y >> aLayer[p]);
      aTracks[p] += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(r) + "\n";
    }
  std::string aFile = "4\n" + std::to_string(aPoints) + "\n";
  for (int p = 0; p < aPoints; p++) aFile += std::to_string(aLayer[p] - 1) + " 4\n" + aTracks[p];
  testutil::writeFile(aDir.file("Tracks4.dat"), aFile);

  const std::string aCsv = aDir.file("scores.csv");
  ASSERT_EQ(testutil::runProgram({aProgram, "--truth", aDir.file("seq/masks"), "--results",
                                  aResults, "--tracks", aDir.file("Tracks4.dat"), "--csv", aCsv},
                                 aDir.file("out.txt"), aDir.file("err.txt")),
            0)
      << testutil::readFile(aDir.file("err.txt"));
  EXPECT_NE(testutil::readFile(aDir.file("out.txt")).find("own masks"), std::string::npos);
  std::istringstream aLines(testutil::readFile(aCsv));
  std::string aHeader, aRow, aMore;
  ASSERT_TRUE(std::getline(aLines, aHeader));
  ASSERT_TRUE(std::getline(aLines, aRow));
  EXPECT_FALSE(std::getline(aLines, aMore));
  EXPECT_EQ(aHeader + "\n", csvHeader());
  const std::vector<std::string> aNames = fields(aHeader), aValues = fields(aRow);
  ASSERT_EQ(aNames.size(), aValues.size());
  auto value = [&](const std::string& aName) {
    for (size_t i = 0; i < aNames.size(); i++)
      if (aNames[i] == aName) return aValues[i];
    return std::string("no column ") + aName;
  };
  EXPECT_EQ(value("sequence"), "seq");  // the folder above "masks"
  EXPECT_EQ(value("frames"), "4");
  EXPECT_EQ(value("jf_frames"), "2");
  for (const char* aName : {"mask_J", "mask_F", "oracle_J", "oracle_F", "precision", "recall", "F",
                            "density", "tracks_precision", "tracks_recall", "tracks_F"})
    EXPECT_EQ(value(aName), "1") << aName;
  EXPECT_EQ(value("objects"), "3");
  EXPECT_EQ(value("extracted"), "3");
  EXPECT_EQ(value("tracks_extracted"), "3");
  // Every reference point is one labelled pixel in each of the 4 frames of 64 x 48.
  EXPECT_NEAR(std::stod(value("tracks_density")), aPoints / (64.0 * 48.0), 1e-5);

  // Failures: one line, exit status 1, no CSV; a bad command line: status 2.
  const std::string aNoCsv = aDir.file("none.csv");
  EXPECT_EQ(testutil::runProgram({aProgram, "--truth", aDir.file("seq/missing"), "--results",
                                  aResults, "--csv", aNoCsv},
                                 "", aDir.file("err.txt")),
            1);
  const std::string aError = testutil::readFile(aDir.file("err.txt"));
  EXPECT_NE(aError.find(aDir.file("seq/missing")), std::string::npos) << aError;
  EXPECT_EQ(std::count(aError.begin(), aError.end(), '\n'), 1) << aError;
  EXPECT_FALSE(testutil::fileExists(aNoCsv));
  EXPECT_EQ(testutil::runProgram({aProgram, "--truth", aDir.file("seq/masks"), "--results",
                                  aResults, "--csv", aDir.file("no-folder/s.csv")}),
            1);
  EXPECT_EQ(testutil::runProgram({aProgram, "--results", aResults}), 2);
  EXPECT_EQ(testutil::runProgram({aProgram, "--truth", aDir.file("seq/masks"), "--results",
                                  aResults, "--first", "-1"}),
            2);
}
