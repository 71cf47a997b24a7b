#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

std::string pixels(int aCount) {
  std::string aBytes;
  for (int i = 0; i < aCount; i++) aBytes.push_back(static_cast<char>(i * 7 % 256));
  return aBytes;
}

bool readQuietly(CTensor<float>& aImage, const std::string& aPath,
                 std::string* aMessage = nullptr) {
  testing::internal::CaptureStderr();
  const bool aOk = aImage.readFromPPM(aPath.c_str());
  const std::string aErr = testing::internal::GetCapturedStderr();
  if (aMessage) *aMessage = aErr;
  return aOk;
}

}  // namespace

TEST(PictureFile, ReadsColourAndGreyWithCommentsAndBlankLines) {
  TempDir aDir;
  testutil::writeFile(aDir.file("a.ppm"), "P6\n# made by hand\n\n\n3 2\n255\n" + pixels(18));
  CTensor<float> aImage;
  ASSERT_TRUE(readQuietly(aImage, aDir.file("a.ppm")));
  EXPECT_EQ(aImage.xSize(), 3);
  EXPECT_EQ(aImage.ySize(), 2);
  EXPECT_EQ(aImage.zSize(), 3);
  // Pixel (1, 1) is the fifth pixel: bytes 12, 13, 14 of the block.
  EXPECT_EQ(aImage(1, 1, 0), 12 * 7 % 256);
  EXPECT_EQ(aImage(1, 1, 1), 13 * 7 % 256);
  EXPECT_EQ(aImage(1, 1, 2), 14 * 7 % 256);

  testutil::writeFile(aDir.file("g.pgm"), "P5 4 1 255\n" + pixels(4));
  ASSERT_TRUE(readQuietly(aImage, aDir.file("g.pgm")));
  EXPECT_EQ(aImage.zSize(), 1);
  EXPECT_EQ(aImage(3, 0, 0), 21);
}

TEST(PictureFile, WritesHeaderTruncatesAndClamps) {
  TempDir aDir;
  CTensor<float> aImage(2, 1, 3);
  const float aValues[6] = {254.9f, 76.5f, -3.0f, 300.0f, 0.0f, 255.0f};
  for (int i = 0; i < 6; i++) aImage.data()[i] = aValues[i];
  ASSERT_TRUE(aImage.writeToPPM(aDir.file("w.ppm").c_str()));
  const std::string aBytes = testutil::readFile(aDir.file("w.ppm"));
  ASSERT_EQ(aBytes.substr(0, 13), "P6 \n2 1 \n255\n");
  ASSERT_EQ(aBytes.size(), 13u + 6u);
  // Channel planes: red = (254.9, 76.5), green = (-3, 300), blue = (0, 255).
  const unsigned char aExpected[6] = {254, 0, 0, 76, 255, 255};
  for (int i = 0; i < 6; i++) EXPECT_EQ(static_cast<unsigned char>(aBytes[13 + i]), aExpected[i]);

  CTensor<float> aBack;
  ASSERT_TRUE(readQuietly(aBack, aDir.file("w.ppm")));
  EXPECT_EQ(aBack(0, 0, 0), 254.0f);
  EXPECT_EQ(aBack(1, 0, 1), 255.0f);
}

TEST(PictureFile, RefusesDamagedFilesAndLeavesTheTensorEmpty) {
  TempDir aDir;
  const std::string aCases[] = {
      "P6\n3 2\n255\n" + pixels(17),  // one byte short
      "P6\n3",                        // header cut off
      "P6\n3 2\n65535\n" + pixels(36),
      "P6\n0 2\n255\n",
      "P6\n-3 2\n255\n" + pixels(18),
      "P6\n99999999 99999999\n255\n",
      "P6\n16385 1\n255\n" + pixels(3 * 16385),
      "",
  };
  int aIndex = 0;
  for (const std::string& aContents : aCases) {
    const std::string aPath = aDir.file("bad" + std::to_string(aIndex++) + ".ppm");
    testutil::writeFile(aPath, aContents);
    CTensor<float> aImage(2, 2, 3, 1.0f);
    std::string aMessage;
    EXPECT_FALSE(readQuietly(aImage, aPath, &aMessage)) << aContents.substr(0, 20);
    EXPECT_EQ(aImage.size(), 0);
    EXPECT_NE(aMessage.find(aPath), std::string::npos);
    EXPECT_EQ(std::count(aMessage.begin(), aMessage.end(), '\n'), 1);
  }
  CTensor<float> aImage;
  std::string aMessage;
  EXPECT_FALSE(readQuietly(aImage, aDir.file("missing.ppm"), &aMessage));
  EXPECT_EQ(aMessage, "File not found: " + aDir.file("missing.ppm") + "\n");
}

