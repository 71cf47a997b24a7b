// Cluster splitting: turns the trajectories of one label into motion regions through the
// spectral embedding of the global trajectory graph mGraph (one node per trajectory).
#pragma once

#include <vector>

#include "tracking/CTrack.h"

// Embeds the trajectories whose mLabel is aLabel, drops eigenvectors that only cut off a
// group lighter than 100 (sum of square roots of track lengths; that group's trajectories
// become outliers with label -1), segments the rest into regions and writes the labels:
// region 0 keeps aLabel, region r > 0 gets r + aRegionNo - 1; aRegionNo grows by the number of
// regions minus one. Every trajectory's mProjection is replaced by its normalised coordinates
// in the kept eigenvectors (-100 for trajectories of other labels); mEigVals receives the kept
// eigenvectors' weights. Writes "Before N-Cut.", "After N-Cut.", "Before segmentation." and
// "After segmentation." to the status log.
void splitTracks(int aLabel, std::vector<CTrack>& aTracks, int& aRegionNo);
