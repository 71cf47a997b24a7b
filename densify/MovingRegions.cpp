#include "densify/MovingRegions.h"

#include <algorithm>
#include <cmath>

#include "densify/AffineMotion.h"

namespace {

// The border band: this share of the frame's smaller side, at least kMinBand pixels.
constexpr double kBandShare = 0.05;
constexpr int kMinBand = 4;
// A region moves with the background when its median miss of the background's motion is below
// the larger of these (pixels per frame; a multiple of the background's own median miss).
constexpr double kStillMiss = 0.5;
constexpr double kMissFactor = 3.0;
// Fewest steps an affine fit is made from.
constexpr int kMinFitSteps = 6;
// A region with at least this share of all trajectory points in the border band, or with at
// least kOwnBorderShare of its own points there, is background whatever its motion: the
// camera's motion over a scene with depth is not one affine map, and a background seen in
// parallax falls apart into regions that reach the border, while a moving object mostly keeps
// away from it (the band holds 15 % of a 854 x 480 frame; an object's points rarely 1 %).
constexpr double kBackgroundBorderShare = 0.15;
constexpr double kOwnBorderShare = 0.04;
// A region with fewer than this share of all trajectory steps is no object: a few trajectories
// the clustering set apart.
constexpr double kMinObjectShare = 0.001;

double median(std::vector<double>& aValues) {
  if (aValues.empty()) return 0.0;
  const size_t aMiddle = aValues.size() / 2;
  std::nth_element(aValues.begin(), aValues.begin() + aMiddle, aValues.end());
  return aValues[aMiddle];
}

}  // namespace

std::vector<bool> movingRegions(const std::vector<CTrack>& aTracks, int aRegions, int aXSize,
                                int aYSize) {
  std::vector<bool> aMoving(std::max(aRegions, 0), false);
  if (aRegions <= 0) return aMoving;

  // The background: most trajectory points in the border band.
  const int aBand =
      std::max(kMinBand, static_cast<int>(kBandShare * std::min(aXSize, aYSize) + 0.5));
  std::vector<long long> aBorderPoints(aRegions, 0), aPoints(aRegions, 0), aSteps(aRegions, 0);
  int aLastFrame = 0;
  for (const CTrack& t : aTracks) {
    if (t.mLabel < 0 || t.mLabel >= aRegions) continue;
    aSteps[t.mLabel] += static_cast<long long>(t.mx.size());
    aPoints[t.mLabel] += static_cast<long long>(t.mx.size()) + 1;
    aLastFrame = std::max(aLastFrame, t.endTime());
    for (int f = t.mSetupTime; f <= t.endTime(); f++) {
      const CTrackPoint p = t.positionAt(f);
      if (p.x < aBand || p.y < aBand || p.x >= aXSize - aBand || p.y >= aYSize - aBand)
        aBorderPoints[t.mLabel]++;
    }
  }
  int aBackground = 0;
  for (int k = 1; k < aRegions; k++)
    if (aBorderPoints[k] > aBorderPoints[aBackground]) aBackground = k;

  // The background's motion per frame pair, and every region's misses of it.
  std::vector<std::vector<double>> aMisses(aRegions);
  std::vector<std::vector<CPointStep>> aFrameSteps(aRegions);
  for (int f = 0; f < aLastFrame; f++) {
    for (auto& aList : aFrameSteps) aList.clear();
    for (const CTrack& t : aTracks) {
      if (t.mLabel < 0 || t.mLabel >= aRegions || f < t.mSetupTime || f >= t.endTime()) continue;
      const CTrackPoint a = t.positionAt(f), b = t.positionAt(f + 1);
      aFrameSteps[t.mLabel].push_back({a.x, a.y, b.x, b.y});
    }
    CAffineMotion aModel;
    if (static_cast<int>(aFrameSteps[aBackground].size()) < kMinFitSteps ||
        !fitAffineMotion(aFrameSteps[aBackground], aModel))
      continue;
    for (int k = 0; k < aRegions; k++)
      for (const CPointStep& s : aFrameSteps[k]) aMisses[k].push_back(aModel.miss(s));
  }
  const double aThreshold = std::max(kStillMiss, kMissFactor * median(aMisses[aBackground]));
  long long aAllBorder = 0, aAllSteps = 0;
  for (int k = 0; k < aRegions; k++) aAllBorder += aBorderPoints[k], aAllSteps += aSteps[k];
  for (int k = 0; k < aRegions; k++) {
    if (k == aBackground || aSteps[k] == 0) continue;
    if (aBorderPoints[k] >= kBackgroundBorderShare * aAllBorder ||
        aBorderPoints[k] >= kOwnBorderShare * aPoints[k])
      continue;
    if (aSteps[k] < kMinObjectShare * aAllSteps) continue;
    // Without a frame in which the background's motion is known, a region cannot be told from
    // it by motion; it counts as an object, as the clustering set it apart.
    aMoving[k] = aMisses[k].empty() || median(aMisses[k]) >= aThreshold;
  }
  return aMoving;
}
