// Feeds arbitrary bytes to the readers of a result folder's small records: the flow record
// "FlowSource%03d.txt" with the two flow files it names (first byte even), and the text of
// "Run.lock" (first byte odd). A record is accepted only with whole, finite flows of the size it
// names, and a lock's holder is always described in one line.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/ResultFolder.h"
#include "flow/FlowCache.h"
#include "settings/ResultNames.h"

namespace {

void writeBytes(const std::string& aPath, const std::string& aBytes) {
  FILE* aFile = fopen(aPath.c_str(), "wb");
  if (aFile == nullptr) return;
  fwrite(aBytes.data(), 1, aBytes.size(), aFile);
  fclose(aFile);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  if (aSize < 3) return 0;
  const std::string aBytes(reinterpret_cast<const char*>(aData) + 3, aSize - 3);
  if (aData[0] & 1) {
    if (describeLockHolder(aBytes).find('\n') != std::string::npos) __builtin_trap();
    return 0;
  }
  static const std::string aFolder = "/tmp/quorvik-fuzz-records-" + std::to_string(getpid()) + "/";
  mkdir(aFolder.c_str(), 0755);
  // Bytes 1 and 2: where the record ends and the forward flow ends.
  const size_t aRecordEnd = std::min<size_t>(aData[1] * 4, aBytes.size());
  const size_t aForwardEnd = std::min(aBytes.size(), aRecordEnd + aData[2] * 8);
  writeBytes(aFolder + NResultNames::kFlowSource.name(0), aBytes.substr(0, aRecordEnd));
  writeBytes(aFolder + NResultNames::kForwardFlow.name(0),
             aBytes.substr(aRecordEnd, aForwardEnd - aRecordEnd));
  writeBytes(aFolder + NResultNames::kBackwardFlow.name(0), aBytes.substr(aForwardEnd));
  CFlowSource aSource;
  aSource.mXSize = 2;
  aSource.mYSize = 1;
  CTensor<float> aForward, aBackward;
  if (readCachedFlows(aFolder, 0, aSource, aForward, aBackward)) {
    for (const CTensor<float>* aFlow : {&aForward, &aBackward}) {
      if (aFlow->xSize() != 2 || aFlow->ySize() != 1 || aFlow->zSize() != 2) __builtin_trap();
      for (int i = 0; i < aFlow->size(); i++)
        if (!std::isfinite(aFlow->data()[i])) __builtin_trap();
    }
  }
  return 0;
}
