#include "flow/CDiffusion.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/CFilter.h"
#include "foundation/Exceptions.h"

namespace {

// Constant of the Weickert diffusivity: makes the flux s * g(s) peak at s = lambda^2.
constexpr double kWeickertConstant = 3.31488;

// Solves, for every column x of a width x height field, the tridiagonal system
//   (1 + w(j-1) + w(j)) r(j) - w(j-1) r(j-1) - w(j) r(j+1) = f(j)
// along the column (j = row), where w(j) = aWeight[x + width * j] couples rows j and j + 1 and
// the last row of aWeight must be 0 (no edge below the field). Thomas algorithm; all columns are
// eliminated together row by row, so every access runs along a row.
//
// The pivot m(j) = p(j) + w(j) is carried through its excess p(j) over the upper coupling,
// p(j) = 1 + w(j-1) p(j-1) / m(j-1) >= 1, which is formed without cancellation. Forming m(j)
// directly as (1 + w(j-1) + w(j)) - w(j-1)^2 / m(j-1) loses the small excess among terms of
// the size of w, and with diffusivities near 1000 a constant field would then drift by 1e-5
// of its value per step. aExcess and aPivot are scratch of the field's size; aResult may not
// alias aRight.
void solveColumns(const float* aRight, const float* aWeight, float* aResult, float* aExcess,
                  float* aPivot, int aWidth, int aHeight) {
  if (aWidth <= 0 || aHeight <= 0) return;
  // Forward elimination; aResult holds the eliminated right-hand side.
  for (int x = 0; x < aWidth; x++) {
    aExcess[x] = 1.0f;
    aPivot[x] = 1.0f + aWeight[x];
    aResult[x] = aRight[x];
  }
  for (int j = 1; j < aHeight; j++) {
    const int aRow = j * aWidth;
    const int aPrev = aRow - aWidth;
    for (int x = 0; x < aWidth; x++) {
      const float aFactor = aWeight[aPrev + x] / aPivot[aPrev + x];
      const float aNewExcess = 1.0f + aFactor * aExcess[aPrev + x];
      aExcess[aRow + x] = aNewExcess;
      aPivot[aRow + x] = aNewExcess + aWeight[aRow + x];
      aResult[aRow + x] = aRight[aRow + x] + aFactor * aResult[aPrev + x];
    }
  }
  // Back substitution.
  const int aLastRow = (aHeight - 1) * aWidth;
  for (int x = 0; x < aWidth; x++) aResult[aLastRow + x] /= aPivot[aLastRow + x];
  for (int j = aHeight - 2; j >= 0; j--) {
    const int aRow = j * aWidth;
    const int aNext = aRow + aWidth;
    for (int x = 0; x < aWidth; x++)
      aResult[aRow + x] =
          (aResult[aRow + x] + aWeight[aRow + x] * aResult[aNext + x]) / aPivot[aRow + x];
  }
}

// aOut (aHeight x aWidth) = transpose of aIn (aWidth x aHeight).
void transpose(const float* aIn, float* aOut, int aWidth, int aHeight) {
  constexpr int kBlock = 32;
  for (int y0 = 0; y0 < aHeight; y0 += kBlock) {
    const int y1 = std::min(y0 + kBlock, aHeight);
    for (int x0 = 0; x0 < aWidth; x0 += kBlock) {
      const int x1 = std::min(x0 + kBlock, aWidth);
      for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) aOut[y + aHeight * x] = aIn[x + aWidth * y];
    }
  }
}

}  // namespace

CDiffusion::CDiffusion()
    : mTau1D(1.0f),
      mTau2D(1.0f),
      mTau3D(1.0f),
      mLambda(4.0f),
      mEpsilon(0.001f),
      mP(-0.5f),
      mSmoothing(0),
      mDiffFunc(cTV),
      mLimitedCondNo(false),
      mEnhancedStencil(false) {}

float CDiffusion::diffusivity(int aChoice, float aValue, float aInvLambdaSqr) const {
  const double s = aValue;
  const double k = aInvLambdaSqr;
  const double aEpsSqr = static_cast<double>(mEpsilon) * mEpsilon;
  switch (aChoice) {
    case cLinear:
      return 1.0f;
    case cCharbonnier:
      return static_cast<float>(1.0 / std::sqrt(1.0 + s * k));
    case cPeronaMalikI:
      return static_cast<float>(1.0 / (1.0 + s * k));
    case cPeronaMalikII:
      return static_cast<float>(std::exp(-s * k));
    case cWeickert: {
      if (s <= 0.0) return 1.0f;
      const double aPower = std::pow(s * k, 4.0);
      // A vanishing (or underflowing) power means no contrast at all: full diffusion.
      if (!(aPower > 0.0)) return 1.0f;
      return static_cast<float>(1.0 - std::exp(-kWeickertConstant / aPower));
    }
    case cUnboundedEpsilon:
      return static_cast<float>(std::pow(aEpsSqr + s, static_cast<double>(mP)));
    case cUnbounded:
      if (s <= 0.0) return 0.0f;
      return static_cast<float>(std::pow(s, static_cast<double>(mP)));
    case cTV:
      return static_cast<float>(1.0 / std::sqrt(aEpsSqr + s));
    case cNonconvex:
      return 1.0f / (mEpsilon * mEpsilon + aValue);
    default:
      return 1.0f;
  }
}

