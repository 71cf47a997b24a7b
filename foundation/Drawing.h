// Line and rectangle drawing into the first three channels of a float picture (Drawing.cpp).
// Members of CTensor<float>; CTensor.h includes this header.
#pragma once

#include "foundation/CTensor.h"

// Writes the three values into channels 0, 1, 2 of every pixel of the line, both end points
// included; pixels outside the picture are skipped, never clipped into it.
template <>
void CTensor<float>::drawLine(int dStartX, int dStartY, int dEndX, int dEndY, float aValue1,
                              float aValue2, float aValue3);
// The four sides (x1, y1)-(x2, y1), (x1, y2)-(x2, y2), (x1, y1)-(x1, y2), (x2, y1)-(x2, y2).
template <>
void CTensor<float>::drawRect(int x1, int y1, int x2, int y2, float aValue1, float aValue2,
                              float aValue3);
