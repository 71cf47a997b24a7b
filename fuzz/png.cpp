// Feeds arbitrary bytes to the PNG reader through a temporary file: libpng's errors must come
// back as a refusal, never as a crash, and an accepted file must be a whole picture. The header
// alone (the size check before decoding) is read first, and must agree with the whole read.
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
  NPNG::CInfo aInfo;
  const bool aHeader = NPNG::readPNGInfo(aPath, aInfo);
  NPNG::CImage aImage;
  if (NPNG::readPNG(aPath, aImage)) {
    if (!aHeader || aInfo.mType != aImage.mType || aInfo.mXSize != aImage.mPixels.xSize() ||
        aInfo.mYSize != aImage.mPixels.ySize())
      __builtin_trap();
    const CTensor<float>& p = aImage.mPixels;
    const int aChannels = aImage.mType == NPNG::CType::kRGB ? 3 : 1;
    if (p.xSize() <= 0 || p.ySize() <= 0 || p.zSize() != aChannels) __builtin_trap();
    for (int i = 0; i < p.size(); i++)
      if (!(p.data()[i] >= 0.0f && p.data()[i] <= 255.0f)) __builtin_trap();
  }
  return 0;
}
