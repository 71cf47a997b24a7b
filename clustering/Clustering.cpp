#include "clustering/Clustering.h"

#include <sys/time.h>
#include <unistd.h>

#include <iostream>

#include "clustering/MergeClustersAffine.h"
#include "graph/HOGraph.h"
#include "spectral/SplitTracks.h"

namespace {

// Wall-clock seconds.
double now() {
  timeval tim;
  gettimeofday(&tim, nullptr);
  return tim.tv_sec + tim.tv_usec / 1e6;
}

// Progress for a person watching: one line per stage on a terminal, nothing elsewhere.
void showStage(const char* aStage, int aCount) {
  static const bool aTerminal = isatty(STDERR_FILENO) == 1;
  if (aTerminal) std::cerr << "clustering: " << aStage << " (" << aCount << " tracks)" << std::endl;
}

}  // namespace

void clustering(const CRunSettings& aSettings, std::vector<CTrack>& aTracks,
                CClusteringState& aState, std::ostream& aStatus, CClusteringTimes* aTimes) {
  CClusteringTimes aStageTimes;
  CVector<bool> aValidTracks(static_cast<int>(aTracks.size()), true);
  int aValidcount = 0;
  for (size_t i = 0; i < aTracks.size(); i++) {
    aTracks[i].mLabel = -1;
    // A trajectory of its start point alone carries no motion.
    if (aTracks[i].mx.empty()) aValidTracks(static_cast<int>(i)) = false;
    if (aValidTracks(static_cast<int>(i))) aValidcount++;
  }
  aStatus << "clustering   >> number of tracks: " << aTracks.size() << std::endl;
  aStatus << "clustering   >> number of valid tracks: " << aValidcount << std::endl;

  showStage("building the graph", aValidcount);
  double _start1 = now();
  buildHOGraph(aSettings, aTracks, aValidTracks, aState.mGraph, aState.mRandom);
  double _finish1 = now();
  aStageTimes.mGraph = _finish1 - _start1;
  aStatus << "clustering   >> TIME FOR build Graph:    [ " << _finish1 - _start1 << " sec ]"
          << std::endl;

  // All graph trajectories start as cluster 0.
  aState.mRegionNo = 1;
  showStage("splitting", aValidcount);
  _start1 = now();
  splitTracks(0, aTracks, aState, aStatus);
  _finish1 = now();
  aStageTimes.mSplit = _finish1 - _start1;
  aStatus << "clustering   >> TIME FOR split Tracks:   [ " << _finish1 - _start1 << " sec ]"
          << std::endl;

  showStage("merging", aValidcount);
  _start1 = now();
  mergeClustersAffine(aSettings, aTracks, aState.mRegionNo, aStatus);
  _finish1 = now();
  aStageTimes.mMerge = _finish1 - _start1;
  aStatus << "clustering   >> TIME FOR mergeClusters:  [ " << _finish1 - _start1 << " sec ]"
          << std::endl;
  if (aTimes != nullptr) *aTimes = aStageTimes;
}