TEST(PictureFile, OtherMagicNumberThrowsNamingTheFile) {
  TempDir aDir;
  testutil::writeFile(aDir.file("p3.ppm"), "P3\n1 1\n255\n0 0 0\n");
  CTensor<float> aImage;
  testing::internal::CaptureStderr();
  EXPECT_THROW(aImage.readFromPPM(aDir.file("p3.ppm").c_str()), EInvalidFileFormat);
  EXPECT_EQ(
      testing::internal::GetCapturedStderr(),
      "Exception EInvalidFileFormat: File is not in PPM format: " + aDir.file("p3.ppm") + "\n");
}

TEST(PictureFile, WriteToUnwritablePlaceFails) {
  CTensor<float> aImage(1, 1, 3, 0.0f);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(aImage.writeToPPM("/nonexistent-folder/x.ppm"));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent-folder/x.ppm"),
            std::string::npos);
}

TEST(Drawing, LineSkipsPixelsOutsideThePicture) {
  CTensor<float> aImage(2, 8, 3, 0.0f);
  aImage.drawLine(-1, 5, 3, 5, 1.0f, 2.0f, 3.0f);
  int aSet = 0;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 2; x++)
      if (aImage(x, y, 0) != 0.0f) aSet++;
  EXPECT_EQ(aSet, 2);
  EXPECT_EQ(aImage(0, 5, 0), 1.0f);
  EXPECT_EQ(aImage(1, 5, 1), 2.0f);
  EXPECT_EQ(aImage(1, 5, 2), 3.0f);
}

TEST(Drawing, SteepAndFlatLinesIncludeBothEnds) {
  CTensor<float> aImage(10, 10, 3, 0.0f);
  aImage.drawLine(1, 1, 3, 9, 9.0f, 9.0f, 9.0f);  // steep: one pixel per row
  for (int y = 1; y <= 9; y++) {
    int aCount = 0;
    for (int x = 0; x < 10; x++) aCount += aImage(x, y, 0) != 0.0f;
    EXPECT_EQ(aCount, 1) << y;
  }
  EXPECT_EQ(aImage(1, 1, 0), 9.0f);
  EXPECT_EQ(aImage(3, 9, 0), 9.0f);

  CTensor<float> aFlat(10, 10, 3, 0.0f);
  aFlat.drawLine(8, 2, 0, 4, 5.0f, 5.0f, 5.0f);  // flat, drawn right to left
  for (int x = 0; x <= 8; x++) {
    int aCount = 0;
    for (int y = 0; y < 10; y++) aCount += aFlat(x, y, 0) != 0.0f;
    EXPECT_EQ(aCount, 1) << x;
  }
  EXPECT_EQ(aFlat(8, 2, 0), 5.0f);
  EXPECT_EQ(aFlat(0, 4, 0), 5.0f);
}

TEST(Drawing, RectangleDrawsItsFourSides) {
  CTensor<float> aImage(6, 6, 3, 0.0f);
  aImage.drawRect(1, 1, 4, 3, 7.0f, 7.0f, 7.0f);
  int aSet = 0;
  for (int y = 0; y < 6; y++)
    for (int x = 0; x < 6; x++) aSet += aImage(x, y, 2) == 7.0f;
  EXPECT_EQ(aSet, 10);
  EXPECT_EQ(aImage(2, 2, 0), 0.0f);
}
