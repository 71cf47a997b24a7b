// The edge weighing of the higher-order graph on flat copies of the trajectories. The weight of
// an edge node1-node2 is the affinity of its best triple (largest product of common length and
// affinity, the earlier one on ties) over its third members, or 0 when more than nine tenths of
// the triples have an affinity below 1e-5: bit for bit what computeDistance gives triple by
// triple, with the work cut wherever the outcome is already decided.
//
// - A pair that shares no frame-to-frame step has only empty triples: weight 0 at once.
// - The edge is vetoed exactly when more than nine tenths of its triples are negative: as soon
//   as that many are known to be. The bounds below prove most triples negative before any is
//   taken in member order; when they and the empty triples are enough, that is at once.
// - A triple stops as soon as it is known to be negative. Its exact affinity matters only if
//   the edge is not vetoed and its product can reach the best one; only then is it evaluated
//   in full, at the end, and the best triple found again in member order.
// - Once the veto is out of reach, a triple whose common length cannot beat the best product
//   is skipped, and a triple stops as soon as its affinity is known not to beat it.
// Work runs four lanes at a time, each lane doing the same single- and double-precision
// operations in the same order as the plain evaluation: first the first error of the first
// sample of every triple with a non-empty window, four triples at once (most triples of most
// edges are settled by it), then the second error of that sample for the triples it left open,
// then the triples in member order, the samples of a triple that needs more four at a time.
// Where the processor has AVX2 the same operations run in its encodings.
#pragma once

#include <vector>

#include "settings/RunSettings.h"
#include "tracking/CTrack.h"

// What the evaluation of a triple settled: its exact affinity; an affinity of 0; an affinity
// below 1e-5 left open (negative, and needed only if the edge turns out not vetoed); an
// affinity that cannot beat the best product (asked for only once the veto is out of reach);
// or nothing yet.
enum class CTripleOutcome { kExact, kZero, kNegative, kNotBetter, kOpen };

class CEdgeWeigher {
 public:
  // Copies the positions, flow variations and the first SAMPLE_NN_COUNT neighbour slots of
  // aTracks, and aTuning; later changes to aTracks do not reach the weigher.
  CEdgeWeigher(const std::vector<CTrack>& aTracks, const CGraphTuning& aTuning);

  // Weight of the edge node1-node2 with its third members: the first SAMPLE_NN_COUNT neighbour
  // slots of node1 (without node2) and of node2 (without node1), then the SAMPLE_RAND_COUNT
  // entries of aRandom (-1: no member). aTriples, if given, is raised by the number of triples
  // that took any work. Safe to call from several threads at once.
  float weigh(int node1, int node2, const int* aRandom, long long* aTriples = nullptr) const;

 private:
  // weigh in the baseline instructions and in AVX2's; both give the same floats.
  float weighBase(int node1, int node2, const int* aRandom, long long* aTriples) const;
  float weighAvx2(int node1, int node2, const int* aRandom, long long* aTriples) const;
  float weighEdge(int node1, int node2, const int* aRandom, long long* aTriples) const;
  // Evaluates the triple A, B, C over the window aStart ... aStart + aLength (aLength >= 1).
  // With aSettle it stops as soon as the outcome is settled (kNotBetter only with
  // aSettleNotBetter, against aBestProduct); otherwise, and whenever it reaches the end, it
  // gives kExact with the affinity in w.
  CTripleOutcome evaluateTriple(int A, int B, int C, int aStart, int aLength, float sptDist,
                                bool aSettle, bool aSettleNotBetter, float aBestProduct,
                                float& w) const;
  // computeEuclidDistance of tracks A and B over their common window aStart ... aStart +
  // aLength (aLength >= 1), from the flat copies.
  float meanDistance(int A, int B, int aStart, int aLength) const;
  // Point of track T at frame f: x, y, running flow variation, 0.
  const float* point(int T, int f) const {
    return mPoints.data() + kPointSize * (mSpans[T].mOrigin + f);
  }

  static constexpr int kPointSize = 4;

  CGraphTuning mTuning;

  // Track i covers frames mSpans[i].mSetup ... mSpans[i].mEnd; its point at frame f is point
  // mSpans[i].mOrigin + f of mPoints. The running flow variation is preceded by 0 at the start
  // point, so that the variation from frame f to f + s is the difference of the two points'
  // entries. A track's three numbers sit together: third members are drawn at random.
  struct CSpan {
    int mSetup, mEnd, mOrigin;
  };
  std::vector<CSpan> mSpans;
  std::vector<float> mPoints;
  // The neighbour slots of track i that name a track, in slot order: mNeighborCount[i]
  // entries from mNeighbors[i * mNeighborSlots].
  int mNeighborSlots = 0;
  std::vector<int> mNeighbors, mNeighborCount;
};