void CDiffusion::isotropicDiffMatrixMultiChannel(const CTensor<float>& aTensor,
                                                 CMatrix<float>& aResultX,
                                                 CMatrix<float>& aResultY) const {
  const int aXSize = aTensor.xSize();
  const int aYSize = aTensor.ySize();
  if (aResultX.xSize() != aXSize || aResultX.ySize() != aYSize) aResultX.setSize(aXSize, aYSize);
  if (aResultY.xSize() != aXSize || aResultY.ySize() != aYSize) aResultY.setSize(aXSize, aYSize);
  aResultX.fill(0.0f);
  aResultY.fill(0.0f);
  if (aTensor.size() == 0) return;

  const CDerivative<float> aDerivative(3);
  CTensor<float> aDx(aXSize, aYSize, aTensor.zSize());
  CTensor<float> aDy(aXSize, aYSize, aTensor.zSize());
  NFilter::filter(aTensor, aDx, aDerivative, 1, 1);
  NFilter::filter(aTensor, aDy, 1, aDerivative, 1);

  const int aPlane = aXSize * aYSize;
  float* aGX = aResultX.data();
  float* aGY = aResultY.data();
  for (int c = 0; c < aTensor.zSize(); c++) {
    const float* aChannel = aTensor.data() + c * aPlane;
    const float* aCx = aDx.data() + c * aPlane;
    const float* aCy = aDy.data() + c * aPlane;
    // Edges along x: difference across the edge, mean of the y-derivatives of its two pixels.
    for (int y = 0; y < aYSize; y++) {
      const int aRow = y * aXSize;
      for (int x = 0; x < aXSize - 1; x++) {
        const int i = aRow + x;
        const float aAcross = aChannel[i + 1] - aChannel[i];
        const float aAlong = 0.5f * (aCy[i] + aCy[i + 1]);
        aGX[i] += aAcross * aAcross + aAlong * aAlong;
      }
    }
    // Edges along y likewise.
    for (int y = 0; y < aYSize - 1; y++) {
      const int aRow = y * aXSize;
      for (int x = 0; x < aXSize; x++) {
        const int i = aRow + x;
        const float aAlong = 0.5f * (aCx[i] + aCx[i + aXSize]);
        const float aAcross = aChannel[i + aXSize] - aChannel[i];
        aGY[i] += aAlong * aAlong + aAcross * aAcross;
      }
    }
  }

  const float aInvLambdaSqr = 1.0f / (mLambda * mLambda);
  for (int i = 0; i < aPlane; i++) {
    aGX[i] = diffusivity(mDiffFunc, aGX[i], aInvLambdaSqr);
    aGY[i] = diffusivity(mDiffFunc, aGY[i], aInvLambdaSqr);
  }
}

void CDiffusion::isotropicDiffuseSemiImplicit(CMatrix<float>& aMatrix, const CMatrix<float>& GX,
                                              const CMatrix<float>& GY) const {
  const int aXSize = aMatrix.xSize();
  const int aYSize = aMatrix.ySize();
  if (GX.xSize() != aXSize || GX.ySize() != aYSize)
    throw EIncompatibleMatrices(GX.xSize(), GX.ySize(), aXSize, aYSize);
  if (GY.xSize() != aXSize || GY.ySize() != aYSize)
    throw EIncompatibleMatrices(GY.xSize(), GY.ySize(), aXSize, aYSize);
  const int aSize = aXSize * aYSize;
  if (aSize == 0) return;

  const float aTau = mTau2D;
  const float a2Tau = 2.0f * aTau;
  const float* aGX = GX.data();
  const float* aGY = GY.data();
  std::vector<float> aWeight(aSize), aResult(aSize), aExcess(aSize), aPivot(aSize);
  std::vector<float> aRightT(aSize), aWeightT(aSize), aResultT(aSize);

  // Along x: the rows are solved as the columns of the transposed field, so that the
  // elimination of all rows runs together over contiguous memory. Edge weight of (x, x + 1):
  // 2 tau g on the edge, or tau times the sum of the two pixel values (their mean times 2 tau).
  for (int y = 0; y < aYSize; y++) {
    const int aRow = y * aXSize;
    for (int x = 0; x < aXSize - 1; x++) {
      const int i = aRow + x;
      aWeight[i] = mSmoothing == 0 ? a2Tau * aGX[i] : aTau * (aGX[i] + aGX[i + 1]);
    }
    aWeight[aRow + aXSize - 1] = 0.0f;
  }
  transpose(aMatrix.data(), aRightT.data(), aXSize, aYSize);
  transpose(aWeight.data(), aWeightT.data(), aXSize, aYSize);
  solveColumns(aRightT.data(), aWeightT.data(), aResultT.data(), aExcess.data(), aPivot.data(),
               aYSize, aXSize);

  // Along y.
  for (int y = 0; y < aYSize - 1; y++) {
    const int aRow = y * aXSize;
    for (int x = 0; x < aXSize; x++) {
      const int i = aRow + x;
      aWeight[i] = mSmoothing == 0 ? a2Tau * aGY[i] : aTau * (aGY[i] + aGY[i + aXSize]);
    }
  }
  for (int x = 0; x < aXSize; x++) aWeight[(aYSize - 1) * aXSize + x] = 0.0f;
  solveColumns(aMatrix.data(), aWeight.data(), aResult.data(), aExcess.data(), aPivot.data(),
               aXSize, aYSize);

  // Additive splitting: the mean of the two one-dimensional implicit steps.
  transpose(aResultT.data(), aRightT.data(), aYSize, aXSize);
  float* aOut = aMatrix.data();
  for (int i = 0; i < aSize; i++) aOut[i] = 0.5f * (aRightT[i] + aResult[i]);
}
