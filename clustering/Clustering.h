// The clustering phase: from the run's trajectories to labelled motion clusters. Builds the
// higher-order graph, splits the graph's trajectories spectrally and merges clusters that one
// affine motion explains.
#pragma once

#include <ostream>
#include <vector>

#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "tracking/CTrack.h"

// Wall-clock seconds of each stage of a clustering call (for benchmarks).
struct CClusteringTimes {
  double mGraph = 0;
  double mSplit = 0;
  double mMerge = 0;
};

// Sets every mLabel of aTracks (cluster number, -1 for none), sets aState.mRegionNo and
// rebuilds aState.mGraph; the graph, the splitting and the k-means draw from aState's random
// numbers. Trajectories without a step take no part. Writes the track counts and the time of
// each stage ("clustering   >> ...") around the stages' own lines to the status log aStatus.
// aTimes (optional) receives the stages' times.
void clustering(const CRunSettings& aSettings, std::vector<CTrack>& aTracks,
                CClusteringState& aState, std::ostream& aStatus,
                CClusteringTimes* aTimes = nullptr);
