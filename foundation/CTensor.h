// CTensor: an owning, dense 3-D array with deep copies. Element (x, y, z) lives at
// mData[x + mXSize * (y + mYSize * z)]: every channel z is a complete width x height plane.
// A colour picture is a float tensor with three channels (red, green, blue, 0 ... 255), a
// flow field one with two (u, v in pixels). No bounds check. The float tensor also carries
// resampling (Resample.h), drawing (Drawing.h) and PPM files (PPM.h).
#pragma once

#include <algorithm>
#include <cstddef>

#include "foundation/CMatrix.h"
#include "foundation/Exceptions.h"

template <class T>
class CTensor {
 public:
  CTensor() : mXSize(0), mYSize(0), mZSize(0), mData(nullptr) {}
  // Allocates the given sizes; contents unspecified.
  CTensor(int aXSize, int aYSize, int aZSize)
      : mXSize(aXSize), mYSize(aYSize), mZSize(aZSize), mData(allocate(aXSize, aYSize, aZSize)) {}
  CTensor(int aXSize, int aYSize, int aZSize, T aValue) : CTensor(aXSize, aYSize, aZSize) {
    fill(aValue);
  }
  CTensor(const CTensor& aCopy) : CTensor(aCopy.mXSize, aCopy.mYSize, aCopy.mZSize) {
    std::copy(aCopy.mData, aCopy.mData + aCopy.count(), mData);
  }
  CTensor(CTensor&& aOther) noexcept
      : mXSize(aOther.mXSize), mYSize(aOther.mYSize), mZSize(aOther.mZSize), mData(aOther.mData) {
    aOther.mXSize = aOther.mYSize = aOther.mZSize = 0;
    aOther.mData = nullptr;
  }
  virtual ~CTensor() { delete[] mData; }

  CTensor& operator=(const CTensor& aCopy) {
    if (this == &aCopy) return *this;
    if (aCopy.mData == nullptr || aCopy.count() == 0) {
      delete[] mData;
      mData = nullptr;
      mXSize = mYSize = mZSize = 0;
      return *this;
    }
    if (count() != aCopy.count()) {
      delete[] mData;
      mData = allocate(aCopy.mXSize, aCopy.mYSize, aCopy.mZSize);
    }
    mXSize = aCopy.mXSize;
    mYSize = aCopy.mYSize;
    mZSize = aCopy.mZSize;
    std::copy(aCopy.mData, aCopy.mData + count(), mData);
    return *this;
  }
  CTensor& operator=(CTensor&& aOther) noexcept {
    if (this == &aOther) return *this;
    delete[] mData;
    mXSize = aOther.mXSize;
    mYSize = aOther.mYSize;
    mZSize = aOther.mZSize;
    mData = aOther.mData;
    aOther.mXSize = aOther.mYSize = aOther.mZSize = 0;
    aOther.mData = nullptr;
    return *this;
  }
  // Sets every element.
  CTensor& operator=(const T aValue) {
    fill(aValue);
    return *this;
  }

  // Drops the old contents and allocates the new sizes.
  void setSize(int aXSize, int aYSize, int aZSize) {
    delete[] mData;
    mXSize = aXSize;
    mYSize = aYSize;
    mZSize = aZSize;
    mData = allocate(aXSize, aYSize, aZSize);
  }
  void fill(const T aValue) { std::fill(mData, mData + count(), aValue); }

  T& operator()(int ax, int ay, int az) { return mData[ax + mXSize * (ay + mYSize * az)]; }
  const T& operator()(int ax, int ay, int az) const {
    return mData[ax + mXSize * (ay + mYSize * az)];
  }
  T& operator[](int i) { return mData[i]; }
  const T& operator[](int i) const { return mData[i]; }

  int xSize() const { return mXSize; }
  int ySize() const { return mYSize; }
  int zSize() const { return mZSize; }
  // Element count.
  int size() const { return mXSize * mYSize * mZSize; }
  T* data() { return mData; }
  const T* data() const { return mData; }

  // Copies channel az into aMatrix, which must already have the tensor's width and height
  // (ETensorIncompatibleSize otherwise: the matrix sizes first, the tensor's second).
  void getMatrix(CMatrix<T>& aMatrix, int az) const;
  // Copies aMatrix into channel az; same size rule.
  void putMatrix(const CMatrix<T>& aMatrix, int az);

  // Resampling of a float tensor (Resample.h).
  void downsample(int aNewXSize, int aNewYSize);
  void downsample(int aNewXSize, int aNewYSize, CTensor<float>& aConfidence);
  void upsampleBilinear(int aNewXSize, int aNewYSize);

  // Drawing into a float picture (Drawing.h).
  void drawLine(int dStartX, int dStartY, int dEndX, int dEndY, float aValue1, float aValue2,
                float aValue3);
  void drawRect(int x1, int y1, int x2, int y2, float aValue1, float aValue2, float aValue3);

  // PPM files of a float picture (PPM.h).
  bool readFromPPM(const char* aFilename);
  bool writeToPPM(const char* aFilename) const;

 protected:
  size_t count() const {
    return static_cast<size_t>(std::max(mXSize, 0)) * std::max(mYSize, 0) * std::max(mZSize, 0);
  }
  static T* allocate(int aXSize, int aYSize, int aZSize) {
    const size_t aCount =
        static_cast<size_t>(std::max(aXSize, 0)) * std::max(aYSize, 0) * std::max(aZSize, 0);
    return aCount > 0 ? new T[aCount] : nullptr;
  }

  int mXSize, mYSize, mZSize;
  T* mData;
};

// Largest picture or flow field the readers accept: per side and in pixels.
constexpr int kMaxPictureSide = 16384;
constexpr long long kMaxPicturePixels = 1LL << 28;

template <class T>
void CTensor<T>::getMatrix(CMatrix<T>& aMatrix, int az) const {
  if (aMatrix.xSize() != mXSize || aMatrix.ySize() != mYSize)
    throw ETensorIncompatibleSize(aMatrix.xSize(), aMatrix.ySize(), mXSize, mYSize);
  const int aPlane = mXSize * mYSize;
  std::copy(mData + az * aPlane, mData + (az + 1) * aPlane, aMatrix.data());
}

template <class T>
void CTensor<T>::putMatrix(const CMatrix<T>& aMatrix, int az) {
  if (aMatrix.xSize() != mXSize || aMatrix.ySize() != mYSize)
    throw ETensorIncompatibleSize(aMatrix.xSize(), aMatrix.ySize(), mXSize, mYSize);
  const int aPlane = mXSize * mYSize;
  std::copy(aMatrix.data(), aMatrix.data() + aPlane, mData + az * aPlane);
}

// The float tensor's operations defined in other files, declared where every use sees them.
#include "foundation/Drawing.h"
#include "foundation/PPM.h"
#include "foundation/Resample.h"
