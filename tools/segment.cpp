// quorvik-segment: segments a video of any length into moving objects, in overlapping windows
// that are runs of the quorvik program, linked into one region numbering (windows/SegmentVideo.h).
//
//   quorvik-segment INPUT OUTDIR [options]                 the whole video
//   quorvik-segment --plan FRAMES [--window N] [--overlap K]   the windows of a video
//   quorvik-segment --run-window I SEQUENCE.bmf [options]  one window (a workflow's job)
//   quorvik-segment --link SEQUENCE.bmf OUTDIR [options]   the linking (a workflow's job)
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/CommandLine.h"
#include "windows/SegmentVideo.h"
#include "windows/SequenceFolder.h"
#include "windows/WindowPlan.h"

namespace {

constexpr const char* kProgram = "quorvik-segment";
constexpr int kBadCommandLine = 2;
constexpr int kMaxNumber = 1000000;

const char* const kUsage =
    "usage: quorvik-segment INPUT OUTDIR [--window N] [--overlap K] [--step S] [--max-width W]\n"
    "                       [--jobs J] [--fps F] [--flows DIR] [--keep-windows]\n"
    "       quorvik-segment --plan FRAMES [--window N] [--overlap K]\n"
    "       quorvik-segment --run-window I SEQUENCE.bmf [--window N] [--overlap K] [--step S]\n"
    "       quorvik-segment --link SEQUENCE.bmf OUTDIR [--window N] [--overlap K] [--step S]\n"
    "  INPUT             a video file, a folder of pictures or a .bmf sequence\n"
    "  OUTDIR            results: Regions/Mask/Overlay<frame>.png for every frame (five digits\n"
    "                    or more), NAME-overlay.mp4, summary.txt; the work in OUTDIR/work/\n"
    "  --window N        frames per window (default 40)\n"
    "  --overlap K       frames consecutive windows share at least (default 10)\n"
    "  --step S          grid step of the trajectories in pixels (default 8)\n"
    "  --max-width W     frames wider than W pixels are scaled down (default 0: as they are)\n"
    "  --jobs J          programs running at once (default: one per core); each window's run\n"
    "                    has the cores divided among them as its threads (at least one), or\n"
    "                    all of them when it runs alone\n"
    "  --fps F           frame rate of the overlay video (default 25)\n"
    "  --flows DIR       take the flows of the pairs that DIR holds (a result folder, or\n"
    "                    quorvik-flow's) instead of computing them\n"
    "  --keep-windows    keep every file of the windows' runs\n"
    "  --plan FRAMES     print the windows of a video of FRAMES frames: index, first frame,\n"
    "                    frame count and folder, one window a line\n"
    "  --run-window I    run window I of a sequence whose flows are in its QuorvikResults/\n"
    "  --link            link the complete windows of a sequence and write the results\n"
    "  --help            print this and exit\n"
    "Running the same command again after an interruption computes only what is missing.";

int badCommandLine(const std::string& aProblem) {
  std::cerr << "quorvik-segment: " << aProblem << "\n" << kUsage << std::endl;
  return kBadCommandLine;
}

// The folder of this program, ending in "/", where the programs it runs are built too.
std::string programFolder(const char* aArgv0) {
  char aPath[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", aPath, sizeof(aPath) - 1);
  std::string aSelf = n > 0 ? std::string(aPath, static_cast<size_t>(n)) : aArgv0;
  const size_t aSlash = aSelf.rfind('/');
  return aSlash == std::string::npos ? "./" : aSelf.substr(0, aSlash + 1);
}

int segment(int argc, char** argv) {
  if (NCommandLine::wantsHelp(argc, argv)) {
    std::cout << kUsage << std::endl;
    return 0;
  }
  CSegmentOptions aOptions;
  aOptions.mPrograms = programFolder(argv[0]);
  aOptions.mProgress = isatty(2) != 0;
  std::vector<std::string> aPositional;
  std::string aMode;
  int aModeNumber = 0;
  for (int i = 1; i < argc; i++) {
    const std::string a = argv[i];
    // A value by the one rule for numbers (which reports a refusal itself), in aLow ... .
    bool aReported = false;
    auto number = [&](int aLow, int& aValue) {
      if (i + 1 >= argc) return false;
      aReported = !NCommandLine::parseInteger(kProgram, a, argv[++i], aLow, kMaxNumber, aValue);
      return !aReported;
    };
    bool aOk = true;
    if (a == "--window") {
      aOk = number(2, aOptions.mWindow);
    } else if (a == "--overlap") {
      aOk = number(0, aOptions.mOverlap);
    } else if (a == "--step") {
      aOk = number(1, aOptions.mStep);
    } else if (a == "--max-width") {
      aOk = number(0, aOptions.mMaxWidth);
    } else if (a == "--jobs") {
      aOk = number(1, aOptions.mJobs);
    } else if (a == "--fps") {
      aOk = i + 1 < argc;
      if (aOk) {
        aReported = !NCommandLine::parseDecimal(kProgram, a, argv[++i], aOptions.mFps);
        aOk = !aReported && aOptions.mFps > 0 && aOptions.mFps <= 1000;
      }
    } else if (a == "--flows") {
      aOk = i + 1 < argc && argv[i + 1][0] != '\0';
      if (aOk) aOptions.mFlows = argv[++i];
    } else if (a == "--keep-windows") {
      aOptions.mKeepWindows = true;
    } else if (a == "--plan" || a == "--run-window" || a == "--link") {
      if (!aMode.empty()) return badCommandLine("only one of --plan, --run-window, --link");
      aMode = a;
      if (a != "--link") aOk = number(a == "--plan" ? 1 : 0, aModeNumber);
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return badCommandLine("unknown option " + a);
    } else {
      aPositional.push_back(a);
      continue;
    }
    if (aReported) return kBadCommandLine;
    if (!aOk) return badCommandLine("bad or missing value for " + a);
  }
  if (aOptions.mOverlap >= aOptions.mWindow)
    return badCommandLine("the overlap must be smaller than the window");

  if (aMode == "--plan") {
    if (!aPositional.empty()) return badCommandLine("--plan takes no other argument");
    const std::vector<CWindow> aPlan =
        planWindows(aModeNumber, aOptions.mWindow, aOptions.mOverlap);
    for (size_t w = 0; w < aPlan.size(); w++)
      std::cout << w << " " << aPlan[w].mFirst << " " << aPlan[w].mCount << " "
                << windowFolder(aPlan[w], aModeNumber) << "\n";
    return 0;
  }
  if (aMode == "--run-window") {
    if (aPositional.size() != 1) return badCommandLine("--run-window I takes one SEQUENCE.bmf");
    return runWindowJob(aPositional[0], aModeNumber, aOptions);
  }
  if (aMode == "--link") {
    if (aPositional.size() != 2) return badCommandLine("--link takes SEQUENCE.bmf and OUTDIR");
    return linkJob(aPositional[0], aPositional[1], aOptions);
  }
  if (aPositional.size() != 2) return badCommandLine("expected INPUT and OUTDIR");
  return segmentVideo(aPositional[0], aPositional[1], aOptions);
}

}  // namespace

int main(int argc, char** argv) {
  useProgramAllocator();
  return NCommandLine::runProgram(kProgram, [&] { return segment(argc, argv); });
}
