// COpticFlow: the flow field's files and pictures. (The coarse-to-fine variational refinement
// that turns two frames and sparse descriptor matches into a dense flow: FlowPyramid.h.)
// A flow field is a CTensor<float> of width x height x 2: channel 0 = u, channel 1 = v, in
// pixels; (x, y) of the first frame corresponds to (x + u, y + v) of the second.
#pragma once

#include <cstdint>

#include "foundation/CTensor.h"

class COpticFlow {
 public:
  // Reads a ".flo" file into aFlow (tag, width, height, interleaved u/v floats). Returns false,
  // leaving aFlow untouched, when the file cannot be opened ("Could not open " + name on
  // standard output if aFileNotFoundMessage), when its length is not 12 + 8 * width * height,
  // when width or height is not positive or too large, when aExpectedXSize/aExpectedYSize
  // (ignored when negative) differ from the stored size, or when a value is not finite (a
  // damaged file). With aFingerprint, a successful read also gives the fingerprint
  // (NFingerprint) of the file's bytes.
  static bool readMiddlebury(const char* aFilename, CTensor<float>& aFlow,
                             bool aFileNotFoundMessage, int aExpectedXSize = -1,
                             int aExpectedYSize = -1, std::uint64_t* aFingerprint = nullptr);
  // Writes aFlow as a ".flo" file. The data go to a temporary file beside aFilename that is
  // renamed into place once complete, so a killed run never leaves a half-written cache.
  // Returns false, with one line on standard error naming the file and the reason, if the file
  // cannot be written completely. With aFingerprint, a successful write also gives the
  // fingerprint of the bytes written (the one readMiddlebury gives for the file).
  static bool writeMiddlebury(const CTensor<float>& aFlow, const char* aFilename,
                              std::uint64_t* aFingerprint = nullptr);
  // Renders aFlow with the colour wheel; vectors of length 2 * sqrt(2) * aDivisor or more are
  // fully saturated.
  static void flowToImage(const CTensor<float>& aFlow, CTensor<float>& aImage, float aDivisor);
  // Colour of one vector: hue from its direction, brightness from its length (clipped at 1).
  static void cartesianToRGB(float x, float y, float& R, float& G, float& B);
};
