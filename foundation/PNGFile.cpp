// PNG files through libpng's classic interface. libpng reports errors by a longjmp out of
// its handler; the functions that call libpng with a jump target set hold only plain
// locals, so the jump skips no destructor, and all C++ objects live in their callers.
#include "foundation/PNGFile.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "foundation/FileWrite.h"

namespace NPNG {
namespace {

// Bytes of the PNG signature checked before libpng is involved.
constexpr int kSignatureBytes = 8;
// Longest libpng message kept.
constexpr size_t kMessageBytes = 256;
// Largest palette a PNG file can hold.
constexpr int kMaxPaletteEntries = 256;
// zlib's level for colour pictures (overlays of a photograph), which a long video writes for
// every frame: with the default level 6, writing the results of 100 frames of 640 x 480 took
// 15.4 processor seconds against 5.8, for overlays only 7 % smaller. Label maps and masks keep
// the default: they are quick to compress at any level.
constexpr int kColourCompressionLevel = 1;

// Where libpng's error handler leaves its message before it jumps back.
struct CErrorState {
  char mMessage[kMessageBytes];
};

[[noreturn]] void onError(png_structp aPng, png_const_charp aMessage) {
  auto* aState = static_cast<CErrorState*>(png_get_error_ptr(aPng));
  std::snprintf(aState->mMessage, sizeof(aState->mMessage), "%s", aMessage);
  png_longjmp(aPng, 1);
}

// Warnings concern ancillary chunks (a bad checksum, an unknown profile) that the pixels do
// not depend on; they are not worth a line.
void onWarning(png_structp, png_const_charp) {}

// libpng's source of bytes: the open file, with a clear word for a file that ends early.
void readData(png_structp aPng, png_bytep aData, size_t aLength) {
  FILE* aFile = static_cast<FILE*>(png_get_io_ptr(aPng));
  if (fread(aData, 1, aLength, aFile) != aLength)
    png_error(aPng, ferror(aFile) ? "read error" : "the file ends early (truncated)");
}

// What the header stage learns about the file, after the transformations are set.
struct CHeader {
  png_uint_32 mWidth, mHeight;
  int mBitDepth, mColourType, mChannels;
  size_t mRowBytes;
  int mPaletteSize;
  png_color mPalette[kMaxPaletteEntries];
};

// Reads the chunks before the image data and asks libpng for one byte per sample: palette
// indices unpacked, low-depth grey scaled to 0 ... 255, alpha dropped. A 16-bit file stops
// here with mBitDepth 16 and no transformation set.
bool readHeader(png_structp aPng, png_infop aInfo, FILE* aFile, CHeader& aHeader) {
  if (setjmp(png_jmpbuf(aPng))) return false;
  png_set_read_fn(aPng, aFile, readData);
  png_set_sig_bytes(aPng, kSignatureBytes);
  png_set_user_limits(aPng, kMaxPictureSide, kMaxPictureSide);
  png_read_info(aPng, aInfo);
  int aInterlace, aCompression, aFilter;
  png_get_IHDR(aPng, aInfo, &aHeader.mWidth, &aHeader.mHeight, &aHeader.mBitDepth,
               &aHeader.mColourType, &aInterlace, &aCompression, &aFilter);
  if (aHeader.mBitDepth > 8) return true;
  if (aHeader.mColourType == PNG_COLOR_TYPE_PALETTE)
    png_set_packing(aPng);
  else if (aHeader.mBitDepth < 8)
    png_set_expand_gray_1_2_4_to_8(aPng);
  if (aHeader.mColourType & PNG_COLOR_MASK_ALPHA) png_set_strip_alpha(aPng);
  png_set_interlace_handling(aPng);
  png_read_update_info(aPng, aInfo);
  aHeader.mChannels = png_get_channels(aPng, aInfo);
  aHeader.mRowBytes = png_get_rowbytes(aPng, aInfo);
  aHeader.mPaletteSize = 0;
  png_colorp aPalette = nullptr;
  int aCount = 0;
  if (aHeader.mColourType == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(aPng, aInfo, &aPalette, &aCount) == PNG_INFO_PLTE) {
    aHeader.mPaletteSize = std::min(aCount, kMaxPaletteEntries);
    std::memcpy(aHeader.mPalette, aPalette, sizeof(png_color) * aHeader.mPaletteSize);
  }
  return true;
}

// Reads the image data into aRows (one pointer per row) and the chunks after it, so a file
// cut anywhere, even after its pixels, is refused.
bool readRows(png_structp aPng, png_bytepp aRows) {
  if (setjmp(png_jmpbuf(aPng))) return false;
  png_read_image(aPng, aRows);
  png_read_end(aPng, nullptr);
  return true;
}

// Owns the file and libpng's read structures of one read.
struct CReader {
  FILE* mFile = nullptr;
  png_structp mPng = nullptr;
  png_infop mInfo = nullptr;
  ~CReader() {
    if (mPng) png_destroy_read_struct(&mPng, mInfo ? &mInfo : nullptr, nullptr);
    if (mFile) fclose(mFile);
  }
};

// Everything a write needs, held in plain form for the function with the jump target.
struct CWriteJob {
  png_uint_32 mWidth, mHeight;
  int mColourType;
  const png_color* mPalette;
  int mPaletteSize;
  png_bytepp mRows;
};

bool writeImage(FILE* aFile, const CWriteJob& aJob, CErrorState& aErrors) {
  png_structp aPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, &aErrors, onError, onWarning);
  if (aPng == nullptr) {
    std::snprintf(aErrors.mMessage, sizeof(aErrors.mMessage), "out of memory");
    return false;
  }
  png_infop aInfo = png_create_info_struct(aPng);
  if (aInfo == nullptr) {
    png_destroy_write_struct(&aPng, nullptr);
    std::snprintf(aErrors.mMessage, sizeof(aErrors.mMessage), "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(aPng))) {
    png_destroy_write_struct(&aPng, &aInfo);
    return false;
  }
  png_init_io(aPng, aFile);
  if (aJob.mColourType == PNG_COLOR_TYPE_RGB)
    png_set_compression_level(aPng, kColourCompressionLevel);
  png_set_IHDR(aPng, aInfo, aJob.mWidth, aJob.mHeight, 8, aJob.mColourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (aJob.mColourType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(aPng, aInfo, aJob.mPalette, aJob.mPaletteSize);
  png_write_info(aPng, aInfo);
  png_write_image(aPng, aJob.mRows);
  png_write_end(aPng, nullptr);
  png_destroy_write_struct(&aPng, &aInfo);
  return true;
}

bool reportWriteFailure(const std::string& aFilename, const std::string& aProblem) {
  std::cerr << "Cannot write PNG file " << aFilename << ": " << aProblem << std::endl;
  return false;
}

// Writes aBytes (aChannels bytes per pixel, rows top to bottom) through a temporary file.
bool writeBytes(const std::string& aFilename, int aWidth, int aHeight, int aColourType,
                std::vector<unsigned char>& aBytes, int aChannels,
                const std::vector<png_color>& aPalette) {
  if (aWidth <= 0 || aHeight <= 0) return reportWriteFailure(aFilename, "empty picture");
  std::vector<png_bytep> aRows(static_cast<size_t>(aHeight));
  for (int y = 0; y < aHeight; y++)
    aRows[y] = aBytes.data() + static_cast<size_t>(y) * aWidth * aChannels;
  const CWriteJob aJob{static_cast<png_uint_32>(aWidth),
                       static_cast<png_uint_32>(aHeight),
                       aColourType,
                       aPalette.data(),
                       static_cast<int>(aPalette.size()),
                       aRows.data()};
  CErrorState aErrors{};
  const NFile::CWriteResult aResult = NFile::writeThenRename(
      aFilename, [&](FILE* aFile) { return writeImage(aFile, aJob, aErrors); });
  if (aResult.mComplete) return true;
  // The system's reason (a full disk) says more than libpng's "Write Error".
  if (aResult.mError == 0 && !aResult.mNotRegular && aErrors.mMessage[0] != '\0')
    return reportWriteFailure(aFilename, aErrors.mMessage);
  return reportWriteFailure(aFilename, NFile::failureReason(aResult));
}

// A picture value as a byte: truncated toward zero, clamped to 0 ... 255.
unsigned char toByte(float aValue) {
  if (!(aValue > 0.0f)) return 0;
  if (aValue > 255.0f) return 255;
  return static_cast<unsigned char>(aValue);
}

// Opens aFilename, checks its signature and reads its header into aHeader. False after one
// line on standard error (through aFail) for a file that cannot be opened, is not a PNG
// file, is damaged before its pixels, has 16-bit samples or is too large.
template <class TFail>
bool openAndReadHeader(const std::string& aFilename, CReader& aReader, CErrorState& aErrors,
                       CHeader& aHeader, const TFail& aFail) {
  aReader.mFile = fopen(aFilename.c_str(), "rb");
  if (aReader.mFile == nullptr) return aFail(std::strerror(errno));
  unsigned char aSignature[kSignatureBytes];
  if (fread(aSignature, 1, kSignatureBytes, aReader.mFile) != kSignatureBytes ||
      png_sig_cmp(aSignature, 0, kSignatureBytes) != 0)
    return aFail("not a PNG file");
  aReader.mPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, &aErrors, onError, onWarning);
  if (aReader.mPng != nullptr) aReader.mInfo = png_create_info_struct(aReader.mPng);
  if (aReader.mInfo == nullptr) return aFail("out of memory");
  if (!readHeader(aReader.mPng, aReader.mInfo, aReader.mFile, aHeader))
    return aFail(aErrors.mMessage);
  if (aHeader.mBitDepth > 8) return aFail("16-bit samples are not supported");
  const long long aWidth = aHeader.mWidth, aHeight = aHeader.mHeight;
  if (aWidth * aHeight > kMaxPicturePixels) return aFail("picture too large");
  return true;
}

bool isColour(const CHeader& aHeader) {
  return (aHeader.mColourType & PNG_COLOR_MASK_COLOR) &&
         aHeader.mColourType != PNG_COLOR_TYPE_PALETTE;
}

CType typeOf(const CHeader& aHeader) {
  if (aHeader.mColourType == PNG_COLOR_TYPE_PALETTE) return CType::kPalette;
  return isColour(aHeader) ? CType::kRGB : CType::kGrey;
}

}  // namespace

bool readPNGInfo(const std::string& aFilename, CInfo& aInfo) {
  aInfo = CInfo();
  auto fail = [&](const std::string& aProblem) {
    std::cerr << "Cannot read PNG file " << aFilename << ": " << aProblem << std::endl;
    return false;
  };
  CReader aReader;
  CErrorState aErrors{};
  CHeader aHeader{};
  if (!openAndReadHeader(aFilename, aReader, aErrors, aHeader, fail)) return false;
  aInfo.mType = typeOf(aHeader);
  aInfo.mXSize = static_cast<int>(aHeader.mWidth);
  aInfo.mYSize = static_cast<int>(aHeader.mHeight);
  return true;
}

bool readPNG(const std::string& aFilename, CImage& aImage) {
  aImage = CImage();
  auto fail = [&](const std::string& aProblem) {
    std::cerr << "Cannot read PNG file " << aFilename << ": " << aProblem << std::endl;
    aImage = CImage();
    return false;
  };
  CReader aReader;
  CErrorState aErrors{};
  CHeader aHeader{};
  if (!openAndReadHeader(aFilename, aReader, aErrors, aHeader, fail)) return false;
  const long long aWidth = aHeader.mWidth, aHeight = aHeader.mHeight;
  const bool aColour = isColour(aHeader);
  const int aChannels = aColour ? 3 : 1;
  if (aHeader.mChannels != aChannels ||
      aHeader.mRowBytes != static_cast<size_t>(aWidth * aChannels))
    return fail("unsupported pixel layout");

  std::vector<unsigned char> aBytes(static_cast<size_t>(aWidth * aHeight * aChannels));
  std::vector<png_bytep> aRows(static_cast<size_t>(aHeight));
  for (long long y = 0; y < aHeight; y++) aRows[y] = aBytes.data() + y * aWidth * aChannels;
  if (!readRows(aReader.mPng, aRows.data())) return fail(aErrors.mMessage);

  aImage.mType = typeOf(aHeader);
  if (aImage.mType == CType::kPalette)
    for (int i = 0; i < aHeader.mPaletteSize; i++)
      aImage.mPalette.push_back(
          {aHeader.mPalette[i].red, aHeader.mPalette[i].green, aHeader.mPalette[i].blue});
  aImage.mPixels.setSize(static_cast<int>(aWidth), static_cast<int>(aHeight), aChannels);
  const int aPlane = static_cast<int>(aWidth * aHeight);
  float* aData = aImage.mPixels.data();
  for (int i = 0; i < aPlane; i++)
    for (int z = 0; z < aChannels; z++) aData[i + z * aPlane] = aBytes[i * aChannels + z];
  return true;
}

bool writeIndexedPNG(const std::string& aFilename, const CMatrix<int>& aIndices,
                     const CPalette& aPalette) {
  const int aEntries = static_cast<int>(aPalette.size());
  if (aEntries < 1 || aEntries > kMaxPaletteEntries)
    return reportWriteFailure(aFilename,
                              "a palette needs 1 to 256 entries, not " + std::to_string(aEntries));
  std::vector<png_color> aColours(aPalette.size());
  for (size_t i = 0; i < aPalette.size(); i++)
    aColours[i] = {aPalette[i][0], aPalette[i][1], aPalette[i][2]};
  const int aCount = aIndices.size();
  std::vector<unsigned char> aBytes(static_cast<size_t>(std::max(aCount, 0)));
  for (int i = 0; i < aCount; i++) {
    const int aIndex = aIndices.data()[i];
    if (aIndex < 0 || aIndex >= aEntries)
      return reportWriteFailure(aFilename, "index " + std::to_string(aIndex) +
                                               " has no entry in the palette of " +
                                               std::to_string(aEntries) + " colours");
    aBytes[i] = static_cast<unsigned char>(aIndex);
  }
  return writeBytes(aFilename, aIndices.xSize(), aIndices.ySize(), PNG_COLOR_TYPE_PALETTE, aBytes,
                    1, aColours);
}

bool writeGreyPNG(const std::string& aFilename, const CMatrix<float>& aGrey) {
  const int aCount = aGrey.size();
  std::vector<unsigned char> aBytes(static_cast<size_t>(std::max(aCount, 0)));
  for (int i = 0; i < aCount; i++) aBytes[i] = toByte(aGrey.data()[i]);
  return writeBytes(aFilename, aGrey.xSize(), aGrey.ySize(), PNG_COLOR_TYPE_GRAY, aBytes, 1, {});
}

bool writeRGBPNG(const std::string& aFilename, const CTensor<float>& aPicture) {
  const int aPlane = aPicture.xSize() * aPicture.ySize();
  const int aChannels = std::min(aPicture.zSize(), 3);
  std::vector<unsigned char> aBytes(static_cast<size_t>(std::max(aPlane, 0)) * 3);
  for (int i = 0; i < aPlane; i++)
    for (int z = 0; z < 3; z++)
      aBytes[3 * i + z] = z < aChannels ? toByte(aPicture.data()[i + z * aPlane]) : 0;
  return writeBytes(aFilename, aPicture.xSize(), aPicture.ySize(), PNG_COLOR_TYPE_RGB, aBytes, 3,
                    {});
}

}  // namespace NPNG
