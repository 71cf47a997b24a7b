// The built program on small generated sequences: result folder, status log, segment
// pictures, and the refusals of bad command lines and sequence descriptions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "foundation/CTensor.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

constexpr int kWidth = 16, kHeight = 12;

// Writes COUNT frames "frameN.ppm" and "seq.small.bmf" listing them into aFolder.
std::string writeSequence(const std::string& aFolder, int aCount, int aListed = -1) {
  std::ofstream aBmf(aFolder + "/seq.small.bmf");
  aBmf << (aListed < 0 ? aCount : aListed) << " 1\n";
  for (int t = 0; t < aCount; t++) {
    CTensor<float> aFrame(kWidth, kHeight, 3);
    for (int i = 0; i < aFrame.size(); i++)
      aFrame.data()[i] = static_cast<float>((i * 13 + t * 40) % 256);
    const std::string aName = "frame" + std::to_string(t) + ".ppm";
    aFrame.writeToPPM((aFolder + "/" + aName).c_str());
    aBmf << aName << "\n";
  }
  return aFolder + "/seq.small.bmf";
}

struct CRunResult {
  int mStatus;
  std::string mOut, mErr;
};

CRunResult runQuorvik(const TempDir& aDir, const std::vector<std::string>& aArguments) {
  std::vector<std::string> aCommand = {testutil::programPath("quorvik")};
  aCommand.insert(aCommand.end(), aArguments.begin(), aArguments.end());
  CRunResult aResult;
  aResult.mStatus = testutil::runProgram(aCommand, aDir.file("out.txt"), aDir.file("err.txt"));
  aResult.mOut = testutil::readFile(aDir.file("out.txt"));
  aResult.mErr = testutil::readFile(aDir.file("err.txt"));
  return aResult;
}

std::vector<std::string> lines(const std::string& aText) {
  std::vector<std::string> aLines;
  size_t aStart = 0;
  while (aStart < aText.size()) {
    const size_t aEnd = aText.find('\n', aStart);
    aLines.push_back(aText.substr(aStart, aEnd - aStart));
    if (aEnd == std::string::npos) break;
    aStart = aEnd + 1;
  }
  return aLines;
}

void expectRefused(const CRunResult& aResult, const std::string& aNeedle) {
  EXPECT_EQ(aResult.mStatus, 1);
  EXPECT_EQ(lines(aResult.mErr).size(), 1u) << aResult.mErr;
  EXPECT_NE(aResult.mErr.find(aNeedle), std::string::npos) << aResult.mErr;
}

}  // namespace

TEST(Run, WritesResultFolderStatusLogAndSegmentPicturesInFolderWithSpace) {
  TempDir aDir("quorvik run");
  const std::string aBmf = writeSequence(aDir.path(), 4);
  const CRunResult aResult = runQuorvik(aDir, {aBmf, "1", "3", "8"});
  ASSERT_EQ(aResult.mStatus, 0) << aResult.mErr;
  const std::string aResults = aDir.file("QuorvikResults/");
  const std::vector<std::string> aLog = lines(testutil::readFile(aResults + "Status3.txt"));
  ASSERT_FALSE(aLog.empty());
  EXPECT_EQ(aLog.back().rfind("Computation time: ", 0), 0u);
  EXPECT_EQ(aLog.back().substr(aLog.back().size() - 8), " seconds");
  EXPECT_FALSE(testutil::fileExists(aResults + "Segments000.ppm"));
  EXPECT_FALSE(testutil::fileExists(aResults + "Segments004.ppm"));
  for (int a = 1; a <= 3; a++) {
    CTensor<float> aFrame, aSegments;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(aFrame.readFromPPM(aDir.file("frame" + std::to_string(a) + ".ppm").c_str()));
    ASSERT_TRUE(
        aSegments.readFromPPM((aResults + "Segments00" + std::to_string(a) + ".ppm").c_str()));
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(aSegments.xSize(), kWidth);
    // Without tracks the picture is the frame blended with white.
    for (int i = 0; i < aFrame.size(); i++)
      ASSERT_EQ(aSegments.data()[i], static_cast<int>(aFrame.data()[i] * 0.7 + 76.5)) << i;
  }
}

