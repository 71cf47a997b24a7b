// Flows of the later frame pairs computed ahead of the tracker, on cores it leaves idle. The
// tracker works through the pairs one after the other and needs a pair's flows only when it
// gets there; the flows of a pair depend on its two frames alone. So, with cores to spare, the
// pairs after the current one are computed meanwhile, each into the flow cache with its record
// and pictures exactly as the tracker would write them, at most a fixed number in flight so
// that memory stays bounded. The tracker then reads them from the cache and logs them as
// computed; everything it writes is what it writes without help.
#pragma once

#include <future>
#include <vector>

#include "tracking/Tracker.h"

// Pairs computed ahead at most: with OpenMP's thread count C (OMP_NUM_THREADS, else the
// cores), (C - 2) / 2 pairs, each on two threads beside the tracker's own two, and never more
// than kMaxPairsAhead; 0 on two cores.
constexpr int kMaxPairsAhead = 4;
int pairsAhead();

class CFlowAhead {
 public:
  // What became of a pair ahead of the tracker.
  enum EOutcome {
    kNotDone,   // no job ran or it could not read its frames: the tracker does the pair itself
    kCached,    // the pair was in the cache already
    kComputed,  // the job computed the pair and wrote its cache files and pictures
    kFailed     // the job computed the pair but could not write it (it has said why)
  };

  // aAhead pairs at most in flight (0: never any) of the run's aPairs pairs (relative pair t
  // has frames mStartFrame + t and + t + 1 of aSettings, which must outlive the object).
  // aComputeFlow and aShowFlow are called from the jobs' threads and must allow that.
  CFlowAhead(const CRunSettings& aSettings, int aAhead, int aPairs, const CPairFlow& aComputeFlow,
             const CPairFlowPictures& aShowFlow);
  // Waits for the jobs still running.
  ~CFlowAhead();
  CFlowAhead(const CFlowAhead&) = delete;
  CFlowAhead& operator=(const CFlowAhead&) = delete;

  // At pair t: starts the jobs of the pairs t + 1 ... t + aAhead not started yet, and returns
  // the outcome of pair t's job (waiting for it), kNotDone when it had none.
  EOutcome atPair(int t);

 private:
  const CRunSettings& mSettings;
  int mAhead, mPairs;
  CPairFlow mComputeFlow;
  CPairFlowPictures mShowFlow;
  std::vector<std::future<EOutcome>> mJobs;
};
