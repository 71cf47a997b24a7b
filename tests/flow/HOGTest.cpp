#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "foundation/CFilter.h"
#include "foundation/Random.h"

namespace {

// Weights of the smoothing across orientation: outer and centre tap.
constexpr float kOuter = 0.2390f;
constexpr float kCentre = 0.5220f;
constexpr float kWeightTolerance = 2e-4f;

float uniform(float aLow, float aHigh, CRandom& aRandom) {
  return aLow +
         (aHigh - aLow) * static_cast<float>(aRandom.next()) / static_cast<float>(CRandom::kMax);
}

CTensor<float> makeImage(int aXSize, int aYSize, int aChannels,
                         const std::function<float(int, int, int)>& aValue) {
  CTensor<float> aImage(aXSize, aYSize, aChannels);
  for (int c = 0; c < aChannels; c++)
    for (int y = 0; y < aYSize; y++)
      for (int x = 0; x < aXSize; x++) aImage(x, y, c) = aValue(x, y, c);
  return aImage;
}

// Bins that hold any weight at (x, y).
std::vector<int> occupiedBins(const CTensor<float>& aHOG, int x, int y) {
  std::vector<int> aBins;
  for (int b = 0; b < kHOGBins; b++)
    if (aHOG(x, y, b) != 0.0f) aBins.push_back(b);
  return aBins;
}

}  // namespace

TEST(HOG, ConstantImageGivesZeros) {
  CTensor<float> aImage(17, 11, 3, 120.0f);
  CTensor<float> aHOG;
  CMatching::computeHOG(aImage, aHOG);
  ASSERT_EQ(aHOG.xSize(), 17);
  ASSERT_EQ(aHOG.ySize(), 11);
  ASSERT_EQ(aHOG.zSize(), kHOGBins);
  for (int i = 0; i < aHOG.size(); i++) ASSERT_EQ(aHOG[i], 0.0f) << i;
}

TEST(HOG, RightwardRampVotesIntoBinSevenAndSpreadsToNeighbours) {
  // f = x: gradient (1, 0), direction 0, bin 7; every one of the three channels votes 1.
  CTensor<float> aHOG;
  CMatching::computeHOG(makeImage(20, 12, 3, [](int x, int, int) { return float(x); }), aHOG);
  const int x = 10, y = 6;
  EXPECT_EQ(occupiedBins(aHOG, x, y), (std::vector<int>{6, 7, 8}));
  EXPECT_NEAR(aHOG(x, y, 7), 3.0f * kCentre, 3.0f * kWeightTolerance);
  EXPECT_NEAR(aHOG(x, y, 6), 3.0f * kOuter, 3.0f * kWeightTolerance);
  EXPECT_FLOAT_EQ(aHOG(x, y, 6), aHOG(x, y, 8));
  EXPECT_FLOAT_EQ(aHOG(x, y, 6) + aHOG(x, y, 7) + aHOG(x, y, 8), 3.0f);
  // The border columns have the one-sided difference 0.5; a pixel at 3 from the left border
  // pools columns 0 ... 6, so its mean magnitude is (0.5 + 6) / 7 per channel.
  EXPECT_FLOAT_EQ(aHOG(3, y, 6) + aHOG(3, y, 7) + aHOG(3, y, 8), 3.0f * 6.5f / 7.0f);
}

TEST(HOG, LeftwardRampVotesIntoBinZeroWhichReachesBinFourteen) {
  // f = -x: direction pi, atan2 + pi = 2 pi, which wraps to bin 0.
  CTensor<float> aHOG;
  CMatching::computeHOG(makeImage(20, 12, 1, [](int x, int, int) { return -float(x); }), aHOG);
  const int x = 10, y = 6;
  EXPECT_EQ(occupiedBins(aHOG, x, y), (std::vector<int>{0, 1, 14}));
  // After the orientation smoothing bin 0 holds (t + c) (it mirrors onto itself), bin 1 t;
  // coupling the ends moves t of bin 0 into bin 14.
  EXPECT_NEAR(aHOG(x, y, 1), kOuter, kWeightTolerance);
  EXPECT_NEAR(aHOG(x, y, 0), (1.0f - kOuter) * (kOuter + kCentre), kWeightTolerance);
  EXPECT_NEAR(aHOG(x, y, 14), kOuter * (kOuter + kCentre), kWeightTolerance);
  EXPECT_FLOAT_EQ(aHOG(x, y, 0) + aHOG(x, y, 1) + aHOG(x, y, 14), 1.0f);
}

