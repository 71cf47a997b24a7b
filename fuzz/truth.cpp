// Feeds arbitrary bytes to the evaluation as the ground-truth annotation of a three-frame
// 16 x 12 sequence with one labelled trajectory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "evaluation/ComputeError.h"
#include "settings/ResultNames.h"
#include "settings/RunSettings.h"

namespace {

CRunSettings setUp() {
  const std::string aFolder = "/tmp/quorvik-fuzz-truth-" + std::to_string(getpid()) + "/";
  std::filesystem::create_directories(aFolder + NResultNames::kFolder);
  CRunSettings aSettings;
  aSettings.mInput.setSize(3);
  for (int a = 0; a < 3; a++) {
    aSettings.mInput(a) = aFolder + "f" + std::to_string(a) + ".ppm";
    CTensor<float> aFrame(16, 12, 3, 100.0f);
    aFrame.writeToPPM(aSettings.mInput(a).c_str());
  }
  aSettings.mInputDir = aFolder;
  aSettings.mResultDir = aFolder + NResultNames::kFolder + "/";
  aSettings.mFilename = "f";
  aSettings.mStartFrame = 0;
  aSettings.mSequenceLength = 3;
  aSettings.mStep = 4;
  aSettings.mXSize = 16;
  aSettings.mYSize = 12;
  return aSettings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const CRunSettings aSettings = setUp();
  FILE* aFile = fopen((aSettings.mInputDir + NResultNames::annotation("f")).c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  std::vector<CTrack> aTracks(2);
  aTracks[0].mox = 3, aTracks[0].moy = 4, aTracks[0].mLabel = 1;
  aTracks[0].mx = {4.0f, 5.0f};
  aTracks[0].my = {4.0f, 4.5f};
  aTracks[1].mox = 12, aTracks[1].moy = 8, aTracks[1].mLabel = 0;
  computeError(aSettings, aTracks, 2);
  return 0;
}
