// quorvik-flow FIRST.ppm SECOND.ppm OUTDIR: the forward and backward optical flow of one frame
// pair, computed exactly as the tracker computes it, written as "ForwardFlow000.flo",
// "BackwardFlow000.flo" and their colour pictures into OUTDIR.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>

#include "flow/CMatching.h"
#include "flow/COpticFlow.h"
#include "flow/FramePreparation.h"
#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"

namespace {

// Vectors of 2 * sqrt(2) * kFlowDivisor pixels or more are drawn fully saturated.
constexpr float kFlowDivisor = 4.0f;
// The smoothers and derivative masks need a few pixels along every line.
constexpr int kMinSide = 4;

const char* const kUsage = "Usage: quorvik-flow FIRST.ppm SECOND.ppm OUTDIR";

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

bool writeField(const CTensor<float>& aFlow, const std::string& aDir, const std::string& aName) {
  if (!COpticFlow::writeMiddlebury(aFlow, (aDir + "/" + aName + ".flo").c_str())) return false;
  CTensor<float> aPicture;
  COpticFlow::flowToImage(aFlow, aPicture, kFlowDivisor);
  return aPicture.writeToPPM((aDir + "/" + aName + ".ppm").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << kUsage << std::endl;
    return 2;
  }
  CTensor<float> aImage1, aImage2;
  if (!readFrame(argv[1], aImage1) || !readFrame(argv[2], aImage2)) return 1;
  if (aImage1.xSize() != aImage2.xSize() || aImage1.ySize() != aImage2.ySize()) {
    std::cerr << "Frames differ in size: " << aImage1.xSize() << "x" << aImage1.ySize() << " and "
              << aImage2.xSize() << "x" << aImage2.ySize() << std::endl;
    return 1;
  }
  const std::string aDir = argv[3];
  if (!ensureDirectory(aDir)) return 1;

  // Prepared exactly like the tracker's frames, so the flow is the one the tracker computes.
  CTensor<float> aHOG1, aHOG2;
  CMatrix<float> aEnergy1, aEnergy2;
  prepareFrame(aImage1, aHOG1, aEnergy1);
  prepareFrame(aImage2, aHOG2, aEnergy2);
  CTensor<float> aForward, aBackward;
  CMatching::hogFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
  if (!writeField(aForward, aDir, "ForwardFlow000") ||
      !writeField(aBackward, aDir, "BackwardFlow000"))
    return 1;
  return 0;
}
