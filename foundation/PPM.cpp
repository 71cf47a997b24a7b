#include "foundation/PPM.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/CTensor.h"
#include "foundation/FileWrite.h"

namespace {

// Header numbers beyond this many digits cannot be a valid size or maximum value.
constexpr int kMaxHeaderDigits = 9;

// Reads a decimal number whose first digit is aFirst; leaves the first non-digit in aNext.
bool readNumber(FILE* aFile, int aFirst, long long& aValue, int& aNext) {
  aValue = aFirst - '0';
  int aDigits = 1;
  int c = getc(aFile);
  while (c >= '0' && c <= '9') {
    if (++aDigits > kMaxHeaderDigits) return false;
    aValue = aValue * 10 + (c - '0');
    c = getc(aFile);
  }
  aNext = c;
  return true;
}

bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

// Skips whitespace and "#" comment lines; returns the first other character (EOF at the end).
int skipSpaceAndComments(FILE* aFile, int c) {
  while (true) {
    if (c == '#') {
      while (c != '\n' && c != EOF) c = getc(aFile);
    } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      c = getc(aFile);
    } else {
      return c;
    }
  }
}

struct FileCloser {
  FILE* mFile;
  ~FileCloser() {
    if (mFile) fclose(mFile);
  }
};

}  // namespace

template <>
bool CTensor<float>::readFromPPM(const char* aFilename) {
  setSize(0, 0, 0);
  FILE* aFile = fopen(aFilename, "rb");
  if (aFile == nullptr) {
    std::cerr << "File not found: " << aFilename << std::endl;
    return false;
  }
  FileCloser aCloser{aFile};
  auto fail = [&](const char* aProblem) {
    std::cerr << "Cannot read picture " << aFilename << ": " << aProblem << std::endl;
    return false;
  };

  int c = getc(aFile);
  while (c != 'P' && c != EOF) c = getc(aFile);
  if (c == EOF) return fail("no PPM header");
  c = getc(aFile);
  int aChannels;
  if (c == '5')
    aChannels = 1;
  else if (c == '6')
    aChannels = 3;
  else
    throw EInvalidFileFormat("PPM", aFilename);

  // Width, height and maximum value, separated by whitespace; comments may stand between them.
  long long aNumbers[3];
  c = getc(aFile);
  if (c != ' ' && c != '\n' && c != '\r' && c != '\t' && c != '#') return fail("damaged header");
  for (int i = 0; i < 3; i++) {
    c = skipSpaceAndComments(aFile, c);
    if (c == EOF) return fail("truncated header");
    if (!isDigit(c)) return fail("damaged header");
    if (!readNumber(aFile, c, aNumbers[i], c)) return fail("number in header too large");
  }
  // Exactly one whitespace character separates the maximum value from the samples.
  if (c != ' ' && c != '\n' && c != '\r' && c != '\t') return fail("damaged header");
  if (c == '\r') {
    const int aNext = getc(aFile);
    if (aNext != '\n' && aNext != EOF) ungetc(aNext, aFile);
  }
  const long long aWidth = aNumbers[0], aHeight = aNumbers[1];
  if (aNumbers[2] != 255) return fail("only 8-bit samples (maximum value 255) are supported");
  if (aWidth <= 0 || aHeight <= 0) return fail("width and height must be positive");
  if (aWidth > kMaxPictureSide || aHeight > kMaxPictureSide || aWidth * aHeight > kMaxPicturePixels)
    return fail("picture too large");

  // Check the file really holds the samples before allocating for them.
  const long aDataStart = ftell(aFile);
  if (aDataStart < 0 || fseek(aFile, 0, SEEK_END) != 0) return fail("cannot seek");
  const long aFileEnd = ftell(aFile);
  const long long aCount = aWidth * aHeight * aChannels;
  if (aFileEnd - aDataStart < aCount) return fail("truncated pixel data");
  if (fseek(aFile, aDataStart, SEEK_SET) != 0) return fail("cannot seek");

  std::vector<unsigned char> aBytes(static_cast<size_t>(aCount));
  if (fread(aBytes.data(), 1, aBytes.size(), aFile) != aBytes.size())
    return fail("truncated pixel data");

  setSize(static_cast<int>(aWidth), static_cast<int>(aHeight), aChannels);
  const int aPlane = mXSize * mYSize;
  for (int i = 0; i < aPlane; i++)
    for (int z = 0; z < aChannels; z++) mData[i + z * aPlane] = aBytes[i * aChannels + z];
  return true;
}

template <>
bool CTensor<float>::writeToPPM(const char* aFilename) const {
  const int aPlane = mXSize * mYSize;
  std::string aHeader =
      "P6 \n" + std::to_string(mXSize) + " " + std::to_string(mYSize) + " \n255\n";
  std::vector<unsigned char> aBytes(static_cast<size_t>(aPlane) * 3);
  const int aChannels = std::min(mZSize, 3);
  for (int i = 0; i < aPlane; i++)
    for (int z = 0; z < 3; z++) {
      // Values are truncated toward zero; outside 0 ... 255 they are clamped rather than
      // wrapped into the byte.
      float aValue = z < aChannels ? mData[i + z * aPlane] : 0.0f;
      if (!(aValue > 0.0f)) aValue = 0.0f;
      if (aValue > 255.0f) aValue = 255.0f;
      aBytes[i * 3 + z] = static_cast<unsigned char>(static_cast<int>(aValue));
    }
  return NFile::writeWhole(aFilename, "picture", [&](FILE* aFile) {
    return fwrite(aHeader.data(), 1, aHeader.size(), aFile) == aHeader.size() &&
           fwrite(aBytes.data(), 1, aBytes.size(), aFile) == aBytes.size();
  });
}
