// Superpixels of a colour frame: SLIC (simple linear iterative clustering, Achanta et al.,
// TPAMI 2012), local k-means in CIELAB colour and position from a regular grid of seeds. The
// superpixels are compact, connected and follow the frame's colour edges, so region borders
// built from them do too.
#pragma once

#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// A frame's superpixels: a label per pixel, and per superpixel its mean colour (CIELAB), its
// pixel count and its neighbours with the length of their common border.
struct CSuperpixels {
  // Width x height; superpixel of every pixel, 0 ... count - 1.
  CMatrix<int> mLabel;
  int mCount = 0;
  // Per superpixel: mean L, a, b, mean position x, y and the number of pixels.
  std::vector<float> mL, mA, mB, mX, mY;
  std::vector<int> mSize;
  // Adjacency in compressed rows: the neighbours of superpixel i are mNeighbor[mStart[i]] ...
  // mNeighbor[mStart[i + 1] - 1], in increasing order, each with the number of pixel pairs
  // (4-neighbourhood) across the common border in mBorder.
  std::vector<int> mStart, mNeighbor, mBorder;
};

// Superpixels of aFrame (3 channels, red, green, blue, 0 ... 255) on a grid of aGridStep
// pixels (> 0) with the given compactness (weight of position against colour; 10 is usual).
// Deterministic; every pixel belongs to exactly one connected superpixel.
void computeSuperpixels(const CTensor<float>& aFrame, int aGridStep, float aCompactness,
                        CSuperpixels& aResult);
