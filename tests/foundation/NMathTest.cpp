#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "foundation/NMath.h"

namespace {

// Rows of an affine motion system for the given points moved by the model X.
void affineSystem(const float (*aPoints)[2], int n, const float* X, CMatrix<float>& A,
                  CVector<float>& b) {
  A.setSize(6, 2 * n);
  b.setSize(2 * n);
  A = 0.0f;
  for (int i = 0; i < n; i++) {
    const float x = aPoints[i][0], y = aPoints[i][1];
    A(0, 2 * i) = x;
    A(1, 2 * i) = y;
    A(4, 2 * i) = 1;
    A(2, 2 * i + 1) = x;
    A(3, 2 * i + 1) = y;
    A(5, 2 * i + 1) = 1;
    b(2 * i) = X[0] * x + X[1] * y + X[4];
    b(2 * i + 1) = X[2] * x + X[3] * y + X[5];
  }
}

}  // namespace

TEST(LeastSquares, RecoversExactAffineMotion) {
  const float aPoints[5][2] = {{10, 20}, {30, 25}, {12, 40}, {50, 50}, {22, 7}};
  const float X[6] = {0.9f, -0.1f, 0.1f, 0.9f, 3.0f, -2.0f};
  CMatrix<float> A;
  CVector<float> b;
  affineSystem(aPoints, 5, X, A, b);
  const CVector<float> aResult = NMath::leastSquares(A, b);
  ASSERT_EQ(aResult.size(), 6);
  for (int i = 0; i < 6; i++) EXPECT_NEAR(aResult[i], X[i], 1e-3f) << i;
}

TEST(LeastSquares, MinimisesResidualOfOverdeterminedLine) {
  // Fit y = c0 + c1 * x to (0, 1), (1, 2), (2, 2), (3, 4): c0 = 0.9, c1 = 0.9.
  CMatrix<float> A(2, 4);
  CVector<float> b(4);
  const float aY[4] = {1, 2, 2, 4};
  for (int r = 0; r < 4; r++) {
    A(0, r) = 1;
    A(1, r) = static_cast<float>(r);
    b(r) = aY[r];
  }
  const CVector<float> X = NMath::leastSquares(A, b);
  EXPECT_NEAR(X[0], 0.9f, 1e-5f);
  EXPECT_NEAR(X[1], 0.9f, 1e-5f);
}

TEST(Householder, LeavesTriangularFactorAndRotatedRightHandSide) {
  // Column (3, 4): sigma 25, s = -5 (A(0,0) >= 0), so R(0,0) = -5 and |Q^T b| = |b|.
  CMatrix<float> A(1, 2);
  A(0, 0) = 3;
  A(0, 1) = 4;
  CVector<float> b(2);
  b(0) = 1;
  b(1) = 2;
  NMath::householder(A, b);
  EXPECT_FLOAT_EQ(A(0, 0), -5.0f);
  EXPECT_NEAR(b(0), -(3.0f * 1 + 4.0f * 2) / 5.0f, 1e-6f);
  EXPECT_NEAR(b(0) * b(0) + b(1) * b(1), 5.0f, 1e-5f);
}

TEST(LeastSquares, PointClusterIsSingularButGivesFiniteZeroedModel) {
  // Every member at the origin: the x and y columns vanish, nothing can be determined.
  const float aPoints[4][2] = {{0, 0}, {0, 0}, {0, 0}, {0, 0}};
  const float X[6] = {1, 0, 0, 1, 2, 3};
  CMatrix<float> A;
  CVector<float> b;
  affineSystem(aPoints, 4, X, A, b);
  testing::internal::CaptureStderr();
  const CVector<float> aResult = NMath::leastSquares(A, b);
  const std::string aMessage = testing::internal::GetCapturedStderr();
  EXPECT_EQ(aMessage, "NMath::householder(): matrix is singular!\n");
  for (int i = 0; i < 6; i++) EXPECT_EQ(aResult[i], 0.0f) << i;
}

TEST(LeastSquares, SingularLaterColumnKeepsDeterminedPartAndZeroesRest) {
  // Second column identical to zero: the first component is still the plain fit.
  CMatrix<float> A(2, 3, 0.0f);
  CVector<float> b(3);
  for (int r = 0; r < 3; r++) {
    A(0, r) = 1;
    b(r) = static_cast<float>(r + 1);
  }
  testing::internal::CaptureStderr();
  const CVector<float> X = NMath::leastSquares(A, b);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("matrix is singular!"), std::string::npos);
  EXPECT_NEAR(X[0], 2.0f, 1e-5f);
  EXPECT_EQ(X[1], 0.0f);
}

TEST(LeastSquares, MoreColumnsThanRowsStaysFiniteAndInBounds) {
  CMatrix<float> A(6, 4);
  CVector<float> b(4);
  for (int r = 0; r < 4; r++) {
    for (int c = 0; c < 6; c++) A(c, r) = static_cast<float>((r + 1) * (c + 2) % 7);
    b(r) = static_cast<float>(r);
  }
  testing::internal::CaptureStderr();
  const CVector<float> X = NMath::leastSquares(A, b);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("matrix is singular!"), std::string::npos);
  ASSERT_EQ(X.size(), 6);
  for (int i = 0; i < 6; i++) EXPECT_TRUE(std::isfinite(X[i])) << i;
  EXPECT_EQ(X[4], 0.0f);
  EXPECT_EQ(X[5], 0.0f);
}
