#include "graph/TrackDistances.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/FourthRoot.h"

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

using CPoint = CTrackPoint;

// The frames all given trajectories cover: aStart ... aStart + aLength.
struct CWindow {
  int aStart;
  int aLength;
};

inline CWindow commonWindow(const CTrack& A, const CTrack& B) {
  const int aStart = std::max(A.mSetupTime, B.mSetupTime);
  return {aStart, std::min(A.endTime(), B.endTime()) - aStart};
}

inline CWindow commonWindow(const CTrack& A, const CTrack& B, const CTrack& C) {
  const int aStart = std::max(std::max(A.mSetupTime, B.mSetupTime), C.mSetupTime);
  return {aStart, std::min(std::min(A.endTime(), B.endTime()), C.endTime()) - aStart};
}

// Mean position over the window; the first window position is truncated toward zero.
inline CPoint meanPosition(const CTrack& A, const CWindow& w) {
  const CPoint aFirst = A.positionAt(w.aStart);
  float sx = static_cast<float>(static_cast<int>(aFirst.x));
  float sy = static_cast<float>(static_cast<int>(aFirst.y));
  const int k0 = w.aStart - A.mSetupTime;  // index in mx of frame aStart + 1
  const float* px = A.mx.data() + k0;
  const float* py = A.my.data() + k0;
  for (int k = 0; k < w.aLength; k++) {
    sx += px[k];
    sy += py[k];
  }
  const float aInv = 1.0f / static_cast<float>(w.aLength + 1);
  return {sx * aInv, sy * aInv};
}

// Flow variation accumulated by the track between frames t and t + aStep.
inline float flowVariation(const CTrack& A, int t, int aStep) {
  const int i = t - A.mSetupTime - 1;
  if (i == -1) return A.mFlowVar[aStep - 1];
  return A.mFlowVar[i + aStep] - A.mFlowVar[i];
}

void offer(CTrack& A, int c, float dx, float dy, float spdist) {
  const int k = A.mNearestNeighbors.size();
  if (k <= 0) return;
  int* aIndex = A.mNearestNeighbors.data();
  float* aDX = A.mNearestNeighborsDX.data();
  float* aDY = A.mNearestNeighborsDY.data();
  for (int j = 0; j < k; j++)
    if (aIndex[j] == c) return;
  auto squaredLength = [&](int j) { return aDX[j] * aDX[j] + aDY[j] * aDY[j]; };
  if (squaredLength(k - 1) < spdist) return;
  int p = 0;
  for (int j = k - 1; j >= 0; j--)
    if (squaredLength(j) < spdist) {
      p = j + 1;
      break;
    }
  for (int j = k - 1; j > p; j--) {
    aIndex[j] = aIndex[j - 1];
    aDX[j] = aDX[j - 1];
    aDY[j] = aDY[j - 1];
  }
  aIndex[p] = c;
  aDX[p] = dx;
  aDY[p] = dy;
}

inline float length(CPoint x, CPoint y) {
  const float dx = y.x - x.x, dy = y.y - x.y;
  return std::sqrt(dx * dx + dy * dy);
}

// The similarity-transform error (see getSimTransError) with the lengths of x1-y1 (v1_l),
// x2-y2 (v2_l), x1-z1 (w1_l) and y1-z1 (u1_l) given: the three errors of a triple sample share
// them, and a length does not depend on the direction in which it is measured.
inline float predictionError(CPoint x1, CPoint x2, CPoint y1, CPoint y2, CPoint z1, CPoint z2,
                             float v1_l, float v2_l, float w1_l, float u1_l) {
  // A segment of length 0 carries no rotation or scale, and a third point on an end of the
  // segment has an infinite stabiliser: no finite error exists.
  if (v1_l == 0.0f || v2_l == 0.0f || w1_l == 0.0f || u1_l == 0.0f) return kInfinity;
  const float v1x = y1.x - x1.x, v1y = y1.y - x1.y;
  const float v2x = y2.x - x2.x, v2y = y2.y - x2.y;
  const float s = (v1x * v2x + v1y * v2y) / (v2_l * v1_l);
  float salpha = std::sqrt(std::max(0.0f, 1.0f - s * s));
  if (v1x * v2y - v1y * v2x < 0.0f) salpha = -salpha;
  const float ratio = v2_l / v1_l;
  const float r00 = ratio * s, r01 = ratio * -salpha;
  const float r10 = ratio * salpha, r11 = ratio * s;
  const float mx = x1.x + y1.x, my = x1.y + y1.y;
  const float tx = 0.5f * ((x2.x + y2.x) - (r00 * mx + r01 * my));
  const float ty = 0.5f * ((x2.y + y2.y) - (r10 * mx + r11 * my));
  const float zzx = (r00 * z1.x + r01 * z1.y) + tx;
  const float zzy = (r10 * z1.x + r11 * z1.y) + ty;
  const float aRecipSum = 1.0f / w1_l + 1.0f / u1_l;
  const float aBase = static_cast<float>(0.5 * static_cast<double>(v1_l) * aRecipSum);
  const float aStabilizer = fourthRootToFloat(static_cast<double>(aBase));
  const float ex = zzx - z2.x, ey = zzy - z2.y;
  const float aError = (ex * ex + ey * ey) * aStabilizer;
  return std::isnan(aError) ? kInfinity : aError;
}

