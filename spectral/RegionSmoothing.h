// The sweeps of the variational smoothing of region memberships over the trajectories'
// neighbourhood graph (the segmentation's smoothing step). A region's membership S is relaxed
// towards its hard membership u (data weight 1/8) under a total-variation pair term: each
// over-relaxed Gauss-Seidel update of node n (omega 1.85) weighs neighbour j by
// psi = w_nj / sqrt((S_j - S_n)^2 + 1e-6), formed in double and rounded to float, and sums
// the weighted neighbours in list order. The kernels run on whatever instructions the
// processor has (AVX2 where present); every variant gives the same floats.
#pragma once

#include <vector>

#include "foundation/CVector.h"

// Neighbour lists and pair weights as flat arrays: node n's entries are mStart[n] ...
// mStart[n + 1] - 1 of mNode and mWeight, in list order.
struct CNeighborArrays {
  // From one list of neighbours (idx) and pair weights (g) per node.
  CNeighborArrays(const CVector<std::vector<float>>& g, const CVector<std::vector<int>>& idx);
  std::vector<int> mStart, mNode;
  std::vector<float> mWeight;
};

// Regions a group holds side by side.
constexpr int kRegionLanes = 4;

// Twenty sweeps of one region's membership S (N entries, updated in place) with hard membership
// u, then S - u.
void smoothRegion(const CNeighborArrays& aNeighbors, const float* u, float* S, int N);

// The same for kRegionLanes regions at once, interleaved by node: entry (n, l) of S and u at
// kRegionLanes n + l. Lane l ends bit for bit as smoothRegion leaves region l.
void smoothRegionGroup(const CNeighborArrays& aNeighbors, const float* u, float* S, int N);
