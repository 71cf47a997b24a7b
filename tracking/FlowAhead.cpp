#include "tracking/FlowAhead.h"

#include <omp.h>

#include <algorithm>
#include <functional>

#include "flow/FlowCache.h"
#include "flow/FramePreparation.h"
#include "foundation/Exceptions.h"

namespace {

// Threads of one pair's flow (forward and backward side by side), and the tracker's.
constexpr int kThreadsPerPair = 2;

// Pair t's flows into the cache; runs on a job's thread, so it throws nothing and writes to
// nothing but its own pair's files.
CFlowAhead::EOutcome computePair(const CRunSettings& aSettings, int t,
                                 const CPairFlow& aComputeFlow,
                                 const CPairFlowPictures& aShowFlow) {
  const int a = aSettings.mStartFrame + t;
  CTensor<float> aImage1, aImage2;
  try {
    if (!aImage1.readFromPPM(aSettings.mInput(a).c_str()) ||
        !aImage2.readFromPPM(aSettings.mInput(a + 1).c_str()))
      return CFlowAhead::kNotDone;
  } catch (const EInvalidFileFormat&) {
    return CFlowAhead::kNotDone;
  }
  for (const CTensor<float>* aImage : {&aImage1, &aImage2})
    if (aImage->xSize() != aSettings.mXSize || aImage->ySize() != aSettings.mYSize ||
        aImage->zSize() != 3)
      return CFlowAhead::kNotDone;
  CFlowSource aSource;
  aSource.mXSize = aSettings.mXSize;
  aSource.mYSize = aSettings.mYSize;
  aSource.mFirst = frameFingerprint(aImage1);
  aSource.mSecond = frameFingerprint(aImage2);
  CTensor<float> aForward, aBackward;
  if (readCachedFlows(aSettings.mResultDir, a, aSource, aForward, aBackward))
    return CFlowAhead::kCached;
  CTensor<float> aHOG1, aHOG2;
  CMatrix<float> aEnergy1, aEnergy2;
  prepareFrame(aImage1, aHOG1, aEnergy1);
  prepareFrame(aImage2, aHOG2, aEnergy2);
  aComputeFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
  if (!writeCachedFlows(aSettings.mResultDir, a, aSource, aForward, aBackward))
    return CFlowAhead::kFailed;
  if (aShowFlow && !aShowFlow(aForward, aBackward, t)) return CFlowAhead::kFailed;
  return CFlowAhead::kComputed;
}

}  // namespace

int pairsAhead() {
  return std::max(
      0, std::min(kMaxPairsAhead, (omp_get_max_threads() - kThreadsPerPair) / kThreadsPerPair));
}

CFlowAhead::CFlowAhead(const CRunSettings& aSettings, int aAhead, int aPairs,
                       const CPairFlow& aComputeFlow, const CPairFlowPictures& aShowFlow)
    : mSettings(aSettings),
      mAhead(std::max(aAhead, 0)),
      mPairs(aPairs),
      mComputeFlow(aComputeFlow),
      mShowFlow(aShowFlow),
      mJobs(std::max(aPairs, 0)) {}

CFlowAhead::~CFlowAhead() {
  for (std::future<EOutcome>& aJob : mJobs)
    if (aJob.valid()) aJob.wait();
}

CFlowAhead::EOutcome CFlowAhead::atPair(int t) {
  if (mAhead == 0) return kNotDone;
  for (int p = t + 1; p <= t + mAhead && p < mPairs; p++) {
    if (mJobs[p].valid()) continue;
    try {
      mJobs[p] = std::async(std::launch::async, computePair, std::cref(mSettings), p, mComputeFlow,
                            mShowFlow);
    } catch (const std::system_error&) {
      break;  // no thread to be had: the tracker does these pairs itself
    }
  }
  if (t < 0 || t >= mPairs || !mJobs[t].valid()) return kNotDone;
  return mJobs[t].get();
}
