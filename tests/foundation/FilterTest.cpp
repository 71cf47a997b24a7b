#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "foundation/CFilter.h"
#include "foundation/Random.h"
#include "foundation/Simd.h"

namespace {

CMatrix<float> row(const std::vector<float>& aValues) {
  CMatrix<float> aMatrix(static_cast<int>(aValues.size()), 1);
  for (size_t i = 0; i < aValues.size(); i++) aMatrix(static_cast<int>(i), 0) = aValues[i];
  return aMatrix;
}

}  // namespace

TEST(Derivative, CoefficientsAreRoundedFractions) {
  CDerivative<float> aFour(4);
  EXPECT_EQ(aFour.delta(), 1);
  EXPECT_EQ(aFour.A(), -1);
  EXPECT_EQ(aFour.B(), 2);
  EXPECT_EQ(aFour(-1), 0.041666668f);
  EXPECT_EQ(aFour(0), -1.125f);
  CDerivative<float> aTwo(2);
  EXPECT_EQ(aTwo.delta(), 0);
  EXPECT_EQ(aTwo(0), -1.0f);
  EXPECT_EQ(aTwo(1), 1.0f);
  CDerivative<float> aTen(10);
  EXPECT_EQ(aTen.delta(), 4);
  EXPECT_EQ(aTen(5), static_cast<float>(35.0 / 294912));
  for (int n = 2; n <= 10; n++) EXPECT_NEAR(CDerivative<float>(n).sum(), 0.0f, 1e-6f) << n;
}

TEST(Derivative, UnsupportedSizeIsRefusedWithMessage) {
  testing::internal::CaptureStderr();
  EXPECT_THROW(CDerivative<float>(11), EFilterNotAvailable);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Exception EFilterNotAvailable: Mask size: 11\n");
  testing::internal::CaptureStderr();
  EXPECT_THROW(CDerivative<float>(1), EFilterNotAvailable);
  testing::internal::GetCapturedStderr();
}

TEST(Smooth, GaussianMaskSumsToOneAndKeepsConstants) {
  CSmooth<float> aMask(0.8f, 3.0f);
  EXPECT_EQ(aMask.delta(), 3);
  EXPECT_EQ(aMask.size(), 7);
  EXPECT_NEAR(aMask.sum(), 1.0f, 1e-6f);
  EXPECT_EQ(aMask(-2), aMask(2));
  EXPECT_GT(aMask(0), aMask(1));
  CMatrix<float> aLine(12, 3, 7.0f), aResult(12, 3);
  NFilter::filter(aLine, aResult, aMask, 0);
  for (int i = 0; i < aResult.size(); i++) EXPECT_NEAR(aResult(i), 7.0f, 1e-5f);
  NFilter::filter(aLine, aResult, 0, aMask);
  for (int i = 0; i < aResult.size(); i++) EXPECT_NEAR(aResult(i), 7.0f, 1e-5f);
}

TEST(MaskFilter, CentralDerivativeMirrorsBorders) {
  CMatrix<float> aLine = row({1, 2, 4}), aResult(3, 1);
  NFilter::filter(aLine, aResult, CDerivative<float>(3), 0);
  EXPECT_FLOAT_EQ(aResult(0, 0), 0.5f);
  EXPECT_FLOAT_EQ(aResult(1, 0), 1.5f);
  EXPECT_FLOAT_EQ(aResult(2, 0), 1.0f);
}

TEST(MaskFilter, StaggeredDerivativeIsZeroAtLastSample) {
  CMatrix<float> aLine = row({1, 3, 6, 10}), aResult(4, 1);
  NFilter::filter(aLine, aResult, CDerivative<float>(2), 0);
  EXPECT_EQ(aResult(0, 0), 2.0f);
  EXPECT_EQ(aResult(1, 0), 3.0f);
  EXPECT_EQ(aResult(2, 0), 4.0f);
  EXPECT_EQ(aResult(3, 0), 0.0f);
}

TEST(MaskFilter, EveryAxisOfATensor) {
  // value = x + 10 y + 100 z^2: the derivative along each axis has a known interior value.
  CTensor<float> aTensor(5, 4, 3);
  for (int z = 0; z < 3; z++)
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 5; x++) aTensor(x, y, z) = x + 10.0f * y + 100.0f * z * z;
  CDerivative<float> aMask(3);
  CTensor<float> aResult(5, 4, 3);
  NFilter::filter(aTensor, aResult, aMask, 0, 0);
  EXPECT_FLOAT_EQ(aResult(2, 1, 2), 1.0f);
  EXPECT_FLOAT_EQ(aResult(0, 3, 1), 0.5f);
  NFilter::filter(aTensor, aResult, 0, aMask, 0);
  EXPECT_FLOAT_EQ(aResult(2, 1, 2), 10.0f);
  EXPECT_FLOAT_EQ(aResult(4, 3, 0), 5.0f);
  NFilter::filter(aTensor, aResult, 0, 0, aMask);
  EXPECT_FLOAT_EQ(aResult(3, 2, 1), 200.0f);
  EXPECT_FLOAT_EQ(aResult(3, 2, 0), 50.0f);
  CTensor<float> aInPlace(aTensor);
  NFilter::filter(aInPlace, 0, aMask, 0);
  NFilter::filter(aTensor, aResult, 0, aMask, 0);
  for (int i = 0; i < aResult.size(); i++) EXPECT_EQ(aInPlace[i], aResult[i]);
  aInPlace = aTensor;
  NFilter::filter(aInPlace, aMask, 0, 0);
  EXPECT_FLOAT_EQ(aInPlace(2, 1, 2), 1.0f);
}

