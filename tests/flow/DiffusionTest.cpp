#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "flow/CDiffusion.h"
#include "foundation/Random.h"

namespace {

float uniform(float aLow, float aHigh, CRandom& aRandom) {
  return aLow +
         (aHigh - aLow) * static_cast<float>(aRandom.next()) / static_cast<float>(CRandom::kMax);
}

CMatrix<float> randomMatrix(int aXSize, int aYSize, float aLow, float aHigh, CRandom& aRandom) {
  CMatrix<float> aMatrix(aXSize, aYSize);
  for (int i = 0; i < aMatrix.size(); i++) aMatrix[i] = uniform(aLow, aHigh, aRandom);
  return aMatrix;
}

// Solves the dense system aA r = aB by Gaussian elimination with partial pivoting (double).
std::vector<double> denseSolve(std::vector<std::vector<double>> aA, std::vector<double> aB) {
  const int n = static_cast<int>(aB.size());
  for (int k = 0; k < n; k++) {
    int aPivot = k;
    for (int i = k + 1; i < n; i++)
      if (std::fabs(aA[i][k]) > std::fabs(aA[aPivot][k])) aPivot = i;
    std::swap(aA[k], aA[aPivot]);
    std::swap(aB[k], aB[aPivot]);
    for (int i = k + 1; i < n; i++) {
      const double f = aA[i][k] / aA[k][k];
      for (int j = k; j < n; j++) aA[i][j] -= f * aA[k][j];
      aB[i] -= f * aB[k];
    }
  }
  std::vector<double> r(n);
  for (int i = n - 1; i >= 0; i--) {
    double s = aB[i];
    for (int j = i + 1; j < n; j++) s -= aA[i][j] * r[j];
    r[i] = s / aA[i][i];
  }
  return r;
}

// The semi-implicit step assembled as two dense N x N systems, one per axis, with the edge
// weights written out from their definition.
CMatrix<float> denseStep(const CMatrix<float>& aMatrix, const CMatrix<float>& GX,
                         const CMatrix<float>& GY, float aTau, bool aPerPixel) {
  const int X = aMatrix.xSize(), Y = aMatrix.ySize(), n = X * Y;
  std::vector<double> aB(n);
  for (int i = 0; i < n; i++) aB[i] = aMatrix[i];
  std::vector<double> aSum(n, 0.0);
  for (int aAxis = 0; aAxis < 2; aAxis++) {
    std::vector<std::vector<double>> aA(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; i++) aA[i][i] = 1.0;
    for (int y = 0; y < Y; y++)
      for (int x = 0; x < X; x++) {
        const int i = x + X * y;
        int j;
        double w;
        if (aAxis == 0) {
          if (x + 1 >= X) continue;
          j = i + 1;
          w = aPerPixel ? aTau * (GX(x, y) + GX(x + 1, y)) : 2.0 * aTau * GX(x, y);
        } else {
          if (y + 1 >= Y) continue;
          j = i + X;
          w = aPerPixel ? aTau * (GY(x, y) + GY(x, y + 1)) : 2.0 * aTau * GY(x, y);
        }
        aA[i][i] += w;
        aA[j][j] += w;
        aA[i][j] -= w;
        aA[j][i] -= w;
      }
    const std::vector<double> r = denseSolve(aA, aB);
    for (int i = 0; i < n; i++) aSum[i] += r[i];
  }
  CMatrix<float> aResult(X, Y);
  for (int i = 0; i < n; i++) aResult[i] = static_cast<float>(0.5 * aSum[i]);
  return aResult;
}

}  // namespace

TEST(Diffusion, DefaultsAreTotalVariationWithTheStatedSettings) {
  const CDiffusion d;
  EXPECT_EQ(d.mTau1D, 1.0f);
  EXPECT_EQ(d.mTau2D, 1.0f);
  EXPECT_EQ(d.mTau3D, 1.0f);
  EXPECT_EQ(d.mLambda, 4.0f);
  EXPECT_EQ(d.mEpsilon, 0.001f);
  EXPECT_EQ(d.mP, -0.5f);
  EXPECT_EQ(d.mSmoothing, 0);
  EXPECT_EQ(d.mDiffFunc, cTV);
  EXPECT_FALSE(d.mLimitedCondNo);
  EXPECT_FALSE(d.mEnhancedStencil);
  EXPECT_EQ(cLinear, 0);
  EXPECT_EQ(cNonconvex, 8);
}

