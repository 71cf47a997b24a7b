// A plain, one-thread reference of the trajectory distances and the higher-order graph, written
// step by step from the algorithm's description and nothing else: every third member's triple
// is evaluated in full with the plain affinity and pow, the random members are drawn from the
// run's random numbers inside each edge's weighing in loop order, every weight is stored (0
// included) and nothing is cut short. The graph construction of the program is held against it; it
// never runs in the program.
//
// Where the description leaves a case open, the reference takes the program's documented rule:
// a similarity error with coincident points (or one that is not a number) is +infinity, an
// affinity that is not a number is 0, a flow-variation weight that is not finite is that of a
// variation of kZeroVariationStandIn, with a single earlier selection loop B draws no random
// members, and the stages end when fewer than four candidates remain.
#pragma once

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "foundation/Random.h"
#include "graph/HOGraph.h"
#include "graph/TrackDistances.h"
#include "settings/RunSettings.h"
#include "spectral/CGraph.h"
#include "tracking/CTrack.h"
#include "tracking/DistanceTransform.h"
#include "tracking/TrackRecords.h"

namespace reference {

struct CWindow {
  int mStart = 0;
  int mLength = 0;
};

inline CWindow window(const std::vector<const CTrack*>& aTracks) {
  CWindow w;
  int aEnd = std::numeric_limits<int>::max();
  for (const CTrack* t : aTracks) {
    w.mStart = std::max(w.mStart, t->mSetupTime);
    aEnd = std::min(aEnd, t->mSetupTime + static_cast<int>(t->mx.size()));
  }
  w.mLength = aEnd - w.mStart;
  return w;
}

inline void position(const CTrack& t, int f, float& x, float& y) {
  if (f == t.mSetupTime) {
    x = static_cast<float>(t.mox);
    y = static_cast<float>(t.moy);
  } else {
    x = t.mx[f - t.mSetupTime - 1];
    y = t.my[f - t.mSetupTime - 1];
  }
}

// Mean position over the window, the first window position truncated toward zero.
inline void meanPosition(const CTrack& t, const CWindow& w, float& mx, float& my) {
  float x, y;
  position(t, w.mStart, x, y);
  mx = static_cast<float>(static_cast<int>(x));
  my = static_cast<float>(static_cast<int>(y));
  for (int f = w.mStart + 1; f <= w.mStart + w.mLength; f++) {
    position(t, f, x, y);
    mx += x;
    my += y;
  }
  const float aInv = 1.0f / static_cast<float>(w.mLength + 1);
  mx *= aInv;
  my *= aInv;
}

inline float euclidDistance(const CTrack& A, const CTrack& B) {
  const CWindow w = window({&A, &B});
  if (w.mLength < 1) return 0.0f;
  float ax, ay, bx, by;
  meanPosition(A, w, ax, ay);
  meanPosition(B, w, bx, by);
  return std::sqrt((ax - bx) * (ax - bx) + (ay - by) * (ay - by));
}

inline void offer(CTrack& A, int c, float dx, float dy, float aKey) {
  const int k = A.mNearestNeighbors.size();
  if (k <= 0) return;
  for (int j = 0; j < k; j++)
    if (A.mNearestNeighbors(j) == c) return;
  auto L = [&](int j) {
    return A.mNearestNeighborsDX(j) * A.mNearestNeighborsDX(j) +
           A.mNearestNeighborsDY(j) * A.mNearestNeighborsDY(j);
  };
  if (L(k - 1) < aKey) return;
  int p = 0;
  for (int j = 0; j < k; j++)
    if (L(j) < aKey) p = j + 1;
  for (int j = k - 1; j > p; j--) {
    A.mNearestNeighbors(j) = A.mNearestNeighbors(j - 1);
    A.mNearestNeighborsDX(j) = A.mNearestNeighborsDX(j - 1);
    A.mNearestNeighborsDY(j) = A.mNearestNeighborsDY(j - 1);
  }
  A.mNearestNeighbors(p) = c;
  A.mNearestNeighborsDX(p) = dx;
  A.mNearestNeighborsDY(p) = dy;
}

inline void nearestNeighbors(CTrack& A, CTrack& B, int aIndexA, int aIndexB) {
  const CWindow w = window({&A, &B});
  if (w.mLength < 1) return;
  float ax, ay, bx, by;
  meanPosition(A, w, ax, ay);
  meanPosition(B, w, bx, by);
  const float aKey = (ax - bx) * (ax - bx) + (ay - by) * (ay - by);
  offer(A, aIndexB, bx - ax, by - ay, aKey);
  offer(B, aIndexA, ax - bx, ay - by, aKey);
}

inline float length(float x, float y) {
  return std::sqrt(x * x + y * y);
}

// The similarity carrying x-y from the first frame to the second, applied to z.
inline float simTransError(const float x1[2], const float x2[2], const float y1[2],
                           const float y2[2], const float z1[2], const float z2[2]) {
  const float v1[2] = {y1[0] - x1[0], y1[1] - x1[1]};
  const float v2[2] = {y2[0] - x2[0], y2[1] - x2[1]};
  const float w1[2] = {z1[0] - x1[0], z1[1] - x1[1]};
  const float u1[2] = {z1[0] - y1[0], z1[1] - y1[1]};
  const float w1_l = length(w1[0], w1[1]), u1_l = length(u1[0], u1[1]);
  const float v1_l = length(v1[0], v1[1]), v2_l = length(v2[0], v2[1]);
  if (v1_l == 0.0f || v2_l == 0.0f || w1_l == 0.0f || u1_l == 0.0f)
    return std::numeric_limits<float>::infinity();
  const float s = (v1[0] * v2[0] + v1[1] * v2[1]) / (v2_l * v1_l);
  float salpha = std::sqrt(std::max(0.0f, 1.0f - s * s));
  if (v1[0] * v2[1] - v1[1] * v2[0] < 0.0f) salpha = -salpha;
  const float ratio = v2_l / v1_l;
  CMatrix<float> R(2, 2);
  R(0, 0) = ratio * s;
  R(1, 0) = ratio * -salpha;
  R(0, 1) = ratio * salpha;
  R(1, 1) = ratio * s;
  CVector<float> aSum1(2), aZ1(2);
  aSum1(0) = x1[0] + y1[0];
  aSum1(1) = x1[1] + y1[1];
  aZ1(0) = z1[0];
  aZ1(1) = z1[1];
  const CVector<float> aRotated = R * aSum1;
  const float t[2] = {0.5f * ((x2[0] + y2[0]) - aRotated(0)),
                      0.5f * ((x2[1] + y2[1]) - aRotated(1))};
  const CVector<float> aPredicted = R * aZ1;
  const float zz[2] = {aPredicted(0) + t[0], aPredicted(1) + t[1]};
  const float aRecipSum = 1.0f / w1_l + 1.0f / u1_l;
  const float aBase = static_cast<float>(0.5 * static_cast<double>(v1_l) * aRecipSum);
  const float aStabilizer = static_cast<float>(std::pow(static_cast<double>(aBase), 0.25));
  const float aError =
      ((zz[0] - z2[0]) * (zz[0] - z2[0]) + (zz[1] - z2[1]) * (zz[1] - z2[1])) * aStabilizer;
  return std::isnan(aError) ? std::numeric_limits<float>::infinity() : aError;
}

inline float flowVariation(const CTrack& t, int f, int aGap) {
  const int i = f - t.mSetupTime - 1;
  if (i == -1) return t.mFlowVar[aGap - 1];
  return t.mFlowVar[i + aGap] - t.mFlowVar[i];
}

inline float tripleAffinity(const CTrack& A, const CTrack& B, const CTrack& C, float sptDist,
                            int* commLength, const CGraphTuning& aTuning) {
  const int FRAME_SAMPLE = aTuning.FRAME_SAMPLE, FRAME_STEP = aTuning.FRAME_STEP;
  const float ADJACENCY_WEIGHT = aTuning.ADJACENCY_WEIGHT;
  const CWindow w = window({&A, &B, &C});
  if (w.mLength < 1) return 0.0f;
  *commLength = w.mLength;
  int tstep, tmpStep, aPasses;
  if (w.mLength >= FRAME_SAMPLE + 3) {
    tstep = FRAME_SAMPLE, tmpStep = FRAME_STEP, aPasses = 1;
  } else if (w.mLength >= 4) {
    tstep = w.mLength - 3, tmpStep = 1, aPasses = 1;
  } else {
    tstep = 1, tmpStep = 1, aPasses = 2;
  }
  float maxDist = 0.0f;
  for (int aPass = 0; aPass < aPasses; aPass++) {
    if (aPass == 1) tstep = w.mLength;
    for (int t = w.mStart; t + tstep <= w.mStart + w.mLength; t += tmpStep) {
      float a1[2], a2[2], b1[2], b2[2], c1[2], c2[2];
      position(A, t, a1[0], a1[1]);
      position(A, t + tstep, a2[0], a2[1]);
      position(B, t, b1[0], b1[1]);
      position(B, t + tstep, b2[0], b2[1]);
      position(C, t, c1[0], c1[1]);
      position(C, t + tstep, c2[0], c2[1]);
      float tmpDist = simTransError(b1, b2, c1, c2, a1, a2);
      tmpDist = std::max(tmpDist, simTransError(a1, a2, c1, c2, b1, b2));
      tmpDist = std::max(tmpDist, simTransError(a1, a2, b1, b2, c1, c2));
      const float flowvar =
          std::min(std::min(flowVariation(A, t, tstep), flowVariation(B, t, tstep)),
                   flowVariation(C, t, tstep));
      float aWeight = 1.0f / (flowvar * flowvar);
      if (!std::isfinite(aWeight)) aWeight = 1.0f / (kZeroVariationStandIn * kZeroVariationStandIn);
      maxDist = std::max(maxDist, aWeight * tmpDist);
    }
  }
  const float aExponent = ((maxDist * sptDist) * static_cast<float>(FRAME_SAMPLE)) /
                          static_cast<float>(tstep) * (-ADJACENCY_WEIGHT);
  const float aWeight = static_cast<float>(std::exp(static_cast<double>(aExponent)));
  return std::isnan(aWeight) ? 0.0f : aWeight;
}

// One edge: its third members in sampling order (the random ones drawn here), their triples.
template <class TDraw>
float weighEdge(std::vector<CTrack>& aTracks, int node1, int node2, const CGraphTuning& aTuning,
                TDraw aDraw) {
  const float sptDist = euclidDistance(aTracks[node1], aTracks[node2]);
  float maxLength = 0.0f, maxWeight = 0.0f;
  int negCounter = 0, counter = 0;
  auto aTriple = [&](int node3) {
    int commonLength = 0;
    const float w = tripleAffinity(aTracks[node1], aTracks[node2], aTracks[node3], sptDist,
                                   &commonLength, aTuning);
    counter++;
    aTracks[node3].mLabel = 0;
    if (static_cast<double>(w) < 1e-5) negCounter++;
    if (static_cast<float>(commonLength) * w > maxLength * maxWeight) {
      maxLength = static_cast<float>(commonLength);
      maxWeight = w;
    }
  };
  for (int aSide = 0; aSide < 2; aSide++) {
    const CTrack& aTrack = aTracks[aSide == 0 ? node1 : node2];
    const int aOther = aSide == 0 ? node2 : node1;
    const int n = std::min(aTuning.SAMPLE_NN_COUNT, aTrack.mNearestNeighbors.size());
    for (int j = 0; j < n; j++) {
      const int c = aTrack.mNearestNeighbors(j);
      if (c >= 0 && c != aOther) aTriple(c);
    }
  }
  for (int r = 0; r < aTuning.SAMPLE_RAND_COUNT; r++) {
    const int node3 = aDraw();
    if (node3 >= 0) aTriple(node3);
  }
  return static_cast<double>(negCounter) > 0.9 * counter ? 0.0f : maxWeight;
}

inline void addEdge(CGraph& aEdges, int node1, int node2, float w) {
  aEdges[node1].emplace_back(node2, w);
  aEdges[node2].emplace_back(node1, w);
}

inline void buildGraph(const CRunSettings& aSettings, std::vector<CTrack>& aTracks,
                       CVector<bool>& aValidTracks, CGraph& aEdges, CRandom& aRandom) {
  const CGraphTuning& aTuning = aSettings.mTuning;
  const int mSequenceLength = aSettings.mSequenceLength, mStep = aSettings.mStep;
  const int mXSize = aSettings.mXSize, mYSize = aSettings.mYSize;
  const int N = static_cast<int>(aTracks.size());
  for (int i = 0; i < N; i++)
    for (int j = i + 1; j < N; j++)
      if (aValidTracks(i) && aValidTracks(j)) nearestNeighbors(aTracks[i], aTracks[j], i, j);

  aEdges.assign(N, std::vector<CEdge>());

  std::vector<CTrackItem> aList;
  std::vector<int> aAssigned;
  int aTotalLength = 0, aCoveredLength = 0;
  for (int i = 0; i < N; i++)
    if (aValidTracks(i)) {
      aList.emplace_back(i, aTracks[i].mFlowVar.back());
      aTotalLength += static_cast<int>(aTracks[i].mx.size());
    }
  std::vector<CMatrix<float>> aCovered;
  for (int f = 0; f <= mSequenceLength; f++)
    aCovered.emplace_back(mXSize / mStep + 1, mYSize / mStep + 1, 1e20f);
  const float invStep = 1.0f / static_cast<float>(mStep);
  auto cell = [&](int f, float x, float y) -> float& {
    const int cx = static_cast<int>(invStep * x), cy = static_cast<int>(invStep * y);
    assert(cx >= 0 && cy >= 0 && cx < aCovered[f].xSize() && cy < aCovered[f].ySize());
    return aCovered[f](cx, cy);
  };

  do {
    std::sort(aList.begin(), aList.end());
    const unsigned aStop = static_cast<unsigned>(aList.size()) / 4;
    if (aStop == 0) break;
    if (aStop > 2) {
      for (unsigned k1 = 0; k1 + 2 < aStop; k1++) {
        const int node1 = aList[k1].mIndex;
        std::vector<float> weightVec(aStop - k1 - 1);
        for (unsigned k2 = k1 + 1; k2 < aStop; k2++) {
          const int node2 = aList[k2].mIndex;
          aTracks[node1].mLabel = 0;
          aTracks[node2].mLabel = 0;
          weightVec[k2 - k1 - 1] = weighEdge(aTracks, node1, node2, aTuning, [&]() {
            unsigned r;
            do r = static_cast<unsigned>(aRandom.next()) % aStop;
            while (r == k1 || r == k2);
            return aList[r].mIndex;
          });
        }
        for (unsigned k2 = k1 + 1; k2 < aStop; k2++)
          addEdge(aEdges, node1, aList[k2].mIndex, weightVec[k2 - k1 - 1]);

        const int aCountB = static_cast<int>(aAssigned.size());
        weightVec.assign(aCountB, 0.0f);
        for (int i = 0; i < aCountB; i++) {
          const int node2 = aAssigned[i];
          aTracks[node2].mLabel = 0;
          weightVec[i] = weighEdge(aTracks, node1, node2, aTuning, [&]() {
            if (aCountB < 2) return -1;
            int r;
            do r = aRandom.next() % aCountB;
            while (r == i || aAssigned[r] == node1);
            return aAssigned[r];
          });
        }
        for (int i = 0; i < aCountB; i++) addEdge(aEdges, node1, aAssigned[i], weightVec[i]);
      }
    }
    for (unsigned k1 = 0; k1 < aStop; k1++) {
      const CTrack& t = aTracks[aList[k1].mIndex];
      aAssigned.push_back(aList[k1].mIndex);
      aCoveredLength += static_cast<int>(t.mx.size());
      for (size_t k = 0; k < t.mx.size(); k++)
        cell(t.mSetupTime + static_cast<int>(k), t.mx[k], t.my[k]) = 0.0f;
    }
    for (int f = 0; f < mSequenceLength; f++) euclideanDistanceTransform(aCovered[f]);
    for (unsigned i = 0; i < aStop && i < aList.size(); i++) {
      aList[i] = aList.back();
      aList.pop_back();
    }
    for (CTrackItem& aItem : aList) {
      const CTrack& t = aTracks[aItem.mIndex];
      float aSum = 0.0f;
      for (size_t k = 0; k < t.mx.size(); k++)
        aSum += cell(t.mSetupTime + static_cast<int>(k), t.mx[k], t.my[k]);
      aItem.mScore = t.mx.empty() ? 0.0f : t.mFlowVar.back() * aSum;
    }
  } while (aTuning.TOL_COVERED_PERCENTAGE * static_cast<float>(aTotalLength) >
           static_cast<float>(aCoveredLength));

  for (const CTrackItem& aItem : aList) {
    aTracks[aItem.mIndex].mLabel = -1;
    aValidTracks(aItem.mIndex) = false;
  }
}

}  // namespace reference