TEST(MaskFilter, EveryAxisEqualsTheSumOfOneSampleAtATime) {
  // The rows, columns and channels are filtered several samples at once (also with AVX2);
  // each result must be the float sum from the mask's first offset upward, with mirrored
  // borders. Odd sizes leave partial vectors; masks of 3 and 5 taps take the fast paths.
  auto aMirror = [](int p, int n) {
    while (p < 0 || p >= n) p = p < 0 ? -1 - p : 2 * n - 1 - p;
    return p;
  };
  CRandom aRandom(7);
  for (bool aAvx2 : {true, false}) {
    allowAvx2(aAvx2);
    for (int aMaskSize : {2, 3, 4, 5}) {
      const CDerivative<float> aMask(aMaskSize);
      for (const int aSide : {3, 7, 13, 21}) {
        const int X = aSide, Y = aSide + 6, Z = 5;
        CTensor<float> aTensor(X, Y, Z), aResult(X, Y, Z);
        for (int i = 0; i < aTensor.size(); i++)
          aTensor[i] = aRandom.next() / static_cast<float>(CRandom::kMax) - 0.5f;
        for (int aAxis = 0; aAxis < 3; aAxis++) {
          if (aAxis == 0) NFilter::filter(aTensor, aResult, aMask, 0, 0);
          if (aAxis == 1) NFilter::filter(aTensor, aResult, 0, aMask, 0);
          if (aAxis == 2) NFilter::filter(aTensor, aResult, 0, 0, aMask);
          for (int z = 0; z < Z; z++)
            for (int y = 0; y < Y; y++)
              for (int x = 0; x < X; x++) {
                float aSum = 0.0f;
                for (int j = aMask.A(); j <= aMask.B(); j++) {
                  const int p[3] = {aAxis == 0 ? aMirror(x + j, X) : x,
                                    aAxis == 1 ? aMirror(y + j, Y) : y,
                                    aAxis == 2 ? aMirror(z + j, Z) : z};
                  aSum += aMask(j) * aTensor(p[0], p[1], p[2]);
                }
                ASSERT_EQ(aResult(x, y, z), aSum)
                    << "axis " << aAxis << ", mask " << aMaskSize << ", " << X << "x" << Y << " at "
                    << x << "," << y << "," << z << (aAvx2 ? "" : " without AVX2");
              }
        }
        CMatrix<float> aMatrix(X, Y), aMatrixResult(X, Y);
        aTensor.getMatrix(aMatrix, 1);
        NFilter::filter(aMatrix, aMatrixResult, 0, aMask);
        NFilter::filter(aTensor, aResult, 0, aMask, 0);
        for (int i = 0; i < X * Y; i++) ASSERT_EQ(aMatrixResult[i], aResult[i + X * Y]);
        NFilter::filter(aMatrix, aMatrixResult, aMask, 0);
        NFilter::filter(aTensor, aResult, aMask, 0, 0);
        for (int i = 0; i < X * Y; i++) ASSERT_EQ(aMatrixResult[i], aResult[i + X * Y]);
      }
    }
  }
  allowAvx2(true);
}

TEST(MaskFilter, RowsAlongYReadOnlyTheRowsTheMaskReaches) {
  // A band of output rows from a table holding only the rows the mask reaches (the others
  // null): the band must equal those rows of filterY, also at both borders.
  CRandom aRandom(4);
  const int X = 11, Y = 17;
  std::vector<float> aPlane(X * Y), aWhole(X * Y);
  for (float& v : aPlane) v = aRandom.next() / static_cast<float>(CRandom::kMax);
  for (int aTaps : {3, 5, 2}) {
    const CDerivative<float> aMask(aTaps);
    NFilter::filterY(aPlane.data(), aWhole.data(), X, Y, aMask);
    for (int aFirst : {0, 3, 12, 16}) {
      const int aRows = std::min(4, Y - aFirst);
      std::vector<const float*> aTable(Y, nullptr);
      for (int y = std::max(0, aFirst + aMask.A());
           y <= std::min(Y - 1, aFirst + aRows - 1 + aMask.B()); y++)
        aTable[y] = aPlane.data() + y * X;
      std::vector<float> aBand(aRows * X);
      NFilter::filterYRows(aTable.data(), X, Y, aFirst, aRows, aBand.data(), aMask);
      for (int i = 0; i < aRows * X; i++)
        ASSERT_EQ(aBand[i], aWhole[aFirst * X + i]) << aTaps << " taps from row " << aFirst;
    }
  }
}

