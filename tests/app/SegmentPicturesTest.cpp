#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/SegmentPictures.h"
#include "settings/RunSettings.h"
#include "tests/TestUtil.h"
#include "tracking/CTrack.h"

using testutil::TempDir;

namespace {

// The settings of a run over a 20 x 20 sequence of 10 grey frames in aDir.
CRunSettings sequence(const TempDir& aDir, int aStep) {
  CRunSettings aSettings;
  aSettings.mInput.setSize(10);
  for (int a = 0; a < 10; a++) {
    aSettings.mInput(a) = aDir.file("f" + std::to_string(a) + ".ppm");
    CTensor<float> aFrame(20, 20, 3, 100.0f);
    aFrame.writeToPPM(aSettings.mInput(a).c_str());
  }
  aSettings.mResultDir = aDir.path() + "/";
  aSettings.mStartFrame = 0;
  aSettings.mSequenceLength = 10;
  aSettings.mStep = aStep;
  aSettings.mXSize = aSettings.mYSize = 20;
  return aSettings;
}

CTensor<float> segments(const TempDir& aDir, int a) {
  CTensor<float> aPicture;
  char aName[32];
  std::snprintf(aName, sizeof(aName), "Segments%03d.ppm", a);
  aPicture.readFromPPM(aDir.file(aName).c_str());
  return aPicture;
}

}  // namespace

TEST(SegmentPictures, TrackIsDrawnOnlyWhileItExists) {
  TempDir aDir;
  const CRunSettings aSettings = sequence(aDir, 8);
  CTrack aTrack;
  aTrack.mSetupTime = 3;
  aTrack.mox = aTrack.moy = 10;
  for (int k = 0; k < 5; k++) {
    aTrack.mx.push_back(10.9f + k);
    aTrack.my.push_back(10.0f);
  }
  aTrack.mLabel = 1;
  ASSERT_TRUE(writeSegmentPictures(aSettings, {aTrack}));
  const float aBackground = static_cast<float>(static_cast<int>(100 * 0.7 + 76.5));
  for (int t = 0; t < 10; t++) {
    const CTensor<float> aPicture = segments(aDir, t);
    int aMarked = 0;
    for (int i = 0; i < 400; i++) aMarked += aPicture.data()[i] != aBackground;
    if (t < 3 || t > 8) {
      EXPECT_EQ(aMarked, 0) << t;
      continue;
    }
    // A 5 x 5 square (step 8) in region 1's colour (10, 10, 255) at the truncated position.
    EXPECT_EQ(aMarked, 25) << t;
    const int x = t == 3 ? 10 : static_cast<int>(10.9f + (t - 4));
    EXPECT_EQ(aPicture(x, 10, 0), 10.0f);
    EXPECT_EQ(aPicture(x + 2, 12, 2), 255.0f);
    EXPECT_EQ(aPicture(x - 2, 8, 1), 10.0f);
  }
}

TEST(SegmentPictures, UnlabelledGreyHighLabelsWrapAndSquaresStopAtTheBorder) {
  TempDir aDir;
  CRunSettings aSettings = sequence(aDir, 2);  // single pixels
  CTrack aOutlier, aHigh, aCorner;
  aOutlier.mox = 3;
  aOutlier.moy = 4;
  aHigh.mox = 5;
  aHigh.moy = 6;
  aHigh.mLabel = 27;  // colour of label 2
  aCorner.mox = 19;
  aCorner.moy = 19;
  aCorner.mLabel = 0;
  std::vector<CTrack> aTracks = {aOutlier, aHigh, aCorner};
  aSettings.mStep = 8;
  aTracks[0].mox = 0;  // square clipped at the top-left corner
  ASSERT_TRUE(writeSegmentPictures(aSettings, aTracks));
  const CTensor<float> aPicture = segments(aDir, 0);
  EXPECT_EQ(aPicture(0, 2, 0), 230.0f);
  EXPECT_EQ(aPicture(2, 6, 2), 230.0f);
  EXPECT_EQ(aPicture(5, 6, 0), 200.0f);
  EXPECT_EQ(aPicture(5, 6, 1), 190.0f);
  EXPECT_EQ(aPicture(5, 6, 2), 0.0f);
  EXPECT_EQ(aPicture(17, 17, 0), 255.0f);
  EXPECT_EQ(aPicture(19, 19, 1), 10.0f);
}

TEST(SegmentPictures, UnwritableResultFolderFails) {
  TempDir aDir;
  CRunSettings aSettings = sequence(aDir, 8);
  aSettings.mResultDir = aDir.file("missing/");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writeSegmentPictures(aSettings, {}));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Segments000.ppm"), std::string::npos);
}
