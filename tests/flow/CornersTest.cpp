#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "flow/CMatching.h"
#include "foundation/CFilter.h"
#include "foundation/Random.h"

namespace {

// A bright quadrant x >= aEdgeX, y >= aEdgeY on a dark ground (aEdgeY = 0: a straight edge).
CTensor<float> quadrant(int aSize, int aEdgeX, int aEdgeY) {
  CTensor<float> aImage(aSize, aSize, 3);
  for (int c = 0; c < 3; c++)
    for (int y = 0; y < aSize; y++)
      for (int x = 0; x < aSize; x++)
        aImage(x, y, c) = (x >= aEdgeX && y >= aEdgeY) ? 200.0f : 20.0f;
  return aImage;
}

float maximum(const CMatrix<float>& aMatrix) {
  return *std::max_element(aMatrix.data(), aMatrix.data() + aMatrix.size());
}

}  // namespace

TEST(Corners, ConstantImageGivesZero) {
  CMatrix<float> aCorners;
  CMatching::computeCorners(CTensor<float>(15, 9, 3, 77.0f), aCorners, 1.0f);
  ASSERT_EQ(aCorners.xSize(), 15);
  ASSERT_EQ(aCorners.ySize(), 9);
  for (int i = 0; i < aCorners.size(); i++) ASSERT_EQ(aCorners[i], 0.0f);
}

TEST(Corners, StraightEdgesGiveZeroAndACornerAClearResponse) {
  CMatrix<float> aEdge, aCorner;
  CMatching::computeCorners(quadrant(40, 20, 0), aEdge, 1.0f);
  CMatching::computeCorners(quadrant(40, 20, 20), aCorner, 1.0f);
  // The structure tensor of a vertical edge has only dxx: its smaller eigenvalue is zero up to
  // the rounding of dxx^2 / 4 (three channels of contrast 180: dxx = 3 * 90^2 at the edge).
  const float aPeak = maximum(aCorner);
  EXPECT_LT(maximum(aEdge), 1e-6f * 3.0f * 90.0f * 90.0f);
  EXPECT_GT(aPeak, 1000.0f);
  EXPECT_GT(aCorner(20, 20), 0.5f * aPeak);
  // Far along the corner's two edges, and far from both, nothing.
  EXPECT_LT(aCorner(20, 36), 1e-3f * aPeak);
  EXPECT_LT(aCorner(36, 20), 1e-3f * aPeak);
  EXPECT_LT(aCorner(5, 5), 1e-3f * aPeak);

  // A diagonal ramp has the same gradient everywhere: rank one, zero up to rounding.
  // Away from the border, whose one-sided differences break the rank one.
  CTensor<float> aRamp(64, 64, 1);
  for (int y = 0; y < 64; y++)
    for (int x = 0; x < 64; x++) aRamp(x, y, 0) = 3.0f * x + 2.0f * y;
  CMatrix<float> aRampCorners;
  CMatching::computeCorners(aRamp, aRampCorners, 2.5f);
  // The larger eigenvalue inside is 3^2 + 2^2 = 13.
  for (int y = 20; y < 44; y++)
    for (int x = 20; x < 44; x++) EXPECT_NEAR(aRampCorners(x, y), 0.0f, 13.0f * 1e-5f);
}

TEST(Corners, LargerIntegrationScaleSpreadsTheResponse) {
  // The tracker uses 1.0, the flow driver 2.5.
  CMatrix<float> aFine, aCoarse;
  const CTensor<float> aImage = quadrant(48, 24, 24);
  CMatching::computeCorners(aImage, aFine, 1.0f);
  CMatching::computeCorners(aImage, aCoarse, 2.5f);
  EXPECT_GT(maximum(aFine), maximum(aCoarse));
  // Five pixels from the corner the fine measure has died out, the coarse one has not.
  EXPECT_GT(aCoarse(19, 19), 10.0f * aFine(19, 19));
  EXPECT_GT(aCoarse(19, 19), 0.01f * maximum(aCoarse));
}

TEST(Corners, EqualTheStructureTensorOfTheLibraryFilters) {
  // Reference: size-3 derivative masks, channel sums, recursive smoothing at aRho, the
  // smaller eigenvalue; the result must agree to the last bit.
  const int X = 19, Y = 13;
  CTensor<float> aImage(X, Y, 3);
  CRandom aRandom;
  for (int i = 0; i < aImage.size(); i++) aImage[i] = float(aRandom.next() % 256);
  const CDerivative<float> aDerivative(3);
  CTensor<float> aDx(X, Y, 3), aDy(X, Y, 3);
  NFilter::filter(aImage, aDx, aDerivative, 1, 1);
  NFilter::filter(aImage, aDy, 1, aDerivative, 1);
  CMatrix<float> aXX(X, Y, 0.0f), aYY(X, Y, 0.0f), aXY(X, Y, 0.0f);
  for (int c = 0; c < 3; c++)
    for (int y = 0; y < Y; y++)
      for (int x = 0; x < X; x++) {
        aXX(x, y) += aDx(x, y, c) * aDx(x, y, c);
        aYY(x, y) += aDy(x, y, c) * aDy(x, y, c);
        aXY(x, y) += aDx(x, y, c) * aDy(x, y, c);
      }
  for (float aRho : {1.0f, 2.5f}) {
    CMatrix<float> xx = aXX, yy = aYY, xy = aXY;
    for (CMatrix<float>* m : {&xx, &yy, &xy}) {
      NFilter::recursiveSmoothX(*m, aRho);
      NFilter::recursiveSmoothY(*m, aRho);
    }
    CMatrix<float> aCorners;
    CMatching::computeCorners(aImage, aCorners, aRho);
    for (int i = 0; i < X * Y; i++) {
      const float t = 0.5f * (xx[i] + yy[i]);
      const float t2 = t * t + xy[i] * xy[i] - yy[i] * xx[i];
      const float aExpected = t2 < 0.0f ? 0.0f : float(t - std::sqrt(double(t2)));
      ASSERT_EQ(aCorners[i], aExpected) << aRho << " " << i;
    }
  }
}
