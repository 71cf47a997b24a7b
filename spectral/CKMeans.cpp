#include "spectral/CKMeans.h"

#include <queue>

#include "foundation/Lanes.h"
#include "foundation/Simd.h"

namespace {

// 2^-31 maps the random numbers onto [0, 1).
constexpr float kRandScale = 4.6566128730773926e-10f;
// Start of the running minimum of the assignment step.
constexpr float kFarAway = 1e20f;
// Random draws before the points of positive weight are dealt out in turn.
constexpr int kMaxRandomDraws = 1000;
// Sweep limit of the two-means and of the driver's refinements.
constexpr int kMaxIterations = 10;
constexpr int kRandomStarts = 10;
constexpr unsigned kMaxHierarchicalInits = 20;
// Means whose distances to a point are formed side by side (with AVX2 kWideMeanLanes).
constexpr int kMeanLanes = lanes::kWidth;
#if QUORVIK_HAS_AVX2_TARGET
constexpr int kWideMeanLanes = lanes::kWideWidth;
#endif
// States the hierarchical queue accepts unconditionally.
constexpr size_t kQueueCapacity = 40;

int dimensionOf(CVector<float>* aData, int N) {
  return N > 0 ? aData[0].size() : 0;
}

// aMean = aSum, scaled by 1 / aNum where aNum > 0.
void setMean(CVector<float>& aMean, const CVector<float>& aSum, float aNum) {
  aMean = aSum;
  if (aNum > 0.0f) {
    float inv = 1.0f / aNum;
    for (int i = 0; i < aMean.size(); i++) aMean(i) *= inv;
  }
}

int positiveWeightCount(CVector<int>& aLength) {
  int aCount = 0;
  for (int n = 0; n < aLength.size(); n++)
    if (aLength(n) > 0) aCount++;
  return aCount;
}

// Weighted mean squared distance of the points with aLabel to aMean.
float clusterVariance(CVector<float>* aData, CVector<int>& aLabels, CVector<int>& aLength,
                      int aLabel, const CVector<float>& aMean, float aNum) {
  const int N = aLength.size();
  const int aDim = dimensionOf(aData, N);
  float aSum = 0.0f;
  for (int n = 0; n < N; n++)
    if (aLabels(n) == aLabel)
      aSum += static_cast<float>(aLength(n)) * squaredDistance(aData[n], aMean, aDim);
  return aSum / aNum;
}

// The squared distances of point x (aDim components) to the aStride means stored by
// component (entry (i, k) at i * aStride + k), aLanes means side by side, each formed exactly
// as squaredDistance forms it (components in order). aStride is a multiple of aLanes.
void meanDistancesBase(const float* x, int aDim, const float* aByComponent, int aStride,
                       float* aDistances) {
  for (int k0 = 0; k0 < aStride; k0 += kMeanLanes) {
    lanes::F4 aDist = lanes::splat(0.0f);
    for (int i = 0; i < aDim; i++) {
      const lanes::F4 diff =
          lanes::splat(x[i]) - lanes::load(aByComponent + static_cast<size_t>(i) * aStride + k0);
      aDist = aDist + diff * diff;
    }
    lanes::store(aDistances + k0, aDist);
  }
}

#if QUORVIK_HAS_AVX2_TARGET
QUORVIK_AVX2 void meanDistancesAvx2(const float* x, int aDim, const float* aByComponent,
                                    int aStride, float* aDistances) {
  for (int k0 = 0; k0 < aStride; k0 += kWideMeanLanes) {
    lanes::F8 aDist = lanes::splatWide(0.0f);
    for (int i = 0; i < aDim; i++) {
      const lanes::F8 diff = lanes::splatWide(x[i]) -
                             lanes::loadWide(aByComponent + static_cast<size_t>(i) * aStride + k0);
      aDist = aDist + diff * diff;
    }
    lanes::store(aDistances + k0, aDist);
  }
  lanes::leaveWide();
}
#endif

struct CMeanDistances {
  void (*mKernel)(const float*, int, const float*, int, float*);
  int mLanes;
};

// The kernel for K means: eight lanes pay only beyond four means.
CMeanDistances meanDistancesKernel(int K) {
#if QUORVIK_HAS_AVX2_TARGET
  if (K > kMeanLanes && useAvx2()) return {meanDistancesAvx2, kWideMeanLanes};
#endif
  return {meanDistancesBase, kMeanLanes};
}

}  // namespace

bool operator<(const CState& a, const CState& b) {
  if (a.mSplitVariance == b.mSplitVariance) return a.mK < b.mK;
  return a.mSplitVariance < b.mSplitVariance;
}

