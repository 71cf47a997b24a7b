#include "densify/RegionPictures.h"

#include <algorithm>

#include "settings/ResultNames.h"

namespace {

// Palette entries of a PNG, one per possible pixel value.
constexpr int kPNGPaletteSize = 256;
// Share of the region colour in the overlay, for the background and for moving objects.
constexpr float kBackgroundBlend = 0.25f;
constexpr float kObjectBlend = 0.55f;
constexpr float kBorderValue = 255.0f;
// Mask value of a moving object's pixel, and the least value an overlay takes for one.
constexpr float kMoving = 255.0f;
constexpr float kMovingFrom = 128.0f;

}  // namespace

NPNG::CPalette regionPNGPalette() {
  NPNG::CPalette aPalette(kPNGPaletteSize);
  for (int i = 0; i < kPNGPaletteSize; i++) {
    const CPaletteColour c = regionColour(i);
    aPalette[i] = {static_cast<unsigned char>(c.mR), static_cast<unsigned char>(c.mG),
                   static_cast<unsigned char>(c.mB)};
  }
  return aPalette;
}

void drawRegionOverlay(const CMatrix<int>& aRegionOf, const CMatrix<float>& aMask,
                       const CTensor<float>& aFrame, CTensor<float>& aOverlay) {
  const int W = aRegionOf.xSize(), H = aRegionOf.ySize();
  aOverlay.setSize(W, H, 3);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      const int r = aRegionOf(x, y);
      const bool aBorder =
          (x + 1 < W && aRegionOf(x + 1, y) != r) || (y + 1 < H && aRegionOf(x, y + 1) != r);
      const float aShare = aMask(x, y) >= kMovingFrom ? kObjectBlend : kBackgroundBlend;
      const CPaletteColour c = regionColour(r);
      const float aColour[3] = {static_cast<float>(c.mR), static_cast<float>(c.mG),
                                static_cast<float>(c.mB)};
      for (int z = 0; z < 3; z++)
        aOverlay(x, y, z) =
            aBorder ? kBorderValue : (1.0f - aShare) * aFrame(x, y, z) + aShare * aColour[z];
    }
}

bool writeRegionPictures(const std::string& aFolder, int t, const CMatrix<int>& aRegionOf,
                         const std::vector<bool>& aMoving, const CTensor<float>& aFrame) {
  auto moving = [&](int r) { return r >= 0 && r < static_cast<int>(aMoving.size()) && aMoving[r]; };
  CMatrix<float> aMask(aRegionOf.xSize(), aRegionOf.ySize());
  for (int i = 0; i < aMask.size(); i++) aMask[i] = moving(aRegionOf[i]) ? kMoving : 0.0f;
  CTensor<float> aOverlay;
  drawRegionOverlay(aRegionOf, aMask, aFrame, aOverlay);
  return NPNG::writeIndexedPNG(aFolder + NResultNames::kRegions.name(t), aRegionOf,
                               regionPNGPalette()) &&
         NPNG::writeGreyPNG(aFolder + NResultNames::kMask.name(t), aMask) &&
         NPNG::writeRGBPNG(aFolder + NResultNames::kOverlay.name(t), aOverlay);
}
