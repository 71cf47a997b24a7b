#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/CAreaReducer.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/CVector.h"
#include "foundation/Exceptions.h"
#include "foundation/Random.h"
#include "foundation/Simd.h"

namespace {

CMatrix<float> row(std::initializer_list<float> aValues) {
  CMatrix<float> aMatrix(static_cast<int>(aValues.size()), 1);
  int i = 0;
  for (float v : aValues) aMatrix[i++] = v;
  return aMatrix;
}

}  // namespace

TEST(Downsample, AveragesCoveredAreaOfARow) {
  CMatrix<float> aRow = row({1, 2, 3, 4, 5});
  aRow.downsample(2, 1);
  ASSERT_EQ(aRow.xSize(), 2);
  ASSERT_EQ(aRow.ySize(), 1);
  EXPECT_FLOAT_EQ(aRow(0, 0), 1.8f);
  EXPECT_FLOAT_EQ(aRow(1, 0), 4.2f);

  CMatrix<float> aSame = row({1, 2, 3, 4, 5});
  aSame.downsample(5, 1);
  ASSERT_EQ(aSame.xSize(), 5);
  for (int i = 0; i < 5; i++) EXPECT_EQ(aSame[i], i + 1.0f);
}

TEST(Downsample, ReducesColumnsLikeRowsAndKeepsConstants) {
  CMatrix<float> aColumn(1, 5);
  for (int i = 0; i < 5; i++) aColumn[i] = i + 1.0f;
  aColumn.downsample(1, 2);
  ASSERT_EQ(aColumn.ySize(), 2);
  EXPECT_FLOAT_EQ(aColumn(0, 0), 1.8f);
  EXPECT_FLOAT_EQ(aColumn(0, 1), 4.2f);

  CMatrix<float> aConstant(7, 5, 3.0f);
  aConstant.downsample(3, 2);
  ASSERT_EQ(aConstant.size(), 6);
  for (int i = 0; i < 6; i++) EXPECT_NEAR(aConstant[i], 3.0f, 1e-5f);
}

TEST(Downsample, HalvingAveragesTwoByTwoBlocks) {
  CMatrix<float> aMatrix(4, 2);
  for (int i = 0; i < 8; i++) aMatrix[i] = static_cast<float>(i);
  aMatrix.downsample(2, 1);
  // Blocks {0,1,4,5} and {2,3,6,7}.
  EXPECT_FLOAT_EQ(aMatrix(0, 0), 2.5f);
  EXPECT_FLOAT_EQ(aMatrix(1, 0), 4.5f);
}

TEST(Upsample, SpreadsTwoPixelsOverFive) {
  CMatrix<float> aRow = row({2, 6});
  aRow.upsample(5, 1);
  ASSERT_EQ(aRow.xSize(), 5);
  const float aExpected[5] = {2, 2, 4, 6, 6};
  for (int i = 0; i < 5; i++) EXPECT_FLOAT_EQ(aRow[i], aExpected[i]) << i;

  CMatrix<float> aColumn(1, 2);
  aColumn[0] = 2;
  aColumn[1] = 6;
  aColumn.upsample(1, 5);
  for (int i = 0; i < 5; i++) EXPECT_FLOAT_EQ(aColumn[i], aExpected[i]) << i;
}

TEST(UpsampleBilinear, ConstantStaysConstantIncludingBorder) {
  CMatrix<float> aMatrix(3, 2, 7.25f);
  aMatrix.upsampleBilinear(7, 5);
  ASSERT_EQ(aMatrix.xSize(), 7);
  ASSERT_EQ(aMatrix.ySize(), 5);
  for (int i = 0; i < aMatrix.size(); i++) EXPECT_FLOAT_EQ(aMatrix[i], 7.25f) << i;
}