TEST(Run, RefusesWrongExtensionOnStandardOutputWithStatus255) {
  TempDir aDir;
  writeSequence(aDir.path(), 2);
  for (const std::string aName : {"seq.Bmf", "seq.bmf2", "seqbmf"}) {
    const CRunResult aResult = runQuorvik(aDir, {aDir.file(aName), "0", "2", "8"});
    EXPECT_EQ(aResult.mStatus, 255);
    EXPECT_EQ(aResult.mOut, "Must pass a bmf file as input\n");
  }
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults")));
}

TEST(Run, RefusesBadArgumentsBeforeWritingAnything) {
  TempDir aDir;
  const std::string aBmf = writeSequence(aDir.path(), 3);
  const CRunResult aUsage = runQuorvik(aDir, {aBmf, "0", "3"});
  expectRefused(aUsage, "Usage:");
  expectRefused(runQuorvik(aDir, {aBmf, "-1", "2", "8"}), "first frame");
  expectRefused(runQuorvik(aDir, {aBmf, "0", "0", "8"}), "frame count");
  expectRefused(runQuorvik(aDir, {aBmf, "0", "3", "0"}), "grid step");
  expectRefused(runQuorvik(aDir, {aBmf, "99999999999", "3", "8"}), "first frame");
  expectRefused(runQuorvik(aDir, {aBmf, "0", "x", "8"}), "frame count");
  expectRefused(runQuorvik(aDir, {aBmf, "1", "3", "8"}), "run past the end");
  expectRefused(runQuorvik(aDir, {aDir.file("missing.bmf"), "0", "1", "8"}), "missing.bmf");
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults")));
}

TEST(Run, RefusesSequenceDescriptionWithTooFewNames) {
  TempDir aDir;
  const std::string aBmf = writeSequence(aDir.path(), 2, 5);
  expectRefused(runQuorvik(aDir, {aBmf, "0", "2", "8"}), "announces 5");
  testutil::writeFile(aDir.file("text.bmf"), "many frames\n");
  expectRefused(runQuorvik(aDir, {aDir.file("text.bmf"), "0", "1", "8"}), "text.bmf");
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults")));
}

TEST(Run, StopsWithStatusOneWhenAFrameCannotBeRead) {
  TempDir aDir;
  const std::string aBmf = writeSequence(aDir.path(), 3);
  std::remove(aDir.file("frame0.ppm").c_str());
  expectRefused(runQuorvik(aDir, {aBmf, "0", "3", "8"}), "File not found: ");
  // A later frame: the run stops when it needs it.
  writeSequence(aDir.path(), 3);
  testutil::writeFile(aDir.file("frame2.ppm"), "P3\n1 1\n255\n0 0 0\n");
  expectRefused(runQuorvik(aDir, {aBmf, "0", "3", "8"}), "PPM");
}

TEST(Run, ResultFolderNameIsNeverGivenToAShell) {
  TempDir aDir;
  const std::string aFolder = aDir.file("a'b;touch pwned");
  ASSERT_EQ(mkdir(aFolder.c_str(), 0755), 0);
  const std::string aBmf = writeSequence(aFolder, 1);
  const CRunResult aResult = runQuorvik(aDir, {aBmf, "0", "1", "4"});
  ASSERT_EQ(aResult.mStatus, 0) << aResult.mErr;
  EXPECT_TRUE(testutil::fileExists(aFolder + "/QuorvikResults/Segments000.ppm"));
  EXPECT_FALSE(testutil::fileExists("pwned"));
  EXPECT_FALSE(testutil::fileExists(aDir.file("pwned")));
}

TEST(Run, UnwritableResultFolderIsReported) {
  // A file where the folder should be fails for every user, root included.
  TempDir aDir;
  const std::string aBmf = writeSequence(aDir.path(), 1);
  testutil::writeFile(aDir.file("QuorvikResults"), "not a folder");
  expectRefused(runQuorvik(aDir, {aBmf, "0", "1", "8"}), "QuorvikResults");
}

TEST(Run, ReadOnlyResultFolderIsReported) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  TempDir aDir;
  const std::string aBmf = writeSequence(aDir.path(), 1);
  ASSERT_EQ(mkdir(aDir.file("QuorvikResults").c_str(), 0555), 0);
  expectRefused(runQuorvik(aDir, {aBmf, "0", "1", "8"}), "QuorvikResults");
}

