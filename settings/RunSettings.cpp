#include "settings/RunSettings.h"

#include <iostream>

CVector<std::string> mInput;
std::string mFilename;
std::string mInputDir;
std::string mResultDir;
int mStartFrame = 0;
int mSequenceLength = 0;
int mStep = 0;
int mXSize = 0, mYSize = 0;
std::ofstream mStatus;

bool readFrame(int aFrame, CTensor<float>& aImage) {
  if (!aImage.readFromPPM(mInput(aFrame).c_str())) return false;
  if (aImage.zSize() != 3) {
    std::cerr << "Frame " << mInput(aFrame) << " is not a colour (P6) picture" << std::endl;
    return false;
  }
  return true;
}
