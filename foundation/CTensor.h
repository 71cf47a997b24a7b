// CTensor: an owning, dense 3-D array with deep copies. Element (x, y, z) lives at
// mData[x + mXSize * (y + mYSize * z)]: every channel z is a complete width x height plane.
// A colour picture is a float tensor with three channels (red, green, blue, 0 ... 255), a
// flow field one with two (u, v in pixels). No bounds check.
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

  // Channel-by-channel versions of the matrix resampling; mZSize is unchanged.
  void downsample(int aNewXSize, int aNewYSize);
  void downsample(int aNewXSize, int aNewYSize, CTensor<float>& aConfidence);
  void upsampleBilinear(int aNewXSize, int aNewYSize);

  // Writes the three values into channels 0, 1, 2 of every pixel of the line, both end
  // points included; pixels outside the picture are skipped, never clipped into it.
  void drawLine(int dStartX, int dStartY, int dEndX, int dEndY, float aValue1, float aValue2,
                float aValue3);
  // The four sides (x1, y1)-(x2, y1), (x1, y2)-(x2, y2), (x1, y1)-(x1, y2), (x2, y1)-(x2, y2).
  void drawRect(int x1, int y1, int x2, int y2, float aValue1, float aValue2, float aValue3);

  // Reads a binary PPM (P6, three channels) or PGM (P5, one channel) with 8-bit samples.
  // Returns false, with one line on standard error and the tensor left empty, for a file that
  // cannot be opened, a damaged or truncated header or pixel block, a maximum value other
  // than 255, or a size beyond kMaxPictureSide per side or kMaxPicturePixels in all. A magic
  // number other than P5/P6 (a text P3 file, say) throws EInvalidFileFormat("PPM", aFilename),
  // whose message names the file.
  bool readFromPPM(const char* aFilename);
  // Writes a P6 file of channels 0, 1, 2 (values truncated toward zero, clamped to 0 ... 255),
  // whole (NFile::writeWhole: a failed write leaves the old file as it was). Returns false,
  // with one line on standard error naming the file and the reason, if it cannot be written.
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

template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize);
template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize, CTensor<float>& aConfidence);
template <>
void CTensor<float>::upsampleBilinear(int aNewXSize, int aNewYSize);
template <>
void CTensor<float>::drawLine(int dStartX, int dStartY, int dEndX, int dEndY, float aValue1,
                              float aValue2, float aValue3);
template <>
void CTensor<float>::drawRect(int x1, int y1, int x2, int y2, float aValue1, float aValue2,
                              float aValue3);
template <>
bool CTensor<float>::readFromPPM(const char* aFilename);
template <>
bool CTensor<float>::writeToPPM(const char* aFilename) const;
