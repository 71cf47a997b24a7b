#include "graph/EdgeWeigher.h"

#include <algorithm>
#include <cmath>

#include "foundation/FourthRoot.h"
#include "foundation/Lanes.h"
#include "foundation/Simd.h"
#include "graph/HOGraph.h"
#include "graph/TrackDistances.h"

namespace {

using lanes::F4;
using lanes::kWidth;

// Affinity below which a triple counts as negative.
constexpr double kNegativeAffinity = 1e-5;
// Share of negative triples above which an edge's weight is 0.
constexpr double kNegativeShare = 0.9;
constexpr float kInfinity = HUGE_VALF;
// Exponents at or below this give an affinity below kNegativeAffinity, with a margin far beyond
// the rounding of exp and of the float conversion (log(1e-5) is -11.5129): at most
// kNegativeBound.
constexpr float kNegativeExponent = -11.52f;
constexpr float kNegativeBound = 1e-5f;
// Relative margin of the exponent below which a triple's product cannot exceed the best one.
constexpr double kProductMargin = 1e-6;
// Batches of four third members whose points are fetched ahead.
constexpr int kPrefetchBatches = 2;
// Weight of an error where the flow variation gives none that is finite.
constexpr float kStandInWeight = 1.0f / (kZeroVariationStandIn * kZeroVariationStandIn);

inline bool isTrack(int aIndex, int aTrackCount) {
  return aIndex >= 0 && aIndex < aTrackCount;
}

// A triple of an edge: its place among the members, third member, window and affinity.
struct CKnownTriple {
  int mIndex;
  int mMember;
  int mStart;
  int mLength;
  float mWeight;
};

// A triple's window, its first and last sampling steps, the third member's point at the
// window's start, and the bound of the errors of its first sample: the scaled error and the
// exponent of the affinity that error bounds.
struct CFirstError {
  int mStart, mLength, mFirstStep, mLastStep;
  const float* mPoint;
  float mScaled, mExponent;
  // The bound alone shows an affinity below kNegativeAffinity.
  bool provenNegative() const { return mScaled > 0.0f && mExponent <= kNegativeExponent; }
};

// A point per lane.
struct CPoints {
  F4 x, y;
};

// The sampling of a window of aLength steps (aLength >= 1): on long windows every FRAME_STEP-th
// frame with gap FRAME_SAMPLE (of the tuning); on middle ones the first four frames with gap
// aLength - 3; on short ones every step with gap 1, then the whole window once. The affinity
// divides by the gap of the last pass.
struct CSampling {
  int mFirstStep, mLastStep, mStride, mPasses;
  CSampling(int aLength, const CGraphTuning& aTuning) {
    if (aLength >= aTuning.FRAME_SAMPLE + 3) {
      mFirstStep = mLastStep = aTuning.FRAME_SAMPLE;
      mStride = aTuning.FRAME_STEP;
      mPasses = 1;
    } else if (aLength >= 4) {
      mFirstStep = mLastStep = aLength - 3;
      mStride = 1;
      mPasses = 1;
    } else {
      mFirstStep = 1;
      mLastStep = aLength;
      mStride = 1;
      mPasses = 2;
    }
  }
};

QUORVIK_KERNEL F4 length(const CPoints& p, const CPoints& q) {
  const F4 dx = q.x - p.x, dy = q.y - p.y;
  return lanes::sqrt(dx * dx + dy * dy);
}

// The similarity-transform error of the plain evaluation (TrackDistances.cpp, predictionError)
// in every lane: the transform carrying x-y from the first frame to the second predicts z2
// from z1; v1_l, v2_l, w1_l, u1_l are the lengths of x1-y1, x2-y2, x1-z1 and y1-z1.
QUORVIK_KERNEL F4 predictionError(const CPoints& x1, const CPoints& x2, const CPoints& y1,
                                  const CPoints& y2, const CPoints& z1, const CPoints& z2, F4 v1_l,
                                  F4 v2_l, F4 w1_l, F4 u1_l) {
  const F4 aZero = lanes::splat(0.0f);
  const F4 aOne = lanes::splat(1.0f);
  const F4 aHalf = lanes::splat(0.5f);
  // A segment of length 0 or a third point on an end of the segment: no finite error.
  const F4 aDegenerate = lanes::equal(v1_l, aZero) | lanes::equal(v2_l, aZero) |
                         lanes::equal(w1_l, aZero) | lanes::equal(u1_l, aZero);
  const F4 v1x = y1.x - x1.x, v1y = y1.y - x1.y;
  const F4 v2x = y2.x - x2.x, v2y = y2.y - x2.y;
  const F4 s = (v1x * v2x + v1y * v2y) / (v2_l * v1_l);
  // max(0, 1 - s^2) with 0 where that is not a number, as std::max(0.0f, ...) gives.
  F4 salpha = lanes::sqrt(lanes::maxKeepSecondOnNan(aOne - s * s, aZero));
  salpha = lanes::select(lanes::less(v1x * v2y - v1y * v2x, aZero), lanes::negate(salpha), salpha);
  const F4 ratio = v2_l / v1_l;
  const F4 r00 = ratio * s, r01 = ratio * lanes::negate(salpha);
  const F4 r10 = ratio * salpha, r11 = ratio * s;
  const F4 mx = x1.x + y1.x, my = x1.y + y1.y;
  const F4 tx = aHalf * ((x2.x + y2.x) - (r00 * mx + r01 * my));
  const F4 ty = aHalf * ((x2.y + y2.y) - (r10 * mx + r11 * my));
  const F4 zzx = (r00 * z1.x + r01 * z1.y) + tx;
  const F4 zzy = (r10 * z1.x + r11 * z1.y) + ty;
  const F4 aRecipSum = aOne / w1_l + aOne / u1_l;
  const F4 aBase = lanes::halfProductInDouble(v1_l, aRecipSum);
  const F4 ex = zzx - z2.x, ey = zzy - z2.y;
  const F4 aError = (ex * ex + ey * ey) * lanes::fourthRootToFloat(aBase);
  const F4 aInf = lanes::splat(kInfinity);
  return lanes::select(aDegenerate | lanes::unordered(aError, aError), aInf, aError);
}

// What a lower bound of a triple's worst weighted error settles. The bound's exponent is
// compared with limits taken with margins, so that no exponential is needed; a case inside the
// margins is left open.
class CSettling {
 public:
  // aSettleNotBetter: the veto is out of reach, so a triple known not to beat aBestProduct is
  // settled whether negative or not.
  CSettling(const CGraphTuning& aTuning, float sptDist, int aLastStep, int aLength,
            bool aSettleNotBetter, float aBestProduct)
      : mTuning(aTuning),
        mSptDist(sptDist),
        mLastStep(aLastStep),
        mLength(aLength),
        mSettleNotBetter(aSettleNotBetter),
        mBestProduct(aBestProduct) {}

