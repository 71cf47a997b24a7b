#include "clustering/MergeClustersAffine.h"

#include <algorithm>
#include <cmath>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "foundation/NMath.h"
#include "graph/TrackDistances.h"

namespace {

// Closest squared distance before any common frame is seen.
constexpr float kInitialMinDist = 1e10f;
// Best pair cost before any pair is examined; above kStopLoss, so "no pair" stops.
constexpr float kInitialBestLoss = 1e8f;
// A pair costing more than this is not merged.
constexpr float kStopLoss = 2.0f;
// A cluster is fitted alone when it has more members than this in a frame ...
constexpr int kMinSingleFit = 2;
// ... and takes part in joint fits and merge tests when it has more than this.
constexpr int kMinJointFit = 3;
constexpr int kAffineParameters = 6;

// The step of a track from frame t to t + 1, when it has one.
struct CStep {
  float x, y;    // position at t
  float nx, ny;  // position at t + 1
  float weight;  // 1 / flowvar^2 of the step
};

bool stepAt(const CTrack& aTrack, int t, CStep& aStep) {
  const int aTime = t - aTrack.mSetupTime;
  if (aTime < 0 || aTime >= static_cast<int>(aTrack.mx.size())) return false;
  const CTrackPoint aFrom = aTrack.positionAt(t), aTo = aTrack.positionAt(t + 1);
  aStep.x = aFrom.x;
  aStep.y = aFrom.y;
  aStep.nx = aTo.x;
  aStep.ny = aTo.y;
  const float flowvar =
      aTime == 0 ? aTrack.mFlowVar[0] : aTrack.mFlowVar[aTime] - aTrack.mFlowVar[aTime - 1];
  aStep.weight = flowVariationWeight(flowvar);
  return true;
}

// Squared residual of a step under the affine model X.
inline float residual(const CVector<float>& X, const CStep& s) {
  const float dx = X[0] * s.x + X[1] * s.y + X[4] - s.nx;
  const float dy = X[2] * s.x + X[3] * s.y + X[5] - s.ny;
  return dx * dx + dy * dy;
}

// Appends the two rows of a step, scaled by aFactor, at row aRow of A and b.
inline void fillRows(CMatrix<float>& A, CVector<float>& b, int aRow, const CStep& s,
                     float aFactor) {
  const float x = aFactor * s.x, y = aFactor * s.y;
  for (int c = 0; c < kAffineParameters; c++) A(c, aRow) = A(c, aRow + 1) = 0.0f;
  A(0, aRow) = x;
  A(1, aRow) = y;
  A(4, aRow) = aFactor;
  b(aRow) = aFactor * s.nx;
  A(2, aRow + 1) = x;
  A(3, aRow + 1) = y;
  A(5, aRow + 1) = aFactor;
  b(aRow + 1) = aFactor * s.ny;
}

// Sets the adjacency of cluster aLabel with the clusters of the track's neighbour list.
void markListNeighbors(const std::vector<CTrack>& aTracks, const CTrack& aTrack, int aLabel,
                       CMatrix<bool>& aNeighbors) {
  const int aTrackCount = static_cast<int>(aTracks.size());
  for (int k = 0; k < aTrack.mNearestNeighbors.size(); k++) {
    const int c = aTrack.mNearestNeighbors[k];
    if (c < 0 || c >= aTrackCount) continue;
    const int aOther = aTracks[c].mLabel;
    if (aOther < 0 || aOther >= aNeighbors.xSize()) continue;
    aNeighbors(aOther, aLabel) = true;
    aNeighbors(aLabel, aOther) = true;
  }
}

// Smallest squared distance of the stored positions of two tracks over the steps of their
// common window; kInitialMinDist when the window is empty.
float closestApproach(const CTrack& A, const CTrack& B) {
  const int aStartTime = std::max(A.mSetupTime, B.mSetupTime);
  const int aEndTime = std::min(A.endTime(), B.endTime());
  float aMinDist = kInitialMinDist;
  for (int f = aStartTime + 1; f <= aEndTime; f++) {
    const CTrackPoint a = A.positionAt(f), b = B.positionAt(f);
    const float dx = a.x - b.x;
    const float dy = a.y - b.y;
    const float aDist = dx * dx + dy * dy;
    if (aDist < aMinDist) aMinDist = aDist;
  }
  return aMinDist;
}

// Phase 1: which clusters touch each other.
void findAdjacentClusters(const std::vector<CTrack>& aTracks, int aRegionNo, int aStep,
                          CMatrix<bool>& aNeighbors) {
  const float aThreshold = static_cast<float>(4 * aStep * aStep);
  const int aTrackCount = static_cast<int>(aTracks.size());
  auto aValidLabel = [aRegionNo](int aLabel) { return aLabel >= 0 && aLabel < aRegionNo; };
  for (int i = 0; i < aTrackCount; i++) {
    const int aLabelA = aTracks[i].mLabel;
    if (!aValidLabel(aLabelA)) continue;
    for (int j = i + 1; j < aTrackCount; j++) {
      const int aLabelB = aTracks[j].mLabel;
      if (!aValidLabel(aLabelB) || aNeighbors(aLabelA, aLabelB)) continue;
      markListNeighbors(aTracks, aTracks[i], aLabelA, aNeighbors);
      markListNeighbors(aTracks, aTracks[j], aLabelB, aNeighbors);
      if (closestApproach(aTracks[i], aTracks[j]) < aThreshold) {
        aNeighbors(aLabelA, aLabelB) = true;
        aNeighbors(aLabelB, aLabelA) = true;
      }
    }
  }
}

}  // namespace

