// The descriptor search on prepared descriptor fields (internal to flow/): the frame pair's
// flow prepares each frame's field once and runs all its searches (the window learning and
// both dense matchings) on them.
#pragma once

#include <vector>

#include "flow/CMatching.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// A frame's HOG as the search reads it: the 15 bins of each pixel side by side (pixel-major)
// in a slot of kFieldStride values (the last one 0), so that a point descriptor is nine
// cache-line sized runs instead of 135 values a plane apart.
class CHOGField {
 public:
  explicit CHOGField(const CTensor<float>& aHOG);
  int xSize() const { return mXSize; }
  int ySize() const { return mYSize; }
  // Values per pixel.
  static constexpr int kFieldStride = 16;
  // The bins of pixel (x, y) start at data() + (x + X * y) * kFieldStride.
  const float* data() const { return mBins.data(); }

 private:
  int mXSize, mYSize;
  std::vector<float> mBins;
};

// Matches the records aFirstPoint, aFirstPoint + aPointStep, ... of aPoints whose mStopped is
// false by exhaustive descriptor search over the window rx1 <= u <= rx2, ry1 <= v <= ry2
// restricted to aAllowed, with a backward check (each record's outcome depends on nothing
// else, so disjoint sets of records may be matched at the same time).
void hogMatchingFields(std::vector<CMatch>& aPoints, const CTensor<float>& aImage1,
                       const CTensor<float>& aImage2, const CHOGField& aHOG1,
                       const CHOGField& aHOG2, const CMatrix<float>& aEnergy1,
                       const CMatrix<float>& aEnergy2, int rx1, int ry1, int rx2, int ry2,
                       const CMatrix<bool>& aAllowed, int aFirstPoint = 0, int aPointStep = 1);

// Learns from sparse coarse-to-fine matching which displacements occur in the pair: the window
// rx1 ... rx2, ry1 ... ry2 and the allowed set aAllowed of its displacements. Each pass matches
// its seeds on two threads.
void findMotionsFields(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                       const CHOGField& aHOG1, const CHOGField& aHOG2,
                       const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                       const CMatrix<float>& aCorners, float aAverageCornerness, int& rx1, int& ry1,
                       int& rx2, int& ry2, CMatrix<bool>& aAllowed);
