#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "flow/CMatching.h"
#include "flow/COpticFlow.h"
#include "flow/FlowCache.h"
#include "flow/FlowPictures.h"
#include "foundation/Random.h"
#include "settings/RunSettings.h"
#include "tests/TestUtil.h"
#include "tracking/CTrack.h"
#include "tracking/Tracker.h"

// The run passes the large-displacement flow straight in.
static_assert(std::is_constructible<CPairFlow, decltype(&CMatching::hogFlow)>::value,
              "CMatching::hogFlow must serve as the pair flow");

namespace {

CTensor<float> constantFlow(int aXSize, int aYSize, float u, float v) {
  CTensor<float> aFlow(aXSize, aYSize, 2);
  for (int i = 0; i < aXSize * aYSize; i++) {
    aFlow[i] = u;
    aFlow[i + aXSize * aYSize] = v;
  }
  return aFlow;
}

// A textured square of kSquare pixels moving kSpeed pixels right per frame over a textured
// static background. The pair flow below is the exact motion, so the tracker's own decisions
// are what is tested.
constexpr int kXSize = 64, kYSize = 48;
constexpr int kSquare = 16, kSquareX = 12, kSquareY = 16, kSpeed = 2;

bool inSquare(int x, int y, int t) {
  const int x0 = kSquareX + kSpeed * t;
  return x >= x0 && x < x0 + kSquare && y >= kSquareY && y < kSquareY + kSquare;
}

CTensor<float> frame(int t, bool aUniform) {
  CTensor<float> aImage(kXSize, kYSize, 3);
  // Fixed textures: the background's and the square's (in square coordinates).
  CRandom aRandom;
  std::vector<float> aBack, aFront;
  for (int i = 0; i < kXSize * kYSize; i++)
    aBack.push_back(static_cast<float>(aRandom.next() % 256));
  for (int i = 0; i < kSquare * kSquare; i++)
    aFront.push_back(static_cast<float>(aRandom.next() % 256));
  for (int y = 0; y < kYSize; y++)
    for (int x = 0; x < kXSize; x++) {
      float aValue = aBack[x + kXSize * y];
      if (inSquare(x, y, t))
        aValue = aFront[(x - kSquareX - kSpeed * t) + kSquare * (y - kSquareY)];
      if (aUniform) aValue = 128.0f;
      for (int c = 0; c < 3; c++) aImage(x, y, c) = c == 1 ? 255.0f - aValue : aValue;
    }
  return aImage;
}

struct CRun {
  explicit CRun(int aFrames, bool aUniform = false, int aXSize = kXSize, int aYSize = kYSize)
      : mFrames(aFrames) {
    CVector<std::string>& aInput = mSettings.mInput;
    aInput.setSize(aFrames);
    for (int t = 0; t < aFrames; t++) {
      aInput(t) = mDir.file("frame" + std::to_string(t) + ".ppm");
      CTensor<float> aImage = frame(t, aUniform);
      if (aXSize != kXSize || aYSize != kYSize) {
        CTensor<float> aSmall(aXSize, aYSize, 3);
        for (int c = 0; c < 3; c++)
          for (int y = 0; y < aYSize; y++)
            for (int x = 0; x < aXSize; x++) aSmall(x, y, c) = aImage(x, y, c);
        aImage = aSmall;
      }
      EXPECT_TRUE(aImage.writeToPPM(aInput(t).c_str()));
    }
    mSettings.mResultDir = mDir.path() + "/";
    mSettings.mStartFrame = 0;
    mSettings.mSequenceLength = aFrames;
    mSettings.mStep = 4;
    mSettings.mXSize = aXSize;
    mSettings.mYSize = aYSize;
    // The fake flows find their pair in the status log, so no pair may be computed ahead of the
    // tracker on other threads.
    omp_set_num_threads(2);
  }
  // One tracker run; the status log starts empty each time.
  bool track() {
    mStatus.str("");
    CTensor<float> aFirst;
    EXPECT_TRUE(aFirst.readFromPPM(mSettings.mInput(mSettings.mStartFrame).c_str()));
    auto aFlow = [this](const CTensor<float>& aImage1, const CTensor<float>&, const CTensor<float>&,
                        const CTensor<float>&, const CMatrix<float>&, const CMatrix<float>&,
                        CTensor<float>& aForward, CTensor<float>& aBackward) {
      mComputed++;
      const int t = pairBeingComputed();
      EXPECT_GE(t, 0);
      if (mConstantU != 0.0f) {
        aForward = constantFlow(aImage1.xSize(), aImage1.ySize(), mConstantU, 0);
        aBackward = constantFlow(aImage1.xSize(), aImage1.ySize(), -mConstantU, 0);
        return;
      }
      aForward = constantFlow(aImage1.xSize(), aImage1.ySize(), 0, 0);
      aBackward = aForward;
      for (int y = 0; y < aImage1.ySize(); y++)
        for (int x = 0; x < aImage1.xSize(); x++) {
          if (inSquare(x, y, t)) aForward[x + aImage1.xSize() * y] = kSpeed;
          if (inSquare(x, y, t + 1)) aBackward[x + aImage1.xSize() * y] = -kSpeed;
        }
    };
    auto aShow = [this](const CTensor<float>&, const CTensor<float>&, int t) {
      mShown.push_back(t);
      return true;
    };
    const std::string aFolder = mSettings.mResultDir;
    auto aRealShow = [aFolder](const CTensor<float>& aForward, const CTensor<float>& aBackward,
                               int t) {
      return writeFlowPictures(aFolder, t, aForward, aBackward);
    };
    return mRealFlow
               ? computeTracks(mSettings, aFirst, CMatching::hogFlow, aRealShow, mTracks, mStatus)
               : computeTracks(mSettings, aFirst, aFlow, aShow, mTracks, mStatus);
  }
  std::string status() { return mStatus.str(); }

