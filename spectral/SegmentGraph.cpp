#include "spectral/SegmentGraph.h"

#include <algorithm>
#include <cmath>
#include <queue>

#include "spectral/CKMeans.h"
#include "spectral/RegionSmoothing.h"
#include "tracking/TrackRecords.h"

namespace {

// Weight of the pairwise term in every energy (its inverse is the data weight of the
// smoothing's sweeps).
constexpr float kNu = 8.0f;
// Features are scaled by this before clustering.
constexpr float kFeatureScale = 0.25f;
// Keeps the pair weight finite for trajectories with equal features.
constexpr float kFeatureDistanceOffset = 1e-6f;
// Failed trials in a row after which the search over K stops (it continues while <= 5).
constexpr int kMaxNoImprovement = 5;
// Merge candidates tried per pass.
constexpr int kMergeCandidates = 10;
// Smoothing: outer iterations (each a round of sweeps, RegionSmoothing.h), step, margin.
constexpr int kSmoothingIterations = 10;
constexpr float kDataScale = 0.125f;
constexpr float kOwnLabelMargin = 1000.0f;
constexpr float kMembershipStep = 0.5f;

bool contains(const std::vector<int>& aList, int aValue) {
  return std::find(aList.begin(), aList.end(), aValue) != aList.end();
}

// Statistics of aLabels, then mean = sum / count (the sum itself where the count is 0).
void recomputeMeans(CVector<float>* aData, CVector<float>* aSum, CVector<float>* aMean, float* aNum,
                    CVector<int>& aLabels, CVector<int>& aLength, int K) {
  kmeansRecomputeStatistics(aData, aSum, aNum, aLabels, aLength, K);
  for (int k = 0; k < K; k++) {
    aMean[k] = aSum[k];
    if (aNum[k] > 0.0f) {
      float inv = 1.0f / aNum[k];
      for (int i = 0; i < aMean[k].size(); i++) aMean[k](i) *= inv;
    }
  }
}

// Greedy merging of neighbouring regions: per pass, the best of the ten strongest boundaries
// whose removal lowers the energy strictly.
void mergeRegions(CVector<float>* aData, CVector<float>* aSum, CVector<float>* aMean, float* aNum,
                  CVector<int>& aLabels, CVector<int>& aLength, CVector<std::vector<float>>& g,
                  CVector<std::vector<int>>& idx, int K) {
  const int N = aLength.size();
  CMatrix<float> aGradient(K, K), aNeighborCount(K, K);
  std::vector<CVector<float>> tempSum(static_cast<size_t>(K)), tempMean(static_cast<size_t>(K));
  std::vector<float> tempNum(static_cast<size_t>(K));
  for (;;) {
    float bestMergeEnergy = computeEnergy(aData, aMean, aLabels, aLength, g, idx, kNu);
    CVector<int> bestLabels = aLabels;
    aGradient.fill(0.0f);
    aNeighborCount.fill(0.0f);
    for (int n = 0; n < N; n++) {
      const int a = aLabels(n);
      const float L = static_cast<float>(aLength(n));
      for (size_t r = 0; r < idx(n).size(); r++) {
        const int b = aLabels(idx(n)[r]);
        if (b == a) continue;
        aGradient(a, b) += g(n)[r] * L;
        aGradient(b, a) += g(n)[r] * L;
        aNeighborCount(a, b) += L;
        aNeighborCount(b, a) += L;
      }
    }
    std::priority_queue<CMergeType> aQueue;
    for (int a = 0; a < K; a++)
      for (int b = a + 1; b < K; b++)
        if (aNeighborCount(a, b) > 0.0f)
          aQueue.push(CMergeType(aGradient(a, b) / aNeighborCount(a, b), a, b));
    bool aMergeFound = false;
    for (int c = 0; c < kMergeCandidates && !aQueue.empty(); c++) {
      const CMergeType aCandidate = aQueue.top();
      aQueue.pop();
      CVector<int> tempLabels = aLabels;
      for (int n = 0; n < N; n++)
        if (tempLabels(n) == aCandidate.mb) tempLabels(n) = aCandidate.ma;
      recomputeMeans(aData, tempSum.data(), tempMean.data(), tempNum.data(), tempLabels, aLength,
                     K);
      float E = computeEnergy(aData, tempMean.data(), tempLabels, aLength, g, idx, kNu);
      if (E < bestMergeEnergy) {
        bestMergeEnergy = E;
        bestLabels = tempLabels;
        aMergeFound = true;
      }
    }
    aLabels = bestLabels;
    if (!aMergeFound) return;
    recomputeMeans(aData, aSum, aMean, aNum, aLabels, aLength, K);
  }
}

// Variational smoothing of the soft memberships u = aWork (N x K), starting from the hard
// labels; leaves the soft means in aSum/aNum/aMean. The regions' sweeps are independent of
// each other: they run kRegionLanes at a time, the groups on the worker threads.
void smoothMemberships(CVector<float>* aData, CVector<float>* aSum, CVector<float>* aMean,
                       float* aNum, CVector<int>& aLabels, CVector<int>& aLength,
                       const CNeighborArrays& aNeighbors, int K, CMatrix<float>& aWork) {
  const int N = aLength.size();
  const int aDim = aData[0].size();
  for (int k = 0; k < K; k++)
    for (int n = 0; n < N; n++) aWork(n, k) = aLabels(n) == k ? 1.0f : 0.0f;
  CMatrix<float> aSmoothed(N, K), aValue(N, K);
  // Whole groups of kRegionLanes regions, interleaved by node; the regions left over are
  // smoothed one by one.
  const int aGroups = K / kRegionLanes;
  const int aGrouped = aGroups * kRegionLanes;
  const size_t aGroupSize = static_cast<size_t>(kRegionLanes) * N;
  std::vector<float> aGroupU(aGroups * aGroupSize), aGroupS(aGroups * aGroupSize);
  for (int aIteration = 0; aIteration < kSmoothingIterations; aIteration++) {
    aSmoothed = aWork;
    for (int k = 0; k < aGrouped; k++) {
      float* u = aGroupU.data() + (k / kRegionLanes) * aGroupSize + k % kRegionLanes;
      for (int n = 0; n < N; n++) u[kRegionLanes * n] = aWork(n, k);
    }
    aGroupS = aGroupU;
#pragma omp parallel for schedule(dynamic, 1)
    for (int aItem = 0; aItem < aGroups + K - aGrouped; aItem++) {
      if (aItem < aGroups) {
        smoothRegionGroup(aNeighbors, aGroupU.data() + aItem * aGroupSize,
                          aGroupS.data() + aItem * aGroupSize, N);
      } else {
        const int k = aGrouped + aItem - aGroups;
        smoothRegion(aNeighbors, &aWork(0, k), &aSmoothed(0, k), N);
      }
    }
    for (int k = 0; k < aGrouped; k++) {
      const float* S = aGroupS.data() + (k / kRegionLanes) * aGroupSize + k % kRegionLanes;
      for (int n = 0; n < N; n++) aSmoothed(n, k) = S[kRegionLanes * n];
    }
    for (int n = 0; n < N; n++)
      for (int k = 0; k < K; k++)
        aValue(n, k) = -kDataScale * squaredDistance(aData[n], aMean[k], aDim) + aSmoothed(n, k);
    for (int n = 0; n < N; n++)
      for (int k = 0; k < K; k++) {
        float m = aValue(n, k) - kOwnLabelMargin;
        for (int k2 = 0; k2 < K; k2++)
          if (k2 != k) m = std::max(m, aValue(n, k2));
        aWork(n, k) += kMembershipStep * (aValue(n, k) - m);
      }
    for (int i = 0; i < aWork.size(); i++) {
      float u = aWork(i);
      if (std::isnan(u)) u = 0.0f;
      aWork(i) = std::min(1.0f, std::max(0.0f, u));
    }
    for (int k = 0; k < K; k++) {
      aSum[k].setSize(aDim);
      aSum[k].fill(0.0f);
      aNum[k] = 0.0f;
      for (int n = 0; n < N; n++) {
        const float Lu = static_cast<float>(aLength(n)) * aWork(n, k);
        for (int i = 0; i < aDim; i++) aSum[k](i) += Lu * aData[n](i);
        aNum[k] += Lu;
      }
      aMean[k] = aSum[k];
      if (aNum[k] > 0.0f) {
        float inv = 1.0f / aNum[k];
        for (int i = 0; i < aDim; i++) aMean[k](i) *= inv;
      }
    }
  }
}

}  // namespace

