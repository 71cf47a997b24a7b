// The run's settings: the sequence, the frame range and grid step, the frame size, the result
// folder and the status log. The driver sets them once when the run starts; every later phase
// reads them and appends whole lines to the status log. Also the one place where the names of
// the result files are formed.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/CTensor.h"
#include "foundation/CVector.h"

// Full path names of all frames of the .bmf file; index = absolute frame number.
extern CVector<std::string> mInput;
// Sequence name: the .bmf file's base name up to its first ".".
extern std::string mFilename;
// Directory of the .bmf file including the trailing "/", or empty.
extern std::string mInputDir;
// mInputDir + "QuorvikResults/"; every output file is written here.
extern std::string mResultDir;
// Absolute index of the first processed frame, and the number of processed frames.
extern int mStartFrame;
extern int mSequenceLength;
// Grid spacing in pixels for seeding tracks.
extern int mStep;
// Frame width and height, from the first processed frame.
extern int mXSize, mYSize;
// Status log of the run.
extern std::ofstream mStatus;

// Reads the frame names of the ".bmf" file aPath (frame count, ignored view count, then the
// names) into aNames, each prefixed with aPrefix (the file's folder, so that the names become
// paths). False after one line on standard error when the file cannot be opened, does not start
// with the two counts or holds fewer names than its count.
bool readFrameList(const std::string& aPath, const std::string& aPrefix,
                   std::vector<std::string>& aNames);

// Reads absolute frame aFrame of mInput (a colour P6 picture) into aImage. False after one line
// on standard error.
bool readFrame(int aFrame, CTensor<float>& aImage);

// aPattern formatted with aNumbers (printf conversions such as "Segments%03d.ppm"); at most
// 255 characters.
template <class... TNumbers>
std::string formatName(const char* aPattern, TNumbers... aNumbers) {
  char aName[256];
  std::snprintf(aName, sizeof(aName), aPattern, aNumbers...);
  return aName;
}

// The result file mResultDir + formatName(aPattern, aNumbers...).
template <class... TNumbers>
std::string resultFileName(const char* aPattern, TNumbers... aNumbers) {
  return mResultDir + formatName(aPattern, aNumbers...);
}
