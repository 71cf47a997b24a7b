// The region palette and the dense region pictures of a frame: the region map as a palette
// PNG (pixel value = region number, the palette = the region palette, so it reads as labels in
// evaluation tools and shows in colour in any viewer), the moving-object mask as a grey PNG,
// and an overlay of the regions and their borders on the frame.
#pragma once

#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Colours of the region palette.
constexpr int kPaletteSize = 25;
// Region palette, label i -> (mR[i], mG[i], mB[i]); labels of 25 and more reuse it cyclically.
extern int mR[kPaletteSize], mG[kPaletteSize], mB[kPaletteSize];

// Writes, for relative frame t, mResultDir + "Regions%03d.png" (aRegionOf, values 0 ... 255),
// "Mask%03d.png" (255 where aMoving holds for the pixel's region, else 0) and
// "Overlay%03d.png" (aFrame, red, green, blue 0 ... 255, with every region blended in its
// palette colour, moving objects more strongly, and the region borders drawn in white). Every
// file is written whole or not at all. False after one line on standard error.
bool writeRegionPictures(int t, const CMatrix<int>& aRegionOf, const std::vector<bool>& aMoving,
                         const CTensor<float>& aFrame);
