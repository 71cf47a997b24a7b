// Merging of motion clusters: after the spectral splitting, neighbouring clusters whose
// frame-to-frame motion one common affine model explains almost as well as two separate
// models are merged, one pair at a time, until every remaining pair costs too much.
#pragma once

#include <ostream>
#include <vector>

#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// Greedily merges adjacent clusters of aTracks (labels 0 ... aRegionNo - 1, -1 = none).
// Clusters are adjacent when a member lists a member of the other among its nearest
// neighbours or when two members come closer than 2 * mStep pixels in a common frame. The
// cost of a pair is the mean growth of the flow-variation weighted affine residual per
// member for the worse of the two, in the frame where that growth times the smaller member
// count is largest; the cheapest pair is merged while its cost is at most 2. A merged
// cluster's members take the lower label; the labels keep their range. Writes "Merging..." and
// one "Merging a and b: cost" line per merge to the status log aStatus. Reads mSequenceLength
// and mStep of aSettings.
void mergeClustersAffine(const CRunSettings& aSettings, std::vector<CTrack>& aTracks, int aRegionNo,
                         std::ostream& aStatus);
