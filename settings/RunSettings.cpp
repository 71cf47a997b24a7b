#include "settings/RunSettings.h"

#include <fstream>
#include <iostream>

// The names are collected one by one, so a count larger than the file holds never allocates
// more than the file's size.
bool readFrameList(const std::string& aPath, const std::string& aPrefix,
                   std::vector<std::string>& aNames) {
  aNames.clear();
  std::ifstream aFile(aPath);
  if (!aFile) {
    std::cerr << "Cannot open sequence description " << aPath << std::endl;
    return false;
  }
  long long aImageCount = -1, aViewCount = 0;
  if (!(aFile >> aImageCount >> aViewCount) || aImageCount < 0) {
    std::cerr << "Sequence description " << aPath
              << " does not start with a frame count and a view count" << std::endl;
    return false;
  }
  std::string aName;
  while (static_cast<long long>(aNames.size()) < aImageCount && aFile >> aName)
    aNames.push_back(aPrefix + aName);
  if (static_cast<long long>(aNames.size()) < aImageCount) {
    std::cerr << "Sequence description " << aPath << " lists " << aNames.size()
              << " frame names but announces " << aImageCount << std::endl;
    return false;
  }
  return true;
}

bool readFrame(const CRunSettings& aSettings, int aFrame, CTensor<float>& aImage) {
  const std::string& aName = aSettings.mInput(aFrame);
  if (!aImage.readFromPPM(aName.c_str())) return false;
  if (aImage.zSize() != 3) {
    std::cerr << "Frame " << aName << " is not a colour (P6) picture" << std::endl;
    return false;
  }
  return true;
}
