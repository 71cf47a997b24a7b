// quorvik-flow [--frame N] FIRST.ppm SECOND.ppm OUTDIR: the forward and backward optical flow
// of one frame pair, computed exactly as the tracker computes it and written as the tracker
// writes it into its result folder: "ForwardFlow%03d.flo", "BackwardFlow%03d.flo", their record
// "FlowSource%03d.txt" and their colour pictures, numbered N (the absolute number of the first
// frame; default 0). With OUTDIR the run's result folder, the run then reads these flows
// instead of computing them, so the pairs of a long sequence can be computed as separate jobs.
// A pair whose flows and record in OUTDIR already match the two frames is not computed again.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "flow/CMatching.h"
#include "flow/FlowCache.h"
#include "flow/FlowPictures.h"
#include "flow/FramePreparation.h"
#include "foundation/CTensor.h"
#include "foundation/CommandLine.h"
#include "foundation/Exceptions.h"

namespace {

// The smoothers and derivative masks need a few pixels along every line.
constexpr int kMinSide = 4;

const char* const kUsage = "Usage: quorvik-flow [--frame N] FIRST.ppm SECOND.ppm OUTDIR";
constexpr const char* kProgram = "quorvik-flow";
// Exit status of a bad command line.
constexpr int kBadCommandLine = 2;
// Largest first frame of a pair (the file names hold any number of digits).
constexpr long long kMaxFrame = 1000000000LL;

// Reads a PPM (or a grey PGM, whose one channel becomes red, green and blue). False after an
// error line.
bool readFrame(const char* aFilename, CTensor<float>& aFrame) {
  CTensor<float> aPicture;
  try {
    if (!aPicture.readFromPPM(aFilename)) return false;  // the reader printed the reason
  } catch (const EInvalidFileFormat&) {
    return false;  // the exception printed the reason
  }
  if (aPicture.xSize() < kMinSide || aPicture.ySize() < kMinSide) {
    std::cerr << "Frame " << aFilename << " is too small: " << aPicture.xSize() << "x"
              << aPicture.ySize() << " (at least " << kMinSide << "x" << kMinSide << ")"
              << std::endl;
    return false;
  }
  if (aPicture.zSize() == 3) {
    aFrame = aPicture;
  } else {
    aFrame.setSize(aPicture.xSize(), aPicture.ySize(), 3);
    const int aCount = aPicture.xSize() * aPicture.ySize();
    for (int c = 0; c < 3; c++)
      for (int i = 0; i < aCount; i++) aFrame[i + c * aCount] = aPicture[i];
  }
  return true;
}

// Creates aDir if it does not exist yet. False after an error line.
bool ensureDirectory(const std::string& aDir) {
  struct stat aInfo;
  if (stat(aDir.c_str(), &aInfo) == 0) {
    if (S_ISDIR(aInfo.st_mode)) return true;
    std::cerr << "Output folder " << aDir << " exists and is not a folder" << std::endl;
    return false;
  }
  if (mkdir(aDir.c_str(), 0777) != 0) {
    std::cerr << "Cannot create output folder " << aDir << ": " << std::strerror(errno)
              << std::endl;
    return false;
  }
  return true;
}

int computeFlow(int argc, char** argv) {
  if (NCommandLine::wantsHelp(argc, argv)) {
    std::cout << kUsage << std::endl;
    return 0;
  }
  int aFrame = 0;
  int aFirstArgument = 1;
  if (argc > 1 && std::string(argv[1]) == "--frame") {
    if (argc < 3) {
      std::cerr << "quorvik-flow: --frame needs a frame number 0 or more" << std::endl;
      return kBadCommandLine;
    }
    if (!NCommandLine::parseInteger(kProgram, "--frame", argv[2], 0, kMaxFrame, aFrame))
      return kBadCommandLine;
    aFirstArgument = 3;
  }
  if (argc - aFirstArgument != 3) {
    std::cerr << kUsage << std::endl;
    return kBadCommandLine;
  }
  CTensor<float> aImage1, aImage2;
  if (!readFrame(argv[aFirstArgument], aImage1) || !readFrame(argv[aFirstArgument + 1], aImage2))
    return 1;
  if (aImage1.xSize() != aImage2.xSize() || aImage1.ySize() != aImage2.ySize()) {
    std::cerr << "Frames differ in size: " << aImage1.xSize() << "x" << aImage1.ySize() << " and "
              << aImage2.xSize() << "x" << aImage2.ySize() << std::endl;
    return 1;
  }
  const std::string aDir = std::string(argv[aFirstArgument + 2]) + "/";
  if (!ensureDirectory(aDir)) return 1;

  CFlowSource aSource;
  aSource.mXSize = aImage1.xSize();
  aSource.mYSize = aImage1.ySize();
  aSource.mFirst = frameFingerprint(aImage1);
  aSource.mSecond = frameFingerprint(aImage2);
  CTensor<float> aForward, aBackward;
  if (readCachedFlows(aDir, aFrame, aSource, aForward, aBackward))
    return writeFlowPictures(aDir, aFrame, aForward, aBackward) ? 0 : 1;

  // Prepared exactly like the tracker's frames, so the flow is the one the tracker computes.
  CTensor<float> aHOG1, aHOG2;
  CMatrix<float> aEnergy1, aEnergy2;
  prepareFrame(aImage1, aHOG1, aEnergy1);
  prepareFrame(aImage2, aHOG2, aEnergy2);
  CMatching::hogFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
  if (!writeCachedFlows(aDir, aFrame, aSource, aForward, aBackward) ||
      !writeFlowPictures(aDir, aFrame, aForward, aBackward))
    return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return NCommandLine::runProgram(kProgram, [&] { return computeFlow(argc, argv); });
}