void segmentGraphMultiRegion(CMatrix<float>& aFeatures, CVector<float>& aWeights, int& aRegionNo,
                             CVector<int>& aIndexToNode, CVector<int>& aNodeToIndex,
                             std::vector<CTrack>& aTracks, CVector<int>& aResult,
                             CRandom& aRandom) {
  const int N = aFeatures.xSize();
  const int aDim = aFeatures.ySize();
  aResult.setSize(N);
  aResult.fill(0);
  if (N == 0) {
    aRegionNo = 0;
    return;
  }

  // 1. Features.
  CVector<float> invWeights(aDim);
  for (int i = 0; i < aDim; i++) invWeights(i) = 1.0f / (aWeights(i) * kFeatureScale);
  std::vector<CVector<float>> aDataStore(static_cast<size_t>(N), CVector<float>(aDim));
  CVector<float>* aData = aDataStore.data();
  for (int n = 0; n < N; n++)
    for (int i = 0; i < aDim; i++) aData[n](i) = kFeatureScale * aFeatures(n, i) * aWeights(i);

  // 2. Neighbour graph with pair weights: spatial distance over feature distance.
  CVector<int> aLength(N);
  CVector<std::vector<int>> idx(N);
  CVector<std::vector<float>> g(N);
  CVector<float> w(N, 0.0f);
  const int c = aTracks[static_cast<size_t>(aNodeToIndex(0))].mNearestNeighbors.size();
  for (int n = 0; n < N; n++) {
    idx(n).reserve(static_cast<size_t>(2 * c));
    g(n).reserve(static_cast<size_t>(2 * c));
  }
  for (int n = 0; n < N; n++) {
    const CTrack& T = aTracks[static_cast<size_t>(aNodeToIndex(n))];
    aLength(n) = static_cast<int>(T.mx.size());
    // A trajectory with a shorter neighbour list than node 0's is read only as far as it goes.
    const int aEntries = std::min(c, T.mNearestNeighbors.size());
    for (int r = 0; r < aEntries; r++) {
      const int t = T.mNearestNeighbors(r);
      if (t < 0 || t >= aIndexToNode.size()) continue;
      const int j = aIndexToNode(t);
      if (j < 0 || j >= N || contains(idx(n), j)) continue;
      idx(n).push_back(j);
      const float DX = T.mNearestNeighborsDX(r), DY = T.mNearestNeighborsDY(r);
      const float s = std::sqrt(DX * DX + DY * DY);
      float d = kFeatureDistanceOffset;
      for (int i = 0; i < aDim; i++) {
        const float diff = (aData[n](i) - aData[j](i)) * invWeights(i);
        d += diff * diff;
      }
      const float gamma = s / d;
      g(n).push_back(gamma);
      w(n) += gamma;
      if (!contains(idx(j), n)) {
        idx(j).push_back(n);
        g(j).push_back(gamma);
        w(j) += gamma;
      }
    }
  }
  for (int n = 0; n < N; n++)
    for (size_t r = 0; r < idx(n).size(); r++) {
      const float aMax = std::max(w(n), w(idx(n)[r]));
      if (aMax > 0.0f) g(n)[r] /= aMax;
    }

  const CNeighborArrays aNeighbors(g, idx);

  // 3. The one-region solution is the reference.
  int aLengthSum = 0;
  int aWeightedNodes = 0;
  CVector<float> mu(aDim, 0.0f);
  for (int n = 0; n < N; n++) {
    aLengthSum += aLength(n);
    if (aLength(n) > 0) aWeightedNodes++;
    for (int i = 0; i < aDim; i++) mu(i) += static_cast<float>(aLength(n)) * aData[n](i);
  }
  if (aLengthSum > 0) {
    const float inv = 1.0f / static_cast<float>(aLengthSum);
    for (int i = 0; i < aDim; i++) mu(i) *= inv;
  }
  float bestEnergy = 0.0f;
  for (int n = 0; n < N; n++)
    bestEnergy += static_cast<float>(aLength(n)) * squaredDistance(aData[n], mu, aDim);
  int bestRegionNo = 1;
  int aNoImprovement = 0;

  // 4. Trials of K regions. k-means cannot fill more regions than there are nodes of
  // positive length, so the search stops before such a K.
  const int aMaxRegions = std::min(aRegionNo, aWeightedNodes);
  for (int K = 2; K <= aMaxRegions && aNoImprovement <= kMaxNoImprovement; K++) {
    std::vector<CVector<float>> aSum(static_cast<size_t>(K)), aMean(static_cast<size_t>(K));
    std::vector<float> aNum(static_cast<size_t>(K));
    CMatrix<float> aWork(N, K);
    CVector<int> aLabels;
    kmeans(aData, aMean.data(), aNum.data(), aLabels, aLength, K, aRandom);
    mergeRegions(aData, aSum.data(), aMean.data(), aNum.data(), aLabels, aLength, g, idx, K);
    smoothMemberships(aData, aSum.data(), aMean.data(), aNum.data(), aLabels, aLength, aNeighbors,
                      K, aWork);
    for (int n = 0; n < N; n++) {
      int aBest = 0;
      for (int k = 1; k < K; k++)
        if (aWork(n, k) > aWork(n, aBest)) aBest = k;
      aLabels(n) = aBest;
    }
    recomputeMeans(aData, aSum.data(), aMean.data(), aNum.data(), aLabels, aLength, K);
    const float E = computeEnergy(aData, aMean.data(), aLabels, aLength, g, idx, kNu);
    if (E < bestEnergy) {
      aResult = aLabels;
      bestRegionNo = K;
      bestEnergy = E;
      aNoImprovement = 0;
    } else {
      aNoImprovement++;
    }
  }

  // 5. Compaction.
  compactRegions(aResult, aLength, bestRegionNo);
  aRegionNo = bestRegionNo;
}

void compactRegions(CVector<int>& aResult, CVector<int>& aLength, int& aRegionNo) {
  const int N = aResult.size();
  // A region without length is removed by moving the highest label into its place.
  for (int k = 0; k < aRegionNo;) {
    int aRegionLength = 0;
    for (int n = 0; n < N; n++)
      if (aResult(n) == k) aRegionLength += aLength(n);
    if (aRegionLength >= 1) {
      k++;
      continue;
    }
    for (int n = 0; n < N; n++)
      if (aResult(n) == k) aResult(n) = -1;
    aRegionNo--;
    if (k < aRegionNo) {
      for (int n = 0; n < N; n++)
        if (aResult(n) == aRegionNo) aResult(n) = k;
    } else {
      k++;
    }
  }
}
