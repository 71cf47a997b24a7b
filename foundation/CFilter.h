// Filters: 1-D masks (CFilter and its kinds CDerivative and CSmooth), separable mask filtering
// of matrices and tensors along one axis (NFilter::filter), and the recursive Gaussian
// smoothers whose cost per sample does not depend on sigma.
#pragma once

#include <cmath>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/CVector.h"
#include "foundation/Exceptions.h"

// A mask of size N covering offsets A() = -mDelta ... B() = N - 1 - mDelta; the coefficient for
// offset j is stored at position j + mDelta.
template <class T>
class CFilter : public CVector<T> {
 public:
  CFilter() : CVector<T>(), mDelta(0) {}
  // Allocates aSize coefficients (contents unspecified) with the given centre offset.
  CFilter(int aSize, int aDelta) : CVector<T>(aSize), mDelta(aDelta) {}

  // Coefficient for offset j (A() <= j <= B()).
  T& operator()(int j) { return this->mData[j + mDelta]; }
  const T& operator()(int j) const { return this->mData[j + mDelta]; }
  T& operator[](int j) { return this->mData[j + mDelta]; }
  const T& operator[](int j) const { return this->mData[j + mDelta]; }

  int delta() const { return mDelta; }
  int A() const { return -mDelta; }
  int B() const { return this->mSize - 1 - mDelta; }
  // Sum of all coefficients.
  T sum() const {
    T aSum = 0;
    for (int i = 0; i < this->mSize; i++) aSum += this->mData[i];
    return aSum;
  }

 protected:
  int mDelta;
};

// First-derivative mask of size 2 ... 10. Odd sizes are central differences of increasing
// accuracy; even sizes are staggered, their result lies between offsets 0 and 1. Any other size
// throws EFilterNotAvailable.
template <class T>
class CDerivative : public CFilter<T> {
 public:
  explicit CDerivative(int aSize);
};

// Sampled Gaussian with mDelta = ceil(aPrecision * aSigma), normalised to sum 1.
template <class T>
class CSmooth : public CFilter<T> {
 public:
  CSmooth(float aSigma, float aPrecision);
};

namespace NFilter {

// Mask filtering: result(p) = sum over j = A ... B of mask(j) * s(p + j) (a correlation) along
// one axis, with the line mirrored at its borders (s(-1) = s(0), s(L) = s(L - 1)). The mask's
// reach must not exceed the line length. aResult must already have the input's sizes and be a
// different object (EFilterIncompatibleSize otherwise). The int arguments mark the axes left
// untouched; their values are ignored.
void filter(const CTensor<float>& aTensor, CTensor<float>& aResult, const CFilter<float>& aFilter,
            int aDummy1, int aDummy2);
void filter(const CTensor<float>& aTensor, CTensor<float>& aResult, int aDummy1,
            const CFilter<float>& aFilter, int aDummy2);
void filter(const CTensor<float>& aTensor, CTensor<float>& aResult, int aDummy1, int aDummy2,
            const CFilter<float>& aFilter);
void filter(const CMatrix<float>& aMatrix, CMatrix<float>& aResult, const CFilter<float>& aFilter,
            int aDummy);
void filter(const CMatrix<float>& aMatrix, CMatrix<float>& aResult, int aDummy,
            const CFilter<float>& aFilter);
// The matrix forms on a plane of aXSize x aYSize floats (x fastest) held by the caller, for
// buffers reused from call to call. aIn and aOut must not overlap.
void filterX(const float* aIn, float* aOut, int aXSize, int aYSize, const CFilter<float>& aFilter);
void filterY(const float* aIn, float* aOut, int aXSize, int aYSize, const CFilter<float>& aFilter);
// Rows aFirstRow ... aFirstRow + aRows - 1 of filterY of an X x Y plane whose row y lies at
// aSourceRows[y], written one after another to aOut (aRows x X values). Only the rows the mask
// reaches, mirrored at the plane's borders, are read, so a caller may hold just those.
void filterYRows(const float* const* aSourceRows, int aXSize, int aYSize, int aFirstRow, int aRows,
                 float* aOut, const CFilter<float>& aFilter);
// In place along x and along y.
void filter(CTensor<float>& aTensor, const CFilter<float>& aFilter, int aDummy1, int aDummy2);
void filter(CTensor<float>& aTensor, int aDummy1, const CFilter<float>& aFilter, int aDummy2);

// Recursive (second-order, forward + backward) Gaussian smoothing in place along x (every row of
// every channel) or y (every column). Lines of length 1 are left unchanged.
void recursiveSmoothX(CTensor<float>& aTensor, float aSigma);
void recursiveSmoothY(CTensor<float>& aTensor, float aSigma);
void recursiveSmoothX(CMatrix<float>& aMatrix, float aSigma);
void recursiveSmoothY(CMatrix<float>& aMatrix, float aSigma);

}  // namespace NFilter

template <class T>
CDerivative<T>::CDerivative(int aSize) : CFilter<T>(0, 0) {
  if (aSize < 2 || aSize > 10) throw EFilterNotAvailable(aSize);
  // Coefficients as exact fractions, rounded once to float, for offsets A ... B.
  static const double kCoefficients[9][10] = {
      {-1.0, 1.0},
      {-1.0 / 2, 0.0, 1.0 / 2},
      {1.0 / 24, -9.0 / 8, 9.0 / 8, -1.0 / 24},
      {1.0 / 12, -2.0 / 3, 0.0, 2.0 / 3, -1.0 / 12},
      {-3.0 / 640, 25.0 / 384, -75.0 / 64, 75.0 / 64, -25.0 / 384, 3.0 / 640},
      {-1.0 / 60, 3.0 / 20, -3.0 / 4, 0.0, 3.0 / 4, -3.0 / 20, 1.0 / 60},
      {5.0 / 7168, -49.0 / 5120, 245.0 / 3072, -1225.0 / 1024, 1225.0 / 1024, -245.0 / 3072,
       49.0 / 5120, -5.0 / 7168},
      {1.0 / 280, -4.0 / 105, 1.0 / 5, -4.0 / 5, 0.0, 4.0 / 5, -1.0 / 5, 4.0 / 105, -1.0 / 280},
      {-35.0 / 294912, 405.0 / 229376, -567.0 / 40960, 735.0 / 8192, -19845.0 / 16384,
       19845.0 / 16384, -735.0 / 8192, 567.0 / 40960, -405.0 / 229376, 35.0 / 294912}};
  this->setSize(aSize);
  this->mDelta = (aSize - 1) / 2;
  for (int i = 0; i < aSize; i++)
    this->mData[i] = static_cast<T>(static_cast<float>(kCoefficients[aSize - 2][i]));
}

template <class T>
CSmooth<T>::CSmooth(float aSigma, float aPrecision) : CFilter<T>(0, 0) {
  const int aDelta = static_cast<int>(std::ceil(aPrecision * aSigma));
  const int aSize = 2 * aDelta + 1;
  this->setSize(aSize);
  this->mDelta = aDelta;
  const double aNorm = 1.0 / (std::sqrt(2.0 * M_PI) * aSigma);
  const double aDenom = 2.0 * aSigma * aSigma;
  T aSum = 0;
  for (int i = -aDelta; i <= aDelta; i++) {
    this->mData[i + aDelta] = static_cast<T>(static_cast<float>(std::exp(-i * i / aDenom) * aNorm));
    aSum += std::fabs(this->mData[i + aDelta]);
  }
  for (int i = 0; i < aSize; i++) this->mData[i] /= aSum;
}
