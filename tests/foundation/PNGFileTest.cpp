// PNG files: round trips of the three kinds the project writes, refusals of damaged files,
// the write-then-rename helper, and files other programs can read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "foundation/FileWrite.h"
#include "foundation/PNGFile.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

const NPNG::CPalette kPalette = {{0, 0, 0}, {255, 10, 10}, {10, 10, 255}, {0, 180, 0}};

CMatrix<int> sampleIndices() {
  CMatrix<int> aIndices(5, 3);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 5; x++) aIndices(x, y) = (x + 2 * y) % 4;
  return aIndices;
}

bool readQuietly(const std::string& aPath, NPNG::CImage& aImage, std::string* aMessage = nullptr) {
  testing::internal::CaptureStderr();
  const bool aOk = NPNG::readPNG(aPath, aImage);
  const std::string aErr = testing::internal::GetCapturedStderr();
  if (aMessage) *aMessage = aErr;
  return aOk;
}

bool onlyFile(const TempDir& aDir, const std::string& aName) {
  int aCount = 0;
  for (const auto& aEntry : std::filesystem::directory_iterator(aDir.path())) {
    aCount++;
    if (aEntry.path().filename() != aName) return false;
  }
  return aCount == 1;
}

// Full path of a program on the PATH, or empty.
std::string onPath(const std::string& aProgram) {
  const char* aPath = std::getenv("PATH");
  std::istringstream aFolders(aPath ? aPath : "");
  std::string aFolder;
  while (std::getline(aFolders, aFolder, ':'))
    if (!aFolder.empty() && testutil::fileExists(aFolder + "/" + aProgram))
      return aFolder + "/" + aProgram;
  return "";
}

}  // namespace

TEST(PNGFile, IndexedRoundTripKeepsIndicesAndPalette) {
  TempDir aDir;
  const CMatrix<int> aIndices = sampleIndices();
  ASSERT_TRUE(NPNG::writeIndexedPNG(aDir.file("labels.png"), aIndices, kPalette));
  EXPECT_TRUE(onlyFile(aDir, "labels.png"));  // the temporary file is gone
  NPNG::CImage aImage;
  ASSERT_TRUE(readQuietly(aDir.file("labels.png"), aImage));
  EXPECT_EQ(aImage.mType, NPNG::CType::kPalette);
  EXPECT_EQ(aImage.mPalette, kPalette);
  ASSERT_EQ(aImage.mPixels.xSize(), 5);
  ASSERT_EQ(aImage.mPixels.ySize(), 3);
  ASSERT_EQ(aImage.mPixels.zSize(), 1);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 5; x++) EXPECT_EQ(aImage.mPixels(x, y, 0), aIndices(x, y)) << x << "," << y;
}

TEST(PNGFile, GreyAndColourRoundTripsTruncateAndClamp) {
  TempDir aDir;
  CMatrix<float> aGrey(3, 2);
  const float aValues[6] = {0.0f, 254.9f, 76.5f, -3.0f, 300.0f, 255.0f};
  for (int i = 0; i < 6; i++) aGrey.data()[i] = aValues[i];
  ASSERT_TRUE(NPNG::writeGreyPNG(aDir.file("grey.png"), aGrey));
  NPNG::CImage aImage;
  ASSERT_TRUE(readQuietly(aDir.file("grey.png"), aImage));
  EXPECT_EQ(aImage.mType, NPNG::CType::kGrey);
  EXPECT_TRUE(aImage.mPalette.empty());
  ASSERT_EQ(aImage.mPixels.size(), 6);
  const float aExpected[6] = {0, 254, 76, 0, 255, 255};
  for (int i = 0; i < 6; i++) EXPECT_EQ(aImage.mPixels.data()[i], aExpected[i]) << i;

  CTensor<float> aPicture(2, 2, 3);
  for (int i = 0; i < aPicture.size(); i++) aPicture.data()[i] = 20.0f * i + 0.5f;
  ASSERT_TRUE(NPNG::writeRGBPNG(aDir.file("rgb.png"), aPicture));
  ASSERT_TRUE(readQuietly(aDir.file("rgb.png"), aImage));
  EXPECT_EQ(aImage.mType, NPNG::CType::kRGB);
  ASSERT_EQ(aImage.mPixels.zSize(), 3);
  for (int i = 0; i < aPicture.size(); i++) EXPECT_EQ(aImage.mPixels.data()[i], 20 * i) << i;
}

