// Weighted k-means on points of a common dimension: sequential (point-by-point) updates, a
// random and a hierarchical (best-first split in two) initialisation, a driver keeping the best
// of several starts, and the plain and the neighbour-penalised energy. Points are aData[0..N-1]
// (N = aLength.size(), dimension aData[0].size()), aLength(n) is the integer weight of point n,
// labels lie in 0 ... K-1. Cluster statistics: aSum[k] = sum of L(n) x(n), aNum[k] = sum of L(n),
// aMean[k] = aSum[k] / aNum[k] (aSum[k] itself where aNum[k] = 0). All in single precision.
#pragma once

#include <vector>

#include "foundation/CVector.h"
#include "foundation/Random.h"

// A labelling of the hierarchical initialisation together with the cluster it proposes to
// split next; ordered by that cluster's variance, then by the number of clusters.
class CState {
 public:
  CState() : mK(0), mSplit(0), mSplitVariance(0.0f) {}
  // Copies the labels only.
  explicit CState(const CVector<int>& aLabels)
      : mK(0), mSplit(0), mLabels(aLabels), mSplitVariance(0.0f) {}
  CState(const CState&) = default;
  CState& operator=(const CState&) = default;

  int mK;
  int mSplit;
  CVector<int> mLabels;
  // Per label: weighted mean squared distance of the cluster's points to its mean.
  std::vector<float> mVariances;
  float mSplitVariance;
};

bool operator<(const CState& a, const CState& b);

// Squared Euclidean distance of the first aDim components of a and b, summed in index order.
inline float squaredDistance(const CVector<float>& a, const CVector<float>& b, int aDim) {
  float aDist = 0.0f;
  for (int i = 0; i < aDim; i++) {
    const float diff = a(i) - b(i);
    aDist += diff * diff;
  }
  return aDist;
}

// Sum of L(n) |x(n) - mean of its label|^2 in point order.
float computeEnergy(CVector<float>* aData, CVector<float>* aMean, CVector<int>& aLabels,
                    CVector<int>& aLength);
// The plain energy plus, per point n, L(n) * aNu * (sum of g(n)[r] over the neighbours idx(n)[r]
// with another label).
float computeEnergy(CVector<float>* aData, CVector<float>* aMean, CVector<int>& aLabels,
                    CVector<int>& aLength, CVector<std::vector<float>>& g,
                    CVector<std::vector<int>>& idx, float aNu);

// Fills aSum[0..K-1] and aNum[0..K-1] from the labels; means are not touched.
void kmeansRecomputeStatistics(CVector<float>* aData, CVector<float>* aSum, float* aNum,
                               CVector<int>& aLabels, CVector<int>& aLength, int K);

// Random labels (from aRandom) until no cluster is empty, with their statistics. Returns false,
// leaving the labels unspecified, when fewer than K points have positive weight (no labelling
// without an empty cluster exists). After many failed draws the points of positive weight
// are dealt out in turn so that the call always ends.
bool kmeansRandomInit(CVector<float>* aData, CVector<float>* aSum, float* aNum,
                      CVector<int>& aLabels, CVector<int>& aLength, int K, CRandom& aRandom);

// Sequential k-means from the given labels and statistics: sweeps in point order, each point
// to its nearest mean (ties to the lower label), means updated after every move; at most
// aMaxIterations + 1 sweeps. Returns the number of sweeps run.
int kmeansOptimize(CVector<float>* aData, CVector<float>* aMean, CVector<float>* aSum, float* aNum,
                   CVector<int>& aLabels, CVector<int>& aLength, int K, int aMaxIterations);

// One random two-cluster solution (random start, at most 11 sweeps). Both counts are 0 when
// fewer than two points have positive weight.
void twoMeans(CVector<float>* aData, CVector<float>* aMean, float* aNum, CVector<int>& aLabels,
              CVector<int>& aLength, CRandom& aRandom);

// Appends up to aMaxInits K-cluster labellings, found by splitting clusters in two in the
// order of decreasing variance. K = 2 yields none.
void kmeansHierarchicalInit(CVector<float>* aData, CVector<int>& aLength,
                            std::vector<CState>& aInits, int K, unsigned aMaxInits,
                            CRandom& aRandom);

// Best of ten random starts and (K > 2) of up to 20 hierarchical starts, by the plain energy;
// the first of equal energies wins. Fills aLabels, aMean[0..K-1] and aNum[0..K-1]. Needs at
// least K points of positive weight.
void kmeans(CVector<float>* aData, CVector<float>* aMean, float* aNum, CVector<int>& aLabels,
            CVector<int>& aLength, int K, CRandom& aRandom);