  testutil::TempDir mDir{"tracker"};
  CRunSettings mSettings;
  std::vector<CTrack> mTracks;
  std::ostringstream mStatus;
  int mFrames;
  int mComputed = 0;
  // When not 0, the whole frame moves by this many pixels along x instead of the square.
  float mConstantU = 0.0f;
  // Use the large-displacement flow and the flow pictures of a real run.
  bool mRealFlow = false;
  std::vector<int> mShown;
  // The pair being computed is the one of the status line written just before the call.
  int pairBeingComputed() {
    const std::string aLog = status();
    const size_t aPos = aLog.rfind("Frame");
    return aPos == std::string::npos ? -1 : std::atoi(aLog.c_str() + aPos + 5);
  }
};

std::string flowName(const std::string& aDir, const char* aPattern, int t) {
  char aName[64];
  std::snprintf(aName, sizeof(aName), aPattern, t);
  return aDir + "/" + aName;
}

}  // namespace

TEST(TrackerReliability, ForwardBackwardErrorAtTheBoundIsUnreliable) {
  // u = (5, 4), u2 = (-5, -3): error 1 = 0.01 * 75 + 0.25 exactly, and the test is >=.
  const CMatrix<float> aCorners(16, 16, 1000.0f);
  CMatrix<float> aUnreliable;
  markUnreliable(constantFlow(16, 16, 5, 4), constantFlow(16, 16, -5, -3), aCorners, 1000.0f,
                 aUnreliable);
  EXPECT_EQ(aUnreliable(2, 2), 1.0f);
  // A slightly smaller error (0.9375^2 against 1.0038) passes.
  markUnreliable(constantFlow(16, 16, 5, 4), constantFlow(16, 16, -5, -3.0625f), aCorners, 1000.0f,
                 aUnreliable);
  EXPECT_EQ(aUnreliable(2, 2), 0.0f);
  // The interpolation cell (x1, x1 + 1) must lie inside: from x = 10, 10 + 5 = 15 is the last
  // column and its right neighbour is outside.
  EXPECT_EQ(aUnreliable(9, 2), 0.0f);
  EXPECT_EQ(aUnreliable(10, 2), 1.0f);
}

