// The higher-order affinity graph over the trajectories: trajectories are selected in stages
// (the best-scored quarter of the remaining candidates each time) until they cover a fixed
// share of all trajectory points, and every edge between selected trajectories is weighed by
// the best-supported triple affinity over sampled third members.
#pragma once

#include <vector>

#include "foundation/CVector.h"
#include "foundation/Random.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "tracking/CTrack.h"

// Figures of a buildHOGraph call (for benchmarks): triples that took any work (those of
// non-empty windows of edges not vetoed by their empty triples alone), edges weighed.
struct CHOGraphStats {
  long long mTriples = 0;
  long long mEdgesWeighed = 0;
};

// Rebuilds aEdges with one adjacency list per trajectory of aTracks. Fills the neighbour lists
// of the valid trajectories, sets mLabel = 0 on every trajectory that took part in a triple,
// and mLabel = -1 with aValidTracks false on every trajectory left out. aValidTracks has one
// entry per trajectory; every mLabel is -1 on entry. Reads mSequenceLength, mStep, mXSize,
// mYSize and the graph's tuning (SAMPLE_RAND_COUNT, SAMPLE_NN_COUNT, TOL_COVERED_PERCENTAGE and
// the triple affinity's) of aSettings. Edges of weight 0 are not stored: they add nothing to
// any degree or product of the embedding. The random third members are the next numbers of
// aRandom, drawn on the calling thread in the order of a one-thread run, so the graph does not
// depend on the number of worker threads. aStats (optional) receives the call's figures.
void buildHOGraph(const CRunSettings& aSettings, std::vector<CTrack>& aTracks,
                  CVector<bool>& aValidTracks, CGraph& aEdges, CRandom& aRandom,
                  CHOGraphStats* aStats = nullptr);

// Weight of the edge node1-node2 from the triples with its third members: the first
// SAMPLE_NN_COUNT neighbour slots of node1 (without node2) and of node2 (without node1), then
// the SAMPLE_RAND_COUNT entries of aRandom (-1: no member). It is the affinity of the triple with
// the largest product of common length and affinity (the earlier one on ties), or 0 when more
// than nine tenths of the triples have an affinity below 1e-5 (CEdgeWeigher). aTriples
// (optional) is raised by the number of triples that took any work.
float edgeWeight(const std::vector<CTrack>& aTracks, int node1, int node2, const int* aRandom,
                 const CGraphTuning& aTuning, long long* aTriples = nullptr);
