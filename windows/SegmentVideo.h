// The long-video mode (quorvik-segment): a video file, a folder of pictures or a ".bmf"
// sequence segmented into moving objects in overlapping windows, each window a run of the
// quorvik program, and the windows' regions linked into one numbering for the whole video.
//
// OUTDIR holds the results, for every frame f of the video (names with frameDigits digits):
//   Regions<f>.png, Mask<f>.png, Overlay<f>.png   (LinkedResults.h)
//   NAME-overlay.mp4                               the overlay pictures as one video
//   summary.txt                                    frames, windows, regions, seconds, memory
// and the work in OUTDIR/work/ (a sequence folder, SequenceFolder.h): the imported frames, the
// flows of every frame pair (computed once, by quorvik-flow), the windows' runs, the logs.
// Everything that is complete there is kept, so a second invocation after an interruption
// computes only the pairs and windows that are missing.
#pragma once

#include <string>

#include "windows/WindowPlan.h"

struct CSegmentOptions {
  int mWindow = kDefaultWindow;
  int mOverlap = kDefaultOverlap;
  // Grid step of every window's run, in pixels.
  int mStep = 8;
  // Frames wider than this are scaled down on import (aspect kept); 0 keeps their size.
  int mMaxWidth = 0;
  // Programs running at once (flow pairs and windows); 0: one per core.
  int mJobs = 0;
  // OpenMP threads of each window's run (OMP_NUM_THREADS); 0: the cores shared among the jobs.
  // More threads than cores cost more than they give: two windows of two threads each on two
  // cores took longer side by side than two of one thread, with the same results.
  int mWindowThreads = 0;
  // OpenMP threads of a window's run that starts when no other program runs and none is left to
  // start (the only window of a short video; the last window of a long one, which waits for the
  // last flows), so it has the machine to itself to the end; 0: every core. The results are the
  // same with any number of threads.
  int mAloneThreads = 0;
  // Frame rate of the overlay video.
  double mFps = 25;
  // A folder holding flows of the video's frame pairs (a result folder of an earlier run or of
  // quorvik-flow): the pairs found there are shared (hard links) rather than computed. A run
  // still checks each against its frames and computes a pair whose record names others.
  std::string mFlows;
  // Keep every file of the windows' runs (otherwise their tracking, segment and overlay
  // pictures go once the window is done).
  bool mKeepWindows = false;
  // Show a progress line on standard error (on a terminal).
  bool mProgress = false;
  // Folder of the programs quorvik, quorvik-flow and import-video, ending in "/".
  std::string mPrograms;
};

// Sets this process's memory allocator as the programs it starts get theirs (blocks up to 32 MiB
// from the heap, freed memory kept for reuse), unless the caller set GLIBC_TUNABLES: the linking
// reads and writes pictures of a few MiB for every frame, on fresh pages each time otherwise.
// For a program's main, before any other work.
void useProgramAllocator();

// Exit status when a signal (SIGINT, SIGTERM, SIGHUP) stopped the work.
constexpr int kSegmentStopped = 130;

// quorvik-segment INPUT OUTDIR: import, flows, windows, linking, overlay video and summary.
// Returns 0 when done, kSegmentStopped when a signal stopped it (the running programs are ended
// with it) and 1 after one line on standard error when something failed (a program's failure
// names its log). One invocation at a time per OUTDIR.
int segmentVideo(const std::string& aInput, const std::string& aOutDir,
                 const CSegmentOptions& aOptions);

// Window aIndex of the plan of the sequence aBmf (a sequence folder whose flows are computed):
// prepares its folder, runs it with its output on this process's and records it complete.
// Returns the run's exit status (1 after one line for a bad index or a failed preparation).
// A workflow runs every window as a job of its own with this.
int runWindowJob(const std::string& aBmf, int aIndex, const CSegmentOptions& aOptions);

// Links the complete windows of the sequence aBmf and writes the video's results, its overlay
// video and its summary into aOutDir, as segmentVideo does after its windows. Returns 0, or 1
// after one line on standard error (a window that is not complete is named).
int linkJob(const std::string& aBmf, const std::string& aOutDir, const CSegmentOptions& aOptions);
