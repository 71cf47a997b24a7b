// Multi-region segmentation of one cluster of trajectories from their spectral features: tries
// K = 2, 3, ... regions (weighted k-means, greedy merging of neighbouring regions, variational
// smoothing of the memberships) and keeps the labelling of lowest energy, the k-means energy
// plus a penalty for spatial neighbours in different regions.
#pragma once

#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "foundation/Random.h"
#include "tracking/CTrack.h"

// aFeatures is (N nodes, aDim features), aWeights one weight per feature. aRegionNo: in, the
// largest K to try; out, the number of regions found. aIndexToNode maps trajectory index to
// node (-1: not part of the problem), aNodeToIndex node to trajectory index. The trajectories'
// lengths are the point weights and their neighbour lists the spatial neighbourhoods. aResult
// receives one label per node in 0 ... aRegionNo-1 without gaps, or -1 for a node of a region
// of zero total length. K never exceeds the number of nodes of positive length. The k-means
// starts draw from aRandom.
void segmentGraphMultiRegion(CMatrix<float>& aFeatures, CVector<float>& aWeights, int& aRegionNo,
                             CVector<int>& aIndexToNode, CVector<int>& aNodeToIndex,
                             std::vector<CTrack>& aTracks, CVector<int>& aResult, CRandom& aRandom);

// Labels of regions whose total length (sum of aLength) is below 1 become -1; the highest label
// moves into each freed place, so aResult ends with labels 0 ... aRegionNo-1 without gaps.
void compactRegions(CVector<int>& aResult, CVector<int>& aLength, int& aRegionNo);
