// The run as a library: the whole program from its command line to its last output file
// (runQuorvik), which main, the benchmarks and the end-to-end tests share, and its set-up and
// closing steps.
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "foundation/CTensor.h"
#include "tracking/Tracker.h"

// Exit status of a run that was refused or failed after it started.
constexpr int kRunFailed = 1;
// Exit status when the first argument is not a ".bmf" file.
constexpr int kNotABmfFile = -1;
// setUpRun's status after "--help" printed the usage; the run then ends with status 0.
constexpr int kHelpShown = -2;

// Lets a caller watch or replace parts of a run; the default runs the program as it is.
struct CRunHooks {
  // Computes the flows of a frame pair that is not cached; CMatching::hogFlow when empty.
  CPairFlow mPairFlow;
  // Called when a phase has ended: "tracks" (computed or read from the cache), "clustering",
  // "regions" (the result tracks and the dense regions) and "output" (evaluation, segment
  // pictures, status log).
  std::function<void(const char* aPhase)> mPhaseDone;
};

// The whole run of "quorvik SEQUENCE.bmf FIRST COUNT STEP" (argv[0] is the program's name):
// set-up, tracks from the cache or the tracker, clustering, "Tracks%d.dat", evaluation, segment
// pictures and the closing time line. Returns the program's exit status. Exceptions of the
// foundation (whose constructors have printed their message) end the run with kRunFailed, and
// so does a failed allocation (after the line "quorvik: out of memory"). "quorvik --help"
// prints the usage on standard output and returns 0.
int runQuorvik(int argc, char** argv, const CRunHooks& aHooks = CRunHooks());

// Raises the data-segment limit to 6,000,000,000 bytes (hard 7,000,000,000); a limit that is
// already higher or unlimited stays as it is.
void raiseDataSegmentLimit();

// Reads the ".bmf" file aPath (frame count, ignored view count, frame names) into mInput,
// prefixing every name with mInputDir. False after one line on standard error when the file
// cannot be opened or holds fewer names than its count.
bool readSequenceDescription(const std::string& aPath);

// Checks the command line (FIRST, COUNT and STEP are whole numbers by NCommandLine's rule:
// "6x", " 6" and "+6" are refused), reads the sequence description into mInput, derives the
// paths, creates the result folder, holds it for this run (holdResultFolder) and opens the status
// log. Returns 0 on success, kHelpShown after the usage on standard output for "--help", otherwise
// the exit status after one line on standard error (standard output for a wrong extension);
// nothing is written before the arguments and the sequence description have been accepted,
// and nothing in the folder while another run holds it.
int setUpRun(int argc, char** argv);

// Appends the "Computation time: " line (processor seconds since aStart) and closes the status
// log. False after one line on standard error when the log could not be written completely.
bool finishRun(std::clock_t aStart);