TEST(Diffusion, EveryDiffusivityFunction) {
  const CDiffusion d;
  const float k = 1.0f / 16.0f;
  // s = 4, s k = 0.25.
  EXPECT_EQ(d.diffusivity(cLinear, 4.0f, k), 1.0f);
  EXPECT_FLOAT_EQ(d.diffusivity(cCharbonnier, 4.0f, k), 1.0f / std::sqrt(1.25f));
  EXPECT_FLOAT_EQ(d.diffusivity(cPeronaMalikI, 4.0f, k), 0.8f);
  EXPECT_FLOAT_EQ(d.diffusivity(cPeronaMalikII, 4.0f, k), 0.77880078f);
  // s = 32, s k = 2: 1 - exp(-3.31488 / 16).
  EXPECT_NEAR(d.diffusivity(cWeickert, 32.0f, k), 0.187127f, 1e-6f);
  EXPECT_FLOAT_EQ(d.diffusivity(cUnboundedEpsilon, 4.0f, k), 0.49999994f);
  EXPECT_FLOAT_EQ(d.diffusivity(cUnbounded, 4.0f, k), 0.5f);
  EXPECT_FLOAT_EQ(d.diffusivity(cTV, 4.0f, k), 0.49999994f);
  EXPECT_FLOAT_EQ(d.diffusivity(cNonconvex, 4.0f, k), 0.24999994f);
  EXPECT_EQ(d.diffusivity(9, 4.0f, k), 1.0f);
  EXPECT_EQ(d.diffusivity(-1, 4.0f, k), 1.0f);

  CDiffusion aSquare;
  aSquare.mP = -1.0f;
  EXPECT_FLOAT_EQ(aSquare.diffusivity(cUnbounded, 4.0f, k), 0.25f);
}

TEST(Diffusion, DiffusivitiesAtZeroAndBelow) {
  const CDiffusion d;
  const float k = 1.0f / 16.0f;
  EXPECT_EQ(d.diffusivity(cWeickert, 0.0f, k), 1.0f);
  EXPECT_EQ(d.diffusivity(cWeickert, -2.0f, k), 1.0f);
  EXPECT_EQ(d.diffusivity(cWeickert, 1e-30f, k), 1.0f);
  EXPECT_EQ(d.diffusivity(cUnbounded, 0.0f, k), 0.0f);
  EXPECT_EQ(d.diffusivity(cUnbounded, -2.0f, k), 0.0f);
  EXPECT_NEAR(d.diffusivity(cTV, 0.0f, k), 1000.0f, 1e-3f);
  EXPECT_NEAR(d.diffusivity(cNonconvex, 0.0f, k), 1e6f, 1.0f);
  EXPECT_NEAR(d.diffusivity(cUnboundedEpsilon, 0.0f, k), 1000.0f, 1e-3f);
  EXPECT_EQ(d.diffusivity(cCharbonnier, 0.0f, k), 1.0f);
  EXPECT_EQ(d.diffusivity(cPeronaMalikII, 0.0f, k), 1.0f);
}

TEST(Diffusion, JointDiffusivitiesOnTheStaggeredGrid) {
  // Channel 0 = x, channel 1 = 2 y on a 4 x 3 field.
  CTensor<float> aField(4, 3, 2);
  for (int y = 0; y < 3; y++)
    for (int x = 0; x < 4; x++) {
      aField(x, y, 0) = float(x);
      aField(x, y, 1) = 2.0f * y;
    }
  const CDiffusion d;
  CMatrix<float> GX(4, 3, 1.0f), GY(4, 3, 1.0f);
  d.isotropicDiffMatrixMultiChannel(aField, GX, GY);
  auto tv = [](double s) { return static_cast<float>(1.0 / std::sqrt(1e-6 + s)); };
  // Along x: across 1^2 from channel 0, along (dy of channel 1)^2 = 2^2 inside, 1^2 at the
  // top and bottom rows (one-sided differences).
  EXPECT_FLOAT_EQ(GX(1, 1), tv(5.0));
  EXPECT_FLOAT_EQ(GX(0, 0), tv(2.0));
  EXPECT_FLOAT_EQ(GX(2, 2), tv(2.0));
  // Along y: across 2^2, along (dx of channel 0)^2: 1 inside, 0.5^2 in the border columns.
  EXPECT_FLOAT_EQ(GY(1, 0), tv(5.0));
  EXPECT_FLOAT_EQ(GY(0, 1), tv(4.25));
  EXPECT_FLOAT_EQ(GY(3, 0), tv(4.25));
  // The last column of GX and the last row of GY belong to no edge.
  EXPECT_NEAR(GX(3, 1), 1000.0f, 1e-3f);
  EXPECT_NEAR(GY(2, 2), 1000.0f, 1e-3f);

  // A constant channel gives the maximal diffusivity everywhere.
  CMatrix<float> HX, HY;
  d.isotropicDiffMatrixMultiChannel(CTensor<float>(5, 4, 2, 3.0f), HX, HY);
  ASSERT_EQ(HX.xSize(), 5);
  ASSERT_EQ(HY.ySize(), 4);
  for (int i = 0; i < HX.size(); i++) {
    EXPECT_NEAR(HX[i], 1000.0f, 1e-3f);
    EXPECT_NEAR(HY[i], 1000.0f, 1e-3f);
  }
}

