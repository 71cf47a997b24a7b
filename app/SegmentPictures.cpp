#include "app/SegmentPictures.h"

#include <algorithm>
#include <iostream>

#include "densify/RegionPictures.h"
#include "foundation/CTensor.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

namespace {

// Grey of tracks that belong to no region.
constexpr float kUnlabelledGrey = 230.0f;
// Segment pictures blend the frame with white: value * 0.7 + 255 * 0.3.
constexpr double kFrameShare = 0.7;
constexpr double kWhiteShare = 76.5;

}  // namespace

bool writeSegmentPictures() {
  const int r = mStep / 4;
  for (int t = 0; t < mSequenceLength; t++) {
    const int a = mStartFrame + t;
    CTensor<float> aShow(mXSize, mYSize, 3, 255.0f);
    if (!readFrame(a, aShow)) return false;
    if (aShow.xSize() != mXSize || aShow.ySize() != mYSize) {
      std::cerr << "Frame " << mInput(a) << " is " << aShow.xSize() << " x " << aShow.ySize()
                << ", not " << mXSize << " x " << mYSize << " like the first frame" << std::endl;
      return false;
    }
    float* aData = aShow.data();
    for (int i = 0; i < aShow.size(); i++)
      aData[i] = static_cast<float>(aData[i] * kFrameShare + kWhiteShare);
    for (const CTrack& aTrack : mTracks) {
      if (!aTrack.covers(t)) continue;
      const CTrackPoint p = aTrack.positionAt(t);
      const int x = static_cast<int>(p.x), y = static_cast<int>(p.y);
      float aColor[3] = {kUnlabelledGrey, kUnlabelledGrey, kUnlabelledGrey};
      if (aTrack.mLabel >= 0) {
        const int aLabel = aTrack.mLabel % kPaletteSize;
        aColor[0] = static_cast<float>(mR[aLabel]);
        aColor[1] = static_cast<float>(mG[aLabel]);
        aColor[2] = static_cast<float>(mB[aLabel]);
      }
      const int x1 = std::max(x - r, 0), y1 = std::max(y - r, 0);
      const int x2 = x + r < mXSize ? x + r : mXSize - 1;
      const int y2 = y + r < mYSize ? y + r : mYSize - 1;
      for (int c = 0; c < 3; c++)
        for (int yy = y1; yy <= y2; yy++)
          for (int xx = x1; xx <= x2; xx++) aShow(xx, yy, c) = aColor[c];
    }
    if (!aShow.writeToPPM(resultFileName("Segments%03d.ppm", a).c_str())) return false;
  }
  return true;
}
