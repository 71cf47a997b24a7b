// The whole program on generated sequences with known motion: from a trajectory cache, and from
// the frames through the tracker, to labelled tracks, segment pictures and the evaluation.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/Run.h"
#include "foundation/PNGFile.h"
#include "tests/TestUtil.h"

using testutil::TempDir;

namespace {

int generate(const TempDir& aDir, const std::vector<std::string>& aOptions) {
  std::vector<std::string> aCommand = {testutil::programPath("quorvik-generate"), "--out",
                                       aDir.path(), "--name", "synth"};
  aCommand.insert(aCommand.end(), aOptions.begin(), aOptions.end());
  return testutil::runProgram(aCommand);
}

// The run in this process, through the library function the program itself calls.
int runInProcess(const TempDir& aDir, const std::string& aFrames, const std::string& aStep = "8") {
  std::vector<std::string> aArguments = {"quorvik", aDir.file("synth.bmf"), "0", aFrames, aStep};
  std::vector<char*> aArgv;
  for (std::string& a : aArguments) aArgv.push_back(a.data());
  return runQuorvik(static_cast<int>(aArgv.size()), aArgv.data());
}

// The built program, in a process of its own.
int runProgram(const TempDir& aDir, const std::string& aFrames, const std::string& aStep = "8") {
  return testutil::runProgram(
      {testutil::programPath("quorvik"), aDir.file("synth.bmf"), "0", aFrames, aStep}, "",
      aDir.file("err.txt"));
}

std::vector<std::string> statusLines(const TempDir& aDir, const std::string& aName) {
  std::istringstream aIn(testutil::readFile(aDir.file("QuorvikResults/" + aName)));
  std::vector<std::string> aLines;
  for (std::string aLine; std::getline(aIn, aLine);) aLines.push_back(aLine);
  return aLines;
}

// Distinct cluster labels in a "Tracks%d.dat" file.
std::set<int> resultLabels(const std::string& aPath) {
  std::istringstream aIn(testutil::readFile(aPath));
  int aLength = 0, aCount = 0;
  aIn >> aLength >> aCount;
  std::set<int> aLabels;
  for (int i = 0; i < aCount; i++) {
    int aLabel = 0, aPoints = 0;
    aIn >> aLabel >> aPoints;
    aLabels.insert(aLabel);
    for (int k = 0; k < 3 * aPoints; k++) {
      double aValue;
      aIn >> aValue;
    }
  }
  return aLabels;
}

// The share of wrong votes in per cent from "error.txt", after checking that every reference
// point of the annotation voted once in each of the aFrames frames and that the share is the
// one the counts give (100 when the file cannot be read).
double wrongShare(const TempDir& aDir, int aFrames) {
  std::istringstream aIn(testutil::readFile(aDir.file("QuorvikResults/error.txt")));
  long long aPositives = -1, aNegatives = -1;
  double aPercentage = -1;
  if (!(aIn >> aPositives >> aNegatives >> aPercentage)) {
    ADD_FAILURE() << "no evaluation";
    return 100;
  }
  std::istringstream aTruth(testutil::readFile(aDir.file("synth_truth.txt")));
  long long aPoints = 0;
  aTruth >> aPoints;
  EXPECT_GT(aPoints, 0);
  EXPECT_GE(aNegatives, 0);
  EXPECT_EQ(aPositives + aNegatives, aPoints * aFrames);
  EXPECT_NEAR(aPercentage, 100.0 * aNegatives / (aPositives + aNegatives), 1e-4 * aPercentage);
  return aPercentage;
}

// Positions at frame 0 and labels of the labelled trajectories in a "Tracks%d.dat" file.
struct CLabelledPoint {
  float x, y;
  int mLabel;
};
std::vector<CLabelledPoint> labelledStartPoints(const std::string& aPath) {
  std::istringstream aIn(testutil::readFile(aPath));
  int aLength = 0, aCount = 0;
  aIn >> aLength >> aCount;
  std::vector<CLabelledPoint> aPoints;
  for (int i = 0; i < aCount; i++) {
    int aLabel = 0, aSize = 0;
    aIn >> aLabel >> aSize;
    for (int k = 0; k < aSize; k++) {
      float x = 0, y = 0;
      int t = -1;
      aIn >> x >> y >> t;
      if (t == 0 && aLabel >= 0) aPoints.push_back({x, y, aLabel});
    }
  }
  return aPoints;
}

// For every layer of the annotation (1 = background, 2 ... = objects), the cluster that most of
// its reference points fall into at frame 0, each point taking the nearest labelled trajectory.
std::map<int, int> majorityClusters(const TempDir& aDir, const std::string& aTracksFile) {
  const std::vector<CLabelledPoint> aTracks = labelledStartPoints(aTracksFile);
  std::istringstream aIn(testutil::readFile(aDir.file("synth_truth.txt")));
  int aPointCount = 0, aRows = 0, aShift = 0;
  aIn >> aPointCount >> aRows >> aShift;
  std::map<int, std::map<int, int>> aVotes;
  for (int p = 0; p < aPointCount; p++) {
    int x = 0, y = 0, aLayer = 0;
    aIn >> x >> y >> aLayer;
    float aBest = 1e9f;
    int aCluster = -1;
    for (const CLabelledPoint& t : aTracks) {
      const float d = (t.x - x) * (t.x - x) + (t.y - y) * (t.y - y);
      if (d < aBest) {
        aBest = d;
        aCluster = t.mLabel;
      }
    }
    aVotes[aLayer][aCluster]++;
  }
  std::map<int, int> aMajority;
  for (const auto& [aLayer, aCounts] : aVotes) {
    int aMost = 0;
    for (const auto& [aCluster, aCount] : aCounts)
      if (aCount > aMost) {
        aMost = aCount;
        aMajority[aLayer] = aCluster;
      }
  }
  return aMajority;
}

// Per ground-truth object of the generator's masks ("masks/NNNNN.png", 1 ... = objects), the
// region that covers most of it in each frame, and its J with the run's own masks over the
// frames without the first and the last (as the benchmarks score): the pixels of that region
// inside "Mask%03d.png" against the object.
struct CObjectResult {
  std::set<int> mRegions;  // the object's majority region in each frame
  double mJ = 0.0;
};
std::map<int, CObjectResult> objectsInRegions(const TempDir& aDir, int aFrames) {
  std::map<int, CObjectResult> aResults;
  std::map<int, std::vector<int>> aRegionPerFrame;
  std::vector<NPNG::CImage> aTruth(aFrames), aRegions(aFrames), aMasks(aFrames);
  for (int t = 0; t < aFrames; t++) {
    char aName[64];
    std::snprintf(aName, sizeof(aName), "masks/%05d.png", t);
    EXPECT_TRUE(NPNG::readPNG(aDir.file(aName), aTruth[t]));
    std::snprintf(aName, sizeof(aName), "QuorvikResults/Regions%03d.png", t);
    EXPECT_TRUE(NPNG::readPNG(aDir.file(aName), aRegions[t]));
    std::snprintf(aName, sizeof(aName), "QuorvikResults/Mask%03d.png", t);
    EXPECT_TRUE(NPNG::readPNG(aDir.file(aName), aMasks[t]));
    if (aTruth[t].mPixels.size() == 0 || aRegions[t].mPixels.size() != aTruth[t].mPixels.size() ||
        aMasks[t].mPixels.size() != aTruth[t].mPixels.size())
      return aResults;
    std::map<int, std::map<int, int>> aCover;
    for (int i = 0; i < aTruth[t].mPixels.size(); i++)
      aCover[static_cast<int>(aTruth[t].mPixels[i])][static_cast<int>(aRegions[t].mPixels[i])]++;
    for (const auto& [aObject, aCounts] : aCover) {
      int aBest = -1, aMost = 0;
      for (const auto& [aRegion, aCount] : aCounts)
        if (aCount > aMost) aMost = aCount, aBest = aRegion;
      aRegionPerFrame[aObject].push_back(aBest);
      aResults[aObject].mRegions.insert(aBest);
    }
  }
  for (auto& [aObject, aResult] : aResults) {
    long long aBoth = 0, aEither = 0;
    for (int t = 1; t + 1 < aFrames; t++) {
      const int aRegion = aRegionPerFrame[aObject][t];
      for (int i = 0; i < aTruth[t].mPixels.size(); i++) {
        const bool aOnObject = static_cast<int>(aTruth[t].mPixels[i]) == aObject;
        const bool aFound =
            static_cast<int>(aRegions[t].mPixels[i]) == aRegion && aMasks[t].mPixels[i] >= 128.0f;
        aBoth += aOnObject && aFound;
        aEither += aOnObject || aFound;
      }
    }
    aResult.mJ = aEither > 0 ? static_cast<double>(aBoth) / static_cast<double>(aEither) : 0.0;
  }
  return aResults;
}

bool startsWith(const std::string& aText, const std::string& aPrefix) {
  return aText.rfind(aPrefix, 0) == 0;
}

}  // namespace

