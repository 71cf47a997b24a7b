#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "clustering/MergeClustersAffine.h"
#include "settings/RunSettings.h"
#include "tests/IdealCache.h"
#include "tests/TestUtil.h"
#include "tracking/CTrack.h"

namespace {

// Small deterministic noise in [-aAmplitude, aAmplitude] from an integer key.
float noise(int aKey, float aAmplitude) {
  unsigned h = static_cast<unsigned>(aKey) * 2654435761u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  h ^= h >> 15;
  return aAmplitude * (static_cast<float>(h % 20001u) / 10000.0f - 1.0f);
}

// A track from frame 0 to aFrames - 1 starting at the integer point (x, y), moving by
// (dx, dy) per frame plus noise; every step has flow variation 1 (weight 1).
CTrack movingTrack(int aLabel, int x, int y, float dx, float dy, int aFrames, float aNoise,
                   int aKey) {
  CTrack aTrack;
  aTrack.mLabel = aLabel;
  aTrack.mox = x;
  aTrack.moy = y;
  aTrack.mSetupTime = 0;
  for (int k = 1; k < aFrames; k++) {
    aTrack.mx.push_back(x + k * dx + noise(aKey * 97 + 2 * k, aNoise));
    aTrack.my.push_back(y + k * dy + noise(aKey * 97 + 2 * k + 1, aNoise));
    aTrack.mFlowVar.push_back(static_cast<float>(k));
  }
  return aTrack;
}

// A block of aColumns x aRows tracks with spacing 5 starting at (x0, y0).
void addBlock(std::vector<CTrack>& aTracks, int aLabel, int x0, int y0, int aColumns, int aRows,
              float dx, float dy, int aFrames, float aNoise) {
  for (int r = 0; r < aRows; r++)
    for (int c = 0; c < aColumns; c++) {
      const int aKey = static_cast<int>(aTracks.size()) + 1;
      aTracks.push_back(movingTrack(aLabel, x0 + 5 * c, y0 + 5 * r, dx, dy, aFrames, aNoise, aKey));
    }
}

class MergeClusters : public ::testing::Test {
 protected:
  void SetUp() override {
    mSettings.mStep = 8;
    mSettings.mSequenceLength = 3;
  }
  void merge(std::vector<CTrack>& aTracks) {
    mergeClustersAffine(mSettings, aTracks, mRegionNo, mStatus);
  }
  std::string log() { return mStatus.str(); }
  // The lines of the status log.
  std::vector<std::string> mergeLines() {
    std::vector<std::string> aLines;
    const std::string aLog = log();
    size_t aPos = 0, aEnd;
    while ((aEnd = aLog.find('\n', aPos)) != std::string::npos) {
      aLines.push_back(aLog.substr(aPos, aEnd - aPos));
      aPos = aEnd + 1;
    }
    return aLines;
  }
  CRunSettings mSettings;
  int mRegionNo = 2;
  std::ostringstream mStatus;
};

double lossOf(const std::string& aLine) {
  return std::stod(aLine.substr(aLine.find(": ") + 2));
}

// Weighted least squares in double through the normal equations (6 unknowns).
std::vector<double> affineFit(const std::vector<const CTrack*>& aMembers,
                              const std::vector<double>& aWeights, int t) {
  double N[6][7] = {};
  for (size_t m = 0; m < aMembers.size(); m++) {
    const CTrack& aTrack = *aMembers[m];
    const double x = t == 0 ? aTrack.mox : aTrack.mx[t - 1];
    const double y = t == 0 ? aTrack.moy : aTrack.my[t - 1];
    const double aRows[2][7] = {{x, y, 0, 0, 1, 0, aTrack.mx[t]}, {0, 0, x, y, 0, 1, aTrack.my[t]}};
    for (const auto& aRow : aRows)
      for (int i = 0; i < 6; i++)
        for (int j = 0; j < 7; j++) N[i][j] += aWeights[m] * aRow[i] * aRow[j];
  }
  for (int i = 0; i < 6; i++)
    for (int k = i + 1; k < 6; k++) {
      const double f = N[k][i] / N[i][i];
      for (int j = i; j < 7; j++) N[k][j] -= f * N[i][j];
    }
  std::vector<double> X(6);
  for (int i = 5; i >= 0; i--) {
    double s = N[i][6];
    for (int k = i + 1; k < 6; k++) s -= N[i][k] * X[k];
    X[i] = s / N[i][i];
  }
  return X;
}

double residualSum(const std::vector<const CTrack*>& aMembers, const std::vector<double>& X,
                   int t) {
  double aSum = 0;
  for (const CTrack* aTrack : aMembers) {
    const double x = t == 0 ? aTrack->mox : aTrack->mx[t - 1];
    const double y = t == 0 ? aTrack->moy : aTrack->my[t - 1];
    const double dx = X[0] * x + X[1] * y + X[4] - aTrack->mx[t];
    const double dy = X[2] * x + X[3] * y + X[5] - aTrack->my[t];
    aSum += dx * dx + dy * dy;
  }
  return aSum;
}

// The merge cost of two clusters over one step (frame 0 to 1) with the given row factors.
double referenceLoss(const std::vector<CTrack>& aTracks, double wa, double wb) {
  std::vector<const CTrack*> a, b, ab;
  std::vector<double> aOnes, bOnes, aJoint;
  for (const CTrack& aTrack : aTracks) {
    (aTrack.mLabel == 0 ? a : b).push_back(&aTrack);
    (aTrack.mLabel == 0 ? aOnes : bOnes).push_back(1.0);
    ab.push_back(&aTrack);
    aJoint.push_back(aTrack.mLabel == 0 ? wa * wa : wb * wb);
  }
  const std::vector<double> X = affineFit(ab, aJoint, 0);
  const double aLossA = (residualSum(a, X, 0) - residualSum(a, affineFit(a, aOnes, 0), 0)) /
                        static_cast<double>(a.size());
  const double aLossB = (residualSum(b, X, 0) - residualSum(b, affineFit(b, bOnes, 0), 0)) /
                        static_cast<double>(b.size());
  return std::max(aLossA, aLossB);
}

}  // namespace

