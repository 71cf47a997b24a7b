#include "spectral/SplitTracks.h"

#include <cmath>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "spectral/SegmentGraph.h"

namespace {

constexpr float kRandScale = 4.6566128730773926e-10f;  // 2^-31
// Starting values of the running minimum and maximum of an eigenvector.
constexpr float kRangeStart = 1e8f;
// Keeps the normalisation finite for a vector with a single value.
constexpr double kRangeSlack = 0.0001;
// A side of an eigenvector's two-means lighter than this (sum of square roots of track
// lengths) is a small group cut off, not a motion region.
constexpr float kMinSideWeight = 100.0f;
constexpr int kTwoMeansSweeps = 10;
// Projection of the trajectories outside the split.
constexpr float kNotEmbedded = -100.0f;

void logLine(std::ostream& aStatus, const char* aLine) {
  aStatus << aLine << std::endl;
}

// Weighted two-means of the values of one eigenvector; returns the side weights in aNum.
void twoMeansOfVector(const float* v, const CVector<float>& w, CVector<int>& aLabel, float* aNum,
                      CRandom& aRandom) {
  const int n = w.size();
  float sum[2], mean[2];
  do {
    aNum[0] = aNum[1] = sum[0] = sum[1] = 0.0f;
    for (int i = 0; i < n; i++) {
      int l = static_cast<int>(2.0f * (static_cast<float>(aRandom.next()) * kRandScale));
      if (l > 1) l = 1;
      aLabel(i) = l;
      aNum[l] += w(i);
      sum[l] += w(i) * v[i];
    }
  } while (aNum[0] <= 0.0f || aNum[1] <= 0.0f);
  mean[0] = sum[0] / aNum[0];
  mean[1] = sum[1] / aNum[1];
  for (int aSweep = 0; aSweep < kTwoMeansSweeps; aSweep++) {
    int aChanges = 0;
    for (int i = 0; i < n; i++) {
      const float d0 = (v[i] - mean[0]) * (v[i] - mean[0]);
      const float d1 = (v[i] - mean[1]) * (v[i] - mean[1]);
      const int l = d1 <= d0 ? 1 : 0;
      const int old = aLabel(i);
      if (l == old) continue;
      aNum[old] -= w(i);
      sum[old] -= v[i] * w(i);
      mean[old] = sum[old];
      if (aNum[old] > 0.0f) mean[old] = (1.0f / aNum[old]) * sum[old];
      aNum[l] += w(i);
      sum[l] += v[i] * w(i);
      mean[l] = (1.0f / aNum[l]) * sum[l];
      aLabel(i) = l;
      aChanges++;
    }
    if (aChanges == 0) break;
  }
}

}  // namespace