TEST(Pipeline, SegmentsCachedTrajectoriesOfTwoObjectsWithFewWrongVotes) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "160", "120", "--frames", "10", "--tracks", "0", "10", "6"}),
            0);
  ASSERT_EQ(runInProcess(aDir, "10", "6"), 0);

  const std::vector<std::string> aLog = statusLines(aDir, "Status10.txt");
  const std::vector<std::string> aExpected = {"clustering   >> number of tracks: ",
                                              "clustering   >> number of valid tracks: ",
                                              "clustering   >> TIME FOR build Graph:    [ ",
                                              "Before N-Cut.",
                                              "After N-Cut.",
                                              "Before segmentation.",
                                              "After segmentation.",
                                              "clustering   >> TIME FOR split Tracks:   [ ",
                                              "Merging..."};
  ASSERT_GE(aLog.size(), aExpected.size() + 2);
  for (size_t i = 0; i < aExpected.size(); i++)
    EXPECT_TRUE(startsWith(aLog[i], aExpected[i])) << aLog[i];
  EXPECT_TRUE(startsWith(aLog[aLog.size() - 2], "clustering   >> TIME FOR mergeClusters:  [ "));
  EXPECT_TRUE(startsWith(aLog.back(), "Computation time: "));

  // A cached run computes no flow and draws no tracking pictures.
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults/ForwardFlow000.flo")));
  EXPECT_FALSE(testutil::fileExists(aDir.file("QuorvikResults/Tracking000.ppm")));
  // Dense regions need no flow: a cached run has them too.
  for (const char* aName : {"Tracks10.dat", "Segments000.ppm", "Segments009.ppm", "Regions000.png",
                            "Mask009.png", "Overlay009.png"})
    EXPECT_TRUE(testutil::fileExists(aDir.file(std::string("QuorvikResults/") + aName))) << aName;

  // Background and both objects each in a cluster of their own, few votes wrong.
  EXPECT_LT(wrongShare(aDir, 10), 5.0);
  EXPECT_GE(resultLabels(aDir.file("QuorvikResults/Tracks10.dat")).size(), 3u);
}

