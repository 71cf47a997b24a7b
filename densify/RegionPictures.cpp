#include "densify/RegionPictures.h"

#include <algorithm>

#include "settings/RunSettings.h"

int mR[kPaletteSize] = {255, 10, 200, 0,  255, 0,  0,  180, 255, 180, 0,  170, 100,
                        240, 0,  255, 80, 70,  60, 50, 40,  30,  20,  10, 0};
int mG[kPaletteSize] = {10,  10,  190, 180, 0,  255, 255, 0,  210, 0,  0,  170, 100,
                        100, 100, 140, 80,  70, 60,  50,  40, 30,  20, 10, 0};
int mB[kPaletteSize] = {10, 255, 0, 0,  255, 255, 0,  0,  0,  180, 190, 170, 100,
                        10, 255, 0, 80, 70,  60,  50, 40, 30, 20,  10,  0};

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

std::string regionsFile(int t) {
  return formatName("Regions%03d.png", t);
}
std::string maskFile(int t) {
  return formatName("Mask%03d.png", t);
}
std::string overlayFile(int t) {
  return formatName("Overlay%03d.png", t);
}

NPNG::CPalette regionPNGPalette() {
  NPNG::CPalette aPalette(kPNGPaletteSize);
  for (int i = 0; i < kPNGPaletteSize; i++)
    aPalette[i] = {static_cast<unsigned char>(mR[i % kPaletteSize]),
                   static_cast<unsigned char>(mG[i % kPaletteSize]),
                   static_cast<unsigned char>(mB[i % kPaletteSize])};
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
      const int c = ((r % kPaletteSize) + kPaletteSize) % kPaletteSize;
      const float aColour[3] = {static_cast<float>(mR[c]), static_cast<float>(mG[c]),
                                static_cast<float>(mB[c])};
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
  return NPNG::writeIndexedPNG(aFolder + regionsFile(t), aRegionOf, regionPNGPalette()) &&
         NPNG::writeGreyPNG(aFolder + maskFile(t), aMask) &&
         NPNG::writeRGBPNG(aFolder + overlayFile(t), aOverlay);
}
