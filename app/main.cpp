// quorvik SEQUENCE.bmf FIRST COUNT STEP: segments the frames FIRST ... FIRST + COUNT - 1 of a
// sequence into independently moving objects and writes the results into QuorvikResults/
// beside the sequence description.
#include <csignal>
#include <ctime>

#include "app/FlowPictures.h"
#include "app/Globals.h"
#include "app/Run.h"
#include "clustering/Clustering.h"
#include "evaluation/ComputeError.h"
#include "flow/CMatching.h"
#include "foundation/Exceptions.h"
#include "tracking/TrackFiles.h"
#include "tracking/Tracker.h"

namespace {

int run(int argc, char** argv) {
  // Beyond a file-size limit a write should fail and be reported, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  raiseDataSegmentLimit();
  if (const int aStatus = setUpRun(argc, argv); aStatus != 0) return aStatus;
  const std::clock_t aStart = std::clock();

  CTensor<float> aFirstFrame;
  if (!readFrame(mStartFrame, aFirstFrame)) return kRunFailed;
  mXSize = aFirstFrame.xSize();
  mYSize = aFirstFrame.ySize();

  // Trajectories: from the cache when this range was tracked before, else from the frames.
  if (!readTrackFromFile(mTracks)) {
    mStatus << "Tracks are being computed..." << std::endl;
    if (!computeTracks(aFirstFrame, &CMatching::hogFlow, &showFlow)) return kRunFailed;
  }

  clustering(mTracks);

  // Output.
  if (!writeTracks()) return kRunFailed;
  computeError(mTracks);
  if (!writeSegmentPictures()) return kRunFailed;
  if (!finishRun(aStart)) return kRunFailed;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The foundation's exceptions have written their message already; end with a failure
  // status rather than an abort.
  try {
    return run(argc, argv);
  } catch (const EInvalidFileFormat&) {
  } catch (const ETensorIncompatibleSize&) {
  } catch (const EIncompatibleMatrices&) {
  } catch (const EFilterIncompatibleSize&) {
  } catch (const EFilterNotAvailable&) {
  } catch (const ENonquadraticMatrix&) {
  }
  return kRunFailed;
}