void mergeClustersAffine(const CRunSettings& aSettings, std::vector<CTrack>& aTracks, int aRegionNo,
                         std::ostream& aStatus) {
  const int R = std::max(aRegionNo, 0);
  const int T = std::max(aSettings.mSequenceLength, 0);
  const int aTrackCount = static_cast<int>(aTracks.size());

  CMatrix<bool> aNeighbors(R, R, false);
  findAdjacentClusters(aTracks, R, aSettings.mStep, aNeighbors);
  aStatus << "Merging..." << std::endl;

  CMatrix<float> aError(R, T);
  CMatrix<int> aErrorCount(R, T);
  // Joint-fit losses are kept per adjacent pair (a < b) and frame, not as full R x T x R
  // tensors: only adjacent pairs are ever fitted jointly.
  std::vector<std::pair<int, int>> aPairs;
  std::vector<float> aLossA, aLossB;
  // Members of each cluster that take part in the current frame, in track-list order.
  std::vector<std::vector<int>> aMembers(R);
  std::vector<CStep> aSteps(aTrackCount);
  CMatrix<float> A;
  CVector<float> b;

  while (true) {
    aError = 0.0f;
    aErrorCount = 0;
    aPairs.clear();
    for (int a = 0; a < R; a++)
      for (int c = a + 1; c < R; c++)
        if (aNeighbors(a, c)) aPairs.emplace_back(a, c);
    aLossA.assign(aPairs.size() * T, 0.0f);
    aLossB.assign(aPairs.size() * T, 0.0f);

    for (int t = 0; t < T; t++) {
      for (auto& aList : aMembers) aList.clear();
      for (int i = 0; i < aTrackCount; i++) {
        const int aLabel = aTracks[i].mLabel;
        if (aLabel >= 0 && aLabel < R && stepAt(aTracks[i], t, aSteps[i]))
          aMembers[aLabel].push_back(i);
      }
      // Single fits.
      for (int k = 0; k < R; k++) {
        const int n = static_cast<int>(aMembers[k].size());
        if (n <= kMinSingleFit) continue;
        A.setSize(kAffineParameters, 2 * n);
        b.setSize(2 * n);
        for (int i = 0; i < n; i++) fillRows(A, b, 2 * i, aSteps[aMembers[k][i]], 1.0f);
        const CVector<float> X = NMath::leastSquares(A, b);
        float& aSum = aError(k, t);
        for (int i = 0; i < n; i++) {
          const CStep& s = aSteps[aMembers[k][i]];
          aSum += s.weight * residual(X, s);
        }
        aErrorCount(k, t) += n;
      }
      // Joint fits of adjacent pairs; each member's rows are scaled so that both clusters
      // weigh about alike in the fit (integer quotient of the counts, as the model intends).
      for (size_t p = 0; p < aPairs.size(); p++) {
        const int k1 = aPairs[p].first, k2 = aPairs[p].second;
        const int na = static_cast<int>(aMembers[k1].size());
        const int nb = static_cast<int>(aMembers[k2].size());
        if (na <= kMinJointFit || nb <= kMinJointFit) continue;
        const float wa = static_cast<float>(std::sqrt(static_cast<double>((na + nb) / na)));
        const float wb = static_cast<float>(std::sqrt(static_cast<double>((na + nb) / nb)));
        A.setSize(kAffineParameters, 2 * (na + nb));
        b.setSize(2 * (na + nb));
        // Both member lists are in track-list order; merge them to keep that order.
        int ia = 0, ib = 0, aRow = 0;
        while (ia < na || ib < nb) {
          if (ib >= nb || (ia < na && aMembers[k1][ia] < aMembers[k2][ib]))
            fillRows(A, b, aRow, aSteps[aMembers[k1][ia++]], wa);
          else
            fillRows(A, b, aRow, aSteps[aMembers[k2][ib++]], wb);
          aRow += 2;
        }
        const CVector<float> X = NMath::leastSquares(A, b);
        float& aSumA = aLossA[p * T + t];
        float& aSumB = aLossB[p * T + t];
        for (int i : aMembers[k1]) aSumA += aSteps[i].weight * residual(X, aSteps[i]);
        for (int i : aMembers[k2]) aSumB += aSteps[i].weight * residual(X, aSteps[i]);
      }
    }

    // The cheapest pair: per pair the frame where growth times the smaller count peaks.
    float aMin = kInitialBestLoss;
    int aMinA = -1, aMinB = -1;
    for (size_t p = 0; p < aPairs.size() && T > 0; p++) {
      const int a = aPairs[p].first, c = aPairs[p].second;
      float aMax = 0.0f, aMaxLoss = 0.0f;
      int aMaxT = -1;
      for (int t = 0; t < T; t++) {
        const int ca = aErrorCount(a, t), cb = aErrorCount(c, t);
        if (ca <= kMinJointFit || cb <= kMinJointFit) continue;
        const float aLossOfA = (aLossA[p * T + t] - aError(a, t)) / ca;
        const float aLossOfB = (aLossB[p * T + t] - aError(c, t)) / cb;
        const float aLoss = std::max(aLossOfA, aLossOfB);
        const int aCount = std::min(ca, cb);
        if (aCount * aLoss > aMax) {
          aMax = aCount * aLoss;
          aMaxLoss = aLoss;
          aMaxT = t;
        }
      }
      if (aMaxT != -1 && aMaxLoss < aMin) {
        aMin = aMaxLoss;
        aMinA = a;
        aMinB = c;
      }
    }
    if (aMin > kStopLoss) break;

    for (CTrack& aTrack : aTracks)
      if (aTrack.mLabel == aMinB) aTrack.mLabel = aMinA;
    for (int c = 0; c < R; c++)
      if (aNeighbors(aMinB, c)) {
        aNeighbors(aMinA, c) = true;
        aNeighbors(c, aMinA) = true;
      }
    aStatus << "Merging " << aMinA << " and " << aMinB << ": " << static_cast<double>(aMin)
            << std::endl;
  }
}
