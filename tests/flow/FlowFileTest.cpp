#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "flow/COpticFlow.h"
#include "flow/FlowPictures.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

CTensor<float> sampleFlow(int aXSize, int aYSize) {
  CTensor<float> aFlow(aXSize, aYSize, 2);
  for (int i = 0; i < aFlow.size(); i++) aFlow.data()[i] = 0.1f * i - 3.7f / (i + 1);
  return aFlow;
}

void expectColour(float x, float y, float aR, float aG, float aB) {
  float R, G, B;
  COpticFlow::cartesianToRGB(x, y, R, G, B);
  EXPECT_EQ(R, aR) << x << ", " << y;
  EXPECT_EQ(G, aG) << x << ", " << y;
  EXPECT_EQ(B, aB) << x << ", " << y;
}

}  // namespace

TEST(FlowFile, RoundTripIsBitIdenticalAndHasTheExactLength) {
  TempDir aDir;
  const CTensor<float> aFlow = sampleFlow(5, 3);
  ASSERT_TRUE(COpticFlow::writeMiddlebury(aFlow, aDir.file("f.flo").c_str()));
  const std::string aBytes = testutil::readFile(aDir.file("f.flo"));
  ASSERT_EQ(aBytes.size(), 12u + 8u * 15u);
  EXPECT_EQ(aBytes.substr(0, 4), "PIEH");
  // Interleaved in the file: pixel 1 is bytes 20 ... 27, u then v.
  float aU, aV;
  std::memcpy(&aU, aBytes.data() + 20, 4);
  std::memcpy(&aV, aBytes.data() + 24, 4);
  EXPECT_EQ(aU, aFlow(1, 0, 0));
  EXPECT_EQ(aV, aFlow(1, 0, 1));

  CTensor<float> aBack;
  ASSERT_TRUE(COpticFlow::readMiddlebury(aDir.file("f.flo").c_str(), aBack, false, 5, 3));
  ASSERT_EQ(aBack.xSize(), 5);
  ASSERT_EQ(aBack.ySize(), 3);
  ASSERT_EQ(aBack.zSize(), 2);
  EXPECT_EQ(std::memcmp(aBack.data(), aFlow.data(), sizeof(float) * aFlow.size()), 0);
  // No temporary file stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(aDir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(FlowFile, AnyTagIsReadButWrongLengthsAndSizesAreRefused) {
  TempDir aDir;
  const std::string aPath = aDir.file("f.flo");
  ASSERT_TRUE(COpticFlow::writeMiddlebury(sampleFlow(4, 2), aPath.c_str()));
  std::string aBytes = testutil::readFile(aPath);
  aBytes.replace(0, 4, "XXXX");
  testutil::writeFile(aPath, aBytes);
  CTensor<float> aFlow;
  EXPECT_TRUE(COpticFlow::readMiddlebury(aPath.c_str(), aFlow, false));

  CTensor<float> aKept(1, 1, 2, 5.0f);
  EXPECT_FALSE(COpticFlow::readMiddlebury(aPath.c_str(), aKept, false, 4, 3));  // other frame size
  testutil::writeFile(aPath, aBytes.substr(0, aBytes.size() - 1));              // truncated
  EXPECT_FALSE(COpticFlow::readMiddlebury(aPath.c_str(), aKept, false));
  testutil::writeFile(aPath, aBytes + "x");  // trailing garbage
  EXPECT_FALSE(COpticFlow::readMiddlebury(aPath.c_str(), aKept, false));
  std::string aNegative = aBytes;
  const int aMinus = -4;
  std::memcpy(aNegative.data() + 4, &aMinus, 4);
  testutil::writeFile(aPath, aNegative);
  EXPECT_FALSE(COpticFlow::readMiddlebury(aPath.c_str(), aKept, false));
  EXPECT_EQ(aKept.size(), 2);
  EXPECT_EQ(aKept(0, 0, 1), 5.0f);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(COpticFlow::readMiddlebury(aDir.file("none.flo").c_str(), aKept, false));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(COpticFlow::readMiddlebury(aDir.file("none.flo").c_str(), aKept, true));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could not open " + aDir.file("none.flo") + "\n");
}

TEST(FlowFile, WrongExtensionWarnsAndStillWrites) {
  TempDir aDir;
  for (const std::string aName : {"f.FLO", "noextension"}) {
    testing::internal::CaptureStdout();
    EXPECT_TRUE(COpticFlow::writeMiddlebury(sampleFlow(2, 2), aDir.file(aName).c_str()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              aDir.file(aName) + " should have extension '.flo'\n");
    EXPECT_TRUE(testutil::fileExists(aDir.file(aName)));
  }
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(COpticFlow::writeMiddlebury(sampleFlow(2, 2), "/nonexistent-folder/f.flo"));
  testing::internal::GetCapturedStdout();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("/nonexistent-folder/f.flo"),
            std::string::npos);
}

TEST(FlowColour, WheelColoursOfTheMainDirections) {
  expectColour(0.0f, 0.0f, 0, 0, 0);
  expectColour(1.0f, 0.0f, 255, 0, 0);
  expectColour(0.0f, 1.0f, 64, 64, 255);
  expectColour(-1.0f, 0.0f, 0, 255, 0);
  expectColour(0.0f, -1.0f, 254, 255, 0);
  expectColour(0.5f, 0.0f, 127, 0, 0);
  // Lengths above 1 are clipped: same colour as the unit vector.
  float R1, G1, B1, R2, G2, B2;
  COpticFlow::cartesianToRGB(0.6f, -0.8f, R1, G1, B1);
  COpticFlow::cartesianToRGB(3.0f, -4.0f, R2, G2, B2);
  EXPECT_EQ(R1, R2);
  EXPECT_EQ(G1, G2);
  EXPECT_EQ(B1, B2);
}

TEST(FlowColour, FlowPictureSaturatesAtEightRootTwoForDivisorFour) {
  CTensor<float> aFlow(2, 1, 2, 0.0f);
  aFlow(0, 0, 0) = 8.0f * std::sqrt(2.0f) + 0.01f;  // saturated red
  aFlow(1, 0, 0) = 4.0f * std::sqrt(2.0f);          // half length
  CTensor<float> aImage;
  COpticFlow::flowToImage(aFlow, aImage, 4.0f);
  ASSERT_EQ(aImage.zSize(), 3);
  EXPECT_EQ(aImage(0, 0, 0), 255.0f);
  EXPECT_EQ(aImage(0, 0, 1), 0.0f);
  EXPECT_NEAR(aImage(1, 0, 0), 127.0f, 1.0f);
}

TEST(FlowColour, ColourRampRows) {
  EXPECT_EQ(kColorCodeRows, 15000);
  auto expectRow = [](long long k, float r, float g, float b) {
    const CColour c = colorCode(k);
    EXPECT_EQ(c.mRed, r) << k;
    EXPECT_EQ(c.mGreen, g) << k;
    EXPECT_EQ(c.mBlue, b) << k;
  };
  expectRow(0, 0, 0, 255);
  expectRow(100, 0, 100, 255);
  expectRow(511, 0, 255, 0);
  expectRow(600, 88, 255, 0);
  expectRow(1023, 255, 0, 0);
  expectRow(1279, 255, 0, 255);
  expectRow(14999, 255, 0, 255);
  // Rows outside the ramp are its nearest row.
  expectRow(-3, 0, 0, 255);
  expectRow(15600, 255, 0, 255);
}
