#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "settings/RunSettings.h"
#include "tests/TestUtil.h"
#include "tracking/CTrack.h"
#include "tracking/TrackFiles.h"

namespace {

CTrack sampleTrack() {
  CTrack aTrack;
  aTrack.mox = 12;
  aTrack.moy = 34;
  aTrack.mx = {12.5f, 13.25f};
  aTrack.my = {34.125f, 35.0f};
  aTrack.mFlowVar = {0.5f, 1.75f};
  aTrack.mLabel = 3;
  aTrack.mStopped = true;
  aTrack.mScale = 4;
  aTrack.mSetupTime = 2;
  aTrack.mProjection = CVector<float>(2);
  aTrack.mProjection(0) = 0.25f;
  aTrack.mProjection(1) = -1.5f;
  aTrack.mNearestNeighbors(0) = 1;
  aTrack.mNearestNeighborsDX(0) = 3.5f;
  aTrack.mNearestNeighborsDY(0) = -2.0f;
  return aTrack;
}

void expectSameTrack(const CTrack& a, const CTrack& b) {
  EXPECT_EQ(a.mox, b.mox);
  EXPECT_EQ(a.moy, b.moy);
  EXPECT_EQ(a.mx, b.mx);
  EXPECT_EQ(a.my, b.my);
  EXPECT_EQ(a.mFlowVar, b.mFlowVar);
  EXPECT_EQ(a.mLabel, b.mLabel);
  EXPECT_EQ(a.mStopped, b.mStopped);
  EXPECT_EQ(a.mScale, b.mScale);
  EXPECT_EQ(a.mSetupTime, b.mSetupTime);
  ASSERT_EQ(a.mProjection.size(), b.mProjection.size());
  for (int i = 0; i < a.mProjection.size(); i++) EXPECT_EQ(a.mProjection(i), b.mProjection(i));
  ASSERT_EQ(a.mNearestNeighbors.size(), b.mNearestNeighbors.size());
  for (int j = 0; j < a.mNearestNeighbors.size(); j++) {
    EXPECT_EQ(a.mNearestNeighbors(j), b.mNearestNeighbors(j));
    EXPECT_EQ(a.mNearestNeighborsDX(j), b.mNearestNeighborsDX(j));
    EXPECT_EQ(a.mNearestNeighborsDY(j), b.mNearestNeighborsDY(j));
  }
}

// The settings of a run whose files are in a temporary folder: sequence "cars", frames 0 ... 19,
// step 8.
CRunSettings runIn(const testutil::TempDir& aDir) {
  CRunSettings aSettings;
  aSettings.mResultDir = aDir.path() + "/";
  aSettings.mFilename = "cars";
  aSettings.mStartFrame = 0;
  aSettings.mSequenceLength = 20;
  aSettings.mStep = 8;
  return aSettings;
}

}  // namespace

TEST(TrackRecord, RoundTripKeepsEveryFieldAndWritesDefaultOffsetsAsExponent) {
  const CTrack aTrack = sampleTrack();
  std::stringstream aStream;
  aTrack.writeToFile(aStream);
  const std::string aText = aStream.str();
  EXPECT_EQ(aText.substr(0, 38), "12 34\n2\n12.5 34.125 0.5\n13.25 35 1.75\n");
  EXPECT_NE(aText.find("\n2\n0.25 -1.5 \n12\n1 3.5 -2 -1 1e+09 1e+09 "), std::string::npos);
  EXPECT_EQ(aText.back(), ' ');
  CTrack aRead;
  ASSERT_TRUE(aRead.readFromFile(aStream));
  expectSameTrack(aTrack, aRead);
}

TEST(TrackRecord, RecordsSeparatedOnlyBySpaceReadBack) {
  CTrack aFirst = sampleTrack();
  CTrack aSecond;  // no positions after its start
  aSecond.mox = 7;
  aSecond.moy = 8;
  std::stringstream aStream;
  aFirst.writeToFile(aStream);
  aSecond.writeToFile(aStream);
  EXPECT_NE(aStream.str().find("1e+09 7 8\n0\n-1 0 1 0\n0\n\n12\n"), std::string::npos);
  CTrack a, b;
  ASSERT_TRUE(a.readFromFile(aStream));
  ASSERT_TRUE(b.readFromFile(aStream));
  expectSameTrack(aFirst, a);
  expectSameTrack(aSecond, b);
}

TEST(TrackCache, WrittenCacheIsReadBackUnderTheRunName) {
  testutil::TempDir aDir;
  const CRunSettings aSettings = runIn(aDir);
  std::vector<CTrack> aTracks = {sampleTrack(), CTrack()};
  aTracks[0].mNearestNeighbors(0) = 1;
  writeTrackToFile(aSettings, aTracks);
  EXPECT_TRUE(testutil::fileExists(aDir.file("carsTracks_000_020_08.txt")));
  std::vector<CTrack> aRead(5);
  ASSERT_TRUE(readTrackFromFile(aSettings, aRead));
  ASSERT_EQ(aRead.size(), 2u);
  expectSameTrack(aTracks[0], aRead[0]);
  expectSameTrack(aTracks[1], aRead[1]);
}

