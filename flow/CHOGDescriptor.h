// The point descriptor of the matcher: the 15 orientation histogram channels (see
// CMatching::computeHOG) read at a 3 x 3 grid of positions 4 pixels apart around the point,
// 135 values, compared by their plain sum of squared differences. Also the per-pixel
// histogram energy the matcher compares before it compares descriptors.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Orientation bins of the histogram of oriented gradients; each covers 24 degrees.
constexpr int kHOGBins = 15;
// Distance in pixels between the descriptor's sample positions; also the smallest distance
// from the border at which a point has a descriptor.
constexpr int kDescriptorSpacing = 4;
// Values of one point descriptor: 9 positions x 15 bins.
constexpr int kDescriptorSize = 9 * kHOGBins;

// Orientation bin of the gradient (dx, dy), not both 0: the truncation of
// float(atan2(dy, dx) + pi) * float(15 / (2 pi)), pi being the single-precision constant, with
// the direction pi (which gives 15) taken as bin 0.
int orientationBin(float dx, float dy);

// True when (ax, ay) lies at least kDescriptorSpacing pixels inside an aXSize x aYSize image,
// so that all nine sample positions exist.
inline bool hasPointDescriptor(int aXSize, int aYSize, int ax, int ay) {
  return ax >= kDescriptorSpacing && ay >= kDescriptorSpacing && ax < aXSize - kDescriptorSpacing &&
         ay < aYSize - kDescriptorSpacing;
}

// Writes the kDescriptorSize values of (ax, ay) into aDescriptor: positions (ax + dx, ay + dy)
// with dy in {-4, 0, 4} (outer order) and dx in {-4, 0, 4}, the 15 channels innermost.
// Precondition: hasPointDescriptor for the HOG's size.
void pointDescriptor(const CTensor<float>& aHOG, int ax, int ay, float* aDescriptor);

// Sum of squared differences of two descriptors, accumulated in float in storage order.
inline float descriptorDistance(const float* aDescriptor1, const float* aDescriptor2) {
  float aSum = 0.0f;
  for (int i = 0; i < kDescriptorSize; i++) {
    const float aDiff = aDescriptor1[i] - aDescriptor2[i];
    aSum += aDiff * aDiff;
  }
  return aSum;
}

// aEnergy (resized to the HOG's width and height) = sum of the 15 channels at every pixel,
// accumulated in float from channel 0 upward.
void hogEnergy(const CTensor<float>& aHOG, CMatrix<float>& aEnergy);
