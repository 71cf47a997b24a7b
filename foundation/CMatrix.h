// CMatrix: an owning, dense 2-D array with deep copies. Element (x, y) lives at
// mData[x + mXSize * y] (rows one after another, x fastest); no bounds check. The float
// matrix also carries the resampling operations the pyramid and the flow variation use
// (Resample.h) and a product with a vector (MatrixProduct.cpp).
#pragma once

#include <algorithm>
#include <cstddef>

#include "foundation/CVector.h"
#include "foundation/Exceptions.h"

template <class T>
class CMatrix {
 public:
  CMatrix() : mXSize(0), mYSize(0), mData(nullptr) {}
  // Allocates aXSize x aYSize elements; contents unspecified.
  CMatrix(int aXSize, int aYSize)
      : mXSize(aXSize), mYSize(aYSize), mData(allocate(aXSize, aYSize)) {}
  CMatrix(int aXSize, int aYSize, T aValue) : CMatrix(aXSize, aYSize) { fill(aValue); }
  CMatrix(const CMatrix& aCopy) : CMatrix(aCopy.mXSize, aCopy.mYSize) {
    std::copy(aCopy.mData, aCopy.mData + size(), mData);
  }
  CMatrix(CMatrix&& aOther) noexcept
      : mXSize(aOther.mXSize), mYSize(aOther.mYSize), mData(aOther.mData) {
    aOther.mXSize = aOther.mYSize = 0;
    aOther.mData = nullptr;
  }
  virtual ~CMatrix() { delete[] mData; }

  CMatrix& operator=(const CMatrix& aCopy) {
    if (this == &aCopy) return *this;
    if (aCopy.mData == nullptr || aCopy.size() == 0) {
      delete[] mData;
      mData = nullptr;
      mXSize = mYSize = 0;
      return *this;
    }
    if (size() != aCopy.size()) {
      delete[] mData;
      mData = allocate(aCopy.mXSize, aCopy.mYSize);
    }
    mXSize = aCopy.mXSize;
    mYSize = aCopy.mYSize;
    std::copy(aCopy.mData, aCopy.mData + size(), mData);
    return *this;
  }
  CMatrix& operator=(CMatrix&& aOther) noexcept {
    if (this == &aOther) return *this;
    delete[] mData;
    mXSize = aOther.mXSize;
    mYSize = aOther.mYSize;
    mData = aOther.mData;
    aOther.mXSize = aOther.mYSize = 0;
    aOther.mData = nullptr;
    return *this;
  }
  // Sets every element.
  CMatrix& operator=(const T aValue) {
    fill(aValue);
    return *this;
  }

  // Drops the old contents and allocates the new size.
  void setSize(int aXSize, int aYSize) {
    delete[] mData;
    mXSize = aXSize;
    mYSize = aYSize;
    mData = allocate(aXSize, aYSize);
  }
  void fill(const T aValue) { std::fill(mData, mData + size(), aValue); }

  T& operator()(int ax, int ay) { return mData[ax + mXSize * ay]; }
  const T& operator()(int ax, int ay) const { return mData[ax + mXSize * ay]; }
  T& operator()(int i) { return mData[i]; }
  const T& operator()(int i) const { return mData[i]; }
  T& operator[](int i) { return mData[i]; }
  const T& operator[](int i) const { return mData[i]; }

  int xSize() const { return mXSize; }
  int ySize() const { return mYSize; }
  // Element count.
  int size() const { return mXSize * mYSize; }
  T* data() { return mData; }
  const T* data() const { return mData; }

  // Sum of all elements (float accumulation in storage order) divided by their count.
  T avg() const;

  // Resampling of a float matrix (Resample.h).
  void downsample(int aNewXSize, int aNewYSize);
  void downsample(int aNewXSize, int aNewYSize, CMatrix<float>& aConfidence);
  void upsample(int aNewXSize, int aNewYSize);
  void upsampleBilinear(int aNewXSize, int aNewYSize);

 protected:
  static T* allocate(int aXSize, int aYSize) {
    const size_t aCount = static_cast<size_t>(std::max(aXSize, 0)) * std::max(aYSize, 0);
    return aCount > 0 ? new T[aCount] : nullptr;
  }

  int mXSize, mYSize;
  T* mData;
};

// Matrix-vector product: result(y) = sum over x of M(x, y) * v(x), accumulated in float from
// x = 0 upward. Throws EIncompatibleMatrices when v's size differs from the matrix width.
CVector<float> operator*(const CMatrix<float>& aMatrix, const CVector<float>& aVector);

template <class T>
T CMatrix<T>::avg() const {
  T aSum = 0;
  for (int i = 0; i < size(); i++) aSum += mData[i];
  return aSum / size();
}

// The float matrix's resampling is declared in Resample.h together with the tensor's, which
// CTensor.h includes: included here, every use of a matrix sees it.
#include "foundation/CTensor.h"