TEST_F(MergeClusters, WithoutLabelledTracksOnlyAnnounces) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, -1, 0, 0, 3, 3, 1, 0, 3, 0.1f);
  merge(aTracks);
  EXPECT_EQ(log(), "Merging...\n");
  for (const CTrack& aTrack : aTracks) EXPECT_EQ(aTrack.mLabel, -1);
}

TEST_F(MergeClusters, WithoutFramesNothingQualifies) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1, 0, 3, 0.1f);
  addBlock(aTracks, 1, 20, 0, 3, 3, 1, 0, 3, 0.1f);
  mSettings.mSequenceLength = 0;
  merge(aTracks);
  EXPECT_EQ(log(), "Merging...\n");
}

TEST_F(MergeClusters, MergesTouchingClustersWithOneMotion) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  addBlock(aTracks, 1, 20, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  merge(aTracks);
  const std::vector<std::string> aLines = mergeLines();
  ASSERT_EQ(aLines.size(), 2u);
  EXPECT_EQ(aLines[0], "Merging...");
  EXPECT_EQ(aLines[1].rfind("Merging 0 and 1: ", 0), 0u) << aLines[1];
  EXPECT_GT(lossOf(aLines[1]), 0.0);
  EXPECT_LE(lossOf(aLines[1]), 2.0);
  for (const CTrack& aTrack : aTracks) EXPECT_EQ(aTrack.mLabel, 0);
}

TEST_F(MergeClusters, MergesClustersWithOneMotionWhereTheFlowVariationIsZero) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.5f, -0.5f, 3, 0.02f);
  addBlock(aTracks, 1, 20, 0, 3, 3, 1.5f, -0.5f, 3, 0.02f);
  for (CTrack& aTrack : aTracks) std::fill(aTrack.mFlowVar.begin(), aTrack.mFlowVar.end(), 0.0f);
  merge(aTracks);
  const std::vector<std::string> aLines = mergeLines();
  ASSERT_EQ(aLines.size(), 2u);
  EXPECT_EQ(aLines[1].rfind("Merging 0 and 1: ", 0), 0u) << aLines[1];
  EXPECT_TRUE(std::isfinite(lossOf(aLines[1])));
  for (const CTrack& aTrack : aTracks) EXPECT_EQ(aTrack.mLabel, 0);
}

TEST_F(MergeClusters, KeepsClustersWithDifferentMotionApart) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  addBlock(aTracks, 1, 20, 0, 3, 3, -8.0f, 5.0f, 3, 0.2f);
  merge(aTracks);
  EXPECT_EQ(log(), "Merging...\n");
  EXPECT_EQ(aTracks.back().mLabel, 1);
}

