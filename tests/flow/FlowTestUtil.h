// Synthetic frame pairs with a known motion for the flow tests: smooth random textures made of
// Gaussian blobs, evaluated analytically so that sub-pixel shifts are exact.
#pragma once

#include <cmath>
#include <vector>

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "flow/FramePreparation.h"
#include "foundation/CFilter.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/Random.h"

namespace flowtest {

struct Blob {
  float mX, mY, mSigma, mAmplitude[3];
};

// aCount random blobs (drawn from aRandom) covering an area a margin larger than aXSize x aYSize.
inline std::vector<Blob> randomBlobs(int aXSize, int aYSize, int aCount, float aMinSigma,
                                     float aMaxSigma, CRandom& aRandom) {
  std::vector<Blob> aBlobs(aCount);
  for (Blob& b : aBlobs) {
    b.mX = -20.0f + (aXSize + 40.0f) * (aRandom.next() / static_cast<float>(CRandom::kMax));
    b.mY = -20.0f + (aYSize + 40.0f) * (aRandom.next() / static_cast<float>(CRandom::kMax));
    b.mSigma =
        aMinSigma + (aMaxSigma - aMinSigma) * (aRandom.next() / static_cast<float>(CRandom::kMax));
    for (float& a : b.mAmplitude)
      a = -90.0f + 180.0f * (aRandom.next() / static_cast<float>(CRandom::kMax));
  }
  return aBlobs;
}

// Colour picture of the blobs, sampled at (x - aShiftX, y - aShiftY): the content moves by
// (aShiftX, aShiftY). Values around 128, clamped to 0 ... 255.
inline CTensor<float> render(const std::vector<Blob>& aBlobs, int aXSize, int aYSize,
                             double aShiftX = 0, double aShiftY = 0) {
  CTensor<float> aImage(aXSize, aYSize, 3, 128.0f);
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) {
      double aValue[3] = {128, 128, 128};
      for (const Blob& b : aBlobs) {
        const double dx = x - aShiftX - b.mX, dy = y - aShiftY - b.mY;
        const double w = std::exp(-(dx * dx + dy * dy) / (2.0 * b.mSigma * b.mSigma));
        for (int c = 0; c < 3; c++) aValue[c] += b.mAmplitude[c] * w;
      }
      for (int c = 0; c < 3; c++)
        aImage(x, y, c) = (float)std::fmin(255.0, std::fmax(0.0, aValue[c]));
    }
  return aImage;
}

// A frame prepared as the tracker prepares it: smoothed, clamped, with HOG and energy.
struct Frame {
  CTensor<float> mImage, mHOG;
  CMatrix<float> mEnergy;
};

inline Frame prepare(const CTensor<float>& aPicture) {
  Frame f;
  f.mImage = aPicture;
  prepareFrame(f.mImage, f.mHOG, f.mEnergy);
  return f;
}

// Mean endpoint error of aFlow against the constant motion (aU, aV) over pixels at least
// aBorder inside.
inline double meanEndpointError(const CTensor<float>& aFlow, double aU, double aV, int aBorder) {
  double aSum = 0;
  int aCount = 0;
  for (int y = aBorder; y < aFlow.ySize() - aBorder; y++)
    for (int x = aBorder; x < aFlow.xSize() - aBorder; x++) {
      const double du = aFlow(x, y, 0) - aU, dv = aFlow(x, y, 1) - aV;
      aSum += std::sqrt(du * du + dv * dv);
      aCount++;
    }
  return aSum / aCount;
}

}  // namespace flowtest
