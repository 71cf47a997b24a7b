// The variational refinement and the flow of a frame pair on pictures with a known motion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "FlowStages.h"
#include "FlowTestUtil.h"
#include "flow/CMatching.h"
#include "flow/COpticFlow.h"
#include "flow/FlowPyramid.h"
#include "flow/VariationalLevel.h"
#include "foundation/Simd.h"

using namespace flowtest;

namespace {

// The refinement with the settings of the frame-pair flow and an optional prior.
CTensor<float> refine(const CTensor<float>& aFirst, const CTensor<float>& aSecond,
                      const CTensor<float>& aGeoU, const CTensor<float>& aGeoV,
                      const CTensor<float>& aGeoC) {
  CTensor<float> aFlow;
  warpingGeometric(aFirst, aSecond, aFlow, aGeoU, aGeoV, aGeoC, nullptr, CVariationalParameters());
  return aFlow;
}

CTensor<float> refine(const CTensor<float>& aFirst, const CTensor<float>& aSecond) {
  const CTensor<float> aZero(aFirst.xSize(), aFirst.ySize(), 1, 0.0f);
  return refine(aFirst, aSecond, aZero, aZero, aZero);
}

struct PairFlow {
  CTensor<float> mForward, mBackward;
};

PairFlow pairFlow(const CTensor<float>& aPicture1, const CTensor<float>& aPicture2) {
  const Frame f1 = prepare(aPicture1), f2 = prepare(aPicture2);
  PairFlow r;
  CMatching::hogFlow(f1.mImage, f2.mImage, f1.mHOG, f2.mHOG, f1.mEnergy, f2.mEnergy, r.mForward,
                     r.mBackward);
  return r;
}

float maxAbs(const CTensor<float>& aTensor) {
  float m = 0;
  for (int i = 0; i < aTensor.size(); i++) m = std::max(m, std::fabs(aTensor[i]));
  return m;
}

}  // namespace

TEST(Variational, IdenticalImagesGiveZeroFlow) {
  CRandom aRandom;
  const Frame f = prepare(render(randomBlobs(48, 40, 50, 2, 5, aRandom), 48, 40));
  const CTensor<float> aFlow = refine(f.mImage, f.mImage);
  ASSERT_EQ(aFlow.xSize(), 48);
  ASSERT_EQ(aFlow.ySize(), 40);
  ASSERT_EQ(aFlow.zSize(), 2);
  EXPECT_EQ(maxAbs(aFlow), 0.0f);
}

TEST(Variational, ProposalWithoutConfidenceHasNoInfluence) {
  CRandom aRandom;
  const std::vector<Blob> aBlobs = randomBlobs(40, 32, 40, 2, 5, aRandom);
  const Frame f1 = prepare(render(aBlobs, 40, 32)), f2 = prepare(render(aBlobs, 40, 32, 1.5, 0.5));
  CTensor<float> aGeoU(40, 32, 1, 0.0f), aGeoV(40, 32, 1, 0.0f), aGeoC(40, 32, 1, 0.0f);
  const CTensor<float> aPlain = refine(f1.mImage, f2.mImage, aGeoU, aGeoV, aGeoC);
  aGeoU(20, 16, 0) = 4;
  aGeoV(20, 16, 0) = 0.5f;
  const CTensor<float> aInert = refine(f1.mImage, f2.mImage, aGeoU, aGeoV, aGeoC);
  for (int i = 0; i < aPlain.size(); i++) ASSERT_EQ(aPlain[i], aInert[i]);
  // With a confidence the same proposal does pull the flow.
  aGeoC(20, 16, 0) = 20;
  const CTensor<float> aPulled = refine(f1.mImage, f2.mImage, aGeoU, aGeoV, aGeoC);
  EXPECT_GT(aPulled(20, 16, 0), aPlain(20, 16, 0) + 0.1f);
}

