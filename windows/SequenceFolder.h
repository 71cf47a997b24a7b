// A sequence as the long-video mode keeps it on disk, and the runs of its windows:
//
//   SEQ/NAME.bmf                 the frames, named relative to SEQ
//   SEQ/QuorvikResults/          the flows of every frame pair, as quorvik-flow writes them
//   SEQ/windows/FIRST-LAST/      one folder per window (WindowPlan.h): NAME.bmf, the same frames
//                                named from there, and the QuorvikResults/ of the window's run,
//                                "quorvik NAME.bmf FIRST COUNT STEP", which finds the flows of
//                                its pairs there, shared with SEQ/QuorvikResults/ (hard links)
//
// A result folder serves one run at a time, so every window has its own; the flows are computed
// once and shared, never copied.
#pragma once

#include <string>
#include <vector>

#include "windows/WindowPlan.h"

struct CSequence {
  std::string mBmf;     // path of NAME.bmf
  std::string mFolder;  // its folder, ending in "/", or empty
  std::string mName;    // NAME: the file's name up to its first dot
  // Frame names as the file lists them (relative to mFolder).
  std::vector<std::string> mFrames;
  int frames() const { return static_cast<int>(mFrames.size()); }
};

// Reads aBmf into aSequence. False after one line on standard error when it cannot be read.
bool openSequence(const std::string& aBmf, CSequence& aSequence);

// The folder of the shared flows, ending in "/".
std::string flowFolder(const CSequence& aSequence);
// True when the flows of the pair that starts at frame aPair are in flowFolder: its record
// (written last) and both flows.
bool pairDone(const CSequence& aSequence, int aPair);

// Shares into flowFolder the flows of the pairs that are not there but in aFolder (ending in
// "/"): the pair's record and both flows, when all three are there. False after one line on
// standard error.
bool shareFlows(const CSequence& aSequence, const std::string& aFolder);

// A window's folder (ending in "/") and its run's result folder.
std::string windowPath(const CSequence& aSequence, const CWindow& aWindow);
std::string windowResults(const CSequence& aSequence, const CWindow& aWindow);

// Makes the window's folder ready for its run: its NAME.bmf and, in its result folder, the
// flows of its pairs that flowFolder holds, linked (a symbolic link where the file system has no
// hard links). False after one line on standard error.
bool prepareWindow(const CSequence& aSequence, const CWindow& aWindow);

// The command line of the window's run with grid step aStep; aQuorvik is the program's path.
std::vector<std::string> windowRun(const std::string& aQuorvik, const CSequence& aSequence,
                                   const CWindow& aWindow, int aStep);

// Records in the window's folder that its run (with grid step aStep) ended well. False after one
// line on standard error.
bool recordWindowDone(const CSequence& aSequence, const CWindow& aWindow, int aStep);

// True when the window's run with grid step aStep is complete: recorded by recordWindowDone, its
// status log ends with the run's closing "Computation time" line, and the region map and the
// mask of every frame exist.
bool windowDone(const CSequence& aSequence, const CWindow& aWindow, int aStep);

// How many flows the window's run computed itself (its status log's "Compute optical flow"
// lines): none when the shared flows fitted its frames.
int flowsComputed(const CSequence& aSequence, const CWindow& aWindow);

// Removes from a complete window what the linking does not need (its tracking, segment and
// overlay pictures, and its links to the flows), keeping region maps, masks, trajectories and
// status log.
void tidyWindow(const CSequence& aSequence, const CWindow& aWindow);
