// The clustering phase: from the run's trajectories to labelled motion clusters. Builds the
// higher-order graph, splits the graph's trajectories spectrally and merges clusters that one
// affine motion explains.
#pragma once

#include <vector>

#include "tracking/CTrack.h"

// Sets every mLabel of aTracks (cluster number, -1 for none) and mRegionNo, and rebuilds
// mGraph. Trajectories without a step take no part. Writes the track counts and the time of
// each stage ("clustering   >> ...") around the stages' own lines to the status log.
void clustering(std::vector<CTrack>& aTracks);

// Wall-clock seconds of each stage of the last clustering call (for benchmarks).
struct CClusteringTimes {
  double mGraph = 0;
  double mSplit = 0;
  double mMerge = 0;
};
const CClusteringTimes& lastClusteringTimes();
