#include "flow/FlowPictures.h"

#include "flow/COpticFlow.h"
#include "settings/RunSettings.h"

CMatrix<float> mColorCode;

namespace {

constexpr int kBandRows = 256;
constexpr float kFlowPictureDivisor = 4.0f;

}  // namespace

void buildColorCode() {
  mColorCode.setSize(3, kColorCodeRows);
  for (int k = 0; k < kColorCodeRows; k++) {
    const int aBand = k / kBandRows;
    const float j = static_cast<float>(k % kBandRows);
    float aRGB[3];
    switch (aBand) {
      case 0:
        aRGB[0] = 0, aRGB[1] = j, aRGB[2] = 255;
        break;
      case 1:
        aRGB[0] = 0, aRGB[1] = 255, aRGB[2] = 255 - j;
        break;
      case 2:
        aRGB[0] = j, aRGB[1] = 255, aRGB[2] = 0;
        break;
      case 3:
        aRGB[0] = 255, aRGB[1] = 255 - j, aRGB[2] = 0;
        break;
      case 4:
        aRGB[0] = 255, aRGB[1] = 0, aRGB[2] = j;
        break;
      default:
        aRGB[0] = 255, aRGB[1] = 0, aRGB[2] = 255;
        break;
    }
    for (int c = 0; c < 3; c++) mColorCode(c, k) = aRGB[c];
  }
}

bool writeFlowPictures(const std::string& aFolder, int aFrame, const CTensor<float>& aForwardFlow,
                       const CTensor<float>& aBackwardFlow) {
  CTensor<float> aPicture;
  COpticFlow::flowToImage(aForwardFlow, aPicture, kFlowPictureDivisor);
  if (!aPicture.writeToPPM((aFolder + formatName("ForwardFlow%03d.ppm", aFrame)).c_str()))
    return false;
  COpticFlow::flowToImage(aBackwardFlow, aPicture, kFlowPictureDivisor);
  return aPicture.writeToPPM((aFolder + formatName("BackwardFlow%03d.ppm", aFrame)).c_str());
}

bool showFlow(const CTensor<float>& aForwardFlow, const CTensor<float>& aBackwardFlow, int t) {
  return writeFlowPictures(mResultDir, t + mStartFrame, aForwardFlow, aBackwardFlow);
}
