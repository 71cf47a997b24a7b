#include "spectral/RegionSmoothing.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  [[maybe_unused]] const int* aNode = aNeighbors.mNode.data();
  [[maybe_unused]] const float* aWeight = aNeighbors.mWeight.data();
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      const float s = S[n];
      float num = 0.0f, sum = 0.0f;
      int r = aStart[n];
      const int aEnd = aStart[n + 1];
#if defined(__SSE2__)
      const __m128d aEpsilon = _mm_set1_pd(kTvEpsilon);
      for (; r + 2 <= aEnd; r += 2) {
        const float sj0 = S[aNode[r]], sj1 = S[aNode[r + 1]];
        const float d0 = sj0 - s, d1 = sj1 - s;
        const __m128d aSquares =
            _mm_set_pd(static_cast<double>(d1 * d1), static_cast<double>(d0 * d0));
        const __m128d aWeights =
            _mm_set_pd(static_cast<double>(aWeight[r + 1]), static_cast<double>(aWeight[r]));
        const __m128d aPsi = _mm_div_pd(aWeights, _mm_sqrt_pd(_mm_add_pd(aSquares, aEpsilon)));
        alignas(16) float psi[4];
        _mm_store_ps(psi, _mm_cvtpd_ps(aPsi));
        num += psi[0];
        sum += psi[0] * sj0;
        num += psi[1];
        sum += psi[1] * sj1;
      }
#endif
      addNeighbors(aNeighbors, S, s, r, aEnd, num, sum);
      S[n] = relaxed(s, u[n], sum, num);
    }
  for (int n = 0; n < N; n++) S[n] -= u[n];
}

// The twenty Gauss-Seidel sweeps of kRegionLanes regions' smoothed memberships S, updated in
// place, with their hard memberships u, then S - u. Entry (n, l) of S and u is at
// kRegionLanes n + l. Every lane does the operations of the plain sweep of its region in the
// same order (the neighbour weights psi in double, their sums in list order); only the
// regions run side by side, so that each region's chain of sums no longer waits on itself.
void smoothRegionGroupBase(const CNeighborArrays& aNeighbors, const float* u, float* S, int N) {
  [[maybe_unused]] const float negOmega = 1.0f - kOmega;
  const int* aStart = aNeighbors.mStart.data();
  const int* aNode = aNeighbors.mNode.data();
  const float* aWeight = aNeighbors.mWeight.data();
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      float* Sn = S + kRegionLanes * n;
      const float* un = u + kRegionLanes * n;
#if defined(__SSE2__)
      const __m128 s = _mm_loadu_ps(Sn);
      const __m128d aEpsilon = _mm_set1_pd(kTvEpsilon);
      __m128 num = _mm_setzero_ps(), sum = _mm_setzero_ps();
      for (int r = aStart[n]; r < aStart[n + 1]; r++) {
        const __m128 sj = _mm_loadu_ps(S + kRegionLanes * aNode[r]);
        const __m128 diff = _mm_sub_ps(sj, s);
        const __m128 aSquare = _mm_mul_ps(diff, diff);
        const __m128d w = _mm_set1_pd(static_cast<double>(aWeight[r]));
        const __m128d aLow =
            _mm_div_pd(w, _mm_sqrt_pd(_mm_add_pd(_mm_cvtps_pd(aSquare), aEpsilon)));
        const __m128d aHigh = _mm_div_pd(
            w, _mm_sqrt_pd(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(aSquare, aSquare)), aEpsilon)));
        const __m128 psi = _mm_movelh_ps(_mm_cvtpd_ps(aLow), _mm_cvtpd_ps(aHigh));
        num = _mm_add_ps(num, psi);
        sum = _mm_add_ps(sum, _mm_mul_ps(psi, sj));
      }
      const __m128 aData = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(kInvNu), _mm_loadu_ps(un)), sum);
      const __m128 aNew = _mm_add_ps(
          _mm_mul_ps(_mm_set1_ps(negOmega), s),
          _mm_div_ps(_mm_mul_ps(_mm_set1_ps(kOmega), aData), _mm_add_ps(num, _mm_set1_ps(kInvNu))));
      _mm_storeu_ps(Sn, aNew);