TEST(HOG, DirectionsFollowTheImageAxes) {
  // Gradient (a, b) with y downwards: bin = floor((atan2(b, a) + pi) * 15 / (2 pi)).
  struct Case {
    float a, b;
    int aBin;
  };
  const Case aCases[] = {{0, 1, 11}, {0, -1, 3},  {1, 1, 9},  {-1, 1, 13},
                         {1, -1, 5}, {-2, -1, 1}, {-3, -1, 0}};
  for (const Case& aCase : aCases) {
    CTensor<float> aHOG;
    CMatching::computeHOG(
        makeImage(16, 16, 1, [&](int x, int y, int) { return aCase.a * x + aCase.b * y; }), aHOG);
    int aBest = 0;
    for (int b = 1; b < kHOGBins; b++)
      if (aHOG(8, 8, b) > aHOG(8, 8, aBest)) aBest = b;
    EXPECT_EQ(aBest, aCase.aBin) << aCase.a << " " << aCase.b;
  }
}

TEST(HOG, EveryColourChannelVotes) {
  // Red rises to the right (bin 7), blue to the left (bin 0), green is flat.
  CTensor<float> aHOG;
  CMatching::computeHOG(makeImage(20, 12, 3,
                                  [](int x, int, int c) {
                                    return c == 0 ? float(x) : c == 2 ? 50.0f - 2.0f * x : 9.0f;
                                  }),
                        aHOG);
  EXPECT_EQ(occupiedBins(aHOG, 10, 6), (std::vector<int>{0, 1, 6, 7, 8, 14}));
  EXPECT_FLOAT_EQ(aHOG(10, 6, 6) + aHOG(10, 6, 7) + aHOG(10, 6, 8), 1.0f);
  EXPECT_FLOAT_EQ(aHOG(10, 6, 0) + aHOG(10, 6, 1) + aHOG(10, 6, 14), 2.0f);
}

TEST(HOG, PoolsOverFourByFourAtACornerAndSevenBySevenInside) {
  // A single bright pixel at (0, 1) gives the corner pixel (0, 0) the only downward gradient
  // (0, v/2), bin 11, whose centre weight stays in bin 11; no other pixel votes near bin 11.
  const float v = 64.0f;
  CTensor<float> aHOG;
  CMatching::computeHOG(
      makeImage(14, 14, 1, [&](int x, int y, int) { return x == 0 && y == 1 ? v : 0.0f; }), aHOG);
  const float aMass = kCentre * v / 2.0f;
  EXPECT_NEAR(aHOG(0, 0, 11), aMass / 16.0f, aMass * 1e-3f);
  EXPECT_NEAR(aHOG(3, 3, 11), aMass / 49.0f, aMass * 1e-3f);
  EXPECT_NEAR(aHOG(3, 0, 11) / aHOG(0, 0, 11), 4.0f / 7.0f, 1e-5f);
  EXPECT_EQ(aHOG(4, 0, 11), 0.0f);
  EXPECT_EQ(aHOG(0, 4, 11), 0.0f);

  // Inside, the vote at (7, 6) of a bright pixel at (7, 7) reaches exactly 3 pixels each way.
  CMatching::computeHOG(
      makeImage(14, 14, 1, [&](int x, int y, int) { return x == 7 && y == 7 ? v : 0.0f; }), aHOG);
  for (int y = 0; y < 14; y++)
    for (int x = 0; x < 14; x++) {
      const bool aInside = std::abs(x - 7) <= 3 && std::abs(y - 6) <= 3;
      if (aInside)
        EXPECT_NEAR(aHOG(x, y, 11), aMass / 49.0f, aMass * 1e-5f) << x << " " << y;
      else
        EXPECT_NEAR(aHOG(x, y, 11), 0.0f, aMass * 1e-6f) << x << " " << y;
    }
}

