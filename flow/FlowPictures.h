// Pictures the run draws for inspection: the colour ramp of track pictures and the flow
// pictures of one frame pair.
#pragma once

#include <string>

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

// Writes "ForwardFlow%03d.ppm" and "BackwardFlow%03d.ppm" (number aFrame, the pair's first
// absolute frame) into aFolder (ending in "/"), the fields drawn with the colour wheel at
// divisor 4. Returns false, after one line on standard error, when a picture cannot be written.
bool writeFlowPictures(const std::string& aFolder, int aFrame, const CTensor<float>& aForwardFlow,
                       const CTensor<float>& aBackwardFlow);

// The flow pictures of the run's pair (t, t + 1): writeFlowPictures into mResultDir with number
// t + mStartFrame.
bool showFlow(const CTensor<float>& aForwardFlow, const CTensor<float>& aBackwardFlow, int t);
