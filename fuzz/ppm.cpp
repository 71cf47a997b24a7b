// Feeds arbitrary bytes to the picture reader through a temporary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const std::string aPath = "/tmp/quorvik-fuzz-ppm-" + std::to_string(getpid()) + ".ppm";
  FILE* aFile = fopen(aPath.c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  CTensor<float> aImage;
  try {
    if (aImage.readFromPPM(aPath.c_str()) && (aImage.xSize() <= 0 || aImage.ySize() <= 0 ||
                                              (aImage.zSize() != 1 && aImage.zSize() != 3)))
      __builtin_trap();
  } catch (const EInvalidFileFormat&) {
  }
  return 0;
}
