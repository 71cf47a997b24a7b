// The run as a library: the whole program from its settings to its last output file, which
// main, the benchmarks, the end-to-end tests and any embedding program share. A run owns all
// its state (CRun), so that several runs may follow one another or run side by side in one
// process, each with the results of a process of its own.
#pragma once

#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "clustering/Clustering.h"
#include "foundation/CTensor.h"
#include "foundation/CVector.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "tracking/CTrack.h"
#include "tracking/Tracker.h"

// Exit status of a run that was refused or failed after it started.
constexpr int kRunFailed = 1;
// Exit status when the first argument is not a ".bmf" file.
constexpr int kNotABmfFile = -1;
// readCommandLine's status after "--help" printed the usage; the program then ends with 0.
constexpr int kHelpShown = -2;

// Everything one run owns: its settings (the frame size filled in from the first frame), its
// status log, its trajectories, its clustering state (graph, region count, eigenvalue weights
// and random numbers) and the times of the clustering's stages.
struct CRun {
  CRunSettings mSettings;
  std::ofstream mStatus;
  std::vector<CTrack> mTracks;
  CClusteringState mClustering;
  CClusteringTimes mClusteringTimes;
};

// Lets a caller watch or replace parts of a run; the default runs the program as it is.
struct CRunHooks {
  // Computes the flows of a frame pair that is not cached; CMatching::hogFlow when empty.
  CPairFlow mPairFlow;
  // Called with the run when a phase has ended: "tracks" (computed or read from the cache),
  // "clustering", "regions" (the result tracks and the dense regions) and "output"
  // (evaluation, segment pictures, status log).
  std::function<void(const char* aPhase, const CRun& aRun)> mPhaseDone;
};

// The program "quorvik SEQUENCE.bmf FIRST COUNT STEP" (argv[0] is its name), for main: ignores
// SIGXFSZ (a write beyond a file-size limit fails and is reported) and raises the data-segment
// limit for the whole process, then runs readCommandLine and the run of its settings. Returns
// the program's exit status; "quorvik --help" prints the usage on standard output and
// returns 0.
int runQuorvik(int argc, char** argv, const CRunHooks& aHooks = CRunHooks());

// The run of aSettings (as readCommandLine fills them; mXSize and mYSize are taken from the
// first frame): creates the result folder, holds it for this run (app/ResultFolder.h) and opens
// the status log, then tracks from the cache or the tracker, clustering, "Tracks%d.dat", dense
// regions, evaluation, segment pictures and the closing time line. Returns the exit status: 0,
// or kRunFailed after one line on standard error. Exceptions of the foundation (whose
// constructors have printed their message) end the run with kRunFailed, and so does a failed
// allocation (after the line "quorvik: out of memory"). Uses nothing of the process but its
// files and worker threads: runs of other result folders may run at the same time on other
// threads.
int runQuorvik(const CRunSettings& aSettings, const CRunHooks& aHooks = CRunHooks());

// Raises the data-segment limit to 6,000,000,000 bytes (hard 7,000,000,000); a limit that is
// already higher or unlimited stays as it is.
void raiseDataSegmentLimit();

// Reads the ".bmf" file aPath (frame count, ignored view count, frame names) into aInput,
// prefixing every name with aInputDir. False after one line on standard error when the file
// cannot be opened or holds fewer names than its count.
bool readSequenceDescription(const std::string& aPath, const std::string& aInputDir,
                             CVector<std::string>& aInput);

// The settings of the command line "quorvik SEQUENCE.bmf FIRST COUNT STEP" (FIRST, COUNT and
// STEP are whole numbers by NCommandLine's rule: "6x", " 6" and "+6" are refused): reads the
// sequence description into mInput and derives the names and folders. Writes nothing. Returns 0
// on success, kHelpShown after the usage on standard output for "--help", otherwise the exit
// status after one line on standard error (standard output for a wrong extension).
int readCommandLine(int argc, char** argv, CRunSettings& aSettings);

// Appends the "Computation time: " line (processor seconds since aStart) to aRun's status log and
// closes it. False after one line on standard error when the log could not be written completely.
bool finishRun(CRun& aRun, std::clock_t aStart);
