#include "spectral/RegionSmoothing.h"

#include <cmath>

#include "foundation/Lanes.h"
#include "foundation/Simd.h"

namespace {

// Gauss-Seidel sweeps per call, over-relaxation, the data weight (the inverse of the
// segmentation energy's pair weight 8) and the offset that keeps psi finite where neighbours
// agree.
constexpr int kSmoothingSweeps = 20;
constexpr float kOmega = 1.85f;
constexpr float kInvNu = 0.125f;
constexpr double kTvEpsilon = 1e-6;

// A neighbour's weight psi from its pair weight and its difference to the node, in double.
QUORVIK_KERNEL float neighborWeight(float aWeight, float aDifference) {
  return static_cast<float>(static_cast<double>(aWeight) /
                            std::sqrt(static_cast<double>(aDifference * aDifference) + kTvEpsilon));
}

// Adds the neighbours r ... aEnd - 1 of a node of value s, one at a time in list order.
QUORVIK_KERNEL void addNeighbors(const CNeighborArrays& aNeighbors, const float* S, float s, int r,
                                 int aEnd, float& num, float& sum) {
  for (; r < aEnd; r++) {
    const float sj = S[aNeighbors.mNode[r]];
    const float psi = neighborWeight(aNeighbors.mWeight[r], sj - s);
    num += psi;
    sum += psi * sj;
  }
}

// The over-relaxed update of a node of value s and hard membership u from its neighbour sums.
QUORVIK_KERNEL float relaxed(float s, float u, float sum, float num) {
  return (1.0f - kOmega) * s + kOmega * (kInvNu * u + sum) / (num + kInvNu);
}

// The twenty Gauss-Seidel sweeps of one region's smoothed membership S (N entries, updated in
// place) with its hard membership u, then S - u. The weights psi of a node's neighbours depend
// only on values fixed during that node's update, so they are formed two at a time (each
// exactly as alone); their sums keep the list order.
void smoothRegionBase(const CNeighborArrays& aNeighbors, const float* u, float* S, int N) {
  const int* aStart = aNeighbors.mStart.data();
  const int* aNode = aNeighbors.mNode.data();
  const float* aWeight = aNeighbors.mWeight.data();
  const lanes::D2 aEpsilon = lanes::splatDouble(kTvEpsilon);
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      const float s = S[n];
      float num = 0.0f, sum = 0.0f;
      int r = aStart[n];
      const int aEnd = aStart[n + 1];
      for (; r + 2 <= aEnd; r += 2) {
        const float sj0 = S[aNode[r]], sj1 = S[aNode[r + 1]];
        const float d0 = sj0 - s, d1 = sj1 - s;
        const lanes::D2 aSquares =
            lanes::doubles(static_cast<double>(d0 * d0), static_cast<double>(d1 * d1));
        const lanes::D2 aWeights =
            lanes::doubles(static_cast<double>(aWeight[r]), static_cast<double>(aWeight[r + 1]));
        float psi[2];
        lanes::storeAsFloat(psi, aWeights / lanes::sqrt(aSquares + aEpsilon));
        num += psi[0];
        sum += psi[0] * sj0;
        num += psi[1];
        sum += psi[1] * sj1;
      }
      addNeighbors(aNeighbors, S, s, r, aEnd, num, sum);
      S[n] = relaxed(s, u[n], sum, num);
    }
  for (int n = 0; n < N; n++) S[n] -= u[n];
}

// The relaxed update of kRegionLanes regions' values s at a node from their hard memberships
// at aU and their neighbour sums, as relaxed() forms it in every lane.
QUORVIK_KERNEL lanes::F4 relaxedLanes(lanes::F4 s, const float* aU, lanes::F4 sum, lanes::F4 num) {
  const lanes::F4 aData = lanes::splat(kInvNu) * lanes::load(aU) + sum;
  return lanes::splat(1.0f - kOmega) * s +
         lanes::splat(kOmega) * aData / (num + lanes::splat(kInvNu));
}

// The twenty Gauss-Seidel sweeps of kRegionLanes regions' smoothed memberships S, updated in
// place, with their hard memberships u, then S - u. Entry (n, l) of S and u is at
// kRegionLanes n + l. Every lane does the operations of the plain sweep of its region in the
// same order (the neighbour weights psi in double, their sums in list order); only the
// regions run side by side, so that each region's chain of sums no longer waits on itself.
void smoothRegionGroupBase(const CNeighborArrays& aNeighbors, const float* u, float* S, int N) {
  static_assert(kRegionLanes == lanes::kWidth, "one lane per region");
  const int* aStart = aNeighbors.mStart.data();
  const int* aNode = aNeighbors.mNode.data();
  const float* aWeight = aNeighbors.mWeight.data();
  const lanes::D2 aEpsilon = lanes::splatDouble(kTvEpsilon);
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      float* Sn = S + kRegionLanes * n;
      const lanes::F4 s = lanes::load(Sn);
      lanes::F4 num = lanes::splat(0.0f), sum = lanes::splat(0.0f);
      for (int r = aStart[n]; r < aStart[n + 1]; r++) {
        const lanes::F4 sj = lanes::load(S + kRegionLanes * aNode[r]);
        const lanes::F4 diff = sj - s;
        const lanes::F4 aSquare = diff * diff;
        const lanes::D2 w = lanes::splatDouble(static_cast<double>(aWeight[r]));
        const lanes::F4 psi =
            lanes::toFloat(w / lanes::sqrt(lanes::lowToDouble(aSquare) + aEpsilon),
                           w / lanes::sqrt(lanes::highToDouble(aSquare) + aEpsilon));
        num = num + psi;
        sum = sum + psi * sj;
      }
      lanes::store(Sn, relaxedLanes(s, u + kRegionLanes * n, sum, num));
    }
  for (int i = 0; i < kRegionLanes * N; i++) S[i] -= u[i];
}