  CTripleOutcome outcomeOf(float aWorst) const {
    return outcomeOfExponent(affinityExponent(aWorst, mSptDist, mLastStep, mTuning));
  }
  // The same from the bound's exponent.
  CTripleOutcome outcomeOfExponent(float e) const {
    // The affinity rounds to 0.
    if (e < kZeroAffinityExponent) return CTripleOutcome::kZero;
    if (e <= kNegativeExponent) return CTripleOutcome::kNegative;
    if (!mSettleNotBetter) return CTripleOutcome::kOpen;
    // exp(e) <= (best / length) (1 - margin): the affinity and its product, each rounded to
    // float, stay at or below the best product.
    if (!mHaveProductExponent) {
      mProductExponent = std::log(static_cast<double>(mBestProduct) / mLength) - kProductMargin;
      mHaveProductExponent = true;
    }
    return static_cast<double>(e) <= mProductExponent ? CTripleOutcome::kNotBetter
                                                      : CTripleOutcome::kOpen;
  }

 private:
  const CGraphTuning& mTuning;
  float mSptDist;
  int mLastStep;
  int mLength;
  bool mSettleNotBetter;
  float mBestProduct;
  mutable bool mHaveProductExponent = false;
  mutable double mProductExponent = 0.0;
};

// One sample of a triple per lane: the points of A, B and C at the sample's two frames (each
// point x, y, running flow variation, 0), the weight of its errors and the lengths its three
// errors share. Lanes may belong to different triples.
class CSampleLanes {
 public:
  // aA[j], aB[j], aC[j]: the points at the first frame of lane j's sample, aGap[j] its gap.
  QUORVIK_KERNEL CSampleLanes(const float* const* aA, const float* const* aB,
                              const float* const* aC, const int* aGap) {
    gather(aA, aGap, a1, a2, fa);
    gather(aB, aGap, b1, b2, fb);
    gather(aC, aGap, c1, c2, fc);
    // std::min(std::min(fa, fb), fc), not-a-number cases included.
    const F4 flowvar = lanes::minKeepSecondOnNan(fc, lanes::minKeepSecondOnNan(fb, fa));
    // flowVariationWeight: 1 / flowvar^2 where that is finite.
    const F4 aWeight = lanes::splat(1.0f) / (flowvar * flowvar);
    const F4 aFinite = lanes::equal(aWeight - aWeight, lanes::splat(0.0f));
    mInvVar = lanes::select(aFinite, aWeight, lanes::splat(kStandInWeight));
    lAB1 = length(a1, b1);
    lAC1 = length(a1, c1);
    lBC1 = length(b1, c1);
  }
  // The three similarity errors of the plain evaluation, in its order.
  QUORVIK_KERNEL F4 error1() const {
    return predictionError(b1, b2, c1, c2, a1, a2, lBC1, length(b2, c2), lAB1, lAC1);
  }
  QUORVIK_KERNEL F4 error2() const {
    return predictionError(a1, a2, c1, c2, b1, b2, lAC1, length(a2, c2), lAB1, lBC1);
  }
  QUORVIK_KERNEL F4 error3() const {
    return predictionError(a1, a2, b1, b2, c1, c2, lAB1, length(a2, b2), lAC1, lBC1);
  }
  // An error weighed by the flow variation.
  QUORVIK_KERNEL F4 scaled(F4 aError) const { return mInvVar * aError; }

