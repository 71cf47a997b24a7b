// Trajectories of rigid motions with a known answer for the graph tests.
#pragma once

#include <cmath>
#include <vector>

#include "foundation/Random.h"
#include "tracking/CTrack.h"

namespace synthetic {

// A trajectory from (x0, y0) at frame aStart over aSteps steps; point k is given by aMove and
// the flow variation grows by aFlowVarStep per step.
template <class F>
CTrack makeTrack(int x0, int y0, int aStart, int aSteps, float aFlowVarStep, F aMove) {
  CTrack aTrack;
  aTrack.mox = x0;
  aTrack.moy = y0;
  aTrack.mSetupTime = aStart;
  float aSum = 0.0f;
  for (int k = 1; k <= aSteps; k++) {
    float x, y;
    aMove(k, x, y);
    aTrack.mx.push_back(x);
    aTrack.my.push_back(y);
    aSum += aFlowVarStep;
    aTrack.mFlowVar.push_back(aSum);
  }
  return aTrack;
}

// A translating trajectory: (x0 + k * dx, y0 + k * dy) after k steps.
inline CTrack translating(int x0, int y0, int aStart, int aSteps, float dx, float dy,
                          float aFlowVarStep = 0.2f) {
  return makeTrack(x0, y0, aStart, aSteps, aFlowVarStep, [&](int k, float& x, float& y) {
    x = static_cast<float>(x0) + static_cast<float>(k) * dx;
    y = static_cast<float>(y0) + static_cast<float>(k) * dy;
  });
}

// Grid trajectories of aSteps steps on a aWidth x aHeight picture: points left of the middle
// turn slowly about the picture centre, points right of it move down and left. aMotion
// receives 0 or 1 per trajectory. The noise is drawn from aRandom.
inline std::vector<CTrack> twoMotions(int aWidth, int aHeight, int aGrid, int aSteps,
                                      std::vector<int>& aMotion, CRandom& aRandom) {
  std::vector<CTrack> aTracks;
  aMotion.clear();
  const float cx = 0.5f * static_cast<float>(aWidth), cy = 0.5f * static_cast<float>(aHeight);
  for (int y0 = aGrid / 2; y0 < aHeight; y0 += aGrid)
    for (int x0 = aGrid / 2; x0 < aWidth; x0 += aGrid) {
      const int aKind = x0 < aWidth / 2 ? 0 : 1;
      const float aFlowVarStep = 0.2f + 0.001f * static_cast<float>(aRandom.next() % 100);
      auto aMove = [&](int k, float& x, float& y) {
        const float aNoise = 0.02f * static_cast<float>(aRandom.next() % 11 - 5);
        if (aKind == 0) {
          const float a = 0.01f * static_cast<float>(k);
          const float dx = static_cast<float>(x0) - cx, dy = static_cast<float>(y0) - cy;
          x = cx + std::cos(a) * dx - std::sin(a) * dy + aNoise;
          y = cy + std::sin(a) * dx + std::cos(a) * dy;
        } else {
          x = static_cast<float>(x0) - 1.5f * static_cast<float>(k) + aNoise;
          y = static_cast<float>(y0) + 1.0f * static_cast<float>(k);
        }
      };
      aTracks.push_back(makeTrack(x0, y0, 0, aSteps, aFlowVarStep, aMove));
      aMotion.push_back(aKind);
    }
  return aTracks;
}

}  // namespace synthetic