TEST(PNGFile, DamagedFilesAreRefusedWithOneLineNamingThem) {
  TempDir aDir;
  ASSERT_TRUE(NPNG::writeIndexedPNG(aDir.file("whole.png"), sampleIndices(), kPalette));
  const std::string aBytes = testutil::readFile(aDir.file("whole.png"));
  // Cut inside the image data, and cut just before the end chunk.
  testutil::writeFile(aDir.file("cut.png"), aBytes.substr(0, aBytes.size() / 2));
  testutil::writeFile(aDir.file("noend.png"), aBytes.substr(0, aBytes.size() - 12));
  testutil::writeFile(aDir.file("text.png"), "this is not a picture");
  std::string aCorrupt = aBytes;
  aCorrupt[aCorrupt.size() / 2] ^= 0x55;  // breaks the image data's checksum
  testutil::writeFile(aDir.file("corrupt.png"), aCorrupt);
  for (const char* aName : {"cut.png", "noend.png", "text.png", "corrupt.png", "missing.png"}) {
    NPNG::CImage aImage;
    std::string aMessage;
    EXPECT_FALSE(readQuietly(aDir.file(aName), aImage, &aMessage)) << aName;
    EXPECT_EQ(aMessage.find("Cannot read PNG file " + aDir.file(aName) + ": "), 0u) << aMessage;
    EXPECT_EQ(std::count(aMessage.begin(), aMessage.end(), '\n'), 1) << aMessage;
    EXPECT_EQ(aImage.mPixels.size(), 0) << aName;
  }
}

TEST(PNGFile, RefusedWritesLeaveTheOldFile) {
  TempDir aDir;
  const std::string aPath = aDir.file("labels.png");
  ASSERT_TRUE(NPNG::writeIndexedPNG(aPath, sampleIndices(), kPalette));
  const std::string aBefore = testutil::readFile(aPath);
  CMatrix<int> aBad = sampleIndices();
  aBad(4, 2) = 4;  // no palette entry
  testing::internal::CaptureStderr();
  EXPECT_FALSE(NPNG::writeIndexedPNG(aPath, aBad, kPalette));
  EXPECT_FALSE(NPNG::writeIndexedPNG(aPath, sampleIndices(), {}));
  EXPECT_FALSE(NPNG::writeGreyPNG(aDir.file("none/grey.png"), CMatrix<float>(2, 2, 0.0f)));
  const std::string aMessages = testing::internal::GetCapturedStderr();
  EXPECT_NE(aMessages.find("Cannot write PNG file " + aPath + ": index 4 has no entry"),
            std::string::npos)
      << aMessages;
  EXPECT_EQ(std::count(aMessages.begin(), aMessages.end(), '\n'), 3) << aMessages;
  EXPECT_EQ(testutil::readFile(aPath), aBefore);
  EXPECT_TRUE(onlyFile(aDir, "labels.png"));
}

TEST(FileWrite, ReplacesTheTargetOnlyWhenTheWriterSucceeds) {
  TempDir aDir;
  const std::string aPath = aDir.file("f.txt");
  testutil::writeFile(aPath, "old");
  const NFile::CWriteResult aFailed = NFile::writeThenRename(aPath, [](FILE* aFile) {
    fputs("half", aFile);
    return false;
  });
  EXPECT_TRUE(aFailed.mOpened);
  EXPECT_FALSE(aFailed.mComplete);
  EXPECT_EQ(testutil::readFile(aPath), "old");
  EXPECT_TRUE(onlyFile(aDir, "f.txt"));

  const NFile::CWriteResult aDone =
      NFile::writeThenRename(aPath, [](FILE* aFile) { return fputs("new", aFile) >= 0; });
  EXPECT_TRUE(aDone.mComplete);
  EXPECT_EQ(testutil::readFile(aPath), "new");
  EXPECT_TRUE(onlyFile(aDir, "f.txt"));

  const NFile::CWriteResult aNoFolder =
      NFile::writeThenRename(aDir.file("none/f.txt"), [](FILE*) { return true; });
  EXPECT_FALSE(aNoFolder.mOpened);
  EXPECT_EQ(aNoFolder.mError, ENOENT);
}

TEST(PNGFile, OtherProgramsReadTheWrittenFiles) {
  const std::string aFfmpeg = onPath("ffmpeg");
  if (aFfmpeg.empty()) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir aDir;
  ASSERT_TRUE(NPNG::writeIndexedPNG(aDir.file("labels.png"), sampleIndices(), kPalette));
  ASSERT_TRUE(NPNG::writeGreyPNG(aDir.file("grey.png"), CMatrix<float>(4, 3, 255.0f)));
  ASSERT_TRUE(NPNG::writeRGBPNG(aDir.file("rgb.png"), CTensor<float>(4, 3, 3, 128.0f)));
  testutil::writeFile(aDir.file("text.png"), "this is not a picture");
  for (const char* aName : {"labels.png", "grey.png", "rgb.png"})
    EXPECT_EQ(
        testutil::runProgram({aFfmpeg, "-v", "error", "-i", aDir.file(aName), "-f", "null", "-"}),
        0)
        << aName;
  // ffmpeg does refuse a file that is not a picture, so the checks above can fail.
  EXPECT_NE(testutil::runProgram(
                {aFfmpeg, "-v", "error", "-i", aDir.file("text.png"), "-f", "null", "-"}),
            0);
}