TEST(HOG, NarrowImagesPoolOverWhatExists) {
  // Three columns: every window along x holds all three columns.
  CTensor<float> aHOG;
  CMatching::computeHOG(makeImage(3, 9, 1, [](int x, int, int) { return 2.0f * x; }), aHOG);
  // Magnitudes per column 1, 2, 1 (one-sided at the borders): mean 4/3 everywhere.
  for (int x = 0; x < 3; x++) {
    float aSum = 0.0f;
    for (int b = 0; b < kHOGBins; b++) aSum += aHOG(x, 4, b);
    EXPECT_FLOAT_EQ(aSum, 4.0f / 3.0f) << x;
  }
}

TEST(PointDescriptor, ReadsNinePositionsRowByRowWithBinsInnermost) {
  CTensor<float> aHOG(13, 11, kHOGBins);
  for (int b = 0; b < kHOGBins; b++)
    for (int y = 0; y < 11; y++)
      for (int x = 0; x < 13; x++) aHOG(x, y, b) = 10000.0f * y + 100.0f * x + b;
  float aDescriptor[kDescriptorSize];
  pointDescriptor(aHOG, 5, 6, aDescriptor);
  EXPECT_EQ(aDescriptor[0], 10000.0f * 2 + 100.0f * 1);
  EXPECT_EQ(aDescriptor[14], 10000.0f * 2 + 100.0f * 1 + 14);
  EXPECT_EQ(aDescriptor[15], 10000.0f * 2 + 100.0f * 5);
  EXPECT_EQ(aDescriptor[3 * kHOGBins], 10000.0f * 6 + 100.0f * 1);
  EXPECT_EQ(aDescriptor[4 * kHOGBins + 7], 10000.0f * 6 + 100.0f * 5 + 7);
  EXPECT_EQ(aDescriptor[kDescriptorSize - 1], 10000.0f * 10 + 100.0f * 9 + 14);

  EXPECT_TRUE(hasPointDescriptor(13, 11, 4, 4));
  EXPECT_TRUE(hasPointDescriptor(13, 11, 8, 6));
  EXPECT_FALSE(hasPointDescriptor(13, 11, 3, 5));
  EXPECT_FALSE(hasPointDescriptor(13, 11, 9, 5));
  EXPECT_FALSE(hasPointDescriptor(13, 11, 5, 7));
}

TEST(PointDescriptor, DistanceIsTheSumOfSquaredDifferences) {
  float a[kDescriptorSize], b[kDescriptorSize];
  for (int i = 0; i < kDescriptorSize; i++) {
    a[i] = float(i % 7);
    b[i] = a[i];
  }
  EXPECT_EQ(descriptorDistance(a, b), 0.0f);
  b[0] += 3.0f;
  b[134] -= 0.5f;
  b[60] += 2.0f;
  EXPECT_EQ(descriptorDistance(a, b), 9.0f + 0.25f + 4.0f);
  EXPECT_EQ(descriptorDistance(b, a), descriptorDistance(a, b));
}

TEST(PointDescriptor, EnergyIsTheSumOverBins) {
  CTensor<float> aHOG;
  CMatching::computeHOG(makeImage(20, 12, 3, [](int x, int y, int c) { return float(x * c + y); }),
                        aHOG);
  CMatrix<float> aEnergy;
  hogEnergy(aHOG, aEnergy);
  ASSERT_EQ(aEnergy.xSize(), 20);
  ASSERT_EQ(aEnergy.ySize(), 12);
  float aSum = 0.0f;
  for (int b = 0; b < kHOGBins; b++) aSum += aHOG(9, 5, b);
  EXPECT_EQ(aEnergy(9, 5), aSum);
  EXPECT_GT(aSum, 0.0f);
}

