// The region palette and the dense region pictures of a frame: the region map as a palette
// PNG (pixel value = region number, the palette = the region palette, so it reads as labels in
// evaluation tools and shows in colour in any viewer), the moving-object mask as a grey PNG,
// and an overlay of the regions and their borders on the frame.
#pragma once

#include <string>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/PNGFile.h"

// Colours of the region palette.
constexpr int kPaletteSize = 25;
// A colour of the region palette: red, green, blue, 0 ... 255.
struct CPaletteColour {
  int mR, mG, mB;
};
// The region palette: label i has colour kRegionPalette[i]; labels of 25 and more reuse it
// cyclically (regionColour).
constexpr CPaletteColour kRegionPalette[kPaletteSize] = {
    {255, 10, 10}, {10, 10, 255},   {200, 190, 0},   {0, 180, 0},    {255, 0, 255},
    {0, 255, 255}, {0, 255, 0},     {180, 0, 0},     {255, 210, 0},  {180, 0, 180},
    {0, 0, 190},   {170, 170, 170}, {100, 100, 100}, {240, 100, 10}, {0, 100, 255},
    {255, 140, 0}, {80, 80, 80},    {70, 70, 70},    {60, 60, 60},   {50, 50, 50},
    {40, 40, 40},  {30, 30, 30},    {20, 20, 20},    {10, 10, 10},   {0, 0, 0}};
// The colour of region label aLabel (any whole number).
constexpr CPaletteColour regionColour(int aLabel) {
  return kRegionPalette[((aLabel % kPaletteSize) + kPaletteSize) % kPaletteSize];
}

// The palette of the region pictures: one entry per pixel value 0 ... 255, value i in the
// colour of region palette entry i modulo kPaletteSize.
NPNG::CPalette regionPNGPalette();

// The overlay of a frame: aFrame (red, green, blue 0 ... 255) with every region of aRegionOf
// blended in its palette colour, more strongly where aMask is 128 or more (moving objects), and the
// region borders (a pixel whose right or lower neighbour lies in another region) in white.
// All three of the frame's size.
void drawRegionOverlay(const CMatrix<int>& aRegionOf, const CMatrix<float>& aMask,
                       const CTensor<float>& aFrame, CTensor<float>& aOverlay);

// Writes, for relative frame t, aFolder (ending in "/", or empty) + "Regions%03d.png"
// (aRegionOf, values 0 ... 255, with regionPNGPalette), "Mask%03d.png" (255 where aMoving holds
// for the pixel's region, else 0) and "Overlay%03d.png" (the drawRegionOverlay of aFrame with
// that mask); the names are settings/ResultNames.h's. Every file is written whole or not at all.
// False after one line on standard error.
bool writeRegionPictures(const std::string& aFolder, int t, const CMatrix<int>& aRegionOf,
                         const std::vector<bool>& aMoving, const CTensor<float>& aFrame);