 private:
  QUORVIK_KERNEL static void gather(const float* const* p, const int* aGap, CPoints& aFirst,
                                    CPoints& aSecond, F4& aVariation) {
    constexpr int kStride = 4;
    F4 r0 = lanes::load(p[0]), r1 = lanes::load(p[1]), r2 = lanes::load(p[2]),
       r3 = lanes::load(p[3]);
    lanes::transpose(r0, r1, r2, r3);
    F4 s0 = lanes::load(p[0] + kStride * aGap[0]), s1 = lanes::load(p[1] + kStride * aGap[1]),
       s2 = lanes::load(p[2] + kStride * aGap[2]), s3 = lanes::load(p[3] + kStride * aGap[3]);
    lanes::transpose(s0, s1, s2, s3);
    aFirst = {r0, r1};
    aSecond = {s0, s1};
    aVariation = s2 - r2;
  }

  CPoints a1, a2, b1, b2, c1, c2;
  F4 fa, fb, fc, mInvVar, lAB1, lAC1, lBC1;
};

}  // namespace

CEdgeWeigher::CEdgeWeigher(const std::vector<CTrack>& aTracks, const CGraphTuning& aTuning)
    : mTuning(aTuning) {
  const size_t n = aTracks.size();
  mNeighborSlots = std::max(mTuning.SAMPLE_NN_COUNT, 0);
  mNeighbors.assign(n * mNeighborSlots, -1);
  mNeighborCount.assign(n, 0);
  for (size_t i = 0; i < n; i++) {
    const CTrack& t = aTracks[i];
    const int aUsed = std::min(mNeighborSlots, t.mNearestNeighbors.size());
    for (int j = 0; j < aUsed; j++) {
      const int c = t.mNearestNeighbors(j);
      if (isTrack(c, static_cast<int>(n))) mNeighbors[i * mNeighborSlots + mNeighborCount[i]++] = c;
    }
  }
  mSpans.resize(n);
  size_t aPoints = 0;
  for (const CTrack& t : aTracks) aPoints += t.mx.size() + 1;
  mPoints.reserve(kPointSize * aPoints);
  for (size_t i = 0; i < n; i++) {
    const CTrack& t = aTracks[i];
    mSpans[i] = {t.mSetupTime, t.endTime(),
                 static_cast<int>(mPoints.size() / kPointSize) - t.mSetupTime};
    mPoints.insert(mPoints.end(),
                   {static_cast<float>(t.mox), static_cast<float>(t.moy), 0.0f, 0.0f});
    for (size_t k = 0; k < t.mx.size(); k++)
      mPoints.insert(mPoints.end(), {t.mx[k], t.my[k], t.mFlowVar[k], 0.0f});
  }
}

