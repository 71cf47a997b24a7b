// PNG files (through libpng): 8-bit pictures read as they are stored, and written as label
// maps with a palette, as grey pictures or as colour pictures. Masks and region maps of the
// evaluation travel in this format; every common viewer and evaluation tool reads it.
//
// What a read returns, by the file's colour type:
// - palette (indexed): the palette indices 0 ... 255, one channel, and the palette itself; a
//   palette file with 1, 2 or 4 bits per pixel is unpacked to one index per pixel;
// - grey, with or without alpha: the grey values 0 ... 255, one channel; 1-, 2- and 4-bit
//   grey is scaled up to 0 ... 255 (a 1-bit mask reads as 0 and 255);
// - RGB, with or without alpha: red, green and blue, three channels.
// Alpha channels and transparency chunks are ignored. 16-bit files are refused.
//
// Every write goes to a temporary file beside the target that is renamed into place once it
// is complete (NFile::writeThenRename). Every failure, of a read or a write, is reported with
// one line on standard error naming the file, and the function returns false; a damaged or
// truncated file never ends the process.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

namespace NPNG {

// The colour types a read tells apart.
enum class CType { kGrey, kPalette, kRGB };

// Palette entries, red, green, blue (0 ... 255); entry i is the colour of index i.
using CPalette = std::vector<std::array<unsigned char, 3>>;

// A PNG file's pixels as stored.
struct CImage {
  CType mType = CType::kGrey;
  // Width x height x 1 (grey, palette) or x 3 (RGB), values 0 ... 255 as floats (the layout
  // of a picture, CTensor.h).
  CTensor<float> mPixels;
  // The palette of a palette file (its PLTE entries, at most 256); empty otherwise.
  CPalette mPalette;
};

// What a PNG file's header says, known before its pixels are decoded.
struct CInfo {
  CType mType = CType::kGrey;
  int mXSize = 0, mYSize = 0;
};

// Reads only the header of aFilename (the chunks before the pixels) into aInfo, so that a
// caller can check the size and colour type against what it expects before it spends the
// memory and time of decoding. False, with one line on standard error, for the files readPNG
// refuses before the pixels.
bool readPNGInfo(const std::string& aFilename, CInfo& aInfo);

// Reads aFilename into aImage. False, with one line on standard error and aImage left
// empty, for a file that cannot be opened, is not a PNG file, is damaged or truncated, has
// 16-bit samples, or is larger than kMaxPictureSide per side or kMaxPicturePixels in all.
bool readPNG(const std::string& aFilename, CImage& aImage);

// Writes an indexed (palette) PNG whose pixel values are aIndices, with aPalette as its
// palette (1 ... 256 entries). Every index must lie in 0 ... aPalette.size() - 1; a map with
// another index, an empty or too long palette, or an empty map is refused (false, one line)
// and nothing is written.
bool writeIndexedPNG(const std::string& aFilename, const CMatrix<int>& aIndices,
                     const CPalette& aPalette);

// Writes an 8-bit grey PNG of aGrey (values truncated toward zero, clamped to 0 ... 255, as
// writeToPPM does).
bool writeGreyPNG(const std::string& aFilename, const CMatrix<float>& aGrey);

// Writes an 8-bit RGB PNG of channels 0, 1, 2 of aPicture (missing channels as 0; values
// converted as by writeGreyPNG).
bool writeRGBPNG(const std::string& aFilename, const CTensor<float>& aPicture);

}  // namespace NPNG
