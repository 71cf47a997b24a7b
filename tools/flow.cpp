// quorvik-flow [--frame N] FIRST.ppm SECOND.ppm [MORE.ppm ...] OUTDIR: the forward and backward
// optical flow of each pair of consecutive frames given, computed exactly as the tracker computes
// it and written as the tracker writes it into its result folder: "ForwardFlow%03d.flo",
// "BackwardFlow%03d.flo", their record "FlowSource%03d.txt" and their colour pictures, numbered
// N, N + 1, ... (N the absolute number of the first frame; default 0). With OUTDIR the run's
// result folder, the run then reads these flows instead of computing them, so the pairs of a long
// sequence can be computed as separate jobs. A pair whose flows and record in OUTDIR already
// match its two frames is not computed again. The pairs of one invocation share each middle
// frame's preparation and the memory of the pair before, which a program per pair would fill
// anew.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>

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

const char* const kUsage =
    "Usage: quorvik-flow [--frame N] FIRST.ppm SECOND.ppm [MORE.ppm ...] OUTDIR";
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

// A frame as the flow needs it: its picture, the fingerprint of the picture as read, and once
// prepared the smoothed picture with its HOG field and energy.
struct CFrame {
  CTensor<float> mImage, mHOG;
  CMatrix<float> mEnergy;
  std::uint64_t mFingerprint = 0;
  bool mPrepared = false;

  // False after an error line.
  bool read(const char* aFilename) {
    mPrepared = false;
    if (!readFrame(aFilename, mImage)) return false;
    mFingerprint = frameFingerprint(mImage);
    return true;
  }
  void prepare() {
    if (mPrepared) return;
    prepareFrame(mImage, mHOG, mEnergy);
    mPrepared = true;
  }
};

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
  const int aFrameCount = argc - aFirstArgument - 1;
  if (aFrameCount < 2) {
    std::cerr << kUsage << std::endl;
    return kBadCommandLine;
  }
  if (aFrameCount - 1 > kMaxFrame - aFrame) {
    std::cerr << "quorvik-flow: too many frames after --frame " << aFrame << std::endl;
    return kBadCommandLine;
  }
  // The frame before the pair and the pair's second frame; each is prepared (smoothed in place,
  // HOG field and energy) only when a pair needs its flow computed.
  CFrame aFirst, aSecond;
  if (!aFirst.read(argv[aFirstArgument])) return 1;
  const std::string aDir = std::string(argv[argc - 1]) + "/";
  if (!ensureDirectory(aDir)) return 1;
  for (int p = 0; p + 1 < aFrameCount; p++) {
    const char* aName = argv[aFirstArgument + p + 1];
    if (!aSecond.read(aName)) return 1;
    if (aFirst.mImage.xSize() != aSecond.mImage.xSize() ||
        aFirst.mImage.ySize() != aSecond.mImage.ySize()) {
      std::cerr << "Frames differ in size: " << aFirst.mImage.xSize() << "x"
                << aFirst.mImage.ySize() << " and " << aSecond.mImage.xSize() << "x"
                << aSecond.mImage.ySize() << " (" << aName << ")" << std::endl;
      return 1;
    }
    const int aNumber = aFrame + p;
    CFlowSource aSource;
    aSource.mXSize = aFirst.mImage.xSize();
    aSource.mYSize = aFirst.mImage.ySize();
    aSource.mFirst = aFirst.mFingerprint;
    aSource.mSecond = aSecond.mFingerprint;
    CTensor<float> aForward, aBackward;
    if (!readCachedFlows(aDir, aNumber, aSource, aForward, aBackward)) {
      // Prepared exactly like the tracker's frames, so the flow is the one the tracker computes.
      aFirst.prepare();
      aSecond.prepare();
      CMatching::hogFlow(aFirst.mImage, aSecond.mImage, aFirst.mHOG, aSecond.mHOG, aFirst.mEnergy,
                         aSecond.mEnergy, aForward, aBackward);
      if (!writeCachedFlows(aDir, aNumber, aSource, aForward, aBackward)) return 1;
    }
    if (!writeFlowPictures(aDir, aNumber, aForward, aBackward)) return 1;
    std::swap(aFirst, aSecond);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return NCommandLine::runProgram(kProgram, [&] { return computeFlow(argc, argv); });
}
