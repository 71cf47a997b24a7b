// The colour wheel of flow pictures: hue from the direction, brightness from the length.
#include <cmath>

#include "flow/COpticFlow.h"

namespace {

constexpr float kPi = 3.1415927410125732f;
// 1 / (2 sqrt 2): with divisor d, vectors of length 2 sqrt(2) d or more are fully saturated.
constexpr double kFlowScale = 0.3535533905932738;

struct CWheelSegment {
  double mLower, mWidth;
  float mStart[3], mEnd[3];
};

}  // namespace

void COpticFlow::cartesianToRGB(float x, float y, float& R, float& G, float& B) {
  float aRadius = std::sqrt(x * x + y * y);
  if (aRadius > 1.0f) aRadius = 1.0f;
  float aPhi;
  if (x > 0.0f && y >= 0.0f)
    aPhi = std::atan(y / x);
  else if (x > 0.0f)
    aPhi = static_cast<float>(2.0 * kPi + std::atan(static_cast<double>(y / x)));
  else if (x < 0.0f)
    aPhi = static_cast<float>(kPi + std::atan(static_cast<double>(y / x)));
  else if (y >= 0.0f)
    aPhi = kPi / 2.0f;
  else
    aPhi = 1.5f * kPi;
  const float aAlpha = aPhi * 0.5f;

  const double p = kPi;
  static const CWheelSegment kSegments[6] = {{0.0, p * 0.125, {255, 0, 0}, {255, 0, 255}},
                                             {p * 0.125, p * 0.125, {255, 0, 255}, {64, 64, 255}},
                                             {p * 0.25, p * 0.125, {64, 64, 255}, {0, 255, 255}},
                                             {p * 0.375, p * 0.125, {0, 255, 255}, {0, 255, 0}},
                                             {p * 0.5, p * 0.25, {0, 255, 0}, {255, 255, 0}},
                                             {p * 0.75, p * 0.25, {255, 255, 0}, {255, 0, 0}}};
  int s = 0;
  while (s < 5 && static_cast<double>(aAlpha) >= kSegments[s + 1].mLower) s++;
  const CWheelSegment& aSegment = kSegments[s];
  const float aBeta = static_cast<float>((aAlpha - aSegment.mLower) / aSegment.mWidth);
  const float aOneMinusBeta = 1.0f - aBeta;
  float aRGB[3];
  for (int c = 0; c < 3; c++) {
    const double aValue = (static_cast<double>(aSegment.mStart[c]) * aOneMinusBeta +
                           static_cast<double>(aSegment.mEnd[c]) * aBeta) *
                          aRadius;
    aRGB[c] = static_cast<float>(static_cast<int>(aValue));
  }
  for (float& aChannel : aRGB)
    if (aChannel < 0.0f) aChannel = 0.0f;
  for (float& aChannel : aRGB)
    if (aChannel > 255.0f) aChannel = 255.0f;
  R = aRGB[0];
  G = aRGB[1];
  B = aRGB[2];
}

void COpticFlow::flowToImage(const CTensor<float>& aFlow, CTensor<float>& aImage, float aDivisor) {
  aImage.setSize(aFlow.xSize(), aFlow.ySize(), 3);
  const float aFactor = static_cast<float>(kFlowScale / aDivisor);
  const int aPlane = aFlow.xSize() * aFlow.ySize();
  const float* aU = aFlow.data();
  const float* aV = aFlow.data() + aPlane;
  float* aOut = aImage.data();
  for (int i = 0; i < aPlane; i++)
    cartesianToRGB(aU[i] * aFactor, aV[i] * aFactor, aOut[i], aOut[i + aPlane],
                   aOut[i + 2 * aPlane]);
}