TEST(TrackCache, MissingFileLeavesTracksUntouchedAndEmptyFileGivesNoTracks) {
  testutil::TempDir aDir;
  const CRunSettings aSettings = runIn(aDir);
  std::vector<CTrack> aTracks(3);
  EXPECT_FALSE(readTrackFromFile(aSettings, aTracks));
  EXPECT_EQ(aTracks.size(), 3u);
  testutil::writeFile(aDir.file("carsTracks_000_020_08.txt"), "0\n");
  EXPECT_TRUE(readTrackFromFile(aSettings, aTracks));
  EXPECT_TRUE(aTracks.empty());
}

TEST(TrackCache, MalformedFilesAreReportedAndNothingIsLoaded) {
  testutil::TempDir aDir;
  const CRunSettings aSettings = runIn(aDir);
  std::stringstream aGood;
  aGood << "2\n";
  sampleTrack().writeToFile(aGood);
  CTrack().writeToFile(aGood);
  const std::string aValid = aGood.str();
  std::string aTooManyNeighbours = aValid;
  aTooManyNeighbours.replace(aTooManyNeighbours.rfind("\n12\n"), 4, "\n13\n");
  std::string aNegativeCount = aValid;
  aNegativeCount.replace(aNegativeCount.find("\n2\n"), 3, "\n-2\n");
  std::string aText = aValid;
  aText.replace(aText.find("12.5"), 4, "abcd");
  std::string aBadNeighbour = aValid;
  aBadNeighbour.replace(aBadNeighbour.find("12\n1 3.5"), 8, "12\n9 3.5");
  std::string aLateEnd = aValid;
  aLateEnd.replace(aLateEnd.find("\n3 1 4 2\n"), 9, "\n3 1 4 19\n");
  // Two steps from frame 18 end at frame 20, one past the run's last frame 19.
  std::string aOneFrameTooLong = aValid;
  aOneFrameTooLong.replace(aOneFrameTooLong.find("\n3 1 4 2\n"), 9, "\n3 1 4 18\n");
  const std::vector<std::string> aBroken = {
      aValid.substr(0, aValid.size() / 2),  // truncated
      "5\n" + aValid.substr(2),             // a count the file cannot deliver
      aTooManyNeighbours,
      aNegativeCount,
      aText,
      aBadNeighbour,
      aLateEnd,
      aOneFrameTooLong,
      aValid + " 17",  // trailing data
      "-1\n"};
  for (const std::string& aContents : aBroken) {
    testutil::writeFile(aDir.file("carsTracks_000_020_08.txt"), aContents);
    std::vector<CTrack> aTracks(1);
    aTracks[0].mox = 99;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(readTrackFromFile(aSettings, aTracks)) << aContents;
    const std::string aMessage = testing::internal::GetCapturedStderr();
    EXPECT_NE(aMessage.find("carsTracks_000_020_08.txt"), std::string::npos);
    ASSERT_EQ(aTracks.size(), 1u);
    EXPECT_EQ(aTracks[0].mox, 99);
  }
  // Ending at the last frame is fine.
  std::string aLastFrame = aValid;
  aLastFrame.replace(aLastFrame.find("\n3 1 4 2\n"), 9, "\n3 1 4 17\n");
  for (const std::string& aContents : {aValid, aLastFrame}) {
    testutil::writeFile(aDir.file("carsTracks_000_020_08.txt"), aContents);
    std::vector<CTrack> aTracks;
    EXPECT_TRUE(readTrackFromFile(aSettings, aTracks));
    EXPECT_EQ(aTracks.size(), 2u);
  }
}

TEST(ResultTracks, WritesLabelledTracksWithRelativeFrames) {
  testutil::TempDir aDir;
  const CRunSettings aSettings = runIn(aDir);
  std::vector<CTrack> aTracks(3);
  aTracks[0].mLabel = 1;
  aTracks[0].mox = 5;
  aTracks[0].moy = 6;
  aTracks[0].mSetupTime = 2;
  aTracks[0].mx = {5.5f, 6, 7.25f};
  aTracks[0].my = {6.5f, 7, 8};
  aTracks[0].mFlowVar = {0, 0, 0};
  aTracks[1].mLabel = -1;  // left out
  aTracks[2].mLabel = 0;   // no positions after its start
  aTracks[2].mox = 1;
  aTracks[2].moy = 2;
  ASSERT_TRUE(writeTracks(aSettings, aTracks));
  EXPECT_EQ(testutil::readFile(aDir.file("Tracks20.dat")),
            "20\n2\n1 4\n5 6 2\n5.5 6.5 3\n6 7 4\n7.25 8 5\n0 1\n1 2 0\n");
}
