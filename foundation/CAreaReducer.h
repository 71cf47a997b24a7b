// CAreaReducer: area-averaging reductions of one picture to many sizes, as an image pyramid
// needs them. Every result equals CTensor<float>::downsample of the picture to that size bit
// for bit; the picture is prepared once (each channel also stored column by column) so that
// each reduction moves whole rows and columns with vector operations instead of walking one
// line at a time. Channels that repeat an earlier one exactly are reduced once and copied.
#pragma once

#include <vector>

#include "foundation/CTensor.h"

class CAreaReducer {
 public:
  // Keeps a copy of aPicture (by rows and by columns).
  explicit CAreaReducer(const CTensor<float>& aPicture);
  // aResult (resized when needed) = the picture reduced to aNewXSize x aNewYSize, each no
  // larger than the picture's; aWork is scratch space, grown when needed and reusable.
  void reduce(int aNewXSize, int aNewYSize, CTensor<float>& aResult,
              std::vector<float>& aWork) const;

  int xSize() const { return mXSize; }
  int ySize() const { return mYSize; }
  int zSize() const { return mZSize; }
  // True when every channel equals channel 0 bit for bit (a grey picture as colour).
  bool channelsEqual() const {
    for (int z = 0; z < mZSize; z++)
      if (mSource[z] != 0) return false;
    return true;
  }

 private:
  int mXSize, mYSize, mZSize;
  // Channel z: by rows at z * X * Y + x + X * y, by columns at z * X * Y + y + Y * x (only
  // for channels reduced on their own).
  std::vector<float> mRows, mColumns;
  // The first channel equal to channel z bit for bit; its reductions serve for z.
  std::vector<int> mSource;
};
