// Feeds arbitrary bytes to the sequence-description reader through a temporary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/Run.h"
#include "settings/RunSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const std::string aPath = "/tmp/quorvik-fuzz-bmf-" + std::to_string(getpid()) + ".bmf";
  FILE* aFile = fopen(aPath.c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  CVector<std::string> aInput;
  if (readSequenceDescription(aPath, "dir/", aInput) && static_cast<size_t>(aInput.size()) > aSize)
    __builtin_trap();
  return 0;
}
