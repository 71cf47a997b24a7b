// Feeds arbitrary bytes to the PNG reader through a temporary file: libpng's errors must come
// back as a refusal, never as a crash, and an accepted file must be a whole picture.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/PNGFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const std::string aPath = "/tmp/quorvik-fuzz-png-" + std::to_string(getpid()) + ".png";
  FILE* aFile = fopen(aPath.c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  NPNG::CImage aImage;
  if (NPNG::readPNG(aPath, aImage)) {
    const CTensor<float>& p = aImage.mPixels;
    const int aChannels = aImage.mType == NPNG::CType::kRGB ? 3 : 1;
    if (p.xSize() <= 0 || p.ySize() <= 0 || p.zSize() != aChannels) __builtin_trap();
    for (int i = 0; i < p.size(); i++)
      if (!(p.data()[i] >= 0.0f && p.data()[i] <= 255.0f)) __builtin_trap();
  }
  return 0;
}