TEST(Variational, ProposalsOfALevelEqualTheirConfidenceWeightedReduction) {
  // A level's proposals are reduced from the list of matches alone; they must equal the dense
  // confidence-weighted reduction of the full-resolution prior, neighbouring and border
  // proposals included.
  const int X = 41, Y = 29;
  CTensor<float> aGeoU(X, Y, 1, 0.0f), aGeoV(X, Y, 1, 0.0f), aGeoC(X, Y, 1, 0.0f);
  CRandom aRandom(3);
  for (int k = 0; k < 150; k++) {
    const int x = aRandom.next() % X, y = aRandom.next() % Y;
    aGeoU(x, y, 0) = aRandom.next() % 21 - 10.0f;
    aGeoV(x, y, 0) = aRandom.next() % 21 - 10.0f;
    aGeoC(x, y, 0) = 9.0f * aRandom.next() / static_cast<float>(CRandom::kMax);
  }
  aGeoC(X - 1, Y - 1, 0) = 2.5f;
  const std::vector<CProposal> aList = proposalsOf(aGeoU, aGeoV, aGeoC, 0);
  std::vector<float> aWeights;
  for (const auto& aSize : {std::pair<int, int>{39, 27}, {20, 14}, {7, 5}, {1, 1}}) {
    const int n = aSize.first * aSize.second;
    std::vector<float> aU(n), aV(n), aC(n);
    reduceProposals(aList, X, Y, aSize.first, aSize.second, aU.data(), aV.data(), aC.data(),
                    aWeights);
    CTensor<float> aDenseU(aGeoU), aDenseV(aGeoV), aDenseC(aGeoC), aWeight(aGeoC);
    aDenseU.downsample(aSize.first, aSize.second, aWeight);
    aDenseV.downsample(aSize.first, aSize.second, aWeight);
    aDenseC.downsample(aSize.first, aSize.second, aWeight);
    for (int i = 0; i < n; i++) {
      ASSERT_EQ(aU[i], aDenseU[i]) << aSize.first << "x" << aSize.second << " at " << i;
      ASSERT_EQ(aV[i], aDenseV[i]) << aSize.first << "x" << aSize.second << " at " << i;
      ASSERT_EQ(aC[i], aDenseC[i]) << aSize.first << "x" << aSize.second << " at " << i;
    }
  }
}

TEST(Variational, WarpEqualsThePlainBilinearSample) {
  // The warp computes every pixel's blend in vector lanes, invalid ones from a safe position;
  // valid pixels must get the plain blend, invalid ones (outside, and not finite) the first
  // image's value, on odd sizes and at positions just inside and outside the borders.
  CRandom aRandom(9);
  for (bool aAvx2 : {true, false}) {
    allowAvx2(aAvx2);
    for (const auto& aSize : {std::pair<int, int>{2, 2}, {3, 7}, {17, 5}, {29, 23}}) {
      const int X = aSize.first, Y = aSize.second, n = X * Y;
      std::vector<float> aFirst(3 * n), aSecond(3 * n), aU(n), aV(n), aWarped(3 * n), aValid(n);
      for (int i = 0; i < 3 * n; i++) {
        aFirst[i] = 255.0f * aRandom.next() / static_cast<float>(CRandom::kMax);
        aSecond[i] = 255.0f * aRandom.next() / static_cast<float>(CRandom::kMax);
      }
      const float aSpecial[] = {-1.0f, -0.999f, -0.25f, 0.0f, 0.5f, 1e30f, -1e30f, NAN, INFINITY};
      for (int i = 0; i < n; i++) {
        const int k = aRandom.next() % 12;
        aU[i] = k < 9 ? aSpecial[k] - (i % X) * (aRandom.next() % 2)
                      : (X + 2) * (aRandom.next() / static_cast<float>(CRandom::kMax)) - 2;
        aV[i] =
            (Y + 2) * (aRandom.next() / static_cast<float>(CRandom::kMax)) - 2 + (k == 3 ? Y : 0);
      }
      warpImage(aFirst.data(), aSecond.data(), X, Y, 3, aU.data(), aV.data(), aWarped.data(),
                aValid.data());
      for (int y = 0; y < Y; y++)
        for (int x = 0; x < X; x++) {
          const int i = x + X * y;
          const float ax = x + aU[i], ay = y + aV[i];
          const bool aInside = ax > -1.0f && ax < X - 1 && ay > -1.0f && ay < Y - 1;
          ASSERT_EQ(aValid[i], aInside ? 1.0f : 0.0f) << X << "x" << Y << " at " << x << "," << y;
          for (int c = 0; c < 3; c++) {
            float aExpected = aFirst[i + c * n];
            if (aInside) {
              const int x1 = static_cast<int>(ax), y1 = static_cast<int>(ay);
              const float fx = ax - x1, fy = ay - y1;
              const float* p = aSecond.data() + c * n + x1 + X * y1;
              const float aTop = p[0] * (1.0f - fx) + p[1] * fx;
              const float aBottom = p[X] * (1.0f - fx) + p[X + 1] * fx;
              aExpected = static_cast<float>(static_cast<double>(aTop) * (1.0 - fy) +
                                             static_cast<double>(aBottom) * fy);
            }
            ASSERT_EQ(aWarped[i + c * n], aExpected) << X << "x" << Y << " at " << x << "," << y;
          }
        }
    }
  }
  allowAvx2(true);
}

