#include "flow/FlowCache.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

#include "flow/COpticFlow.h"
#include "foundation/FileWrite.h"
#include "foundation/Fingerprint.h"
#include "settings/ResultNames.h"

namespace {

void mixInt(std::uint64_t& aHash, int aValue) {
  for (int b = 0; b < 4; b++)
    NFingerprint::mix(aHash, static_cast<unsigned char>(aValue >> (8 * b)));
}

// The record's one line: what the flows were computed from (recordSource), then the
// fingerprints of the two flow files' bytes. A record of an earlier version (without the
// flows' fingerprints) never equals it, so its flows are computed again.
std::string recordSource(int aFrame, const CFlowSource& aSource) {
  char aText[200];
  std::snprintf(aText, sizeof(aText), "%s %s from %d x %d frames %016llx %016llx",
                NResultNames::kForwardFlow.name(aFrame).c_str(),
                NResultNames::kBackwardFlow.name(aFrame).c_str(), aSource.mXSize, aSource.mYSize,
                static_cast<unsigned long long>(aSource.mFirst),
                static_cast<unsigned long long>(aSource.mSecond));
  return aText;
}

std::string recordText(int aFrame, const CFlowSource& aSource, std::uint64_t aForward,
                       std::uint64_t aBackward) {
  char aFlows[64];
  std::snprintf(aFlows, sizeof(aFlows), " flows %016llx %016llx\n",
                static_cast<unsigned long long>(aForward),
                static_cast<unsigned long long>(aBackward));
  return recordSource(aFrame, aSource) + aFlows;
}

// Longest record read; a longer file is not a record of this program.
constexpr std::streamsize kMaxRecordBytes = 1024;

}  // namespace

std::uint64_t frameFingerprint(const CTensor<float>& aFrame) {
  std::uint64_t aHash = NFingerprint::kStart;
  mixInt(aHash, aFrame.xSize());
  mixInt(aHash, aFrame.ySize());
  mixInt(aHash, aFrame.zSize());
  const float* aData = aFrame.data();
  // Frames hold whole numbers 0 ... 255, so one byte per value says all.
  for (int i = 0; i < aFrame.size(); i++)
    NFingerprint::mix(aHash, static_cast<unsigned char>(aData[i]));
  return aHash;
}

bool readCachedFlows(const std::string& aFolder, int aFrame, const CFlowSource& aSource,
                     CTensor<float>& aForward, CTensor<float>& aBackward) {
  std::ifstream aRecord(aFolder + NResultNames::kFlowSource.name(aFrame), std::ios::binary);
  if (!aRecord) return false;
  std::string aText(static_cast<size_t>(kMaxRecordBytes), '\0');
  aRecord.read(&aText[0], kMaxRecordBytes);
  aText.resize(static_cast<size_t>(aRecord.gcount()));
  // The flows are read only for a record of these frames.
  const std::string aSourceText = recordSource(aFrame, aSource);
  if (aText.compare(0, aSourceText.size(), aSourceText) != 0) return false;
  std::uint64_t aForwardBytes = 0, aBackwardBytes = 0;
  return COpticFlow::readMiddlebury((aFolder + NResultNames::kForwardFlow.name(aFrame)).c_str(),
                                    aForward, false, aSource.mXSize, aSource.mYSize,
                                    &aForwardBytes) &&
         COpticFlow::readMiddlebury((aFolder + NResultNames::kBackwardFlow.name(aFrame)).c_str(),
                                    aBackward, false, aSource.mXSize, aSource.mYSize,
                                    &aBackwardBytes) &&
         aText == recordText(aFrame, aSource, aForwardBytes, aBackwardBytes);
}

bool writeCachedFlows(const std::string& aFolder, int aFrame, const CFlowSource& aSource,
                      const CTensor<float>& aForward, const CTensor<float>& aBackward) {
  const std::string aRecordName = aFolder + NResultNames::kFlowSource.name(aFrame);
  if (std::remove(aRecordName.c_str()) != 0 && errno != ENOENT) {
    std::cerr << "Cannot replace flow record " << aRecordName << ": " << std::strerror(errno)
              << std::endl;
    return false;
  }
  std::uint64_t aForwardBytes = 0, aBackwardBytes = 0;
  if (!COpticFlow::writeMiddlebury(
          aForward, (aFolder + NResultNames::kForwardFlow.name(aFrame)).c_str(), &aForwardBytes) ||
      !COpticFlow::writeMiddlebury(
          aBackward, (aFolder + NResultNames::kBackwardFlow.name(aFrame)).c_str(), &aBackwardBytes))
    return false;
  return NFile::writeWhole(aRecordName, "flow record",
                           recordText(aFrame, aSource, aForwardBytes, aBackwardBytes));
}
