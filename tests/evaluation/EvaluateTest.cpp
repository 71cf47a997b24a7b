// Scoring whole sequences: the frames taken, the refusals, trajectories as sparse labels,
// and quorvik-evaluate end to end on a generated sequence.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
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

// A grey PNG file that is only its signature, its header (IHDR, 8 bits) announcing aWidth x
// aHeight pixels and the start of its pixel data: whatever decodes it has to allocate for all
// of them before it finds that they are missing.
void writeHeaderOnlyPNG(const std::string& aPath, unsigned aWidth, unsigned aHeight) {
  auto bigEndian = [](unsigned aValue) {
    std::string aBytes;
    for (int b = 3; b >= 0; b--) aBytes += static_cast<char>((aValue >> (8 * b)) & 0xff);
    return aBytes;
  };
  const std::string aChunk =
      "IHDR" + bigEndian(aWidth) + bigEndian(aHeight) + std::string{8, 0, 0, 0, 0};
  unsigned aCrc = 0xffffffffu;
  for (unsigned char c : aChunk) {
    aCrc ^= c;
    for (int k = 0; k < 8; k++) aCrc = (aCrc >> 1) ^ (0xedb88320u & (0u - (aCrc & 1u)));
  }
  testutil::writeFile(aPath, "\x89PNG\r\n\x1a\n" + bigEndian(13) + aChunk +
                                 bigEndian(aCrc ^ 0xffffffffu) + bigEndian(64) + "IDAT" +
                                 std::string(64, '\0'));
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
  // One averaged frame with J 0.5 and F 2/3: J recall 0 (0.5 is not above), F recall 1, no
  // decay.
  EXPECT_EQ(csvRow(s), "squares,5,3,1,0.5,0.666667,1,1,2,2,3,2,1,1,1,1,,,,,,,0,0,1,0\n");
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
  std::vector<CCase> aCases(7, {aGood, ""});
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
  aCases[5].mRequest.mTruthDir = aTruth.file("00000.png");
  aCases[5].mWords = "ground-truth folder " + aTruth.file("00000.png") + " is not a folder";
  // A ground truth announcing 16384 x 16384 pixels is refused from its header alone.
  TempDir aHuge;
  writeHeaderOnlyPNG(aHuge.file("00000.png"), 16384, 16384);
  aCases[6].mRequest.mTruthDir = aHuge.path();
  aCases[6].mWords = "sizes differ: " + aResults.file("Mask000.png") + " is 20 x 20, its " +
                     "ground truth " + aHuge.file("00000.png") + " is 16384 x 16384";
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

// Grey masks of 0 and 1 (as many tools write them) hold their object like masks of 0 and 255:
// every value other than 0 is the object, in the ground truth and in the predictions.
TEST(SequenceEvaluation, EveryNonZeroGreyValueIsTheObject) {
  TempDir aTruth, aResults;
  CMatrix<float> aOnes = greyOf(twoObjects(), {1});
  for (int i = 0; i < aOnes.size(); i++) aOnes.data()[i] = aOnes.data()[i] > 0 ? 1.0f : 0.0f;
  CMatrix<float> aLow = greyOf(twoObjects(), {1, 2});
  for (int i = 0; i < aLow.size(); i++) aLow.data()[i] = aLow.data()[i] > 0 ? 7.0f : 0.0f;
  for (int t = 0; t < 3; t++) {
    ASSERT_TRUE(NPNG::writeGreyPNG(aTruth.file(numbered("%05d.png", t)), aOnes));
    // Frame 1 predicts both squares with the grey value 7: J = 16 / 32.
    ASSERT_TRUE(
        NPNG::writeGreyPNG(aResults.file(numbered("Mask%03d.png", t)), t == 1 ? aLow : aOnes));
  }
  CEvaluationRequest aRequest;
  aRequest.mTruthDir = aTruth.path();
  aRequest.mResultDir = aResults.path();
  CSequenceScore s;
  std::string aMessage;
  ASSERT_TRUE(evaluateQuietly(aRequest, s, aMessage)) << aMessage;
  EXPECT_EQ(s.mObjects, 1);
  ASSERT_EQ(s.mPerFrame.size(), 3u);
  EXPECT_EQ(s.mPerFrame[0].mMaskJ, 1.0);
  EXPECT_EQ(s.mPerFrame[1].mMaskJ, 0.5);
  EXPECT_EQ(s.mMaskJ, 0.5);
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

// What a results folder records (its status logs and their last lines) tells one finished run
// from a run that did not finish or from the leftovers of another run; the scoring goes on
// and says so on standard error. A ground truth without any object is said too.
TEST(EvaluateTool, WarnsOfUnfinishedAndMixedResultsAndOfTruthWithoutObject) {
  TempDir aTruth, aResults, aEmptyTruth;
  const std::string aProgram = testutil::programPath("quorvik-evaluate");
  for (int t = 0; t < 10; t++) {
    ASSERT_TRUE(
        NPNG::writeIndexedPNG(aTruth.file(numbered("%05d.png", t)), twoObjects(), kPalette));
    ASSERT_TRUE(NPNG::writeIndexedPNG(aEmptyTruth.file(numbered("%05d.png", t)),
                                      CMatrix<int>(kSide, kSide, 0), kPalette));
  }
  auto writeResults = [&](int aFrom, int aTo) {
    for (int t = aFrom; t < aTo; t++) {
      ASSERT_TRUE(NPNG::writeIndexedPNG(aResults.file(numbered("Regions%03d.png", t)), twoObjects(),
                                        kPalette));
      ASSERT_TRUE(NPNG::writeGreyPNG(aResults.file(numbered("Mask%03d.png", t)),
                                     greyOf(twoObjects(), {1})));
    }
  };
  auto warnings = [&](const std::string& aTruthDir) {
    EXPECT_EQ(testutil::runProgram({aProgram, "--truth", aTruthDir, "--results", aResults.path()},
                                   "", aResults.file("err.txt")),
              0);
    const std::string aErr = testutil::readFile(aResults.file("err.txt"));
    std::remove(aResults.file("err.txt").c_str());
    return aErr;
  };
  const std::string aPrefix = "quorvik-evaluate: warning: ";
  // Results of another program (no status log): nothing to say.
  writeResults(0, 4);
  EXPECT_EQ(warnings(aTruth.path()), "");
  // A run of 10 frames killed after 4.
  testutil::writeFile(aResults.file("Status10.txt"), "Tracks are being computed...\nMerging...\n");
  EXPECT_EQ(warnings(aTruth.path()),
            aPrefix +
                "the run of Status10.txt (10 frames) has not finished (its log does not end " +
                "with \"Computation time:\"): its results may be incomplete or older\n" + aPrefix +
                "frames missing from the run of Status10.txt (10 frames): Regions 4 ... 9; Mask 4 "
                "... 9\n");
  // The same run finished; then a later run of 4 frames over it.
  writeResults(4, 10);
  testutil::writeFile(aResults.file("Status10.txt"), "Merging...\nComputation time: 1 seconds\n");
  EXPECT_EQ(warnings(aTruth.path()), "");
  testutil::writeFile(aResults.file("Status4.txt"), "Merging...\nComputation time: 1 seconds\n");
  std::filesystem::last_write_time(
      aResults.file("Status10.txt"),
      std::filesystem::last_write_time(aResults.file("Status4.txt")) - std::chrono::seconds(10));
  EXPECT_EQ(warnings(aTruth.path()),
            aPrefix + "frames beyond the run of Status4.txt (4 frames), left by another run: " +
                "Regions 4 ... 9; Mask 4 ... 9; the folder mixes the results of several runs\n");
  std::remove(aResults.file("Status4.txt").c_str());
  EXPECT_EQ(warnings(aEmptyTruth.path()),
            aPrefix + "the ground truth in " + aEmptyTruth.path() +
                " holds no object in any scored frame (every pixel is background)\n");
}

// --csv writes through a symbolic link into its target (the link stays) and never replaces
// what is not a regular file.
TEST(EvaluateTool, CsvGoesThroughSymbolicLinksAndNeverOverAFifo) {
  TempDir aDir;
  ASSERT_TRUE(NPNG::writeIndexedPNG(aDir.file("00000.png"), twoObjects(), kPalette));
  ASSERT_TRUE(NPNG::writeGreyPNG(aDir.file("Mask000.png"), greyOf(twoObjects(), {1})));
  ASSERT_EQ(mkdir(aDir.file("sub").c_str(), 0755), 0);
  testutil::writeFile(aDir.file("sub/scores.csv"), "stale\n");
  std::filesystem::create_symlink("sub/scores.csv", aDir.file("link.csv"));
  std::filesystem::create_symlink("sub/new.csv", aDir.file("dangling.csv"));
  ASSERT_EQ(mkfifo(aDir.file("fifo.csv").c_str(), 0644), 0);
  const std::string aProgram = testutil::programPath("quorvik-evaluate");
  auto evaluate = [&](const std::string& aCsv) {
    return testutil::runProgram(
        {aProgram, "--truth", aDir.path(), "--results", aDir.path(), "--csv", aCsv}, "",
        aDir.file("err.txt"));
  };
  for (const char* aLink : {"link.csv", "dangling.csv"}) {
    EXPECT_EQ(evaluate(aDir.file(aLink)), 0) << testutil::readFile(aDir.file("err.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(aDir.file(aLink)));
    EXPECT_EQ(testutil::readFile(aDir.file(aLink)).rfind(csvHeader(), 0), 0u) << aLink;
  }
  EXPECT_EQ(evaluate(aDir.file("fifo.csv")), 1);
  EXPECT_EQ(testutil::readFile(aDir.file("err.txt")),
            "Cannot write CSV file " + aDir.file("fifo.csv") + ": not a regular file\n");
  EXPECT_TRUE(std::filesystem::is_fifo(aDir.file("fifo.csv")));
  std::vector<std::string> aLeft;
  for (const auto& aEntry : std::filesystem::recursive_directory_iterator(aDir.path()))
    if (aEntry.path().string().find(".part") != std::string::npos) aLeft.push_back(aEntry.path());
  EXPECT_TRUE(aLeft.empty());
}

// An allocation that fails (here: the pixels a ground truth announces, beyond the memory the
// program may have) ends the program with one line and status 1, not an abort.
TEST(EvaluateTool, AllocationFailureIsOneLineAndStatusOne) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  TempDir aDir;
  writeHeaderOnlyPNG(aDir.file("00000.png"), 16384, 16384);
  writeHeaderOnlyPNG(aDir.file("Mask000.png"), 16384, 16384);
  testutil::CLimits aLimits;
  aLimits.mAddressSpace = 256LL << 20;
  EXPECT_EQ(testutil::runProgram({testutil::programPath("quorvik-evaluate"), "--truth", aDir.path(),
                                  "--results", aDir.path()},
                                 aLimits, "", aDir.file("err.txt")),
            1);
  EXPECT_EQ(testutil::readFile(aDir.file("err.txt")), "quorvik-evaluate: out of memory\n");
}
