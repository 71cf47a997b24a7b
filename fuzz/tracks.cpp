// Feeds arbitrary bytes to the trajectory-cache reader: the bytes become the cache file of a
// 10-frame run with grid step 8.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "settings/RunSettings.h"
#include "tracking/TrackFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
  static const std::string aFolder = "/tmp/quorvik-fuzz-tracks-" + std::to_string(getpid()) + "/";
  static const bool aMade = std::filesystem::create_directories(aFolder) || true;
  (void)aMade;
  CRunSettings aSettings;
  aSettings.mResultDir = aFolder;
  aSettings.mFilename = "f";
  aSettings.mStartFrame = 0;
  aSettings.mSequenceLength = 10;
  aSettings.mStep = 8;
  FILE* aFile = fopen(trackCacheFileName(aSettings).c_str(), "wb");
  if (aFile == nullptr) return 0;
  fwrite(aData, 1, aSize, aFile);
  fclose(aFile);
  std::vector<CTrack> aTracks;
  if (readTrackFromFile(aSettings, aTracks)) {
    for (const CTrack& aTrack : aTracks)
      if (aTrack.mSetupTime < 0 || aTrack.mSetupTime + aTrack.mx.size() > 10u) __builtin_trap();
  }
  return 0;
}