#if QUORVIK_HAS_AVX2_TARGET
// smoothRegionBase with the weights psi of four neighbours formed at a time, each exactly as
// alone; their sums keep the list order.
QUORVIK_AVX2 void smoothRegionAvx2(const CNeighborArrays& aNeighbors, const float* u, float* S,
                                   int N) {
  const int* aStart = aNeighbors.mStart.data();
  const int* aNode = aNeighbors.mNode.data();
  const float* aWeight = aNeighbors.mWeight.data();
  const lanes::D4 aEpsilon = lanes::splatWideDouble(kTvEpsilon);
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      const float s = S[n];
      float num = 0.0f, sum = 0.0f;
      int r = aStart[n];
      const int aEnd = aStart[n + 1];
      for (; r + 4 <= aEnd; r += 4) {
        float sj[4], aSquare[4];
        for (int q = 0; q < 4; q++) {
          sj[q] = S[aNode[r + q]];
          const float d = sj[q] - s;
          aSquare[q] = d * d;
        }
        const lanes::D4 aPsi = lanes::toDouble(lanes::load(aWeight + r)) /
                               lanes::sqrt(lanes::toDouble(lanes::load(aSquare)) + aEpsilon);
        float psi[4];
        lanes::store(psi, lanes::toFloat(aPsi));
        for (int q = 0; q < 4; q++) {
          num += psi[q];
          sum += psi[q] * sj[q];
        }
      }
      addNeighbors(aNeighbors, S, s, r, aEnd, num, sum);
      S[n] = relaxed(s, u[n], sum, num);
    }
  for (int n = 0; n < N; n++) S[n] -= u[n];
  lanes::leaveWide();
}

// smoothRegionGroupBase with the four lanes' weights psi formed in one register of four doubles.
QUORVIK_AVX2 void smoothRegionGroupAvx2(const CNeighborArrays& aNeighbors, const float* u, float* S,
                                        int N) {
  const int* aStart = aNeighbors.mStart.data();
  const int* aNode = aNeighbors.mNode.data();
  const float* aWeight = aNeighbors.mWeight.data();
  const lanes::D4 aEpsilon = lanes::splatWideDouble(kTvEpsilon);
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      float* Sn = S + kRegionLanes * n;
      const lanes::F4 s = lanes::load(Sn);
      lanes::F4 num = lanes::splat(0.0f), sum = lanes::splat(0.0f);
      for (int r = aStart[n]; r < aStart[n + 1]; r++) {
        const lanes::F4 sj = lanes::load(S + kRegionLanes * aNode[r]);
        const lanes::F4 diff = sj - s;
        const lanes::D4 aSquare = lanes::toDouble(diff * diff);
        const lanes::D4 w = lanes::splatWideDouble(static_cast<double>(aWeight[r]));
        const lanes::F4 psi = lanes::toFloat(w / lanes::sqrt(aSquare + aEpsilon));
        num = num + psi;
        sum = sum + psi * sj;
      }
      lanes::store(Sn, relaxedLanes(s, u + kRegionLanes * n, sum, num));
    }
  for (int i = 0; i < kRegionLanes * N; i++) S[i] -= u[i];
  lanes::leaveWide();
}
#endif

}  // namespace

CNeighborArrays::CNeighborArrays(const CVector<std::vector<float>>& g,
                                 const CVector<std::vector<int>>& idx) {
  const int N = idx.size();
  mStart.assign(static_cast<size_t>(N) + 1, 0);
  for (int n = 0; n < N; n++) {
    mNode.insert(mNode.end(), idx(n).begin(), idx(n).end());
    mWeight.insert(mWeight.end(), g(n).begin(), g(n).end());
    mStart[static_cast<size_t>(n) + 1] = static_cast<int>(mNode.size());
  }
}

void smoothRegion(const CNeighborArrays& aNeighbors, const float* u, float* S, int N) {
#if QUORVIK_HAS_AVX2_TARGET
  if (useAvx2()) return smoothRegionAvx2(aNeighbors, u, S, N);
#endif
  smoothRegionBase(aNeighbors, u, S, N);
}

void smoothRegionGroup(const CNeighborArrays& aNeighbors, const float* u, float* S, int N) {
#if QUORVIK_HAS_AVX2_TARGET
  if (useAvx2()) return smoothRegionGroupAvx2(aNeighbors, u, S, N);
#endif
  smoothRegionGroupBase(aNeighbors, u, S, N);
}
