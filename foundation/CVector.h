// CVector: an owning, dense 1-D array with deep copies. Element i lives at mData[i]; there is
// no bounds check. Used with numbers and with objects (frame names, neighbour lists).
#pragma once

#include <algorithm>
#include <cstddef>

template <class T>
class CVector {
 public:
  CVector() : mSize(0), mData(nullptr) {}
  // Allocates aSize elements; contents unspecified for numbers (default-constructed objects).
  explicit CVector(int aSize) : mSize(aSize), mData(allocate(aSize)) {}
  CVector(int aSize, T aValue) : mSize(aSize), mData(allocate(aSize)) { fill(aValue); }
  CVector(const CVector& aCopy) : mSize(aCopy.mSize), mData(allocate(aCopy.mSize)) {
    std::copy(aCopy.mData, aCopy.mData + mSize, mData);
  }
  CVector(CVector&& aOther) noexcept : mSize(aOther.mSize), mData(aOther.mData) {
    aOther.mSize = 0;
    aOther.mData = nullptr;
  }
  virtual ~CVector() { delete[] mData; }

  CVector& operator=(const CVector& aCopy) {
    if (this == &aCopy) return *this;
    if (aCopy.mData == nullptr || aCopy.mSize == 0) {
      delete[] mData;
      mData = nullptr;
      mSize = 0;
      return *this;
    }
    if (mSize != aCopy.mSize) {
      delete[] mData;
      mData = allocate(aCopy.mSize);
      mSize = aCopy.mSize;
    }
    std::copy(aCopy.mData, aCopy.mData + mSize, mData);
    return *this;
  }
  CVector& operator=(CVector&& aOther) noexcept {
    if (this == &aOther) return *this;
    delete[] mData;
    mSize = aOther.mSize;
    mData = aOther.mData;
    aOther.mSize = 0;
    aOther.mData = nullptr;
    return *this;
  }
  // Sets every element.
  CVector& operator=(const T aValue) {
    fill(aValue);
    return *this;
  }

  // Drops the old contents and allocates aSize elements.
  void setSize(int aSize) {
    delete[] mData;
    mSize = aSize;
    mData = allocate(aSize);
  }
  void fill(const T aValue) { std::fill(mData, mData + mSize, aValue); }

  T& operator()(int i) { return mData[i]; }
  const T& operator()(int i) const { return mData[i]; }
  T& operator[](int i) { return mData[i]; }
  const T& operator[](int i) const { return mData[i]; }

  int size() const { return mSize; }
  T* data() { return mData; }
  const T* data() const { return mData; }

 protected:
  static T* allocate(int aSize) { return aSize > 0 ? new T[static_cast<size_t>(aSize)] : nullptr; }

  int mSize;
  T* mData;
};