#else
      for (int l = 0; l < kRegionLanes; l++) {
        const float s = Sn[l];
        float num = 0.0f, sum = 0.0f;
        for (int r = aStart[n]; r < aStart[n + 1]; r++) {
          const float sj = S[kRegionLanes * aNode[r] + l];
          const float psi = neighborWeight(aWeight[r], sj - s);
          num += psi;
          sum += psi * sj;
        }
        Sn[l] = relaxed(s, un[l], sum, num);
      }
#endif
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
  const __m256d aEpsilon = _mm256_set1_pd(kTvEpsilon);
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      const float s = S[n];
      float num = 0.0f, sum = 0.0f;
      int r = aStart[n];
      const int aEnd = aStart[n + 1];
      for (; r + 4 <= aEnd; r += 4) {
        alignas(16) float sj[4], aSquare[4];
        for (int q = 0; q < 4; q++) {
          sj[q] = S[aNode[r + q]];
          const float d = sj[q] - s;
          aSquare[q] = d * d;
        }
        const __m256d aPsi = _mm256_div_pd(
            _mm256_cvtps_pd(_mm_loadu_ps(aWeight + r)),
            _mm256_sqrt_pd(_mm256_add_pd(_mm256_cvtps_pd(_mm_load_ps(aSquare)), aEpsilon)));
        alignas(16) float psi[4];
        _mm_store_ps(psi, _mm256_cvtpd_ps(aPsi));
        for (int q = 0; q < 4; q++) {
          num += psi[q];
          sum += psi[q] * sj[q];
        }
      }
      addNeighbors(aNeighbors, S, s, r, aEnd, num, sum);
      S[n] = relaxed(s, u[n], sum, num);
    }
  for (int n = 0; n < N; n++) S[n] -= u[n];
  _mm256_zeroupper();
}

// smoothRegionGroupBase with the four lanes' weights psi formed in one 256-bit register of doubles.
QUORVIK_AVX2 void smoothRegionGroupAvx2(const CNeighborArrays& aNeighbors, const float* u, float* S,
                                        int N) {
  const float negOmega = 1.0f - kOmega;
  const int* aStart = aNeighbors.mStart.data();
  const int* aNode = aNeighbors.mNode.data();
  const float* aWeight = aNeighbors.mWeight.data();
  const __m256d aEpsilon = _mm256_set1_pd(kTvEpsilon);
  for (int aSweep = 0; aSweep < kSmoothingSweeps; aSweep++)
    for (int n = 0; n < N; n++) {
      float* Sn = S + kRegionLanes * n;
      const float* un = u + kRegionLanes * n;
      const __m128 s = _mm_loadu_ps(Sn);
      __m128 num = _mm_setzero_ps(), sum = _mm_setzero_ps();
      for (int r = aStart[n]; r < aStart[n + 1]; r++) {
        const __m128 sj = _mm_loadu_ps(S + kRegionLanes * aNode[r]);
        const __m128 diff = _mm_sub_ps(sj, s);
        const __m256d aSquare = _mm256_cvtps_pd(_mm_mul_ps(diff, diff));
        const __m256d w = _mm256_set1_pd(static_cast<double>(aWeight[r]));
        const __m128 psi =
            _mm256_cvtpd_ps(_mm256_div_pd(w, _mm256_sqrt_pd(_mm256_add_pd(aSquare, aEpsilon))));
        num = _mm_add_ps(num, psi);
        sum = _mm_add_ps(sum, _mm_mul_ps(psi, sj));
      }
      const __m128 aData = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(kInvNu), _mm_loadu_ps(un)), sum);
      const __m128 aNew = _mm_add_ps(
          _mm_mul_ps(_mm_set1_ps(negOmega), s),
          _mm_div_ps(_mm_mul_ps(_mm_set1_ps(kOmega), aData), _mm_add_ps(num, _mm_set1_ps(kInvNu))));
      _mm_storeu_ps(Sn, aNew);
    }
  for (int i = 0; i < kRegionLanes * N; i++) S[i] -= u[i];
  _mm256_zeroupper();
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