TEST(HOG, AgreesWithAStraightforwardEvaluationOnARandomImage) {
  CRandom aRandom;
  // Reference: library filters for the gradients and the orientation smoothing, the wrap of
  // the end bins, and window means summed pixel by pixel.
  const int X = 23, Y = 17, C = 3;
  CTensor<float> aImage(X, Y, C);
  for (int i = 0; i < aImage.size(); i++) aImage[i] = float(aRandom.next() % 256);
  CTensor<float> aHOG;
  CMatching::computeHOG(aImage, aHOG);

  const CDerivative<float> aDerivative(3);
  CTensor<float> aDx(X, Y, C), aDy(X, Y, C);
  NFilter::filter(aImage, aDx, aDerivative, 1, 1);
  NFilter::filter(aImage, aDy, 1, aDerivative, 1);
  CTensor<float> aVotes(X, Y, kHOGBins, 0.0f);
  for (int c = 0; c < C; c++)
    for (int y = 0; y < Y; y++)
      for (int x = 0; x < X; x++) {
        const float dx = aDx(x, y, c), dy = aDy(x, y, c);
        if (dx == 0.0f && dy == 0.0f) continue;
        const double aDirection = std::atan2(double(dy), double(dx)) + double(3.1415927f);
        int aBin = int(float(aDirection) * float(15.0 / (2.0 * double(3.1415927f))));
        if (aBin == kHOGBins) aBin = 0;
        aVotes(x, y, aBin) += std::sqrt(dx * dx + dy * dy);
      }
  CTensor<float> aSmoothed(X, Y, kHOGBins);
  const CSmooth<float> aGauss(0.8f, 1.0f);
  NFilter::filter(aVotes, aSmoothed, 1, 1, aGauss);
  const float t = aGauss(1);
  for (int y = 0; y < Y; y++)
    for (int x = 0; x < X; x++) {
      const float s0 = aSmoothed(x, y, 0), s14 = aSmoothed(x, y, 14);
      aSmoothed(x, y, 0) = float(t * s14 + (1.0 - t) * s0);
      aSmoothed(x, y, 14) = float(t * s0 + (1.0 - t) * s14);
    }
  for (int b = 0; b < kHOGBins; b++)
    for (int y = 0; y < Y; y++)
      for (int x = 0; x < X; x++) {
        double aSum = 0.0;
        int aCount = 0;
        for (int yy = std::max(0, y - 3); yy <= std::min(Y - 1, y + 3); yy++)
          for (int xx = std::max(0, x - 3); xx <= std::min(X - 1, x + 3); xx++) {
            aSum += aSmoothed(xx, yy, b);
            aCount++;
          }
        const double aMean = aSum / aCount;
        ASSERT_NEAR(aHOG(x, y, b), aMean, 1e-4 * (1.0 + aMean)) << x << " " << y << " " << b;
      }
}

TEST(HOG, OrientationBinsFollowTheExactRuleEverywhere) {
  CRandom aRandom;
  const double aPiF = double(3.1415927f);
  const float aScale = float(15.0 / (2.0 * aPiF));
  auto exact = [&](float dx, float dy) {
    const int b = int(float(std::atan2(double(dy), double(dx)) + aPiF) * aScale);
    return b == kHOGBins ? 0 : b;
  };
  // Random gradients, integer and half-integer ones (as from 8-bit pictures), and directions
  // right at the bin boundaries -pi + k * 24 degrees.
  for (int i = 0; i < 200000; i++) {
    const float dx = uniform(-300.0f, 300.0f, aRandom), dy = uniform(-300.0f, 300.0f, aRandom);
    ASSERT_EQ(orientationBin(dx, dy), exact(dx, dy)) << dx << " " << dy;
  }
  for (int dy = -40; dy <= 40; dy++)
    for (int dx = -40; dx <= 40; dx++) {
      if (dx == 0 && dy == 0) continue;
      ASSERT_EQ(orientationBin(0.5f * dx, 0.5f * dy), exact(0.5f * dx, 0.5f * dy))
          << dx << " " << dy;
    }
  for (int k = 0; k <= kHOGBins; k++)
    for (int j = -50; j <= 50; j++) {
      const double aAngle = -M_PI + k * 2.0 * M_PI / kHOGBins + j * 1e-7;
      const float dx = float(100.0 * std::cos(aAngle)), dy = float(100.0 * std::sin(aAngle));
      ASSERT_EQ(orientationBin(dx, dy), exact(dx, dy)) << k << " " << j;
    }
  EXPECT_EQ(orientationBin(-1.0f, 0.0f), 0);
  EXPECT_EQ(orientationBin(-1.0f, -0.0f), 0);
  EXPECT_EQ(orientationBin(1.0f, 0.0f), 7);
}