// Frames through the tracker. The objects move about 3 pixels per frame at 160 x 120 (2 % of
// the width, as the moving objects of real clips do) and away from each other. At sub-pixel
// speeds the local flow variation, which smooths the flow across weak motion edges, is as large
// as the motion difference itself and one affine motion explains object and background almost
// as well as two; and two translating objects that meet are explained by one affine field, so
// the merging joins them by design.
TEST(Pipeline, SegmentsTrackedFramesOfTwoObjectsMovingApartEachInItsOwnCluster) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "160", "120", "--frames", "10", "--speed", "-3"}), 0);
  ASSERT_EQ(runInProcess(aDir, "10", "4"), 0);
  EXPECT_TRUE(testutil::fileExists(aDir.file("QuorvikResults/ForwardFlow008.flo")));
  EXPECT_TRUE(testutil::fileExists(aDir.file("QuorvikResults/Tracking009.ppm")));

  EXPECT_LT(wrongShare(aDir, 10), 10.0);
  const std::map<int, int> aClusters =
      majorityClusters(aDir, aDir.file("QuorvikResults/Tracks10.dat"));
  ASSERT_EQ(aClusters.size(), 3u);
  const std::set<int> aDistinct = {aClusters.at(1), aClusters.at(2), aClusters.at(3)};
  EXPECT_EQ(aDistinct.size(), 3u);
  EXPECT_EQ(aDistinct.count(-1), 0u);

  // Dense regions: each object keeps one region number in every frame, and the run's own
  // masks find it with J of 0.9 or more; the background is no moving object.
  const std::map<int, CObjectResult> aObjects = objectsInRegions(aDir, 10);
  ASSERT_EQ(aObjects.size(), 3u);
  for (const auto& [aObject, aResult] : aObjects) {
    EXPECT_EQ(aResult.mRegions.size(), 1u) << "object " << aObject;
    if (aObject > 0) {
      EXPECT_GE(aResult.mJ, 0.9) << "object " << aObject;
    }
  }
  EXPECT_LT(aObjects.at(0).mJ, 0.05);

  // quorvik-regions recomputes from the finished folder exactly what the run wrote, from the
  // flows of all frame pairs, and says so.
  ASSERT_EQ(testutil::runProgram({"/bin/mkdir", aDir.file("again")}), 0);
  ASSERT_EQ(testutil::runProgram(
                {testutil::programPath("quorvik-regions"), "--sequence", aDir.file("synth.bmf"),
                 "--tracks", aDir.file("QuorvikResults/Tracks10.dat"), "--out", aDir.file("again")},
                aDir.file("regions.out"), aDir.file("regions.err")),
            0)
      << testutil::readFile(aDir.file("regions.err"));
  EXPECT_NE(testutil::readFile(aDir.file("regions.out")).find("flows of 9 of 9 frame pairs"),
            std::string::npos)
      << testutil::readFile(aDir.file("regions.out"));
  for (int t = 0; t < 10; t++)
    for (const char* aKind : {"Regions", "Mask", "Overlay"}) {
      const std::string aName = aKind + std::string("00") + std::to_string(t) + ".png";
      EXPECT_EQ(testutil::readFile(aDir.file("again/" + aName)),
                testutil::readFile(aDir.file("QuorvikResults/" + aName)))
          << aName;
    }
}