float computeEnergy(CVector<float>* aData, CVector<float>* aMean, CVector<int>& aLabels,
                    CVector<int>& aLength) {
  const int N = aLength.size();
  const int aDim = dimensionOf(aData, N);
  float E = 0.0f;
  for (int n = 0; n < N; n++)
    E += static_cast<float>(aLength(n)) * squaredDistance(aData[n], aMean[aLabels(n)], aDim);
  return E;
}

float computeEnergy(CVector<float>* aData, CVector<float>* aMean, CVector<int>& aLabels,
                    CVector<int>& aLength, CVector<std::vector<float>>& g,
                    CVector<std::vector<int>>& idx, float aNu) {
  float E = computeEnergy(aData, aMean, aLabels, aLength);
  const int N = aLength.size();
  for (int n = 0; n < N; n++) {
    const std::vector<int>& aNeighbors = idx(n);
    const std::vector<float>& aWeights = g(n);
    float P = 0.0f;
    for (size_t r = 0; r < aNeighbors.size(); r++)
      if (aLabels(aNeighbors[r]) != aLabels(n)) P += aWeights[r];
    E += (static_cast<float>(aLength(n)) * aNu) * P;
  }
  return E;
}

void kmeansRecomputeStatistics(CVector<float>* aData, CVector<float>* aSum, float* aNum,
                               CVector<int>& aLabels, CVector<int>& aLength, int K) {
  const int N = aLength.size();
  const int aDim = dimensionOf(aData, N);
  for (int k = 0; k < K; k++) {
    aSum[k].setSize(aDim);
    aSum[k].fill(0.0f);
    aNum[k] = 0.0f;
  }
  for (int n = 0; n < N; n++) {
    const float L = static_cast<float>(aLength(n));
    CVector<float>& s = aSum[aLabels(n)];
    for (int i = 0; i < aDim; i++) s(i) += L * aData[n](i);
    aNum[aLabels(n)] += L;
  }
}

bool kmeansRandomInit(CVector<float>* aData, CVector<float>* aSum, float* aNum,
                      CVector<int>& aLabels, CVector<int>& aLength, int K, CRandom& aRandom) {
  const int N = aLength.size();
  if (K < 1 || positiveWeightCount(aLength) < K) return false;
  aLabels.setSize(N);
  for (int aDraw = 0;; aDraw++) {
    if (aDraw < kMaxRandomDraws) {
      for (int n = 0; n < N; n++) {
        int aLabel = static_cast<int>(static_cast<float>(K) * static_cast<float>(aRandom.next()) *
                                      kRandScale);
        aLabels(n) = aLabel >= K ? K - 1 : aLabel;
      }
    } else {
      // With barely more points than clusters a random draw almost never fills all of them;
      // dealing the weighted points out in turn does, and keeps the drawn labels elsewhere.
      int aNext = 0;
      for (int n = 0; n < N; n++)
        if (aLength(n) > 0) aLabels(n) = aNext++ % K;
    }
    kmeansRecomputeStatistics(aData, aSum, aNum, aLabels, aLength, K);
    bool aEmpty = false;
    for (int k = 0; k < K; k++)
      if (aNum[k] == 0.0f) aEmpty = true;
    if (!aEmpty) return true;
  }
}

