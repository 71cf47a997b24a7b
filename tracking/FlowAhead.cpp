#include "tracking/FlowAhead.h"

#include <omp.h>

#include <algorithm>

#include "flow/FlowCache.h"
#include "flow/FramePreparation.h"
#include "foundation/Exceptions.h"
#include "settings/RunSettings.h"

namespace {

// Threads of one pair's flow (forward and backward side by side), and the tracker's.
constexpr int kThreadsPerPair = 2;

// Pair t's flows into the cache; runs on a job's thread, so it throws nothing and writes to
// nothing but its own pair's files.
CFlowAhead::EOutcome computePair(int t, const CPairFlow& aComputeFlow,
                                 const CPairFlowPictures& aShowFlow) {
  CTensor<float> aImage1, aImage2;
  try {
    if (!aImage1.readFromPPM(mInput(mStartFrame + t).c_str()) ||
        !aImage2.readFromPPM(mInput(mStartFrame + t + 1).c_str()))
      return CFlowAhead::kNotDone;
  } catch (const EInvalidFileFormat&) {
    return CFlowAhead::kNotDone;
  }
  for (const CTensor<float>* aImage : {&aImage1, &aImage2})
    if (aImage->xSize() != mXSize || aImage->ySize() != mYSize || aImage->zSize() != 3)
      return CFlowAhead::kNotDone;
  CFlowSource aSource;
  aSource.mXSize = mXSize;
  aSource.mYSize = mYSize;
  aSource.mFirst = frameFingerprint(aImage1);
  aSource.mSecond = frameFingerprint(aImage2);
  CTensor<float> aForward, aBackward;
  if (readCachedFlows(mResultDir, mStartFrame + t, aSource, aForward, aBackward))
    return CFlowAhead::kCached;
  CTensor<float> aHOG1, aHOG2;
  CMatrix<float> aEnergy1, aEnergy2;
  prepareFrame(aImage1, aHOG1, aEnergy1);
  prepareFrame(aImage2, aHOG2, aEnergy2);
  aComputeFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
  if (!writeCachedFlows(mResultDir, mStartFrame + t, aSource, aForward, aBackward))
    return CFlowAhead::kFailed;
  if (aShowFlow && !aShowFlow(aForward, aBackward, t)) return CFlowAhead::kFailed;
  return CFlowAhead::kComputed;
}

}  // namespace

int pairsAhead() {
  return std::max(
      0, std::min(kMaxPairsAhead, (omp_get_max_threads() - kThreadsPerPair) / kThreadsPerPair));
}

CFlowAhead::CFlowAhead(int aAhead, int aPairs, const CPairFlow& aComputeFlow,
                       const CPairFlowPictures& aShowFlow)
    : mAhead(std::max(aAhead, 0)),
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
      mJobs[p] = std::async(std::launch::async, computePair, p, mComputeFlow, mShowFlow);
    } catch (const std::system_error&) {
      break;  // no thread to be had: the tracker does these pairs itself
    }
  }
  if (t < 0 || t >= mPairs || !mJobs[t].valid()) return kNotDone;
  return mJobs[t].get();
}