QUORVIK_KERNEL float CEdgeWeigher::meanDistance(int A, int B, int aStart, int aLength) const {
  // Lanes x and y of A, then of B: each lane sums its coordinate in the order of
  // meanPosition (TrackDistances.cpp), the first position truncated.
  const float* pa = point(A, aStart);
  const float* pb = point(B, aStart);
  F4 aSum = lanes::truncate(lanes::lowHalves(lanes::load(pa), lanes::load(pb)));
  for (int k = 1; k <= aLength; k++)
    aSum =
        aSum + lanes::lowHalves(lanes::load(pa + kPointSize * k), lanes::load(pb + kPointSize * k));
  alignas(16) float s[kWidth];
  lanes::store(s, aSum);
  const float aInv = 1.0f / static_cast<float>(aLength + 1);
  const float dx = s[0] * aInv - s[2] * aInv, dy = s[1] * aInv - s[3] * aInv;
  return std::sqrt(dx * dx + dy * dy);
}

QUORVIK_KERNEL CTripleOutcome CEdgeWeigher::evaluateTriple(int A, int B, int C, int aStart,
                                                           int aLength, float sptDist, bool aSettle,
                                                           bool aSettleNotBetter,
                                                           float aBestProduct, float& w) const {
  const CSampling aSampling(aLength, mTuning);
  const int tstep = aSampling.mLastStep;
  const int tmpStep = aSampling.mStride;
  const CSettling aSettling(mTuning, sptDist, tstep, aLength, aSettleNotBetter, aBestProduct);
  const int aEnd = aStart + aLength;
  float maxDist = 0.0f;
  for (int aPass = 0; aPass < aSampling.mPasses; aPass++) {
    const int aStep = aPass == 0 ? aSampling.mFirstStep : tstep;
    for (int t0 = aStart; t0 + aStep <= aEnd; t0 += kWidth * tmpStep) {
      // Lanes beyond the last sample repeat the first one and are left out of the maximum.
      const int aActive = std::min(kWidth, (aEnd - aStep - t0) / tmpStep + 1);
      const float* pa[kWidth];
      const float* pb[kWidth];
      const float* pc[kWidth];
      int aGap[kWidth];
      for (int j = 0; j < kWidth; j++) {
        const int t = j < aActive ? t0 + j * tmpStep : t0;
        pa[j] = point(A, t);
        pb[j] = point(B, t);
        pc[j] = point(C, t);
        aGap[j] = aStep;
      }
      const CSampleLanes aLanes(pa, pb, pc, aGap);

      // The worst scaled error over the active lanes and the window so far.
      alignas(16) float aScaled[kWidth];
      auto aWorst = [&](F4 aPartial) __attribute__((always_inline)) {
        lanes::store(aScaled, aLanes.scaled(aPartial));
        float m = maxDist;
        for (int j = 0; j < aActive; j++)
          if (aScaled[j] > m) m = aScaled[j];
        return m;
      };
      // The affinity only falls as the worst error grows: once a part of the errors settles
      // the outcome, the rest need not be evaluated.
      CTripleOutcome aOutcome = CTripleOutcome::kOpen;
      auto aSettled = [&](F4 aPartial) __attribute__((always_inline)) {
        if (!aSettle) return false;
        const float m = aWorst(aPartial);
        if (!(m > maxDist)) return false;
        aOutcome = aSettling.outcomeOf(m);
        return aOutcome != CTripleOutcome::kOpen;
      };
      F4 tmpDist = aLanes.error1();
      if (aSettled(tmpDist)) return aOutcome;
      // std::max(tmpDist, error), both never NaN.
      tmpDist = lanes::maxKeepSecondOnNan(aLanes.error2(), tmpDist);
      if (aSettled(tmpDist)) return aOutcome;
      tmpDist = lanes::maxKeepSecondOnNan(aLanes.error3(), tmpDist);
      if (aSettled(tmpDist)) return aOutcome;
      maxDist = aWorst(tmpDist);
    }
  }
  w = affinityOfError(maxDist, sptDist, tstep, mTuning);
  return CTripleOutcome::kExact;
}

