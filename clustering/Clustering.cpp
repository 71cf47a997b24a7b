#include "clustering/Clustering.h"

#include <sys/time.h>
#include <unistd.h>

#include <iostream>

#include "clustering/MergeClustersAffine.h"
#include "graph/HOGraph.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
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

CClusteringTimes theTimes;

}  // namespace

const CClusteringTimes& lastClusteringTimes() {
  return theTimes;
}

void clustering(std::vector<CTrack>& aTracks) {
  CVector<bool> aValidTracks(static_cast<int>(aTracks.size()), true);
  int aValidcount = 0;
  for (size_t i = 0; i < aTracks.size(); i++) {
    aTracks[i].mLabel = -1;
    // A trajectory of its start point alone carries no motion.
    if (aTracks[i].mx.empty()) aValidTracks(static_cast<int>(i)) = false;
    if (aValidTracks(static_cast<int>(i))) aValidcount++;
  }
  mStatus << "clustering   >> number of tracks: " << aTracks.size() << std::endl;
  mStatus << "clustering   >> number of valid tracks: " << aValidcount << std::endl;

  showStage("building the graph", aValidcount);
  double _start1 = now();
  buildHOGraph(aTracks, aValidTracks, mGraph);
  double _finish1 = now();
  theTimes.mGraph = _finish1 - _start1;
  mStatus << "clustering   >> TIME FOR build Graph:    [ " << _finish1 - _start1 << " sec ]"
          << std::endl;

  // All graph trajectories start as cluster 0.
  mRegionNo = 1;
  showStage("splitting", aValidcount);
  _start1 = now();
  splitTracks(0, aTracks, mRegionNo);
  _finish1 = now();
  theTimes.mSplit = _finish1 - _start1;
  mStatus << "clustering   >> TIME FOR split Tracks:   [ " << _finish1 - _start1 << " sec ]"
          << std::endl;

  showStage("merging", aValidcount);
  _start1 = now();
  mergeClustersAffine(aTracks);
  _finish1 = now();
  theTimes.mMerge = _finish1 - _start1;
  mStatus << "clustering   >> TIME FOR mergeClusters:  [ " << _finish1 - _start1 << " sec ]"
          << std::endl;
}
