#include <gtest/gtest.h>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

namespace {

CMatrix<float> row(std::initializer_list<float> aValues) {
  CMatrix<float> aRow(static_cast<int>(aValues.size()), 1);
  int i = 0;
  for (float aValue : aValues) aRow(i++) = aValue;
  return aRow;
}

}  // namespace

TEST(Resample, AreaReductionAveragesCoveredFractions) {
  CMatrix<float> aRow = row({1, 2, 3, 4, 5});
  aRow.downsample(2, 1);
  ASSERT_EQ(aRow.xSize(), 2);
  EXPECT_FLOAT_EQ(aRow(0), 1.8f);
  EXPECT_FLOAT_EQ(aRow(1), 4.2f);
  CMatrix<float> aSame = row({1, 2, 3, 4, 5});
  aSame.downsample(5, 1);
  for (int i = 0; i < 5; i++) EXPECT_EQ(aSame(i), i + 1.0f);
  // Along y the same walk runs down the columns.
  CMatrix<float> aColumn(1, 5);
  for (int i = 0; i < 5; i++) aColumn(i) = i + 1.0f;
  aColumn.downsample(1, 2);
  EXPECT_FLOAT_EQ(aColumn(0, 0), 1.8f);
  EXPECT_FLOAT_EQ(aColumn(0, 1), 4.2f);
  // A constant stays constant in two dimensions.
  CMatrix<float> aConstant(7, 5, 3.0f);
  aConstant.downsample(3, 2);
  for (int i = 0; i < aConstant.size(); i++) EXPECT_NEAR(aConstant(i), 3.0f, 1e-5f);
}

TEST(Resample, AreaEnlargementSplitsBoundaryPixel) {
  CMatrix<float> aRow = row({2, 6});
  aRow.upsample(5, 1);
  ASSERT_EQ(aRow.xSize(), 5);
  const float aExpected[5] = {2, 2, 4, 6, 6};
  for (int i = 0; i < 5; i++) EXPECT_FLOAT_EQ(aRow(i), aExpected[i]);
}

TEST(Resample, BilinearEnlargementKeepsConstantsAndInterpolates) {
  CMatrix<float> aConstant(3, 2, 7.5f);
  aConstant.upsampleBilinear(7, 5);
  for (int i = 0; i < aConstant.size(); i++) EXPECT_FLOAT_EQ(aConstant(i), 7.5f);
  CMatrix<float> aRow = row({0, 4});
  aRow.upsampleBilinear(4, 1);
  // Source positions -0.25, 0.25, 0.75, 1.25: clamped at both ends.
  const float aExpected[4] = {0, 1, 3, 4};
  for (int i = 0; i < 4; i++) EXPECT_FLOAT_EQ(aRow(i), aExpected[i]);
}

TEST(Resample, ConfidenceReductionIgnoresUntrustedPixels) {
  CMatrix<float> aValues(4, 4, 5.0f);
  CMatrix<float> aNone(4, 4, 0.0f);
  aValues.downsample(2, 2, aNone);
  for (int i = 0; i < aValues.size(); i++) EXPECT_EQ(aValues(i), 0.0f);

  CMatrix<float> aHalf(4, 1);
  CMatrix<float> aConfidence(4, 1);
  const float aData[4] = {1, 100, 3, 100}, aTrust[4] = {1, 0, 1, 0};
  for (int i = 0; i < 4; i++) aHalf(i) = aData[i], aConfidence(i) = aTrust[i];
  aHalf.downsample(2, 1, aConfidence);
  EXPECT_FLOAT_EQ(aHalf(0), 1.0f);
  EXPECT_FLOAT_EQ(aHalf(1), 3.0f);
}

TEST(Resample, TensorChannelsResampleIndependently) {
  CTensor<float> aTensor(5, 1, 2);
  for (int x = 0; x < 5; x++) aTensor(x, 0, 0) = x + 1.0f, aTensor(x, 0, 1) = 10.0f;
  aTensor.downsample(2, 1);
  ASSERT_EQ(aTensor.xSize(), 2);
  ASSERT_EQ(aTensor.zSize(), 2);
  EXPECT_FLOAT_EQ(aTensor(0, 0, 0), 1.8f);
  EXPECT_FLOAT_EQ(aTensor(1, 0, 0), 4.2f);
  EXPECT_FLOAT_EQ(aTensor(1, 0, 1), 10.0f);
  aTensor.upsampleBilinear(4, 3);
  EXPECT_EQ(aTensor.ySize(), 3);
  EXPECT_FLOAT_EQ(aTensor(3, 2, 1), 10.0f);
}

TEST(MatrixProduct, SumsRowsAndRefusesMismatchedVectors) {
  CMatrix<float> aMatrix(3, 2);
  const float aData[6] = {1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 6; i++) aMatrix(i) = aData[i];
  CVector<float> aVector(3);
  aVector(0) = 1, aVector(1) = 0, aVector(2) = -1;
  const CVector<float> aResult = aMatrix * aVector;
  ASSERT_EQ(aResult.size(), 2);
  EXPECT_EQ(aResult(0), -2.0f);
  EXPECT_EQ(aResult(1), -2.0f);
  testing::internal::CaptureStderr();
  EXPECT_THROW(aMatrix * CVector<float>(2, 1.0f), EIncompatibleMatrices);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Exception EIncompatibleMatrices: M1 = 3x2  M2 = 1x2\n");
}
