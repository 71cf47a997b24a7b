#include "flow/FlowCache.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "flow/COpticFlow.h"
#include "foundation/FileWrite.h"
#include "settings/RunSettings.h"

namespace {

constexpr std::uint64_t kFnvOffset = 14695981039346656037ULL;
constexpr std::uint64_t kFnvPrime = 1099511628211ULL;

inline void mix(std::uint64_t& aHash, unsigned char aByte) {
  aHash ^= aByte;
  aHash *= kFnvPrime;
}

void mixInt(std::uint64_t& aHash, int aValue) {
  for (int b = 0; b < 4; b++) mix(aHash, static_cast<unsigned char>(aValue >> (8 * b)));
}

// The record's one line: what the flows were computed from.
std::string recordText(int aFrame, const CFlowSource& aSource) {
  char aLine[200];
  std::snprintf(aLine, sizeof(aLine), "%s %s from %d x %d frames %016llx %016llx\n",
                forwardFlowFile(aFrame).c_str(), backwardFlowFile(aFrame).c_str(), aSource.mXSize,
                aSource.mYSize, static_cast<unsigned long long>(aSource.mFirst),
                static_cast<unsigned long long>(aSource.mSecond));
  return aLine;
}

}  // namespace

std::string forwardFlowFile(int aFrame) {
  return formatName("ForwardFlow%03d.flo", aFrame);
}
std::string backwardFlowFile(int aFrame) {
  return formatName("BackwardFlow%03d.flo", aFrame);
}
std::string flowSourceFile(int aFrame) {
  return formatName("FlowSource%03d.txt", aFrame);
}

std::uint64_t frameFingerprint(const CTensor<float>& aFrame) {
  std::uint64_t aHash = kFnvOffset;
  mixInt(aHash, aFrame.xSize());
  mixInt(aHash, aFrame.ySize());
  mixInt(aHash, aFrame.zSize());
  const float* aData = aFrame.data();
  // Frames hold whole numbers 0 ... 255, so one byte per value says all.
  for (int i = 0; i < aFrame.size(); i++) mix(aHash, static_cast<unsigned char>(aData[i]));
  return aHash;
}

bool readCachedFlows(const std::string& aFolder, int aFrame, const CFlowSource& aSource,
                     CTensor<float>& aForward, CTensor<float>& aBackward) {
  std::ifstream aRecord(aFolder + flowSourceFile(aFrame), std::ios::binary);
  if (!aRecord) return false;
  std::ostringstream aText;
  aText << aRecord.rdbuf();
  if (aText.str() != recordText(aFrame, aSource)) return false;
  return COpticFlow::readMiddlebury((aFolder + forwardFlowFile(aFrame)).c_str(), aForward, false,
                                    aSource.mXSize, aSource.mYSize) &&
         COpticFlow::readMiddlebury((aFolder + backwardFlowFile(aFrame)).c_str(), aBackward, false,
                                    aSource.mXSize, aSource.mYSize);
}

bool writeCachedFlows(const std::string& aFolder, int aFrame, const CFlowSource& aSource,
                      const CTensor<float>& aForward, const CTensor<float>& aBackward) {
  const std::string aRecordName = aFolder + flowSourceFile(aFrame);
  if (std::remove(aRecordName.c_str()) != 0 && errno != ENOENT) {
    std::cerr << "Cannot replace flow record " << aRecordName << ": " << std::strerror(errno)
              << std::endl;
    return false;
  }
  if (!COpticFlow::writeMiddlebury(aForward, (aFolder + forwardFlowFile(aFrame)).c_str()) ||
      !COpticFlow::writeMiddlebury(aBackward, (aFolder + backwardFlowFile(aFrame)).c_str()))
    return false;
  const std::string aText = recordText(aFrame, aSource);
  const NFile::CWriteResult aResult = NFile::writeThenRename(aRecordName, [&](FILE* aFile) {
    return std::fwrite(aText.data(), 1, aText.size(), aFile) == aText.size();
  });
  if (!aResult.mComplete) {
    std::cerr << "Cannot write flow record " << aRecordName << std::endl;
    return false;
  }
  return true;
}
