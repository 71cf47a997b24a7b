#include "app/Run.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/FlowPictures.h"
#include "app/Globals.h"

namespace {

constexpr rlim_t kDataSoftLimit = 6000000000ULL;
constexpr rlim_t kDataHardLimit = 7000000000ULL;
// Grey of tracks that belong to no region.
constexpr float kUnlabelledGrey = 230.0f;
// Segment pictures blend the frame with white: value * 0.7 + 255 * 0.3.
constexpr double kFrameShare = 0.7;
constexpr double kWhiteShare = 76.5;

// strtol as the command line is specified: text that is not a number gives 0. Only a number
// beyond the range of int is invalid, since it cannot be held without changing its value.
long parseNumber(const char* aText, bool& aValid) {
  errno = 0;
  const long aValue = std::strtol(aText, nullptr, 10);
  aValid = errno == 0 && aValue >= -2147483647L && aValue <= 2147483647L;
  return aValue;
}

// The result folder is made with mkdir(2), never through a shell, so any path is safe.
bool makeResultDirectory(const std::string& aPath) {
  if (mkdir(aPath.c_str(), 0777) == 0) return true;
  struct stat aInfo;
  if (errno == EEXIST && stat(aPath.c_str(), &aInfo) == 0 && S_ISDIR(aInfo.st_mode)) return true;
  std::cerr << "Cannot create result folder " << aPath << ": " << std::strerror(errno) << std::endl;
  return false;
}

}  // namespace

// The names are collected one by one, so a count larger than the file holds never allocates
// more than the file's size.
bool readSequenceDescription(const std::string& aPath) {
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
  std::vector<std::string> aNames;
  std::string aName;
  while (static_cast<long long>(aNames.size()) < aImageCount && aFile >> aName)
    aNames.push_back(mInputDir + aName);
  if (static_cast<long long>(aNames.size()) < aImageCount) {
    std::cerr << "Sequence description " << aPath << " lists " << aNames.size()
              << " frame names but announces " << aImageCount << std::endl;
    return false;
  }
  mInput.setSize(static_cast<int>(aNames.size()));
  for (size_t i = 0; i < aNames.size(); i++) mInput(static_cast<int>(i)) = aNames[i];
  return true;
}

void raiseDataSegmentLimit() {
  struct rlimit aLimit;
  if (getrlimit(RLIMIT_DATA, &aLimit) != 0) return;
  struct rlimit aWanted = aLimit;
  if (aWanted.rlim_max != RLIM_INFINITY && aWanted.rlim_max < kDataHardLimit)
    aWanted.rlim_max = kDataHardLimit;
  if (aWanted.rlim_cur != RLIM_INFINITY && aWanted.rlim_cur < kDataSoftLimit)
    aWanted.rlim_cur = kDataSoftLimit;
  if (setrlimit(RLIMIT_DATA, &aWanted) == 0) return;
  // Without the privilege to raise the hard limit, raise the soft limit as far as it allows.
  aWanted.rlim_max = aLimit.rlim_max;
  if (aWanted.rlim_max != RLIM_INFINITY && aWanted.rlim_cur > aWanted.rlim_max)
    aWanted.rlim_cur = aWanted.rlim_max;
  setrlimit(RLIMIT_DATA, &aWanted);
}

