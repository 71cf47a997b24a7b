// quorvik-regions: recomputes the dense regions, the moving-object masks and the overlays of a
// finished run from its labelled trajectories ("Tracks<N>.dat"), the flows in its result
// folder and its frames, without flow, tracking or clustering: the run's own dense-regions
// phase (densify/Densification.h) on the same inputs, so it writes what the run would.
#include <sys/stat.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "app/Run.h"
#include "densify/Densification.h"
#include "foundation/CTensor.h"
#include "foundation/CommandLine.h"
#include "settings/RunSettings.h"
#include "tracking/TrackFiles.h"

namespace {

const char* const kUsage =
    "usage: quorvik-regions --sequence SEQUENCE.bmf --tracks FILE [--first N] [--out DIR]\n"
    "  --sequence FILE  the run's sequence description (its frames)\n"
    "  --tracks FILE    the run's Tracks<N>.dat; the flows are read from its folder\n"
    "  --first N        absolute frame of the run's first frame (default 0)\n"
    "  --out DIR        where Regions%03d.png, Mask%03d.png and Overlay%03d.png go (default:\n"
    "                   the tracks file's folder)\n"
    "  --help           print this and exit";

constexpr const char* kProgram = "quorvik-regions";

constexpr int kBadCommandLine = 2;
constexpr int kFailed = 1;

struct COptions {
  std::string mSequence, mTracks, mOut;
  int mFirst = 0;
  bool mHasOut = false;
};

bool parseOptions(int argc, char** argv, COptions& o) {
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    const bool aHasValue = i + 1 < argc;
    bool aOk = true;
    if (a == "--sequence" && aHasValue) {
      o.mSequence = argv[++i];
      aOk = !o.mSequence.empty();
    } else if (a == "--tracks" && aHasValue) {
      o.mTracks = argv[++i];
      aOk = !o.mTracks.empty();
    } else if (a == "--out" && aHasValue) {
      o.mOut = argv[++i];
      o.mHasOut = aOk = !o.mOut.empty();
    } else if (a == "--first" && aHasValue) {
      if (!NCommandLine::parseInteger(kProgram, a, argv[++i], 0, 99999, o.mFirst)) return false;
    } else {
      std::cerr << "quorvik-regions: unknown or incomplete option " << a << "\n"
                << kUsage << std::endl;
      return false;
    }
    if (!aOk) {
      std::cerr << "quorvik-regions: bad value for " << a << "\n" << kUsage << std::endl;
      return false;
    }
  }
  if (o.mSequence.empty() || o.mTracks.empty()) {
    std::cerr << "quorvik-regions: --sequence and --tracks are required\n" << kUsage << std::endl;
    return false;
  }
  return true;
}

// aPath's folder with a trailing "/", or empty for a bare name.
std::string folderOf(const std::string& aPath) {
  const size_t aSlash = aPath.rfind('/');
  return aSlash == std::string::npos ? std::string() : aPath.substr(0, aSlash + 1);
}

}  // namespace

int regions(int argc, char** argv) {
  if (NCommandLine::wantsHelp(argc, argv)) {
    std::cout << kUsage << std::endl;
    return 0;
  }
  COptions o;
  if (!parseOptions(argc, argv, o)) return kBadCommandLine;
  int aLength = 0;
  std::vector<CTrack> aTracks;
  if (!readTracks(o.mTracks, aLength, aTracks)) return kFailed;
  CRunSettings aSettings;
  aSettings.mInputDir = folderOf(o.mSequence);
  if (!readSequenceDescription(o.mSequence, aSettings.mInputDir, aSettings.mInput)) return kFailed;
  if (o.mFirst + aLength > aSettings.mInput.size()) {
    std::cerr << "quorvik-regions: frames " << o.mFirst << " to " << o.mFirst + aLength - 1
              << " of " << o.mTracks << " run past the end of " << o.mSequence << ", which lists "
              << aSettings.mInput.size() << " frames" << std::endl;
    return kFailed;
  }
  CDenseInput aInput;
  for (int t = 0; t < aLength; t++) aInput.mFrames.push_back(aSettings.mInput(o.mFirst + t));
  aInput.mFirstFrame = o.mFirst;
  aInput.mFlowDir = folderOf(o.mTracks);
  aInput.mOutputDir = aInput.mFlowDir;
  if (o.mHasOut) {
    aInput.mOutputDir = o.mOut.back() == '/' ? o.mOut : o.mOut + "/";
    struct stat aStat;
    if (stat(o.mOut.c_str(), &aStat) != 0 || !S_ISDIR(aStat.st_mode)) {
      std::cerr << "quorvik-regions: the output folder " << o.mOut << " does not exist"
                << std::endl;
      return kFailed;
    }
  }
  if (aLength > 0) {
    CTensor<float> aFirst;
    if (!readFrame(aSettings, o.mFirst, aFirst)) return kFailed;
    aInput.mXSize = aFirst.xSize();
    aInput.mYSize = aFirst.ySize();
  }
  CDenseSummary aSummary;
  if (!computeDenseRegions(aInput, aTracks, &aSummary)) return kFailed;
  // What the regions were made from, so that a recomputation whose flows were not accepted
  // (flow records of another format) and so judged without motion is seen at once.
  std::cout << "quorvik-regions: " << aLength << " frames, " << aTracks.size()
            << " trajectories, flows of " << aSummary.mPairsWithFlows << " of "
            << std::max(aLength - 1, 0) << " frame pairs" << std::endl;
  return 0;
}

int main(int argc, char** argv) {
  return NCommandLine::runProgram(kProgram, [&] { return regions(argc, argv); });
}
