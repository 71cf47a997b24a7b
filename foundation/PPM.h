// Binary Netpbm pictures (P5 grey, P6 colour, 8-bit samples) of a float picture (PPM.cpp).
// Members of CTensor<float>; CTensor.h includes this header.
#pragma once

#include "foundation/CTensor.h"

// Reads a binary PPM (P6, three channels) or PGM (P5, one channel) with 8-bit samples.
// Returns false, with one line on standard error and the tensor left empty, for a file that
// cannot be opened, a damaged or truncated header or pixel block, a maximum value other than
// 255, or a size beyond kMaxPictureSide per side or kMaxPicturePixels in all. A magic number
// other than P5/P6 (a text P3 file, say) throws EInvalidFileFormat("PPM", aFilename), whose
// message names the file.
template <>
bool CTensor<float>::readFromPPM(const char* aFilename);
// Writes a P6 file of channels 0, 1, 2 (values truncated toward zero, clamped to 0 ... 255),
// whole (NFile::writeWhole: a failed write leaves the old file as it was). Returns false, with
// one line on standard error naming the file and the reason, if it cannot be written.
template <>
bool CTensor<float>::writeToPPM(const char* aFilename) const;
