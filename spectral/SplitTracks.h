// Cluster splitting: turns the trajectories of one label into motion regions through the
// spectral embedding of the run's trajectory graph (one node per trajectory).
#pragma once

#include <ostream>
#include <vector>

#include "spectral/CGraph.h"
#include "tracking/CTrack.h"

// Embeds the trajectories whose mLabel is aLabel in aState.mGraph, drops eigenvectors that only
// cut off a group lighter than 100 (sum of square roots of track lengths; that group's
// trajectories become outliers with label -1), segments the rest into regions and writes the
// labels: region 0 keeps aLabel, region r > 0 gets r + mRegionNo - 1; aState.mRegionNo grows by
// the number of regions minus one. Every trajectory's mProjection is replaced by its normalised
// coordinates in the kept eigenvectors (-100 for trajectories of other labels); aState.mEigVals
// receives the kept eigenvectors' weights. Draws from aState.mRandom and aState.mEigenStart.
// Writes "Before N-Cut.", "After N-Cut.", "Before segmentation." and "After segmentation." to
// the status log aStatus.
void splitTracks(int aLabel, std::vector<CTrack>& aTracks, CClusteringState& aState,
                 std::ostream& aStatus);