TEST_F(MergeClusters, NeverMergesDistantClustersThatShareNoNeighbours) {
  // Gap between the blocks: 40 - 10 = 30 pixels > 2 * mStep.
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  addBlock(aTracks, 1, 40, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  merge(aTracks);
  EXPECT_EQ(log(), "Merging...\n");
}

TEST_F(MergeClusters, NeighbourListMakesDistantClustersAdjacent) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  addBlock(aTracks, 1, 40, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  aTracks[2].mNearestNeighbors[0] = 9;
  merge(aTracks);
  const std::vector<std::string> aLines = mergeLines();
  ASSERT_EQ(aLines.size(), 2u);
  EXPECT_EQ(aLines[1].rfind("Merging 0 and 1: ", 0), 0u);
}

TEST_F(MergeClusters, ClusterOfThreeIsFittedButNeverMerged) {
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.5f, -0.5f, 3, 0.2f);
  addBlock(aTracks, 1, 20, 0, 3, 1, 1.5f, -0.5f, 3, 0.2f);
  merge(aTracks);
  EXPECT_EQ(log(), "Merging...\n");
}

TEST_F(MergeClusters, JointFitWeighsClustersByIntegerCountQuotient) {
  // 10 and 30 members: factors 2 and 1 (40 div 10, 40 div 30), not 2 and 1.155.
  mSettings.mSequenceLength = 2;
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 5, 2, 1.0f, 0.0f, 2, 0.2f);
  addBlock(aTracks, 1, 30, 0, 6, 5, 1.4f, 0.2f, 2, 0.2f);
  const double aExpected = referenceLoss(aTracks, 2.0, 1.0);
  const double aRealQuotient = referenceLoss(aTracks, 2.0, std::sqrt(40.0 / 30.0));
  ASSERT_GT(std::fabs(aExpected - aRealQuotient), 0.02 * aExpected);
  merge(aTracks);
  const std::vector<std::string> aLines = mergeLines();
  ASSERT_EQ(aLines.size(), 2u);
  EXPECT_NEAR(lossOf(aLines[1]), aExpected, 2e-3 * aExpected);
}

TEST_F(MergeClusters, MergedClusterInheritsAdjacency) {
  // 0 touches 1, 1 touches 2, 0 and 2 are 50 pixels apart. 0 and 1 move alike, 2 a little
  // differently, so 0 and 1 merge first; 2 then merges with the survivor 0 only because 0
  // took over 1's adjacency.
  mRegionNo = 3;
  std::vector<CTrack> aTracks;
  addBlock(aTracks, 0, 0, 0, 3, 3, 1.0f, 0.0f, 3, 0.1f);
  addBlock(aTracks, 1, 20, 0, 3, 3, 1.0f, 0.0f, 3, 0.1f);
  addBlock(aTracks, 2, 40, 0, 3, 3, 1.3f, 0.0f, 3, 0.1f);
  merge(aTracks);
  const std::vector<std::string> aLines = mergeLines();
  ASSERT_EQ(aLines.size(), 3u);
  EXPECT_EQ(aLines[1].rfind("Merging 0 and 1: ", 0), 0u) << aLines[1];
  EXPECT_EQ(aLines[2].rfind("Merging 0 and 2: ", 0), 0u) << aLines[2];
  for (const CTrack& aTrack : aTracks) EXPECT_EQ(aTrack.mLabel, 0);
}

TEST_F(MergeClusters, KeepsGeneratedObjectsApartAndJoinsSplitBackground) {
  // Perfectly labelled trajectories of a generated sequence with three moving objects: no
  // two layers share a motion. Splitting the still background into left and right halves
  // (cluster 4) gives exactly one merge, of the two halves.
  testutil::TempDir aDir;
  ASSERT_EQ(testutil::runProgram({testutil::programPath("quorvik-generate"), "--out", aDir.path(),
                                  "--name", "seq", "--objects", "3", "--frames", "8", "--tracks",
                                  "0", "8", "8", "--ideal-labels"}),
            0);
  std::vector<CTrack> aTracks;
  ASSERT_TRUE(
      testutil::readIdealCache(aDir.file("QuorvikResults/seqTracks_000_008_08.txt"), aTracks));
  for (CTrack& aTrack : aTracks)
    if (aTrack.mLabel == 0 && aTrack.mox >= 80) aTrack.mLabel = 4;
  mSettings.mSequenceLength = 8;
  mRegionNo = 5;
  merge(aTracks);
  const std::vector<std::string> aLines = mergeLines();
  ASSERT_EQ(aLines.size(), 2u) << log();
  EXPECT_EQ(aLines[1].rfind("Merging 0 and 4: ", 0), 0u) << aLines[1];
}