TEST(TrackerReliability, MotionBoundaryNotANumberAndTexturelessAreUnreliable) {
  CTensor<float> aForward = constantFlow(20, 20, 0, 0);
  for (int y = 0; y < 20; y++)
    for (int x = 10; x < 20; x++) aForward(x, y, 0) = 1.0f;
  aForward(3, 15, 1) = std::nanf("");
  CTensor<float> aBackward = aForward;
  for (int y = 0; y < 20; y++)
    for (int x = 0; x < 20; x++) aBackward(x, y, 0) = -aForward(x, y, 0);
  CMatrix<float> aCorners(20, 20, 1000.0f);
  aCorners(5, 5) = 0.0f;
  CMatrix<float> aUnreliable;
  markUnreliable(aForward, aBackward, aCorners, 1000.0f, aUnreliable);
  // Derivative 0.5 on both sides of the jump: 0.25 > 0.01 * 1 + 0.005.
  EXPECT_EQ(aUnreliable(9, 5), 1.0f);
  EXPECT_EQ(aUnreliable(10, 5), 1.0f);
  EXPECT_EQ(aUnreliable(7, 5), 0.0f);
  EXPECT_EQ(aUnreliable(12, 5), 0.0f);
  EXPECT_EQ(aUnreliable(3, 15), 1.0f);
  EXPECT_EQ(aUnreliable(5, 5), 1.0f);
  // Texture against the border: at distance 0, e = 1 needs c >= 0.25 * 1000 * 1.1 = 275.
  aCorners.fill(274.0f);
  markUnreliable(constantFlow(20, 20, 0, 0), constantFlow(20, 20, 0, 0), aCorners, 1000.0f,
                 aUnreliable);
  EXPECT_EQ(aUnreliable(0, 8), 1.0f);
  EXPECT_EQ(aUnreliable(8, 8), 0.0f);
}

TEST(Tracker, SeedScaleFollowsGridLevel) {
  EXPECT_EQ(seedScale(4, 4), 32);
  EXPECT_EQ(seedScale(12, 4), 8);
  EXPECT_EQ(seedScale(20, 4), 16);
  EXPECT_EQ(seedScale(36, 4), 32);
  EXPECT_EQ(seedScale(5, 4), 1);
  EXPECT_EQ(seedScale(4, 6), 2);
}

TEST(Tracker, TracksOnTheSquareMoveWithItAndOthersStayOrStop) {
  CRun aRun(4);
  ASSERT_TRUE(aRun.track());
  EXPECT_EQ(aRun.mComputed, 3);
  EXPECT_EQ(aRun.status(),
            "Compute optical flow. Frame0\nCompute optical flow. Frame1\n"
            "Compute optical flow. Frame2\n");
  EXPECT_EQ(aRun.mShown, (std::vector<int>{0, 1, 2}));
  int aOnSquare = 0, aStatic = 0;
  for (const CTrack& aTrack : aRun.mTracks) {
    EXPECT_EQ(aTrack.mox % 4, 0);
    EXPECT_EQ(aTrack.moy % 4, 0);
    EXPECT_GE(aTrack.mox, 4);
    EXPECT_LT(aTrack.mox, kXSize - 4);
    const bool aMoving = inSquare(aTrack.mox, aTrack.moy, aTrack.mSetupTime);
    for (size_t k = 0; k < aTrack.mx.size(); k++) {
      const float aShift = aMoving ? kSpeed * (k + 1.0f) : 0.0f;
      EXPECT_EQ(aTrack.mx[k], aTrack.mox + aShift);
      EXPECT_EQ(aTrack.my[k], aTrack.moy);
    }
    if (aMoving && aTrack.mx.size() == 3) aOnSquare++;
    if (!aMoving && aTrack.mx.size() == 3) aStatic++;
    // Background just ahead of the square is covered in the next frame: its track ends.
    const int x = aTrack.mox, y = aTrack.moy;
    if (aTrack.mSetupTime == 0 && y > kSquareY + 1 && y < kSquareY + kSquare - 2 &&
        x >= kSquareX + kSquare && x < kSquareX + kSquare + kSpeed) {
      EXPECT_TRUE(aTrack.mStopped);
      EXPECT_TRUE(aTrack.mx.empty());
    }
  }
  EXPECT_GT(aOnSquare, 4);
  EXPECT_GT(aStatic, 20);
  for (int t = 0; t < 4; t++) {
    char aName[32];
    std::snprintf(aName, sizeof(aName), "Tracking%03d.ppm", t);
    CTensor<float> aPicture;
    EXPECT_TRUE(aPicture.readFromPPM(aRun.mDir.file(aName).c_str())) << aName;
  }
  for (int t = 0; t < 3; t++) {
    CTensor<float> aFlow;
    EXPECT_TRUE(
        COpticFlow::readMiddlebury(flowName(aRun.mDir.path(), "ForwardFlow%03d.flo", t).c_str(),
                                   aFlow, false, kXSize, kYSize));
    EXPECT_TRUE(
        COpticFlow::readMiddlebury(flowName(aRun.mDir.path(), "BackwardFlow%03d.flo", t).c_str(),
                                   aFlow, false, kXSize, kYSize));
  }
  EXPECT_FALSE(testutil::fileExists(aRun.mDir.file("ForwardFlow003.flo")));
}