// One rule for every whole number on every command line: an optional "-" and digits, nothing
// else. The run refuses with status 1, each tool with its status for a bad command line (2),
// in one line naming the argument and the text.
TEST(Run, EveryProgramTakesOnlyWholeNumbers) {
  TempDir aDir;
  const std::string aBmf = writeSequence(aDir.path(), 3);
  const std::vector<std::pair<int, std::string>> aRuns = {
      {0, "zero"}, {1, "6x"}, {2, "abc"}, {1, " 2"}, {1, "+2"}, {1, "2 "}, {0, "0x0"}, {1, "1e1"}};
  const char* aNames[] = {"first frame", "frame count", "grid step"};
  for (const auto& aCase : aRuns) {
    std::vector<std::string> aArguments = {aBmf, "0", "2", "8"};
    aArguments[1 + aCase.first] = aCase.second;
    const CRunResult aResult = runQuorvik(aDir, aArguments);
    expectRefused(aResult, std::string(aNames[aCase.first]) + " must be a whole number, not \"" +
                               aCase.second + "\"");
  }
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults")));

  struct CTool {
    std::vector<std::string> mCommand;
    std::string mArgument, mText;
  };
  const std::string aEvaluate = testutil::programPath("quorvik-evaluate");
  const std::string aGenerate = testutil::programPath("quorvik-generate");
  const std::vector<CTool> aTools = {
      {{aEvaluate, "--truth", aDir.path(), "--results", aDir.path()}, "--first", " 3"},
      {{aEvaluate, "--truth", aDir.path(), "--results", aDir.path()}, "--first", "+2"},
      {{aEvaluate, "--truth", aDir.path(), "--results", aDir.path()}, "--first", "3 "},
      {{aGenerate, "--out", aDir.file("g")}, "--frames", "5x"},
      {{aGenerate, "--out", aDir.file("g")}, "--speed", "+1"},
      {{testutil::programPath("quorvik-flow")}, "--frame", "1x"},
      {{"/bin/bash", std::string(QUORVIK_SOURCE_DIR) + "/tools/import-video", aDir.path(),
        aDir.file("i")},
       "--max-frames",
       "5x"}};
  for (const CTool& aTool : aTools) {
    std::vector<std::string> aCommand = aTool.mCommand;
    aCommand.insert(aCommand.end(), {aTool.mArgument, aTool.mText});
    if (aTool.mArgument == "--frame")
      aCommand.insert(aCommand.end(),
                      {aDir.file("frame0.ppm"), aDir.file("frame1.ppm"), aDir.file("f")});
    EXPECT_EQ(testutil::runProgram(aCommand, "", aDir.file("err.txt")), 2) << aCommand[0];
    const std::string aErr = testutil::readFile(aDir.file("err.txt"));
    EXPECT_EQ(lines(aErr).size(), 1u) << aErr;
    EXPECT_NE(aErr.find(aTool.mArgument + " must be a "), std::string::npos) << aErr;
    EXPECT_NE(aErr.find("\"" + aTool.mText + "\""), std::string::npos) << aErr;
  }
  EXPECT_FALSE(testutil::fileExists(aDir.file("g")));
  EXPECT_FALSE(testutil::fileExists(aDir.file("f")));
  EXPECT_FALSE(testutil::fileExists(aDir.file("i")));
}

// "--help" prints the usage on standard output, and nothing else, with status 0.
TEST(Run, EveryProgramPrintsItsUsageForHelp) {
  TempDir aDir;
  for (const std::vector<std::string>& aCommand : std::vector<std::vector<std::string>>{
           {testutil::programPath("quorvik"), "--help"},
           {testutil::programPath("quorvik-generate"), "--help"},
           {testutil::programPath("quorvik-flow"), "--help"},
           {testutil::programPath("quorvik-evaluate"), "--help"},
           {testutil::programPath("quorvik-regions"), "--help"},
           {"/bin/bash", std::string(QUORVIK_SOURCE_DIR) + "/tools/import-video", "--help"}}) {
    EXPECT_EQ(testutil::runProgram(aCommand, aDir.file("out.txt"), aDir.file("err.txt")), 0)
        << aCommand[0];
    const std::string aOut = testutil::readFile(aDir.file("out.txt"));
    EXPECT_NE(aOut.find("sage"), std::string::npos) << aCommand.back() << ": " << aOut;
    EXPECT_EQ(testutil::readFile(aDir.file("err.txt")), "") << aCommand.back();
  }
}
