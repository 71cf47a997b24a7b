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
// Region palette, label i -> (mR[i], mG[i], mB[i]); labels of 25 and more reuse it cyclically.
extern int mR[kPaletteSize], mG[kPaletteSize], mB[kPaletteSize];

// Names (without folder) of the three pictures of relative frame t in a result folder.
std::string regionsFile(int t);
std::string maskFile(int t);
std::string overlayFile(int t);

// The palette of the region pictures: one entry per pixel value 0 ... 255, value i in the
// colour of region palette entry i modulo kPaletteSize.
NPNG::CPalette regionPNGPalette();

// The overlay of a frame: aFrame (red, green, blue 0 ... 255) with every region of aRegionOf
// blended in its palette colour, more strongly where aMask is 128 or more (moving objects), and the
// region borders (a pixel whose right or lower neighbour lies in another region) in white.
// All three of the frame's size.
void drawRegionOverlay(const CMatrix<int>& aRegionOf, const CMatrix<float>& aMask,
                       const CTensor<float>& aFrame, CTensor<float>& aOverlay);

// Writes, for relative frame t, into aFolder (ending in "/", or empty) regionsFile(t)
// ("Regions%03d.png": aRegionOf, values 0 ... 255, with regionPNGPalette), maskFile(t)
// ("Mask%03d.png": 255 where aMoving holds for the pixel's region, else 0) and overlayFile(t)
// ("Overlay%03d.png": the drawRegionOverlay of aFrame with that mask). Every file is written whole or not at all. False
// after one line on standard error.
bool writeRegionPictures(const std::string& aFolder, int t, const CMatrix<int>& aRegionOf,
                         const std::vector<bool>& aMoving, const CTensor<float>& aFrame);