int setUpRun(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "Usage: " << (argc > 0 ? argv[0] : "quorvik") << " SEQUENCE.bmf FIRST COUNT STEP"
              << std::endl;
    return kRunFailed;
  }
  const std::string aPath = argv[1];
  const size_t aSlash = aPath.rfind('/');
  mInputDir = aSlash == std::string::npos ? "" : aPath.substr(0, aSlash + 1);
  const size_t aDot = aPath.rfind('.');
  const std::string aSuffix = aDot == std::string::npos ? "" : aPath.substr(aDot);
  if (aSuffix != ".bmf" && aSuffix != ".BMF") {
    std::cout << "Must pass a bmf file as input" << std::endl;
    return kNotABmfFile;
  }

  bool aValid[3];
  const long aStart = parseNumber(argv[2], aValid[0]);
  const long aLength = parseNumber(argv[3], aValid[1]);
  const long aStep = parseNumber(argv[4], aValid[2]);
  const char* aNames[3] = {"first frame", "frame count", "grid step"};
  for (int i = 0; i < 3; i++)
    if (!aValid[i]) {
      std::cerr << "The " << aNames[i] << " is out of range: \"" << argv[2 + i] << "\""
                << std::endl;
      return kRunFailed;
    }
  if (aStart < 0) {
    std::cerr << "The first frame must be 0 or more, not " << aStart << std::endl;
    return kRunFailed;
  }
  if (aLength < 1) {
    std::cerr << "The frame count must be at least 1, not " << aLength << std::endl;
    return kRunFailed;
  }
  if (aStep < 1) {
    std::cerr << "The grid step must be at least 1, not " << aStep << std::endl;
    return kRunFailed;
  }

  if (!readSequenceDescription(aPath)) return kRunFailed;
  if (aStart + aLength > mInput.size()) {
    std::cerr << "Frames " << aStart << " to " << aStart + aLength - 1 << " run past the end of "
              << aPath << ", which lists " << mInput.size() << " frames" << std::endl;
    return kRunFailed;
  }
  const std::string aBaseName = aSlash == std::string::npos ? aPath : aPath.substr(aSlash + 1);
  mFilename = aBaseName.substr(0, aBaseName.find('.'));

  mResultDir = mInputDir + "QuorvikResults";
  if (!makeResultDirectory(mResultDir)) return kRunFailed;
  mResultDir += "/";
  buildColorCode();
  mStartFrame = static_cast<int>(aStart);
  mSequenceLength = static_cast<int>(aLength);
  mStep = static_cast<int>(aStep);

  const std::string aStatusName = mResultDir + "Status" + std::to_string(mSequenceLength) + ".txt";
  mStatus.open(aStatusName, std::ios::out | std::ios::trunc);
  if (!mStatus) {
    std::cerr << "Cannot write status log " << aStatusName << ": " << std::strerror(errno)
              << std::endl;
    return kRunFailed;
  }
  return 0;
}

bool readFrame(int aFrame, CTensor<float>& aImage) {
  if (!aImage.readFromPPM(mInput(aFrame).c_str())) return false;
  if (aImage.zSize() != 3) {
    std::cerr << "Frame " << mInput(aFrame) << " is not a colour (P6) picture" << std::endl;
    return false;
  }
  return true;
}

bool writeSegmentPictures() {
  const int r = mStep / 4;
  for (int t = 0; t < mSequenceLength; t++) {
    const int a = mStartFrame + t;
    CTensor<float> aShow(mXSize, mYSize, 3, 255.0f);
    if (!readFrame(a, aShow)) return false;
    if (aShow.xSize() != mXSize || aShow.ySize() != mYSize) {
      std::cerr << "Frame " << mInput(a) << " is " << aShow.xSize() << " x " << aShow.ySize()
                << ", not " << mXSize << " x " << mYSize << " like the first frame" << std::endl;
      return false;
    }
    float* aData = aShow.data();
    for (int i = 0; i < aShow.size(); i++)
      aData[i] = static_cast<float>(aData[i] * kFrameShare + kWhiteShare);
    for (const CTrack& aTrack : mTracks) {
      const int aTime = t - aTrack.mSetupTime;
      if (aTime < 0 || aTime > static_cast<int>(aTrack.mx.size())) continue;
      const int x = aTime == 0 ? aTrack.mox : static_cast<int>(aTrack.mx[aTime - 1]);
      const int y = aTime == 0 ? aTrack.moy : static_cast<int>(aTrack.my[aTime - 1]);
      float aColor[3] = {kUnlabelledGrey, kUnlabelledGrey, kUnlabelledGrey};
      if (aTrack.mLabel >= 0) {
        // The palette has 25 colours; higher labels reuse them cyclically.
        const int aLabel = aTrack.mLabel % kPaletteSize;
        aColor[0] = static_cast<float>(mR[aLabel]);
        aColor[1] = static_cast<float>(mG[aLabel]);
        aColor[2] = static_cast<float>(mB[aLabel]);
      }
      const int x1 = std::max(x - r, 0), y1 = std::max(y - r, 0);
      const int x2 = x + r < mXSize ? x + r : mXSize - 1;
      const int y2 = y + r < mYSize ? y + r : mYSize - 1;
      for (int c = 0; c < 3; c++)
        for (int yy = y1; yy <= y2; yy++)
          for (int xx = x1; xx <= x2; xx++) aShow(xx, yy, c) = aColor[c];
    }
    char aName[32];
    std::snprintf(aName, sizeof(aName), "Segments%03d.ppm", a);
    if (!aShow.writeToPPM((mResultDir + aName).c_str())) return false;
  }
  return true;
}

bool finishRun(std::clock_t aStart) {
  const std::clock_t aFinish = std::clock();
  mStatus << "Computation time: " << (aFinish - aStart) / 1000000.0 << " seconds" << std::endl;
  mStatus.close();
  if (mStatus.fail()) {
    std::cerr << "Cannot write status log in " << mResultDir << std::endl;
    return false;
  }
  return true;
}
