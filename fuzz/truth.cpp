// Feeds arbitrary bytes to the evaluation as the ground-truth annotation of a three-frame
// 16 x 12 sequence with one labelled trajectory.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "evaluation/ComputeError.h"
#include "flow/FlowPictures.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"

namespace {

const std::string& setUp() {
  static const std::string aFolder = "/tmp/quorvik-fuzz-truth-" + std::to_string(getpid()) + "/";
  std::filesystem::create_directories(aFolder + "QuorvikResults");
  mInput.setSize(3);
  for (int a = 0; a < 3; a++) {
    mInput(a) = aFolder + "f" + std::to_string(a) + ".ppm";
    CTensor<float> aFrame(16, 12, 3, 100.0f);
    aFrame.writeToPPM(mInput(a).c_str());
  }
  mInputDir = aFolder;
  mResultDir = aFolder + "QuorvikResults/";
  mFilename = "f";
  mStartFrame = 0;
  mSequenceLength = 3;
  mStep = 4;
  mXSize = 16;
  mYSize = 12;
  mRegionNo = 2;
  buildColorCode();
  return aFolder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const std::string aFolder = setUp();
  FILE* aFile = fopen((aFolder + "f_truth.txt").c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  std::vector<CTrack> aTracks(2);
  aTracks[0].mox = 3, aTracks[0].moy = 4, aTracks[0].mLabel = 1;
  aTracks[0].mx = {4.0f, 5.0f};
  aTracks[0].my = {4.0f, 4.5f};
  aTracks[1].mox = 12, aTracks[1].moy = 8, aTracks[1].mLabel = 0;
  computeError(aTracks);
  return 0;
}