TEST(Variational, GreyPicturesTakeTheirTensorsAndWarpFromOneChannel) {
  CRandom aRandom;
  // Three equal channels are warped once and give their tensors from one channel's terms
  // added three times; the level's flow must be that of the channel by channel computation.
  const int X = 37, Y = 29, n = X * Y;
  const std::vector<Blob> aBlobs = randomBlobs(X, Y, 60, 2, 5, aRandom);
  const CTensor<float> aColour1 = render(aBlobs, X, Y), aColour2 = render(aBlobs, X, Y, 1.3, -0.7);
  std::vector<float> aFirst(3 * n), aSecond(3 * n), aU(n), aV(n, 0.25f);
  for (int c = 0; c < 3; c++)
    for (int i = 0; i < n; i++) {
      aFirst[i + c * n] = aColour1[i];
      aSecond[i + c * n] = aColour2[i];
    }
  for (int i = 0; i < n; i++) aU[i] = 0.5f + 0.01f * (i % X) - 2.0f * (i % 7 == 0);
  std::vector<float> aGeoU(n, 0.0f), aGeoV(n, 0.0f), aGeoC(n, 0.0f);
  aGeoU[300] = 1.5f;
  aGeoC[300] = 3.0f;
  std::vector<float> aFlow[2];
  for (bool aSame : {false, true}) {
    std::vector<float> aWarped(3 * n), aValid(n);
    warpImage(aFirst.data(), aSecond.data(), X, Y, 3, aU.data(), aV.data(), aWarped.data(),
              aValid.data(), aSame);
    CLevelData aLevel;
    aLevel.mXSize = X;
    aLevel.mYSize = Y;
    aLevel.mChannels = 3;
    aLevel.mFirst = aFirst.data();
    aLevel.mWarped = aWarped.data();
    aLevel.mConfidence = aValid.data();
    aLevel.mProposals = 1;
    aLevel.mGeoU = aGeoU.data();
    aLevel.mGeoV = aGeoV.data();
    aLevel.mGeoC = aGeoC.data();
    aLevel.mSameChannels = aSame;
    std::vector<float>& aResult = aFlow[aSame];
    aResult = aU;
    aResult.insert(aResult.end(), aV.begin(), aV.end());
    const CVariationalParameters aParameters;
    solveLevel(aLevel, aResult.data(), aResult.data() + n, aParameters, aParameters.mGamma,
               aParameters.mSORIterations);
  }
  for (int i = 0; i < 2 * n; i++) ASSERT_EQ(aFlow[1][i], aFlow[0][i]) << i;
}

TEST(Variational, TinyPicturesStillGetAFlow) {
  CRandom aRandom;
  // Smaller side under 16: no pyramid, and the full size equals its first reduction. The
  // closing passes still warp and refine at full size; without a coarse start the strong
  // smoothness lets the flow move only part of the way, but in the right direction.
  const std::vector<Blob> aBlobs = randomBlobs(14, 12, 6, 3, 5, aRandom);
  const Frame f1 = prepare(render(aBlobs, 14, 12)), f2 = prepare(render(aBlobs, 14, 12, 0.6, 0));
  EXPECT_EQ(maxAbs(refine(f1.mImage, f1.mImage)), 0.0f);
  const CTensor<float> aFlow = refine(f1.mImage, f2.mImage);
  double aMeanU = 0, aMeanV = 0;
  for (int y = 3; y < 9; y++)
    for (int x = 3; x < 11; x++) {
      aMeanU += aFlow(x, y, 0) / 48.0;
      aMeanV += aFlow(x, y, 1) / 48.0;
    }
  EXPECT_GT(aMeanU, 0.02);
  EXPECT_LT(aMeanU, 0.8);
  EXPECT_LT(std::fabs(aMeanV), 0.5 * aMeanU);
  for (int i = 0; i < aFlow.size(); i++) ASSERT_TRUE(std::isfinite(aFlow[i]));
  // The whole pair as the tracker computes it.
  PairFlow r = pairFlow(render(aBlobs, 14, 12), render(aBlobs, 14, 12, 0.6, 0));
  EXPECT_EQ(r.mForward.xSize(), 14);
  EXPECT_EQ(r.mBackward.ySize(), 12);
  EXPECT_LT(maxAbs(r.mForward), 3.0f);
}