TEST(Tracker, FirstPictureShowsSeedsInBlue) {
  CRun aRun(2);
  ASSERT_TRUE(aRun.track());
  ASSERT_FALSE(aRun.mTracks.empty());
  CTensor<float> aPicture;
  ASSERT_TRUE(aPicture.readFromPPM(aRun.mDir.file("Tracking000.ppm").c_str()));
  const CTrack& aTrack = aRun.mTracks.front();
  EXPECT_EQ(aPicture(aTrack.mox - 1, aTrack.moy - 1, 0), 0.0f);
  EXPECT_EQ(aPicture(aTrack.mox - 1, aTrack.moy - 1, 1), 0.0f);
  EXPECT_EQ(aPicture(aTrack.mox - 1, aTrack.moy - 1, 2), 255.0f);
}

TEST(Tracker, SecondRunReadsTheCacheAndDamagedFilesAreRecomputed) {
  CRun aRun(4);
  ASSERT_TRUE(aRun.track());
  const std::vector<CTrack> aFirst = aRun.mTracks;
  aRun.mComputed = 0;
  aRun.mShown.clear();
  ASSERT_TRUE(aRun.track());
  EXPECT_EQ(aRun.mComputed, 0);
  EXPECT_EQ(aRun.status(), "");
  ASSERT_EQ(aRun.mTracks.size(), aFirst.size());
  for (size_t i = 0; i < aFirst.size(); i++) EXPECT_EQ(aRun.mTracks[i].mx, aFirst[i].mx);

  // Truncated forward file of pair 1, backward file of pair 2 missing, forward file of pair 0
  // of another size: exactly these pairs are recomputed and rewritten.
  const std::string aTruncated = flowName(aRun.mDir.path(), "ForwardFlow%03d.flo", 1);
  const std::string aContents = testutil::readFile(aTruncated);
  testutil::writeFile(aTruncated, aContents.substr(0, aContents.size() / 2));
  std::remove(flowName(aRun.mDir.path(), "BackwardFlow%03d.flo", 2).c_str());
  ASSERT_TRUE(
      COpticFlow::writeMiddlebury(constantFlow(kXSize - 1, kYSize, 0, 0),
                                  flowName(aRun.mDir.path(), "ForwardFlow%03d.flo", 0).c_str()));
  aRun.mComputed = 0;
  ASSERT_TRUE(aRun.track());
  EXPECT_EQ(aRun.mComputed, 3);
  EXPECT_EQ(aRun.mShown, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(aRun.status(),
            "Compute optical flow. Frame0\nCompute optical flow. Frame1\n"
            "Compute optical flow. Frame2\n");
  CTensor<float> aFlow;
  EXPECT_TRUE(COpticFlow::readMiddlebury(aTruncated.c_str(), aFlow, false, kXSize, kYSize));
}

TEST(Tracker, OnlyDamagedPairIsRecomputed) {
  CRun aRun(4);
  ASSERT_TRUE(aRun.track());
  const std::string aTruncated = flowName(aRun.mDir.path(), "ForwardFlow%03d.flo", 1);
  const std::string aContents = testutil::readFile(aTruncated);
  testutil::writeFile(aTruncated, aContents.substr(0, aContents.size() - 4));
  aRun.mComputed = 0;
  aRun.mShown.clear();
  ASSERT_TRUE(aRun.track());
  EXPECT_EQ(aRun.mComputed, 1);
  EXPECT_EQ(aRun.mShown, (std::vector<int>{1}));
  EXPECT_EQ(aRun.status(), "Compute optical flow. Frame1\n");
}

// Flows of the right length whose bytes are not those their record names, records of the
// earlier version without the flows' fingerprints, and flows that are not finite are never
// used: their pairs are computed again with the usual status line.
TEST(Tracker, FlowsWithOtherBytesOldRecordsOrNonFiniteValuesAreRecomputed) {
  CRun aRun(5);
  ASSERT_TRUE(aRun.track());
  const std::string aDir = aRun.mDir.path();
  // Pair 0: the forward flow's values overwritten with 0xFF bytes (not a number).
  const std::string aForward = flowName(aDir, "ForwardFlow%03d.flo", 0);
  std::string aBytes = testutil::readFile(aForward);
  std::fill(aBytes.begin() + 12, aBytes.end(), '\xff');
  testutil::writeFile(aForward, aBytes);
  // Pair 1: one finite value of the backward flow changed.
  const std::string aBackward = flowName(aDir, "BackwardFlow%03d.flo", 1);
  aBytes = testutil::readFile(aBackward);
  const float aValue = 0.5f;
  std::memcpy(&aBytes[12 + 8 * 100], &aValue, sizeof(aValue));
  testutil::writeFile(aBackward, aBytes);
  // Pair 2: the record as the earlier version wrote it.
  const std::string aRecord = flowName(aDir, "FlowSource%03d.txt", 2);
  const std::string aText = testutil::readFile(aRecord);
  ASSERT_NE(aText.find(" flows "), std::string::npos) << aText;
  testutil::writeFile(aRecord, aText.substr(0, aText.find(" flows ")) + "\n");
  // Pair 3: a flow holding infinity under a record that names it exactly.
  CFlowSource aSource;
  aSource.mXSize = kXSize;
  aSource.mYSize = kYSize;
  CTensor<float> aFrame, aFlow = constantFlow(kXSize, kYSize, 0, 0);
  ASSERT_TRUE(aFrame.readFromPPM(aRun.mSettings.mInput(3).c_str()));
  aSource.mFirst = frameFingerprint(aFrame);
  ASSERT_TRUE(aFrame.readFromPPM(aRun.mSettings.mInput(4).c_str()));
  aSource.mSecond = frameFingerprint(aFrame);
  aFlow[7] = std::numeric_limits<float>::infinity();
  ASSERT_TRUE(writeCachedFlows(aDir + "/", 3, aSource, aFlow, aFlow));

  aRun.mComputed = 0;
  ASSERT_TRUE(aRun.track());
  EXPECT_EQ(aRun.mComputed, 4);
  EXPECT_EQ(aRun.status(),
            "Compute optical flow. Frame0\nCompute optical flow. Frame1\n"
            "Compute optical flow. Frame2\nCompute optical flow. Frame3\n");
  // The recomputed pair is cached again under a record that names its bytes.
  CTensor<float> aForwardFlow, aBackwardFlow;
  EXPECT_TRUE(readCachedFlows(aDir + "/", 3, aSource, aForwardFlow, aBackwardFlow));
}

TEST(Tracker, UniformSmallAndSingleFrameSequencesGiveNoTracks) {
  {
    // The recursive smoother does not keep a constant constant at the borders, so the frame
    // corners get some structure; everywhere else a uniform frame gets no seed.
    CRun aRun(3, true);
    ASSERT_TRUE(aRun.track());
    EXPECT_LE(aRun.mTracks.size(), 4u);
    for (const CTrack& aTrack : aRun.mTracks) {
      EXPECT_TRUE(aTrack.mox <= 8 || aTrack.mox >= kXSize - 8) << aTrack.mox;
      EXPECT_TRUE(aTrack.moy <= 8 || aTrack.moy >= kYSize - 8) << aTrack.moy;
    }
    EXPECT_TRUE(testutil::fileExists(aRun.mDir.file("Tracking002.ppm")));
  }
  {
    CRun aRun(2, false, 8, 40);
    ASSERT_TRUE(aRun.track());
    EXPECT_TRUE(aRun.mTracks.empty());
  }
  {
    CRun aRun(1);
    ASSERT_TRUE(aRun.track());
    EXPECT_TRUE(aRun.mTracks.empty());
    EXPECT_EQ(aRun.mComputed, 0);
    EXPECT_FALSE(testutil::fileExists(aRun.mDir.file("Tracking000.ppm")));
    EXPECT_FALSE(testutil::fileExists(aRun.mDir.file("ForwardFlow000.flo")));
  }
}

TEST(Tracker, TracksAreDrawnInTheRampColourOfTheirLength) {
  CRun aRun(2);
  // A track with one position takes row 4 of the ramp: (0, 4, 255).
  ASSERT_TRUE(aRun.track());
  const CTrack* aMoved = nullptr;
  for (const CTrack& aTrack : aRun.mTracks)
    if (aTrack.mx.size() == 1) aMoved = &aTrack;
  ASSERT_NE(aMoved, nullptr);
  CTensor<float> aPicture;
  ASSERT_TRUE(aPicture.readFromPPM(aRun.mDir.file("Tracking001.ppm").c_str()));
  const int x = std::lround(aMoved->mx[0]) - 1, y = std::lround(aMoved->my[0]) - 1;
  EXPECT_EQ(aPicture(x, y, 0), 0.0f);
  EXPECT_EQ(aPicture(x, y, 1), 4.0f);
  EXPECT_EQ(aPicture(x, y, 2), 255.0f);
}

TEST(Tracker, UnreadableOrResizedFrameStopsWithFalse) {
  CRun aRun(3);
  std::remove(aRun.mSettings.mInput(2).c_str());
  EXPECT_FALSE(aRun.track());
  CTensor<float> aSmall(10, 10, 3, 0.0f);
  ASSERT_TRUE(aSmall.writeToPPM(aRun.mSettings.mInput(2).c_str()));
  EXPECT_FALSE(aRun.track());
  aRun.mSettings.mStep = 0;
  EXPECT_FALSE(aRun.track());
}

TEST(Tracker, NextPositionIsRoundedHalvesAwayFromZeroAtTheBorder) {
  // Seeds in column 4 moved by -4.4 land at -0.4, which rounds to 0 and is kept; moved by
  // -4.5 they land at -0.5, which rounds to -1 and ends them without a position.
  CRun aRun(2);
  aRun.mConstantU = -4.4f;
  ASSERT_TRUE(aRun.track());
  std::vector<int> aKept;
  for (size_t i = 0; i < aRun.mTracks.size(); i++)
    if (aRun.mTracks[i].mox == 4 && aRun.mTracks[i].mx.size() == 1) {
      EXPECT_EQ(aRun.mTracks[i].mx[0], 4.0f + -4.4f);
      aKept.push_back(static_cast<int>(i));
    }
  ASSERT_FALSE(aKept.empty());
  std::remove(flowName(aRun.mDir.path(), "ForwardFlow%03d.flo", 0).c_str());
  aRun.mConstantU = -4.5f;
  ASSERT_TRUE(aRun.track());
  for (int i : aKept) {
    EXPECT_EQ(aRun.mTracks[i].mox, 4);
    EXPECT_TRUE(aRun.mTracks[i].mStopped);
    EXPECT_TRUE(aRun.mTracks[i].mx.empty());
  }
}

TEST(Tracker, WithTheComputedFlowTracksFollowTheSquare) {
  CRun aRun(3);
  aRun.mRealFlow = true;
  ASSERT_TRUE(aRun.track());
  EXPECT_EQ(aRun.status(), "Compute optical flow. Frame0\nCompute optical flow. Frame1\n");
  EXPECT_TRUE(testutil::fileExists(aRun.mDir.file("ForwardFlow001.ppm")));
  EXPECT_TRUE(testutil::fileExists(aRun.mDir.file("BackwardFlow001.ppm")));
  int aOnSquare = 0, aOnBackground = 0;
  for (const CTrack& aTrack : aRun.mTracks) {
    if (aTrack.mSetupTime != 0 || aTrack.mx.size() != 2) continue;
    // Well inside the square or well away from it.
    const bool aInside = aTrack.mox >= kSquareX + 2 && aTrack.mox < kSquareX + kSquare - 2 &&
                         aTrack.moy >= kSquareY + 2 && aTrack.moy < kSquareY + kSquare - 2;
    const bool aAway = aTrack.mox < kSquareX - 6 || aTrack.mox > kSquareX + kSquare + 10 ||
                       aTrack.moy < kSquareY - 6 || aTrack.moy > kSquareY + kSquare + 6;
    const float aShift = aInside ? 2.0f * kSpeed : 0.0f;
    if (aInside || aAway) {
      EXPECT_NEAR(aTrack.mx[1], aTrack.mox + aShift, 0.5f) << aTrack.mox << " " << aTrack.moy;
      EXPECT_NEAR(aTrack.my[1], aTrack.moy, 0.5f) << aTrack.mox << " " << aTrack.moy;
    }
    aOnSquare += aInside;
    aOnBackground += aAway;
  }
  EXPECT_GT(aOnSquare, 2);
  EXPECT_GT(aOnBackground, 20);
}
