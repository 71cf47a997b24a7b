// The settings of a run: the sequence, the frame range and grid step, the frame size, the
// folders and the tuning of the graph. A run's driver fills them once before the run starts;
// every phase takes them by reference and reads them.
#pragma once

#include <string>
#include <vector>

#include "foundation/CTensor.h"
#include "foundation/CVector.h"

// Tuning of the higher-order graph and of its triple affinities, with their initial values.
struct CGraphTuning {
  int SAMPLE_RAND_COUNT = 30;  // random third members per edge
  int SAMPLE_NN_COUNT = 12;    // nearest neighbours of each end node used as third members
  float TOL_COVERED_PERCENTAGE = 0.93f;  // share of all track points the graph's tracks must cover
  float ADJACENCY_WEIGHT = 0.1f;         // scale of the affinity exponent
  int FRAME_SAMPLE = 8;                  // frame gap of a triple sample on long windows
  int FRAME_STEP = 3;                    // stride between triple samples on long windows
};

struct CRunSettings {
  // Full path names of all frames of the .bmf file; index = absolute frame number.
  CVector<std::string> mInput;
  // Path of the .bmf file as given.
  std::string mSequenceFile;
  // Sequence name: the .bmf file's base name up to its first ".".
  std::string mFilename;
  // Directory of the .bmf file including the trailing "/", or empty.
  std::string mInputDir;
  // mInputDir + "QuorvikResults/"; every output file is written here.
  std::string mResultDir;
  // Absolute index of the first processed frame, and the number of processed frames.
  int mStartFrame = 0;
  int mSequenceLength = 0;
  // Grid spacing in pixels for seeding tracks.
  int mStep = 0;
  // Frame width and height, from the first processed frame.
  int mXSize = 0, mYSize = 0;
  CGraphTuning mTuning;
};

// Reads the frame names of the ".bmf" file aPath (frame count, ignored view count, then the
// names) into aNames, each prefixed with aPrefix (the file's folder, so that the names become
// paths). False after one line on standard error when the file cannot be opened, does not start
// with the two counts or holds fewer names than its count.
bool readFrameList(const std::string& aPath, const std::string& aPrefix,
                   std::vector<std::string>& aNames);

// Reads absolute frame aFrame of aSettings.mInput (a colour P6 picture) into aImage. False after
// one line on standard error.
bool readFrame(const CRunSettings& aSettings, int aFrame, CTensor<float>& aImage);
