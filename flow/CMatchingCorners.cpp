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

  const CDerivative<float> aDerivative(3);
  CTensor<float> aDx(aXSize, aYSize, aChannels);
  CTensor<float> aDy(aXSize, aYSize, aChannels);
  NFilter::filter(aImage, aDx, aDerivative, 1, 1);
  NFilter::filter(aImage, aDy, 1, aDerivative, 1);

  CMatrix<float> dxx(aXSize, aYSize, 0.0f);
  CMatrix<float> dyy(aXSize, aYSize, 0.0f);
  CMatrix<float> dxy(aXSize, aYSize, 0.0f);
  float* aXX = dxx.data();
  float* aYY = dyy.data();
  float* aXY = dxy.data();
  for (int c = 0; c < aChannels; c++) {
    const float* aGx = aDx.data() + c * aPlane;
    const float* aGy = aDy.data() + c * aPlane;
    for (int i = 0; i < aPlane; i++) {
      aXX[i] += aGx[i] * aGx[i];
      aYY[i] += aGy[i] * aGy[i];
      aXY[i] += aGx[i] * aGy[i];
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
