#include "densify/RegionPictures.h"

#include <algorithm>

#include "foundation/PNGFile.h"
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

}  // namespace

bool writeRegionPictures(int t, const CMatrix<int>& aRegionOf, const std::vector<bool>& aMoving,
                         const CTensor<float>& aFrame) {
  const int W = aRegionOf.xSize(), H = aRegionOf.ySize();
  NPNG::CPalette aPalette(kPNGPaletteSize);
  for (int i = 0; i < kPNGPaletteSize; i++)
    aPalette[i] = {static_cast<unsigned char>(mR[i % kPaletteSize]),
                   static_cast<unsigned char>(mG[i % kPaletteSize]),
                   static_cast<unsigned char>(mB[i % kPaletteSize])};
  auto moving = [&](int r) { return r >= 0 && r < static_cast<int>(aMoving.size()) && aMoving[r]; };

  CMatrix<float> aMask(W, H);
  CTensor<float> aOverlay(W, H, 3);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      const int r = aRegionOf(x, y);
      aMask(x, y) = moving(r) ? 255.0f : 0.0f;
      const bool aBorder =
          (x + 1 < W && aRegionOf(x + 1, y) != r) || (y + 1 < H && aRegionOf(x, y + 1) != r);
      const float aShare = moving(r) ? kObjectBlend : kBackgroundBlend;
      const int c = ((r % kPaletteSize) + kPaletteSize) % kPaletteSize;
      const float aColour[3] = {static_cast<float>(mR[c]), static_cast<float>(mG[c]),
                                static_cast<float>(mB[c])};
      for (int z = 0; z < 3; z++)
        aOverlay(x, y, z) =
            aBorder ? kBorderValue : (1.0f - aShare) * aFrame(x, y, z) + aShare * aColour[z];
    }
  return NPNG::writeIndexedPNG(resultFileName("Regions%03d.png", t), aRegionOf, aPalette) &&
         NPNG::writeGreyPNG(resultFileName("Mask%03d.png", t), aMask) &&
         NPNG::writeRGBPNG(resultFileName("Overlay%03d.png", t), aOverlay);
}