TEST(Diffusion, ConstantImageIsLeftUnchanged) {
  CRandom aRandom;
  CDiffusion d;
  d.mTau2D = 0.5f;
  const CMatrix<float> GX = randomMatrix(9, 7, 0.0f, 1000.0f, aRandom);
  const CMatrix<float> GY = randomMatrix(9, 7, 0.0f, 1000.0f, aRandom);
  for (int aSmoothing = 0; aSmoothing < 2; aSmoothing++) {
    d.mSmoothing = aSmoothing;
    CMatrix<float> aImage(9, 7, 42.0f);
    d.isotropicDiffuseSemiImplicit(aImage, GX, GY);
    for (int i = 0; i < aImage.size(); i++) EXPECT_NEAR(aImage[i], 42.0f, 42.0f * 1e-6f);
  }
}

TEST(Diffusion, ZeroDiffusivitiesReturnTheInput) {
  CRandom aRandom;
  const CDiffusion d;
  const CMatrix<float> aInput = randomMatrix(6, 5, -10.0f, 10.0f, aRandom);
  CMatrix<float> aImage = aInput;
  d.isotropicDiffuseSemiImplicit(aImage, CMatrix<float>(6, 5, 0.0f), CMatrix<float>(6, 5, 0.0f));
  for (int i = 0; i < aImage.size(); i++) EXPECT_EQ(aImage[i], aInput[i]);
}

TEST(Diffusion, TridiagonalSolvesAgreeWithADenseSolve) {
  CRandom aRandom;
  const int aSizes[][2] = {{5, 4}, {1, 6}, {7, 1}, {2, 2}};
  for (const auto& aSize : aSizes) {
    const int X = aSize[0], Y = aSize[1];
    const CMatrix<float> aInput = randomMatrix(X, Y, 0.0f, 100.0f, aRandom);
    const CMatrix<float> GX = randomMatrix(X, Y, 0.0f, 3.0f, aRandom);
    const CMatrix<float> GY = randomMatrix(X, Y, 0.0f, 3.0f, aRandom);
    for (int aSmoothing = 0; aSmoothing < 2; aSmoothing++) {
      CDiffusion d;
      d.mTau2D = 0.5f;
      d.mSmoothing = aSmoothing;
      CMatrix<float> aImage = aInput;
      d.isotropicDiffuseSemiImplicit(aImage, GX, GY);
      const CMatrix<float> aExpected = denseStep(aInput, GX, GY, 0.5f, aSmoothing != 0);
      double aInputSum = 0.0, aOutputSum = 0.0;
      for (int i = 0; i < X * Y; i++) {
        EXPECT_NEAR(aImage[i], aExpected[i], 1e-3f) << X << "x" << Y << " " << i;
        aInputSum += aInput[i];
        aOutputSum += aImage[i];
      }
      // Diffusion moves mass between pixels but keeps its total.
      EXPECT_NEAR(aOutputSum, aInputSum, 1e-3 * aInputSum);
    }
  }
}

TEST(Diffusion, StrongDiffusivityAveragesAcrossOnlyTheEdgesThatCarryIt) {
  // Two columns of pixels joined by large x-diffusivities, nothing along y: every row becomes
  // nearly the mean of its two pixels, the halving by the splitting aside.
  CDiffusion d;
  CMatrix<float> aImage(2, 3);
  const float aValues[] = {0, 10, 4, 8, 100, 0};
  for (int i = 0; i < 6; i++) aImage[i] = aValues[i];
  d.isotropicDiffuseSemiImplicit(aImage, CMatrix<float>(2, 3, 1e5f), CMatrix<float>(2, 3, 0.0f));
  // x-step gives the row mean, y-step the input; the result is their mean.
  EXPECT_NEAR(aImage(0, 0), 0.5f * (5.0f + 0.0f), 1e-3f);
  EXPECT_NEAR(aImage(1, 0), 0.5f * (5.0f + 10.0f), 1e-3f);
  EXPECT_NEAR(aImage(0, 2), 0.5f * (50.0f + 100.0f), 1e-3f);
  EXPECT_NEAR(aImage(1, 2), 0.5f * (50.0f + 0.0f), 1e-3f);
}
