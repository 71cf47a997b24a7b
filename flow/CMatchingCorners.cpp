// Corner measure: the smaller eigenvalue of the structure tensor of all channels, smoothed at
// the integration scale. It is large only where the gradient varies in two directions, i.e.
// where a point can be localised along both axes.
#include <cmath>

#include "flow/CMatching.h"
#include "foundation/CFilter.h"

void CMatching::computeCorners(const CTensor<float>& aImage, CMatrix<float>& aCorners, float aRho) {
  const int aXSize = aImage.xSize();
  const int aYSize = aImage.ySize();
  const int aChannels = aImage.zSize();
  aCorners.setSize(aXSize, aYSize);
  const int aPlane = aXSize * aYSize;
  if (aPlane == 0) return;

  // Structure tensor summed over the channels. The gradient is the central difference
  // (f(x + 1) - f(x - 1)) / 2 with the border sample repeated, the same as the size-3
  // derivative mask, formed here row by row so that no gradient field is stored.
  CMatrix<float> dxx(aXSize, aYSize, 0.0f);
  CMatrix<float> dyy(aXSize, aYSize, 0.0f);
  CMatrix<float> dxy(aXSize, aYSize, 0.0f);
  float* aXX = dxx.data();
  float* aYY = dyy.data();
  float* aXY = dxy.data();
  for (int c = 0; c < aChannels; c++) {
    const float* aChannel = aImage.data() + c * aPlane;
    for (int y = 0; y < aYSize; y++) {
      const float* aRow = aChannel + y * aXSize;
      const float* aUp = aChannel + (y > 0 ? y - 1 : 0) * aXSize;
      const float* aDown = aChannel + (y < aYSize - 1 ? y + 1 : y) * aXSize;
      const int aOffset = y * aXSize;
      for (int x = 0; x < aXSize; x++) {
        const int aLeft = x > 0 ? x - 1 : 0;
        const int aRight = x < aXSize - 1 ? x + 1 : x;
        const float aGx = 0.5f * (aRow[aRight] - aRow[aLeft]);
        const float aGy = 0.5f * (aDown[x] - aUp[x]);
        aXX[aOffset + x] += aGx * aGx;
        aYY[aOffset + x] += aGy * aGy;
        aXY[aOffset + x] += aGx * aGy;
      }
    }
  }

  for (CMatrix<float>* aComponent : {&dxx, &dyy, &dxy}) {
    NFilter::recursiveSmoothX(*aComponent, aRho);
    NFilter::recursiveSmoothY(*aComponent, aRho);
  }

  float* aOut = aCorners.data();
  for (int i = 0; i < aPlane; i++) {
    const float aTemp = 0.5f * (aXX[i] + aYY[i]);
    const float aTemp2 = aTemp * aTemp + aXY[i] * aXY[i] - aYY[i] * aXX[i];
    aOut[i] = aTemp2 < 0.0f ? 0.0f : static_cast<float>(aTemp - std::sqrt(double(aTemp2)));
  }
}