int kmeansOptimize(CVector<float>* aData, CVector<float>* aMean, CVector<float>* aSum, float* aNum,
                   CVector<int>& aLabels, CVector<int>& aLength, int K, int aMaxIterations) {
  const int N = aLength.size();
  const int aDim = dimensionOf(aData, N);
  for (int k = 0; k < K; k++) setMean(aMean[k], aSum[k], aNum[k]);
  // The means by component, aLanes of them side by side: entry (i, k) at i * aStride + k.
  const CMeanDistances aDistancesOf = meanDistancesKernel(K);
  const int aLanes = aDistancesOf.mLanes;
  const int aStride = (K + aLanes - 1) / aLanes * aLanes;
  std::vector<float> aByComponent(static_cast<size_t>(aStride) * aDim, 0.0f);
  auto aCopyMean = [&](int k) {
    for (int i = 0; i < aDim; i++) aByComponent[static_cast<size_t>(i) * aStride + k] = aMean[k](i);
  };
  for (int k = 0; k < K; k++) aCopyMean(k);
  std::vector<float> aDistances(static_cast<size_t>(aStride));
  int aSweeps = 0;
  int aChanges;
  do {
    aChanges = 0;
    for (int n = 0; n < N; n++) {
      const CVector<float>& x = aData[n];
      aDistancesOf.mKernel(x.data(), aDim, aByComponent.data(), aStride, aDistances.data());
      float aBest = kFarAway;
      int aNew = 0;
      for (int k = 0; k < K; k++) {
        const float aDist = aDistances[static_cast<size_t>(k)];
        if (aDist < aBest) {
          aBest = aDist;
          aNew = k;
        }
      }
      const int aOld = aLabels(n);
      if (aNew == aOld) continue;
      const float L = static_cast<float>(aLength(n));
      for (int i = 0; i < aDim; i++) aSum[aOld](i) -= L * x(i);
      aNum[aOld] -= L;
      setMean(aMean[aOld], aSum[aOld], aNum[aOld]);
      for (int i = 0; i < aDim; i++) aSum[aNew](i) += L * x(i);
      aNum[aNew] += L;
      // A point of weight 0 joining an empty cluster leaves its count at 0; the mean then
      // stays the (zero) sum instead of becoming 0 * infinity = NaN.
      setMean(aMean[aNew], aSum[aNew], aNum[aNew]);
      aCopyMean(aOld);
      aCopyMean(aNew);
      aLabels(n) = aNew;
      aChanges++;
    }
    aSweeps++;
  } while (aChanges > 0 && aSweeps <= aMaxIterations);
  if (aChanges > 0)
    for (int k = 0; k < K; k++) setMean(aMean[k], aSum[k], aNum[k]);
  return aSweeps;
}

void twoMeans(CVector<float>* aData, CVector<float>* aMean, float* aNum, CVector<int>& aLabels,
              CVector<int>& aLength, CRandom& aRandom) {
  CVector<float> aSum[2];
  if (!kmeansRandomInit(aData, aSum, aNum, aLabels, aLength, 2, aRandom)) {
    aNum[0] = aNum[1] = 0.0f;
    aLabels.setSize(aLength.size());
    aLabels.fill(0);
    return;
  }
  kmeansOptimize(aData, aMean, aSum, aNum, aLabels, aLength, 2, kMaxIterations);
}

void kmeansHierarchicalInit(CVector<float>* aData, CVector<int>& aLength,
                            std::vector<CState>& aInits, int K, unsigned aMaxInits,
                            CRandom& aRandom) {
  const int N = aLength.size();
  CVector<float> aMean[2];
  float aNum[2];
  CVector<int> aLabels;
  twoMeans(aData, aMean, aNum, aLabels, aLength, aRandom);
  if (aNum[0] <= 0.0f || aNum[1] <= 0.0f) return;

  CState aFirst(aLabels);
  aFirst.mK = 2;
  aFirst.mVariances = {clusterVariance(aData, aLabels, aLength, 0, aMean[0], aNum[0]),
                       clusterVariance(aData, aLabels, aLength, 1, aMean[1], aNum[1])};
  std::priority_queue<CState> aQueue;
  for (int k = 0; k < 2; k++) {
    aFirst.mSplit = k;
    aFirst.mSplitVariance = aFirst.mVariances[static_cast<size_t>(k)];
    aQueue.push(aFirst);
  }

  while (!aQueue.empty() && aInits.size() < aMaxInits) {
    CState s = aQueue.top();
    aQueue.pop();
    int aCount = 0;
    for (int n = 0; n < N; n++)
      if (s.mLabels(n) == s.mSplit) aCount++;
    if (aCount <= 1) continue;

    std::vector<CVector<float>> aLocalData(static_cast<size_t>(aCount));
    CVector<int> aLocalLength(aCount), aLocalIndex(aCount);
    int aLocal = 0;
    for (int n = 0; n < N; n++)
      if (s.mLabels(n) == s.mSplit) {
        aLocalData[static_cast<size_t>(aLocal)] = aData[n];
        aLocalLength(aLocal) = aLength(n);
        aLocalIndex(aLocal) = n;
        aLocal++;
      }
    CVector<int> aLocalLabels;
    twoMeans(aLocalData.data(), aMean, aNum, aLocalLabels, aLocalLength, aRandom);
    if (aNum[0] <= 0.0f || aNum[1] <= 0.0f) continue;
    float aVariance0 =
        clusterVariance(aLocalData.data(), aLocalLabels, aLocalLength, 0, aMean[0], aNum[0]);
    float aVariance1 =
        clusterVariance(aLocalData.data(), aLocalLabels, aLocalLength, 1, aMean[1], aNum[1]);
    for (int i = 0; i < aCount; i++)
      if (aLocalLabels(i) == 1) s.mLabels(aLocalIndex(i)) = s.mK;

    if (s.mK + 1 == K) {
      aInits.push_back(CState(s.mLabels));
      continue;
    }
    s.mK++;
    s.mVariances[static_cast<size_t>(s.mSplit)] = aVariance0;
    s.mVariances.push_back(aVariance1);
    for (int k = 0; k < s.mK; k++) {
      s.mSplit = k;
      s.mSplitVariance = s.mVariances[static_cast<size_t>(k)];
      if (aQueue.size() < kQueueCapacity || aQueue.top().mSplitVariance < s.mSplitVariance)
        aQueue.push(s);
    }
  }
}