// The similarity-transform error on plain points.
float simTransError(CPoint x1, CPoint x2, CPoint y1, CPoint y2, CPoint z1, CPoint z2) {
  return predictionError(x1, x2, y1, y2, z1, z2, length(x1, y1), length(x2, y2), length(x1, z1),
                         length(y1, z1));
}

float tripleAffinity(const CTrack& A, const CTrack& B, const CTrack& C, float sptDist,
                     int* commLength, const CGraphTuning& aTuning) {
  const CWindow w = commonWindow(A, B, C);
  if (w.aLength < 1) return 0.0f;
  *commLength = w.aLength;
  int tstep, tmpStep, aFirstStep, aPasses;
  if (w.aLength >= aTuning.FRAME_SAMPLE + 3) {
    tstep = aTuning.FRAME_SAMPLE;
    tmpStep = aTuning.FRAME_STEP;
    aFirstStep = tstep;
    aPasses = 1;
  } else if (w.aLength >= 4) {
    tstep = w.aLength - 3;
    tmpStep = 1;
    aFirstStep = tstep;
    aPasses = 1;
  } else {
    tstep = w.aLength;
    tmpStep = 1;
    aFirstStep = 1;
    aPasses = 2;
  }
  const int aEnd = w.aStart + w.aLength;
  float maxDist = 0.0f;
  for (int aPass = 0; aPass < aPasses; aPass++) {
    const int aStep = aPass == 0 ? aFirstStep : tstep;
    for (int t = w.aStart; t + aStep <= aEnd; t += tmpStep) {
      const CPoint a1 = A.positionAt(t), a2 = A.positionAt(t + aStep);
      const CPoint b1 = B.positionAt(t), b2 = B.positionAt(t + aStep);
      const CPoint c1 = C.positionAt(t), c2 = C.positionAt(t + aStep);
      const float flowvar =
          std::min(std::min(flowVariation(A, t, aStep), flowVariation(B, t, aStep)),
                   flowVariation(C, t, aStep));
      const float aInvVar = flowVariationWeight(flowvar);
      const float lAB1 = length(a1, b1), lAC1 = length(a1, c1), lBC1 = length(b1, c1);
      const float lBC2 = length(b2, c2);
      float tmpDist = predictionError(b1, b2, c1, c2, a1, a2, lBC1, lBC2, lAB1, lAC1);
      tmpDist = std::max(tmpDist,
                         predictionError(a1, a2, c1, c2, b1, b2, lAC1, length(a2, c2), lAB1, lBC1));
      tmpDist = std::max(tmpDist,
                         predictionError(a1, a2, b1, b2, c1, c2, lAB1, length(a2, b2), lAC1, lBC1));
      const float aScaled = aInvVar * tmpDist;
      if (aScaled > maxDist) maxDist = aScaled;
    }
  }
  return affinityOfError(maxDist, sptDist, tstep, aTuning);
}

}  // namespace

float computeEuclidDistance(const CTrack& A, const CTrack& B) {
  const CWindow w = commonWindow(A, B);
  if (w.aLength < 1) return 0.0f;
  const CPoint a = meanPosition(A, w), b = meanPosition(B, w);
  const float dx = a.x - b.x, dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

void computeNearestNeighbors(CTrack& A, CTrack& B, int aIndexA, int aIndexB) {
  offerNearestNeighbor(A, B, aIndexB);
  offerNearestNeighbor(B, A, aIndexA);
}

void offerNearestNeighbor(CTrack& A, const CTrack& B, int aIndexB) {
  const CWindow w = commonWindow(A, B);
  if (w.aLength < 1) return;
  const CPoint a = meanPosition(A, w), b = meanPosition(B, w);
  // (a - b)^2 and (b - a)^2 are the same floats: the key does not depend on the pair's order.
  const float dx = a.x - b.x, dy = a.y - b.y;
  offer(A, aIndexB, b.x - a.x, b.y - a.y, dx * dx + dy * dy);
}

float getSimTransError(CVector<float>& x1, CVector<float>& x2, CVector<float>& y1,
                       CVector<float>& y2, CVector<float>& z1, CVector<float>& z2) {
  return simTransError({x1(0), x1(1)}, {x2(0), x2(1)}, {y1(0), y1(1)}, {y2(0), y2(1)},
                       {z1(0), z1(1)}, {z2(0), z2(1)});
}

float computeDistance(const CTrack& A, const CTrack& B, const CTrack& C, float sptDist,
                      int* commLength, const CGraphTuning& aTuning) {
  return tripleAffinity(A, B, C, sptDist, commLength, aTuning);
}