TEST(MaskFilter, MaskLongerThanLineStaysInside) {
  CMatrix<float> aLine = row({2, 2}), aResult(2, 1);
  NFilter::filter(aLine, aResult, CSmooth<float>(2.0f, 3.0f), 0);
  EXPECT_NEAR(aResult(0, 0), 2.0f, 1e-5f);
  EXPECT_NEAR(aResult(1, 0), 2.0f, 1e-5f);
}

TEST(MaskFilter, WrongResultSizeOrSameObjectIsRefused) {
  CMatrix<float> aMatrix(4, 3, 1.0f), aSmall(4, 2);
  testing::internal::CaptureStderr();
  EXPECT_THROW(NFilter::filter(aMatrix, aSmall, CDerivative<float>(3), 0), EFilterIncompatibleSize);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Exception EFilterIncompatibleSize: Initial container size: 12  Resulting container "
            "size: 8\n");
  testing::internal::CaptureStderr();
  EXPECT_THROW(NFilter::filter(aMatrix, aMatrix, 0, CDerivative<float>(3)),
               EFilterIncompatibleSize);
  testing::internal::GetCapturedStderr();
}

TEST(RecursiveSmooth, ConstantLineSagsAtStartAndRisesAtEnd) {
  CMatrix<float> aLine(12, 1, 10.0f);
  NFilter::recursiveSmoothX(aLine, 0.8f);
  const float aExpected[12] = {7.2513f,  9.138f,   9.7852f,  9.9517f,  9.9898f, 9.9983f,
                               10.0017f, 10.0102f, 10.0483f, 10.2148f, 10.862f, 12.7487f};
  for (int i = 0; i < 12; i++) EXPECT_NEAR(aLine(i, 0), aExpected[i], 2e-4f) << i;
  EXPECT_NEAR(aLine(0, 0) + aLine(11, 0), 20.0f, 1e-4f);
  CMatrix<float> aWide(12, 1, 10.0f);
  NFilter::recursiveSmoothX(aWide, 2.5f);
  EXPECT_NEAR(aWide(0, 0), 9.6486f, 2e-4f);
  EXPECT_NEAR(aWide(11, 0), 10.3514f, 2e-4f);
}

TEST(RecursiveSmooth, ImpulseSpreadsSymmetrically) {
  CMatrix<float> aLine(31, 1, 0.0f);
  aLine(15, 0) = 1.0f;
  NFilter::recursiveSmoothX(aLine, 0.8f);
  const float aExpected[7] = {0.0138f, 0.058f, 0.2065f, 0.4357f, 0.2065f, 0.058f, 0.0138f};
  for (int i = 0; i < 7; i++) EXPECT_NEAR(aLine(12 + i, 0), aExpected[i], 1e-4f) << i;
  EXPECT_NEAR(aLine(15, 0), 0.43570003f, 1e-6f);
}

TEST(RecursiveSmooth, ColumnsAndChannelsMatchRows) {
  // Smoothing along y of a column must equal smoothing along x of the same values as a row,
  // in every channel of a tensor and in a matrix.
  const int N = 9;
  CMatrix<float> aRow(N, 1), aColumn(2, N);
  CTensor<float> aTensorRows(N, 2, 2), aTensorColumns(3, N, 2);
  for (int i = 0; i < N; i++) {
    const float v = static_cast<float>((i * 37) % 11);
    aRow(i, 0) = v;
    for (int c = 0; c < 2; c++) aColumn(c, i) = v;
    for (int z = 0; z < 2; z++) {
      for (int y = 0; y < 2; y++) aTensorRows(i, y, z) = v;
      for (int x = 0; x < 3; x++) aTensorColumns(x, i, z) = v;
    }
  }
  NFilter::recursiveSmoothX(aRow, 1.3f);
  NFilter::recursiveSmoothY(aColumn, 1.3f);
  NFilter::recursiveSmoothX(aTensorRows, 1.3f);
  NFilter::recursiveSmoothY(aTensorColumns, 1.3f);
  for (int i = 0; i < N; i++) {
    EXPECT_EQ(aColumn(1, i), aRow(i, 0));
    EXPECT_EQ(aTensorRows(i, 1, 1), aRow(i, 0));
    EXPECT_EQ(aTensorColumns(2, i, 1), aRow(i, 0));
  }
}

TEST(RecursiveSmooth, SingleSampleLineIsLeftAlone) {
  CMatrix<float> aLine(1, 3, 5.0f);
  NFilter::recursiveSmoothX(aLine, 0.8f);
  for (int i = 0; i < 3; i++) EXPECT_EQ(aLine(i), 5.0f);
}