namespace {

// One start of the driver: its labels and statistics, optimised on their own.
struct CStart {
  CVector<int> mLabels;
  std::vector<CVector<float>> mSum, mMean;
  std::vector<float> mNum;
  float mEnergy = 0.0f;
  explicit CStart(int K)
      : mSum(static_cast<size_t>(K)), mMean(static_cast<size_t>(K)), mNum(static_cast<size_t>(K)) {}
};

// Optimises every start (independent of each other, on the worker threads) and returns the
// index of the first one of lowest energy below aBestEnergy, or -1.
int bestOfStarts(CVector<float>* aData, CVector<int>& aLength, int K, std::vector<CStart>& aStarts,
                 float& aBestEnergy) {
  const int aCount = static_cast<int>(aStarts.size());
#pragma omp parallel for schedule(dynamic, 1)
  for (int s = 0; s < aCount; s++) {
    CStart& aStart = aStarts[static_cast<size_t>(s)];
    kmeansOptimize(aData, aStart.mMean.data(), aStart.mSum.data(), aStart.mNum.data(),
                   aStart.mLabels, aLength, K, kMaxIterations);
    aStart.mEnergy = computeEnergy(aData, aStart.mMean.data(), aStart.mLabels, aLength);
  }
  int aBest = -1;
  for (int s = 0; s < aCount; s++)
    if (aStarts[static_cast<size_t>(s)].mEnergy < aBestEnergy) {
      aBestEnergy = aStarts[static_cast<size_t>(s)].mEnergy;
      aBest = s;
    }
  return aBest;
}

}  // namespace

void kmeans(CVector<float>* aData, CVector<float>* aMean, float* aNum, CVector<int>& aLabels,
            CVector<int>& aLength, int K, CRandom& aRandom) {
  float aBestEnergy = kFarAway;
  CVector<int> aBestLabels;
  // The random starts draw their labels one after the other, in the order of the sequence;
  // only their optimisations, which draw nothing, run side by side.
  std::vector<CStart> aStarts;
  for (int s = 0; s < kRandomStarts; s++) {
    aStarts.emplace_back(K);
    CStart& aStart = aStarts.back();
    if (!kmeansRandomInit(aData, aStart.mSum.data(), aStart.mNum.data(), aStart.mLabels, aLength, K,
                          aRandom)) {
      aStarts.pop_back();
      break;
    }
  }
  int aBest = bestOfStarts(aData, aLength, K, aStarts, aBestEnergy);
  if (aBest >= 0) aBestLabels = aStarts[static_cast<size_t>(aBest)].mLabels;
  if (K > 2) {
    std::vector<CState> aInits;
    kmeansHierarchicalInit(aData, aLength, aInits, K, kMaxHierarchicalInits, aRandom);
    aStarts.clear();
    for (CState& aInit : aInits) {
      aStarts.emplace_back(K);
      CStart& aStart = aStarts.back();
      aStart.mLabels = aInit.mLabels;
      kmeansRecomputeStatistics(aData, aStart.mSum.data(), aStart.mNum.data(), aStart.mLabels,
                                aLength, K);
    }
    aBest = bestOfStarts(aData, aLength, K, aStarts, aBestEnergy);
    if (aBest >= 0) aBestLabels = aStarts[static_cast<size_t>(aBest)].mLabels;
  }
  // Without any start (too few weighted points) every point goes to cluster 0.
  if (aBestLabels.size() != aLength.size()) {
    aBestLabels.setSize(aLength.size());
    aBestLabels.fill(0);
  }
  std::vector<CVector<float>> aSum(static_cast<size_t>(K));
  aLabels = aBestLabels;
  kmeansRecomputeStatistics(aData, aSum.data(), aNum, aLabels, aLength, K);
  for (int k = 0; k < K; k++) setMean(aMean[k], aSum[k], aNum[k]);
}