TEST(HogFlow, IdenticalFramesGiveZeroFlowBothWays) {
  CRandom aRandom;
  const CTensor<float> aPicture = render(randomBlobs(64, 48, 80, 2, 5, aRandom), 64, 48);
  const PairFlow r = pairFlow(aPicture, aPicture);
  EXPECT_EQ(maxAbs(r.mForward), 0.0f);
  EXPECT_EQ(maxAbs(r.mBackward), 0.0f);
}

TEST(HogFlow, SubPixelShiftIsRecoveredInBothDirections) {
  CRandom aRandom;
  const std::vector<Blob> aBlobs = randomBlobs(64, 48, 80, 2.5f, 6, aRandom);
  const PairFlow r = pairFlow(render(aBlobs, 64, 48), render(aBlobs, 64, 48, 2.3, -1.6));
  EXPECT_LT(meanEndpointError(r.mForward, 2.3, -1.6, 8), 0.1);
  EXPECT_LT(meanEndpointError(r.mBackward, -2.3, 1.6, 8), 0.1);
}

TEST(HogFlow, LargeShiftIsFoundThroughTheMatches) {
  CRandom aRandom;
  const std::vector<Blob> aBlobs = randomBlobs(160, 120, 900, 1.2f, 2.5f, aRandom);
  const PairFlow r = pairFlow(render(aBlobs, 160, 120), render(aBlobs, 160, 120, 25, 0));
  // Inside: away from the border and from the strip that leaves the picture.
  double aSum = 0;
  int aCount = 0;
  for (int y = 8; y < 112; y++)
    for (int x = 8; x < 160 - 8 - 25; x++) {
      aSum += std::hypot(r.mForward(x, y, 0) - 25.0, r.mForward(x, y, 1));
      aCount++;
    }
  EXPECT_LT(aSum / aCount, 0.3);
}

TEST(HogFlow, MovingSquareOverStaticBackground) {
  CRandom aRandom;
  const int X = 96, Y = 80, aLeft = 28, aTop = 22, aSide = 36, u = 4, v = 3;
  const std::vector<Blob> aBack = randomBlobs(X, Y, 160, 2, 4, aRandom);
  const std::vector<Blob> aFront = randomBlobs(X, Y, 160, 2, 4, aRandom);
  const CTensor<float> aBackground = render(aBack, X, Y);
  const CTensor<float> aSquare1 = render(aFront, X, Y), aSquare2 = render(aFront, X, Y, u, v);
  CTensor<float> aPicture1 = aBackground, aPicture2 = aBackground;
  for (int c = 0; c < 3; c++)
    for (int y = 0; y < aSide; y++)
      for (int x = 0; x < aSide; x++) {
        aPicture1(aLeft + x, aTop + y, c) = aSquare1(aLeft + x, aTop + y, c);
        aPicture2(aLeft + u + x, aTop + v + y, c) = aSquare2(aLeft + u + x, aTop + v + y, c);
      }
  const PairFlow r = pairFlow(aPicture1, aPicture2);
  // Pixels more than 4 pixels from the square's outline in both frames: the square's motion
  // inside, none outside; the boundary band carries the error.
  double aInside = 0, aOutside = 0, aBand = 0;
  int nInside = 0, nOutside = 0, nBand = 0;
  for (int y = 8; y < Y - 8; y++)
    for (int x = 8; x < X - 8; x++) {
      const int dIn = std::min(std::min(x - aLeft, aLeft + aSide - 1 - x),
                               std::min(y - aTop, aTop + aSide - 1 - y));
      const bool aIn = dIn >= 4;
      const bool aOut =
          x < aLeft - 4 || x > aLeft + u + aSide + 3 || y < aTop - 4 || y > aTop + v + aSide + 3;
      if (aIn) {
        aInside += std::hypot(r.mForward(x, y, 0) - u, r.mForward(x, y, 1) - v);
        nInside++;
      } else if (aOut) {
        aOutside += std::hypot(r.mForward(x, y, 0), r.mForward(x, y, 1));
        nOutside++;
      } else {
        aBand += std::hypot(r.mForward(x, y, 0) - u, r.mForward(x, y, 1) - v);
        nBand++;
      }
    }
  aInside /= nInside;
  aOutside /= nOutside;
  aBand /= nBand;
  EXPECT_LT(aInside, 0.25);
  EXPECT_LT(aOutside, 0.25);
  EXPECT_GT(aBand, aInside);
  EXPECT_GT(aBand, aOutside);
}
