// ".flo" flow files: tag "PIEH", width, height (32-bit integers), then u, v per pixel as 32-bit
// floats, rows top to bottom, all in the machine's little-endian order.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "flow/COpticFlow.h"
#include "foundation/FileWrite.h"
#include "foundation/Fingerprint.h"

namespace {

constexpr long kFloHeaderBytes = 12;
constexpr char kFloTag[4] = {'P', 'I', 'E', 'H'};

}  // namespace

bool COpticFlow::readMiddlebury(const char* aFilename, CTensor<float>& aFlow,
                                bool aFileNotFoundMessage, int aExpectedXSize, int aExpectedYSize,
                                std::uint64_t* aFingerprint) {
  FILE* aFile = fopen(aFilename, "rb");
  if (aFile == nullptr) {
    if (aFileNotFoundMessage) std::cout << "Could not open " << aFilename << std::endl;
    return false;
  }
  char aTag[4];
  int32_t aSize[2];
  bool aOk = fread(aTag, 1, 4, aFile) == 4 && fread(aSize, sizeof(int32_t), 2, aFile) == 2;
  const long long aXSize = aOk ? aSize[0] : 0, aYSize = aOk ? aSize[1] : 0;
  // A file of the wrong length or implausible size is a damaged cache: refuse it so the flow
  // is computed again rather than read past the end or allocated without bound.
  aOk = aOk && aXSize > 0 && aYSize > 0 && aXSize <= kMaxPictureSide && aYSize <= kMaxPictureSide &&
        aXSize * aYSize <= kMaxPicturePixels;
  aOk = aOk && (aExpectedXSize < 0 || aXSize == aExpectedXSize) &&
        (aExpectedYSize < 0 || aYSize == aExpectedYSize);
  if (aOk) {
    aOk = fseek(aFile, 0, SEEK_END) == 0 && ftell(aFile) == kFloHeaderBytes + 8 * aXSize * aYSize &&
          fseek(aFile, kFloHeaderBytes, SEEK_SET) == 0;
  }
  std::vector<float> aValues;
  if (aOk) {
    aValues.resize(static_cast<size_t>(2 * aXSize * aYSize));
    aOk = fread(aValues.data(), sizeof(float), aValues.size(), aFile) == aValues.size();
  }
  fclose(aFile);
  if (!aOk) return false;
  // A flow holding a value that is not a number or infinite is damaged, never used.
  for (const float aValue : aValues)
    if (!std::isfinite(aValue)) return false;
  if (aFingerprint != nullptr) {
    *aFingerprint = NFingerprint::kStart;
    NFingerprint::mix(*aFingerprint, aTag, sizeof(aTag));
    NFingerprint::mix(*aFingerprint, aSize, sizeof(aSize));
    NFingerprint::mix(*aFingerprint, aValues.data(), aValues.size() * sizeof(float));
  }
  aFlow.setSize(static_cast<int>(aXSize), static_cast<int>(aYSize), 2);
  const int aPlane = aFlow.xSize() * aFlow.ySize();
  float* aU = aFlow.data();
  float* aV = aFlow.data() + aPlane;
  for (int i = 0; i < aPlane; i++) {
    aU[i] = aValues[2 * i];
    aV[i] = aValues[2 * i + 1];
  }
  return true;
}

bool COpticFlow::writeMiddlebury(const CTensor<float>& aFlow, const char* aFilename,
                                 std::uint64_t* aFingerprint) {
  const std::string aName = aFilename;
  const size_t aDot = aName.rfind('.');
  if (aDot == std::string::npos || aName.compare(aDot, std::string::npos, ".flo") != 0)
    std::cout << aName << " should have extension '.flo'" << std::endl;

  const int aPlane = aFlow.xSize() * aFlow.ySize();
  std::vector<float> aValues(static_cast<size_t>(2) * aPlane);
  const float* aU = aFlow.data();
  const float* aV = aFlow.data() + aPlane;
  for (int i = 0; i < aPlane; i++) {
    aValues[2 * i] = aU[i];
    aValues[2 * i + 1] = aV[i];
  }
  const int32_t aSize[2] = {aFlow.xSize(), aFlow.ySize()};

  // Written under a temporary name and renamed into place when complete, so that a killed or
  // failed run never leaves a half-written cache behind.
  const NFile::CWriteResult aResult = NFile::writeThenRename(aName, [&](FILE* aFile) {
    bool aOk = fwrite(kFloTag, 1, 4, aFile) == 4;
    if (fwrite(aSize, sizeof(int32_t), 2, aFile) != 2) {
      std::cout << "Problem writing header" << std::endl;
      aOk = false;
    }
    return aOk && fwrite(aValues.data(), sizeof(float), aValues.size(), aFile) == aValues.size();
  });
  if (!aResult.mComplete) {
    if (!aResult.mOpened) std::cout << "Could not open " << aName << std::endl;
    std::cerr << "Cannot write flow file " << aName << ": " << NFile::failureReason(aResult)
              << std::endl;
    return false;
  }
  if (aFingerprint != nullptr) {
    *aFingerprint = NFingerprint::kStart;
    NFingerprint::mix(*aFingerprint, kFloTag, 4);
    NFingerprint::mix(*aFingerprint, aSize, sizeof(aSize));
    NFingerprint::mix(*aFingerprint, aValues.data(), aValues.size() * sizeof(float));
  }
  return true;
}
