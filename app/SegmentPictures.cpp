#include "app/SegmentPictures.h"

#include <algorithm>
#include <iostream>

#include "densify/RegionPictures.h"
#include "foundation/CTensor.h"
#include "settings/ResultNames.h"

namespace {

// Grey of tracks that belong to no region.
constexpr float kUnlabelledGrey = 230.0f;
// Segment pictures blend the frame with white: value * 0.7 + 255 * 0.3.
constexpr double kFrameShare = 0.7;
constexpr double kWhiteShare = 76.5;

}  // namespace

bool writeSegmentPictures(const CRunSettings& aSettings, const std::vector<CTrack>& aTracks) {
  const int aXSize = aSettings.mXSize, aYSize = aSettings.mYSize;
  const int r = aSettings.mStep / 4;
  for (int t = 0; t < aSettings.mSequenceLength; t++) {
    const int a = aSettings.mStartFrame + t;
    CTensor<float> aShow(aXSize, aYSize, 3, 255.0f);
    if (!readFrame(aSettings, a, aShow)) return false;
    if (aShow.xSize() != aXSize || aShow.ySize() != aYSize) {
      std::cerr << "Frame " << aSettings.mInput(a) << " is " << aShow.xSize() << " x "
                << aShow.ySize() << ", not " << aXSize << " x " << aYSize << " like the first frame"
                << std::endl;
      return false;
    }
    float* aData = aShow.data();
    for (int i = 0; i < aShow.size(); i++)
      aData[i] = static_cast<float>(aData[i] * kFrameShare + kWhiteShare);
    for (const CTrack& aTrack : aTracks) {
      if (!aTrack.covers(t)) continue;
      const CTrackPoint p = aTrack.positionAt(t);
      const int x = static_cast<int>(p.x), y = static_cast<int>(p.y);
      float aColor[3] = {kUnlabelledGrey, kUnlabelledGrey, kUnlabelledGrey};
      if (aTrack.mLabel >= 0) {
        const CPaletteColour c = regionColour(aTrack.mLabel);
        aColor[0] = static_cast<float>(c.mR);
        aColor[1] = static_cast<float>(c.mG);
        aColor[2] = static_cast<float>(c.mB);
      }
      const int x1 = std::max(x - r, 0), y1 = std::max(y - r, 0);
      const int x2 = x + r < aXSize ? x + r : aXSize - 1;
      const int y2 = y + r < aYSize ? y + r : aYSize - 1;
      for (int c = 0; c < 3; c++)
        for (int yy = y1; yy <= y2; yy++)
          for (int xx = x1; xx <= x2; xx++) aShow(xx, yy, c) = aColor[c];
    }
    if (!aShow.writeToPPM((aSettings.mResultDir + NResultNames::kSegments.name(a)).c_str()))
      return false;
  }
  return true;
}
