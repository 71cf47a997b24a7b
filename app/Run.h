// The run's set-up and output steps: command line, sequence description, result folder,
// status log, segment pictures and the closing time line. main calls them in run order.
#pragma once

#include <ctime>
#include <string>

#include "foundation/CTensor.h"

// Exit status of a run that was refused or failed after it started.
constexpr int kRunFailed = 1;
// Exit status when the first argument is not a ".bmf" file.
constexpr int kNotABmfFile = -1;

// Raises the data-segment limit to 6,000,000,000 bytes (hard 7,000,000,000); a limit that is
// already higher or unlimited stays as it is.
void raiseDataSegmentLimit();

// Reads the ".bmf" file aPath (frame count, ignored view count, frame names) into mInput,
// prefixing every name with mInputDir. False after one line on standard error when the file
// cannot be opened or holds fewer names than its count.
bool readSequenceDescription(const std::string& aPath);

// Checks the command line, reads the sequence description into mInput, derives the paths,
// creates the result folder and opens the status log. Returns 0 on success, otherwise the exit
// status after one line on standard error (standard output for a wrong extension); nothing is
// written before the arguments and the sequence description have been accepted.
int setUpRun(int argc, char** argv);

// Reads absolute frame aFrame of mInput into aImage. False after one line on standard error.
bool readFrame(int aFrame, CTensor<float>& aImage);

// Writes "Segments%03d.ppm" for every processed frame: the frame brightened towards white and
// every track present at that frame as a square in its region's colour. False after one line
// on standard error when a picture cannot be read or written.
bool writeSegmentPictures();

// Appends the "Computation time: " line (processor seconds since aStart) and closes the status
// log. False after one line on standard error when the log could not be written completely.
bool finishRun(std::clock_t aStart);
