// Pictures the run draws for inspection: the colour ramp of track pictures and the flow
// pictures of one frame pair.
#pragma once

#include <string>

#include "foundation/CTensor.h"

// Rows of the colour ramp.
constexpr int kColorCodeRows = 15000;

// A colour: red, green, blue, 0 ... 255.
struct CColour {
  float mRed, mGreen, mBlue;
};

// Row aRow of the colour ramp of the track and evaluation pictures (the colour of count aRow):
// blue, cyan, green, yellow, red, magenta in bands of 256 rows, then constant magenta. Rows
// outside 0 ... kColorCodeRows - 1 are taken as the nearest row.
CColour colorCode(long long aRow);

// Writes the flow pictures of the pair starting at absolute frame aFrame ("ForwardFlow%03d.ppm"
// and "BackwardFlow%03d.ppm", settings/ResultNames.h) into aFolder (ending in "/"), the fields
// drawn with the colour wheel at divisor 4. Returns false, after one line on standard error,
// when a picture cannot be written.
bool writeFlowPictures(const std::string& aFolder, int aFrame, const CTensor<float>& aForwardFlow,
                       const CTensor<float>& aBackwardFlow);
