#include "flow/FlowPictures.h"

#include <algorithm>

#include "flow/COpticFlow.h"
#include "settings/ResultNames.h"

namespace {

constexpr int kBandRows = 256;
constexpr float kFlowPictureDivisor = 4.0f;

}  // namespace

CColour colorCode(long long aRow) {
  const int k = static_cast<int>(std::min<long long>(std::max(aRow, 0LL), kColorCodeRows - 1));
  const float j = static_cast<float>(k % kBandRows);
  switch (k / kBandRows) {
    case 0:
      return {0, j, 255};
    case 1:
      return {0, 255, 255 - j};
    case 2:
      return {j, 255, 0};
    case 3:
      return {255, 255 - j, 0};
    case 4:
      return {255, 0, j};
    default:
      return {255, 0, 255};
  }
}

bool writeFlowPictures(const std::string& aFolder, int aFrame, const CTensor<float>& aForwardFlow,
                       const CTensor<float>& aBackwardFlow) {
  CTensor<float> aPicture;
  COpticFlow::flowToImage(aForwardFlow, aPicture, kFlowPictureDivisor);
  if (!aPicture.writeToPPM((aFolder + NResultNames::kForwardFlowPicture.name(aFrame)).c_str()))
    return false;
  COpticFlow::flowToImage(aBackwardFlow, aPicture, kFlowPictureDivisor);
  return aPicture.writeToPPM((aFolder + NResultNames::kBackwardFlowPicture.name(aFrame)).c_str());
}