TEST(UpsampleBilinear, InterpolatesBetweenPixelCentres) {
  // 2 -> 4: source coordinates -0.25, 0.25, 0.75, 1.25.
  CMatrix<float> aRow = row({0, 8});
  aRow.upsampleBilinear(4, 1);
  EXPECT_FLOAT_EQ(aRow[0], 0.0f);
  EXPECT_FLOAT_EQ(aRow[1], 2.0f);
  EXPECT_FLOAT_EQ(aRow[2], 6.0f);
  EXPECT_FLOAT_EQ(aRow[3], 8.0f);
}

TEST(UpsampleBilinear, OnePixelWideSourceIsNotReadPastItsEnd) {
  CMatrix<float> aPixel(1, 1, 5.0f);
  aPixel.upsampleBilinear(3, 3);
  for (int i = 0; i < 9; i++) EXPECT_FLOAT_EQ(aPixel[i], 5.0f);
}

TEST(ConfidenceDownsample, ZeroConfidenceGivesZeros) {
  CMatrix<float> aMatrix(6, 4, 9.0f);
  CMatrix<float> aConfidence(6, 4, 0.0f);
  aMatrix.downsample(3, 2, aConfidence);
  ASSERT_EQ(aMatrix.xSize(), 3);
  ASSERT_EQ(aMatrix.ySize(), 2);
  for (int i = 0; i < 6; i++) EXPECT_EQ(aMatrix[i], 0.0f);
}

TEST(ConfidenceDownsample, WeighsValuesByConfidence) {
  // 4 -> 2: source 0,1,2,3 land at 0, 0.5, 1, 1.5.
  CMatrix<float> aRow = row({1, 3, 5, 7});
  CMatrix<float> aConfidence = row({1, 1, 2, 0});
  aRow.downsample(2, 1, aConfidence);
  // Target 0: 1*1 + 0.5*3 over 1.5; target 1: 0.5*3 + 2*5 over 2.5.
  EXPECT_FLOAT_EQ(aRow[0], 2.5f / 1.5f);
  EXPECT_FLOAT_EQ(aRow[1], 11.5f / 2.5f);

  CMatrix<float> aConstant(5, 3, 4.0f);
  CMatrix<float> aOnes(5, 3, 0.5f);
  aConstant.downsample(2, 2, aOnes);
  for (int i = 0; i < 4; i++) EXPECT_FLOAT_EQ(aConstant[i], 4.0f);
}

