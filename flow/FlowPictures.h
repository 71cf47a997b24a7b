// Pictures the run draws for inspection: the colour ramp of track pictures and the flow
// pictures of one frame pair.
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

// Rows of the colour ramp mColorCode.
constexpr int kColorCodeRows = 15000;

// Colour ramp (width 3, kColorCodeRows rows) of the track and evaluation pictures: row k is the
// colour (red, green, blue) of count k.
extern CMatrix<float> mColorCode;

// Fills mColorCode: blue, cyan, green, yellow, red, magenta in bands of 256 rows, then
// constant magenta.
void buildColorCode();

// Writes "ForwardFlow%03d.ppm" and "BackwardFlow%03d.ppm" (number t + mStartFrame) into
// mResultDir, the fields drawn with the colour wheel at divisor 4. Returns false, after one
// line on standard error, when a picture cannot be written.
bool showFlow(const CTensor<float>& aForwardFlow, const CTensor<float>& aBackwardFlow, int t);
