// Geometric measures between point trajectories on which the affinity graph is built: the mean
// distance of two trajectories over the frames they share, each trajectory's list of nearest
// neighbours, and the affinity of a triple of trajectories from how well one similarity
// transform per frame pair explains all three. Apart from computeNearestNeighbors these only
// read the trajectories and may run concurrently.
#pragma once

#include <cmath>

#include "foundation/CVector.h"
#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// The triple affinities are tuned by ADJACENCY_WEIGHT, FRAME_SAMPLE and FRAME_STEP of a
// CGraphTuning (settings/RunSettings.h).

// Variation that stands in for a flow variation of exactly 0 (see flowVariationWeight).
constexpr float kZeroVariationStandIn = 0.1f;

// Weight 1 / aFlowVar^2 with which a motion error over a step or sample counts: the same error
// costs less where the flow varies more. Where the flow is exactly constant the accumulated
// variation is 0 and the weight infinite, so an exact fit would cost 0 * infinity; a weight that
// is not finite is therefore that of a variation of kZeroVariationStandIn pixels. Every other
// variation, however small, keeps its own weight.
inline float flowVariationWeight(float aFlowVar) {
  const float aWeight = 1.0f / (aFlowVar * aFlowVar);
  return std::isfinite(aWeight) ? aWeight : 1.0f / (kZeroVariationStandIn * kZeroVariationStandIn);
}

// Exponents below this give an exponential that rounds to float 0 (exp(-110) is about 1.7e-48,
// less than half the smallest float); the library's underflow path is slow.
constexpr float kZeroAffinityExponent = -110.0f;

// Exponent of the affinity of a triple whose largest weighted similarity error is maxDist,
// scaled by sptDist; aStep is the frame gap of the last pass over the window. It never rises
// as maxDist grows.
inline float affinityExponent(float maxDist, float sptDist, int aStep,
                              const CGraphTuning& aTuning) {
  return ((maxDist * sptDist) * static_cast<float>(aTuning.FRAME_SAMPLE)) /
         static_cast<float>(aStep) * (-aTuning.ADJACENCY_WEIGHT);
}

// The affinity exp(affinityExponent): 0 where the error is infinite at zero distance (a
// degenerate triple).
inline float affinityOfError(float maxDist, float sptDist, int aStep, const CGraphTuning& aTuning) {
  const float aExponent = affinityExponent(maxDist, sptDist, aStep, aTuning);
  if (aExponent < kZeroAffinityExponent) return 0.0f;
  const float aWeight = static_cast<float>(std::exp(static_cast<double>(aExponent)));
  return std::isnan(aWeight) ? 0.0f : aWeight;
}

// Distance between the mean positions of A and B over their common window; 0 when they share
// no frame-to-frame step. The first position of the window enters truncated to integers.
float computeEuclidDistance(const CTrack& A, const CTrack& B);

// Offers B (index aIndexB) to A's neighbour list and A (index aIndexA) to B's, keyed by the
// squared distance of their mean positions; nothing changes when they share no step. Lists
// stay sorted by ascending offset length and never hold an index twice.
void computeNearestNeighbors(CTrack& A, CTrack& B, int aIndexA, int aIndexB);

// The half of computeNearestNeighbors that concerns A: offers B (index aIndexB) to A's list
// with the same offset and key as the pair does. Only A changes.
void offerNearestNeighbor(CTrack& A, const CTrack& B, int aIndexB);

// Weighted squared error with which the similarity transform carrying segment x-y from the
// first frame (x1, y1) to the second (x2, y2) predicts z2 from z1 (all 2-vectors). Coincident
// points (x1 = y1, x2 = y2, z1 = x1 or z1 = y1) define no transform or no weight: the result
// is then +infinity, which makes the triple's affinity 0.
float getSimTransError(CVector<float>& x1, CVector<float>& x2, CVector<float>& y1,
                       CVector<float>& y2, CVector<float>& z1, CVector<float>& z2);

// Affinity (0 ... 1) of the triple A, B, C over their common window, scaled by sptDist (the
// mean distance of A and B). 0 when the window is empty (*commLength untouched), otherwise
// *commLength receives the window's step count. Never NaN: degenerate triples give 0.
float computeDistance(const CTrack& A, const CTrack& B, const CTrack& C, float sptDist,
                      int* commLength, const CGraphTuning& aTuning);
