// Feeds arbitrary bytes to the ".flo" reader through a temporary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "flow/COpticFlow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const std::string aPath = "/tmp/quorvik-fuzz-flo-" + std::to_string(getpid()) + ".flo";
  FILE* aFile = fopen(aPath.c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  CTensor<float> aFlow;
  if (COpticFlow::readMiddlebury(aPath.c_str(), aFlow, false) &&
      static_cast<size_t>(aFlow.size()) * 4 + 12 != aSize)
    __builtin_trap();
  return 0;
}