TEST(ConfidenceDownsample, RejectsConfidenceOfAnotherSize) {
  CMatrix<float> aMatrix(4, 4, 1.0f);
  CMatrix<float> aConfidence(3, 4, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_THROW(aMatrix.downsample(2, 2, aConfidence), EIncompatibleMatrices);
  testing::internal::GetCapturedStderr();
}

TEST(TensorResample, WorksChannelByChannel) {
  CTensor<float> aTensor(5, 1, 2);
  for (int x = 0; x < 5; x++) {
    aTensor(x, 0, 0) = x + 1.0f;
    aTensor(x, 0, 1) = 10.0f;
  }
  aTensor.downsample(2, 1);
  ASSERT_EQ(aTensor.xSize(), 2);
  ASSERT_EQ(aTensor.zSize(), 2);
  EXPECT_FLOAT_EQ(aTensor(0, 0, 0), 1.8f);
  EXPECT_FLOAT_EQ(aTensor(1, 0, 0), 4.2f);
  EXPECT_FLOAT_EQ(aTensor(0, 0, 1), 10.0f);
  EXPECT_FLOAT_EQ(aTensor(1, 0, 1), 10.0f);

  aTensor.upsampleBilinear(4, 3);
  ASSERT_EQ(aTensor.xSize(), 4);
  ASSERT_EQ(aTensor.ySize(), 3);
  ASSERT_EQ(aTensor.zSize(), 2);
  for (int y = 0; y < 3; y++) {
    EXPECT_FLOAT_EQ(aTensor(0, y, 0), 1.8f);
    EXPECT_FLOAT_EQ(aTensor(3, y, 0), 4.2f);
    for (int x = 0; x < 4; x++) EXPECT_FLOAT_EQ(aTensor(x, y, 1), 10.0f);
  }
}

TEST(TensorResample, ConfidenceChannelMatchesDataChannel) {
  CTensor<float> aTensor(2, 1, 2, 6.0f);
  CTensor<float> aConfidence(2, 1, 2, 1.0f);
  aConfidence(0, 0, 1) = 0.0f;
  aConfidence(1, 0, 1) = 0.0f;
  aTensor.downsample(1, 1, aConfidence);
  ASSERT_EQ(aTensor.size(), 2);
  EXPECT_FLOAT_EQ(aTensor(0, 0, 0), 6.0f);
  EXPECT_EQ(aTensor(0, 0, 1), 0.0f);
}

TEST(AreaReducer, EveryReductionEqualsDownsample) {
  // The pyramid's reducer moves whole rows and columns at once (also with AVX2); each of its
  // results must be what CTensor<float>::downsample gives, to the bit, including sizes that
  // shrink along one side only, odd factors and a reduction to a single pixel.
  CRandom aRandom(5);
  CTensor<float> aPicture(37, 23, 3);
  for (int i = 0; i < aPicture.size(); i++)
    aPicture[i] = 255.0f * aRandom.next() / static_cast<float>(CRandom::kMax);
  // A grey picture's repeated channels are reduced once.
  CTensor<float> aGrey(37, 23, 3);
  for (int c = 0; c < 3; c++)
    for (int i = 0; i < 37 * 23; i++) aGrey[i + c * 37 * 23] = aPicture[i];
  std::vector<float> aWork;
  CTensor<float> aResult;
  EXPECT_FALSE(CAreaReducer(aPicture).channelsEqual());
  EXPECT_TRUE(CAreaReducer(aGrey).channelsEqual());
  for (const CTensor<float>* aSource : {&aPicture, &aGrey})
    for (bool aAvx2 : {true, false}) {
      const CTensor<float>& aPicture = *aSource;
      const CAreaReducer aReducer(aPicture);
      allowAvx2(aAvx2);
      for (const auto& aSize : {std::pair<int, int>{36, 22},
                                {35, 23},
                                {37, 20},
                                {19, 12},
                                {17, 13},
                                {5, 3},
                                {1, 1},
                                {37, 23}}) {
        CTensor<float> aExpected(aPicture);
        aExpected.downsample(aSize.first, aSize.second);
        aReducer.reduce(aSize.first, aSize.second, aResult, aWork);
        ASSERT_EQ(aResult.xSize(), aSize.first);
        ASSERT_EQ(aResult.ySize(), aSize.second);
        ASSERT_EQ(aResult.zSize(), 3);
        for (int i = 0; i < aExpected.size(); i++)
          ASSERT_EQ(aResult[i], aExpected[i]) << aSize.first << "x" << aSize.second << " at " << i;
      }
    }
  allowAvx2(true);
}

TEST(MatrixProduct, SumsRowsTimesVector) {
  CMatrix<float> aMatrix(3, 2);
  const float aValues[6] = {1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 6; i++) aMatrix[i] = aValues[i];
  CVector<float> aVector(3);
  aVector[0] = 1;
  aVector[1] = 0.5f;
  aVector[2] = -1;
  CVector<float> aResult = aMatrix * aVector;
  ASSERT_EQ(aResult.size(), 2);
  EXPECT_FLOAT_EQ(aResult[0], 1 + 1 - 3);
  EXPECT_FLOAT_EQ(aResult[1], 4 + 2.5f - 6);
}

TEST(MatrixProduct, SizeMismatchThrowsWithBothShapes) {
  CMatrix<float> aMatrix(3, 2, 1.0f);
  CVector<float> aVector(4, 1.0f);
  testing::internal::CaptureStderr();
  EXPECT_THROW(aMatrix * aVector, EIncompatibleMatrices);
  const std::string aMessage = testing::internal::GetCapturedStderr();
  EXPECT_EQ(aMessage, "Exception EIncompatibleMatrices: M1 = 3x2  M2 = 1x4\n");
}