void splitTracks(int aLabel, std::vector<CTrack>& aTracks, CClusteringState& aState,
                 std::ostream& aStatus) {
  // 1. Selection.
  const int aTrackCount = static_cast<int>(aTracks.size());
  if (aTrackCount <= 0) {
    // Nothing to split; the log still shows the phase.
    for (const char* aLine :
         {"Before N-Cut.", "After N-Cut.", "Before segmentation.", "After segmentation."})
      logLine(aStatus, aLine);
    return;
  }
  CVector<bool> aValidTracks(aTrackCount, false);
  CVector<int> aTrackToNode(aTrackCount, -1);
  std::vector<int> aNodes;
  for (int i = 0; i < aTrackCount; i++)
    if (aTracks[static_cast<size_t>(i)].mLabel == aLabel) {
      aValidTracks(i) = true;
      aTrackToNode(i) = static_cast<int>(aNodes.size());
      aNodes.push_back(i);
    }
  const int n = static_cast<int>(aNodes.size());
  CVector<int> aNodeToTrack(n);
  for (int i = 0; i < n; i++) aNodeToTrack(i) = aNodes[static_cast<size_t>(i)];

  // 2. Embedding.
  CMatrix<float> eigVecs;
  logLine(aStatus, "Before N-Cut.");
  ncut(aState.mGraph, aValidTracks, eigVecs, aState.mEigVals, 2, aState.mEigenStart, aStatus);
  logLine(aStatus, "After N-Cut.");
  const int m = eigVecs.ySize();

  // 3. Every eigenvector onto [0, 1].
  for (int j = 0; j < m; j++) {
    float aMin = kRangeStart, aMax = -kRangeStart;
    for (int i = 0; i < n; i++) {
      aMin = std::min(aMin, eigVecs(i, j));
      aMax = std::max(aMax, eigVecs(i, j));
    }
    const double aRange =
        static_cast<double>(aMax - aMin) + std::fabs(static_cast<double>(aMax)) * kRangeSlack;
    // An all-zero vector has no range; it maps to 0 instead of 0 * infinity = NaN.
    const float factor = aRange > 0.0 ? static_cast<float>(1.0 / aRange) : 0.0f;
    for (int i = 0; i < n; i++) eigVecs(i, j) = (eigVecs(i, j) - aMin) * factor;
  }

  // 4. Node weights.
  CVector<float> w(n);
  int aWeighted = 0;
  for (int i = 0; i < n; i++) {
    w(i) = static_cast<float>(
        std::sqrt(static_cast<double>(aTracks[static_cast<size_t>(aNodeToTrack(i))].mx.size())));
    if (w(i) > 0.0f) aWeighted++;
  }

  // 5. Eigenvectors that only cut off a light group are dropped; the group are outliers.
  CVector<bool> aKeepVector(m, true);
  CVector<bool> aKillTheseNodes(n, false);
  int aKept = m;
  CVector<int> aSide(n);
  for (int j = 0; j < m; j++) {
    // Two sides of positive weight need two weighted nodes; without them the vector
    // separates nothing.
    if (aWeighted < 2) {
      aKeepVector(j) = false;
      aKept--;
      continue;
    }
    float aNum[2];
    twoMeansOfVector(&eigVecs(0, j), w, aSide, aNum, aState.mRandom);
    if (aNum[0] < kMinSideWeight || aNum[1] < kMinSideWeight) {
      aKeepVector(j) = false;
      aKept--;
      const int aLight = aNum[1] < kMinSideWeight ? 1 : 0;
      for (int i = 0; i < n; i++)
        if (aSide(i) == aLight) aKillTheseNodes(i) = true;
    }
  }

  // 6. Compaction of the kept vectors and their weights.
  CMatrix<float> aKeptVecs(n, aKept);
  CVector<float> aKeptVals(aKept);
  for (int j = 0, k = 0; j < m; j++) {
    if (!aKeepVector(j)) continue;
    for (int i = 0; i < n; i++) aKeptVecs(i, k) = eigVecs(i, j);
    aKeptVals(k) = aState.mEigVals(j);
    k++;
  }
  aState.mEigVals = aKeptVals;

  // 7. Features into the trajectories.
  for (int i = 0; i < aTrackCount; i++) {
    CTrack& T = aTracks[static_cast<size_t>(i)];
    T.mProjection.setSize(aKept);
    for (int j = 0; j < aKept; j++)
      T.mProjection(j) = aValidTracks(i) ? aKeptVecs(aTrackToNode(i), j) : kNotEmbedded;
  }

  // 8. Segmentation.
  int aRegions = 2 * aKept;
  CVector<int> X;
  logLine(aStatus, "Before segmentation.");
  segmentGraphMultiRegion(aKeptVecs, aState.mEigVals, aRegions, aTrackToNode, aNodeToTrack, aTracks,
                          X, aState.mRandom);
  logLine(aStatus, "After segmentation.");

  // 9. Labels.
  for (int i = 0; i < n; i++) {
    CTrack& T = aTracks[static_cast<size_t>(aNodeToTrack(i))];
    if (X(i) < 0 || aKillTheseNodes(i))
      T.mLabel = -1;
    else if (X(i) == 0)
      T.mLabel = aLabel;
    else
      T.mLabel = X(i) + aState.mRegionNo - 1;
  }
  // 10. Counter.
  if (aRegions > 1) aState.mRegionNo += aRegions - 1;
}