float CEdgeWeigher::weigh(int node1, int node2, const int* aRandom, long long* aTriples) const {
#if QUORVIK_HAS_AVX2_TARGET
  if (useAvx2()) return weighAvx2(node1, node2, aRandom, aTriples);
#endif
  return weighBase(node1, node2, aRandom, aTriples);
}

float CEdgeWeigher::weighBase(int node1, int node2, const int* aRandom, long long* aTriples) const {
  return weighEdge(node1, node2, aRandom, aTriples);
}

#if QUORVIK_HAS_AVX2_TARGET
// The same operations in their VEX encodings, which spare the copies between registers that
// the two-operand SSE forms need.
QUORVIK_AVX2 float CEdgeWeigher::weighAvx2(int node1, int node2, const int* aRandom,
                                           long long* aTriples) const {
  return weighEdge(node1, node2, aRandom, aTriples);
}
#endif

QUORVIK_KERNEL float CEdgeWeigher::weighEdge(int node1, int node2, const int* aRandom,
                                             long long* aTriples) const {
  // Every triple's window lies inside the pair's: a pair without a common step has only empty
  // triples, all negative, and so weight 0 (also when it has no third member at all).
  const int aStart = std::max(mSpans[node1].mSetup, mSpans[node2].mSetup);
  const int aEnd = std::min(mSpans[node1].mEnd, mSpans[node2].mEnd);
  if (aEnd - aStart < 1) return 0.0f;
  const float sptDist = meanDistance(node1, node2, aStart, aEnd - aStart);
  // Per thread, reused: the members, the triples of exact affinity and the negative triples
  // whose exact affinity was left open, each in member order.
  thread_local std::vector<int> tMembers;
  thread_local std::vector<CKnownTriple> aKnown;
  thread_local std::vector<CKnownTriple> aOpen;
  const size_t aMaxMembers = 2 * static_cast<size_t>(mNeighborSlots) +
                             static_cast<size_t>(std::max(mTuning.SAMPLE_RAND_COUNT, 0));
  if (tMembers.size() < aMaxMembers) tMembers.resize(aMaxMembers);
  int* aMembers = tMembers.data();
  int n = 0;
  aKnown.clear();
  aOpen.clear();
  // The third members in sampling order: the neighbours of node1 (without node2), those of
  // node2 (without node1), then the random members; empty slots are skipped.
  for (int aSide = 0; aSide < 2; aSide++) {
    const int aNode = aSide == 0 ? node1 : node2;
    const int aOther = aSide == 0 ? node2 : node1;
    const int* aNeighbors = mNeighbors.data() + static_cast<size_t>(aNode) * mNeighborSlots;
    for (int j = 0; j < mNeighborCount[aNode]; j++)
      if (aNeighbors[j] != aOther) aMembers[n++] = aNeighbors[j];
  }
  for (int r = 0; r < mTuning.SAMPLE_RAND_COUNT; r++)
    if (aRandom[r] >= 0) aMembers[n++] = aRandom[r];
  const double aVetoCount = kNegativeShare * n;
  // The best product over the triples of exact affinity: a lower bound of the best product
  // over all triples so far, since an open negative triple might have raised it.
  float maxLength = 0.0f, maxWeight = 0.0f;
  int negCounter = 0;
  // Each triple's window; the triples of empty windows (all negative) take no lanes.
  thread_local std::vector<CFirstError> tFirstErrors;
  thread_local std::vector<int> tLive, tUnsettled;
  if (tFirstErrors.size() < aMaxMembers) {
    tFirstErrors.resize(aMaxMembers);
    tLive.resize(aMaxMembers);
    tUnsettled.resize(aMaxMembers);
  }
  CFirstError* aFirstErrors = tFirstErrors.data();
  int* aLive = tLive.data();
  int aLiveCount = 0;
  for (int j = 0; j < n; j++) {
    const CSpan& s = mSpans[aMembers[j]];
    CFirstError& f = aFirstErrors[j];
    f.mStart = std::max(aStart, s.mSetup);
    f.mLength = std::min(aEnd, s.mEnd) - f.mStart;
    if (f.mLength < 1) continue;
    const CSampling aSampling(f.mLength, mTuning);
    f.mFirstStep = aSampling.mFirstStep;
    f.mLastStep = aSampling.mLastStep;
    f.mPoint = mPoints.data() + kPointSize * (s.mOrigin + f.mStart);
    aLive[aLiveCount++] = j;
  }
  // More than nine tenths of the triples empty: vetoed (see below).
  if (n - aLiveCount > aVetoCount) return 0.0f;
  // Every other triple of a non-empty window takes work: its bound below.
  if (aTriples != nullptr) *aTriples += aLiveCount;
  // The bounds of the first sample's errors, four triples at a time, before their turn (lanes
  // past the last triple repeat it): aList names aCount live triples. The first error alone
  // settles most triples; with aSecond the bound is the larger of the first two errors.
  auto aBound = [&](const int* aList, int aCount, bool aSecond) __attribute__((always_inline)) {
    // The third members' points lie anywhere in mPoints, mostly outside the caches: without
    // aSecond, the two points of each member's first sample are fetched a batch or two ahead.
    auto aPrefetch = [&](int p) __attribute__((always_inline)) {
      const int aTo = std::min(p + kWidth, aCount);
      for (int q = p; q < aTo; q++) {
        const CFirstError& f = aFirstErrors[aList[q]];
        __builtin_prefetch(f.mPoint);
        __builtin_prefetch(f.mPoint + kPointSize * f.mFirstStep);
      }
    };
    if (!aSecond)
      for (int p = 0; p < kPrefetchBatches * kWidth; p += kWidth) aPrefetch(p);
    for (int p0 = 0; p0 < aCount; p0 += kWidth) {
      if (!aSecond) aPrefetch(p0 + kPrefetchBatches * kWidth);
      const int aBatch = std::min(kWidth, aCount - p0);
      int aGap[kWidth];
      alignas(16) float aLastStepF[kWidth];
      const float* pa[kWidth];
      const float* pb[kWidth];
      const float* pc[kWidth];
      for (int l = 0; l < kWidth; l++) {
        const int j = aList[p0 + std::min(l, aBatch - 1)];
        const CFirstError& f = aFirstErrors[j];
        aGap[l] = f.mFirstStep;
        aLastStepF[l] = static_cast<float>(f.mLastStep);
        pa[l] = point(node1, f.mStart);
        pb[l] = point(node2, f.mStart);
        pc[l] = f.mPoint;
      }
      const CSampleLanes aLanes(pa, pb, pc, aGap);
      // The scaled errors and the exponents of the affinities they bound (affinityExponent in
      // every lane); std::max(error1, error2) as evaluateTriple takes it.
      F4 aError = aLanes.error1();
      if (aSecond) aError = lanes::maxKeepSecondOnNan(aLanes.error2(), aError);
      const F4 aScaledLanes = aLanes.scaled(aError);
      alignas(16) float aScaled[kWidth], aExponent[kWidth];
      lanes::store(aScaled, aScaledLanes);
      lanes::store(aExponent, ((aScaledLanes * lanes::splat(sptDist)) *
                               lanes::splat(static_cast<float>(mTuning.FRAME_SAMPLE))) /
                                  lanes::load(aLastStepF) *
                                  lanes::splat(-mTuning.ADJACENCY_WEIGHT));
      for (int l = 0; l < aBatch; l++) {
        CFirstError& f = aFirstErrors[aList[p0 + l]];
        f.mScaled = aScaled[l];
        f.mExponent = aExponent[l];
      }
    }
  };
  aBound(aLive, aLiveCount, false);
  // The edge is vetoed exactly when more than nine tenths of its triples are negative, whichever
  // they are: while that many remain possible the member-order pass below skips none, and it
  // finds each triple's sign. Triples of empty windows and those the bounds prove negative
  // therefore veto the edge on their own when they are enough. aUnsettled keeps the others
  // among aCandidates (in place when aCandidates is aUnsettled).
  int* aUnsettled = tUnsettled.data();
  int aUnsettledCount = 0;
  auto aVetoedByBounds = [&](const int* aCandidates, int aCount) __attribute__((always_inline)) {
    int k = 0;
    for (int q = 0; q < aCount; q++)
      if (!aFirstErrors[aCandidates[q]].provenNegative()) aUnsettled[k++] = aCandidates[q];
    aUnsettledCount = k;
    return n - aUnsettledCount > aVetoCount;
  };
  if (aVetoedByBounds(aLive, aLiveCount)) return 0.0f;
  // Where the first error leaves a triple's sign open, the second error of the same sample
  // settles most of the rest, without the full sampling of evaluateTriple.
  aBound(aUnsettled, aUnsettledCount, true);
  if (aVetoedByBounds(aUnsettled, aUnsettledCount)) return 0.0f;

  // The triples in member order.
  for (int aIndex = 0; aIndex < n; aIndex++) {
    const CFirstError& f = aFirstErrors[aIndex];
    const int c = aMembers[aIndex];
    const int L = f.mLength;
    bool aNegative = true;
    if (L >= 1) {
      // Negative or not matters only while the veto is in reach.
      const bool aVetoInReach = negCounter + (n - aIndex) > aVetoCount;
      const float aBestProduct = maxLength * maxWeight;
      const float aLengthF = static_cast<float>(L);
      // An affinity is at most 1: this triple cannot beat the best product.
      if (!aVetoInReach && aLengthF <= aBestProduct) continue;
      CTripleOutcome aOutcome = CTripleOutcome::kOpen;
      if (f.mScaled > 0.0f)
        aOutcome = CSettling(mTuning, sptDist, f.mLastStep, L, !aVetoInReach, aBestProduct)
                       .outcomeOfExponent(f.mExponent);
      float w = 0.0f;
      if (aOutcome == CTripleOutcome::kOpen)
        aOutcome = evaluateTriple(node1, node2, c, f.mStart, L, sptDist, true, !aVetoInReach,
                                  aBestProduct, w);
      switch (aOutcome) {
        case CTripleOutcome::kNotBetter:
          continue;
        case CTripleOutcome::kNegative:
          aOpen.push_back({aIndex, c, f.mStart, L, 0.0f});
          break;
        case CTripleOutcome::kExact:
          aNegative = static_cast<double>(w) < kNegativeAffinity;
          aKnown.push_back({aIndex, c, f.mStart, L, w});
          if (aLengthF * w > aBestProduct) {
            maxLength = aLengthF;
            maxWeight = w;
          }
          break;
        default:  // kZero: an affinity of 0 never raises the best product.
          break;
      }
    }
    if (aNegative && ++negCounter > aVetoCount) return 0.0f;
  }
  if (aOpen.empty()) return maxWeight;

  // Not vetoed: an open negative triple decides the weight only if its product can reach the
  // best one. Those that can are evaluated exactly, and the best triple is found again over
  // all triples of exact affinity in member order.
  bool aReopened = false;
  const float aBestProduct = maxLength * maxWeight;
  for (CKnownTriple& t : aOpen) {
    if (static_cast<float>(t.mLength) * kNegativeBound < aBestProduct) {
      t.mLength = 0;
      continue;
    }
    evaluateTriple(node1, node2, t.mMember, t.mStart, t.mLength, sptDist, false, false, 0.0f,
                   t.mWeight);
    aReopened = true;
  }
  if (!aReopened) return maxWeight;
  maxLength = maxWeight = 0.0f;
  size_t k = 0, o = 0;
  while (k < aKnown.size() || o < aOpen.size()) {
    const bool aTakeOpen =
        k == aKnown.size() || (o < aOpen.size() && aOpen[o].mIndex < aKnown[k].mIndex);
    const CKnownTriple& t = aTakeOpen ? aOpen[o++] : aKnown[k++];
    if (t.mLength < 1) continue;
    const float aLengthF = static_cast<float>(t.mLength);
    if (aLengthF * t.mWeight > maxLength * maxWeight) {
      maxLength = aLengthF;
      maxWeight = t.mWeight;
    }
  }
  return maxWeight;
}