TEST(Pipeline, TracksFramesThenReusesTheFlowCacheWithIdenticalResults) {
  TempDir aDir;
  ASSERT_EQ(generate(aDir, {"--size", "96", "72", "--frames", "4"}), 0);
  ASSERT_EQ(runInProcess(aDir, "4"), 0);
  const std::vector<std::string> aLog = statusLines(aDir, "Status4.txt");
  ASSERT_FALSE(aLog.empty());
  EXPECT_EQ(aLog[0], "Tracks are being computed...");
  for (int t = 0; t < 3; t++)
    EXPECT_EQ(aLog[1 + t], "Compute optical flow. Frame" + std::to_string(t));
  for (const char* aName : {"ForwardFlow002.flo", "BackwardFlow002.ppm", "Tracking003.ppm"})
    EXPECT_TRUE(testutil::fileExists(aDir.file(std::string("QuorvikResults/") + aName))) << aName;
  const std::string aTracks = testutil::readFile(aDir.file("QuorvikResults/Tracks4.dat"));
  const std::string aSegments = testutil::readFile(aDir.file("QuorvikResults/Segments003.ppm"));
  EXPECT_FALSE(aTracks.empty());

  // The second run, the program on its own, reads every flow from the cache and comes to the
  // same result.
  ASSERT_EQ(runProgram(aDir, "4"), 0) << testutil::readFile(aDir.file("err.txt"));
  const std::vector<std::string> aSecond = statusLines(aDir, "Status4.txt");
  for (const std::string& aLine : aSecond) EXPECT_FALSE(startsWith(aLine, "Compute optical flow"));
  EXPECT_EQ(testutil::readFile(aDir.file("QuorvikResults/Tracks4.dat")), aTracks);
  EXPECT_EQ(testutil::readFile(aDir.file("QuorvikResults/Segments003.ppm")), aSegments);
}

TEST(Pipeline, UniformSequenceEndsWellWithNoLabelledTracks) {
  TempDir aDir;
  {
    std::ofstream aBmf(aDir.file("synth.bmf"));
    aBmf << "3 1\n";
    for (int t = 0; t < 3; t++) {
      const std::string aName = "u" + std::to_string(t) + ".ppm";
      testutil::writeFile(aDir.file(aName), "P6\n64 48\n255\n" + std::string(64 * 48 * 3, '\x80'));
      aBmf << aName << "\n";
    }
  }
  ASSERT_EQ(runInProcess(aDir, "3"), 0);
  EXPECT_EQ(resultLabels(aDir.file("QuorvikResults/Tracks3.dat")).size(), 0u);
  for (const char* aName : {"Segments000.ppm", "Segments002.ppm", "Tracking002.ppm"})
    EXPECT_TRUE(testutil::fileExists(aDir.file(std::string("QuorvikResults/") + aName))) << aName;
}
