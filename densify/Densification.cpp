#include "densify/Densification.h"

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>

#include "densify/DenseRegions.h"
#include "densify/MovingRegions.h"
#include "densify/RegionColours.h"
#include "densify/RegionPictures.h"
#include "densify/Superpixels.h"
#include "flow/FlowCache.h"

namespace {

// Superpixel grid step as a share of the frame's smaller side (about 12 pixels at 480 rows),
// and SLIC's compactness.
constexpr double kGridShare = 0.025;
constexpr int kMinGridStep = 4;
constexpr float kCompactness = 10.0f;
// Radius, in superpixel grid steps, of the neighbourhood whose points confirm a point's label
// before its colour counts for its region: a few trajectory spacings, so that a point near a
// region border sees the other side.
constexpr double kConfirmRadius = 2.0;
// A PNG pixel holds region numbers 0 ... 255.
constexpr int kMaxRegions = 256;

// Region numbers of the labels: the labels themselves when they fit a PNG pixel, else their
// ranks among the labels that occur.
std::vector<int> regionNumbers(const std::vector<CTrack>& aTracks, int& aRegions) {
  int aLargest = -1;
  for (const CTrack& t : aTracks) aLargest = std::max(aLargest, t.mLabel);
  std::vector<int> aNumber(aLargest + 1);
  for (int k = 0; k <= aLargest; k++) aNumber[k] = k;
  aRegions = aLargest + 1;
  if (aRegions <= kMaxRegions) return aNumber;
  std::vector<bool> aUsed(aLargest + 1, false);
  for (const CTrack& t : aTracks)
    if (t.mLabel >= 0) aUsed[t.mLabel] = true;
  int aNext = 0;
  for (int k = 0; k <= aLargest; k++)
    aNumber[k] = aUsed[k] ? std::min(aNext++, kMaxRegions - 1) : 0;
  aRegions = std::min(aNext, kMaxRegions);
  return aNumber;
}

// The labelled points of relative frame t, with their steps to the neighbouring frames.
void framePoints(const std::vector<CTrack>& aTracks, int t, std::vector<CRegionPoint>& aPoints) {
  aPoints.clear();
  for (const CTrack& aTrack : aTracks) {
    if (aTrack.mLabel < 0 || !aTrack.covers(t)) continue;
    const CTrackPoint p = aTrack.positionAt(t);
    CRegionPoint aPoint{p.x,  p.y,  aTrack.mLabel, aTrack.covers(t + 1), aTrack.covers(t - 1), 0.0f,
                        0.0f, 0.0f, 0.0f};
    if (aPoint.mHasNext) {
      const CTrackPoint n = aTrack.positionAt(t + 1);
      aPoint.nx = n.x, aPoint.ny = n.y;
    }
    if (aPoint.mHasPrevious) {
      const CTrackPoint q = aTrack.positionAt(t - 1);
      aPoint.px = q.x, aPoint.py = q.y;
    }
    aPoints.push_back(aPoint);
  }
}

// Reads a colour frame; false after one line on standard error.
bool readColourFrame(const std::string& aName, int aXSize, int aYSize, CTensor<float>& aFrame) {
  if (!aFrame.readFromPPM(aName.c_str())) return false;
  if (aFrame.zSize() != 3) {
    std::cerr << "Frame " << aName << " is not a colour (P6) picture" << std::endl;
    return false;
  }
  if (aFrame.xSize() == aXSize && aFrame.ySize() == aYSize) return true;
  std::cerr << "Frame " << aName << " is " << aFrame.xSize() << " x " << aFrame.ySize() << ", not "
            << aXSize << " x " << aYSize << " like the first frame" << std::endl;
  return false;
}

}  // namespace

bool computeDenseRegions(const CDenseInput& aInput, const std::vector<CTrack>& aTracks,
                         CDenseSummary* aSummary) {
  CDenseSummary aOwnSummary;
  CDenseSummary& aDone = aSummary ? *aSummary : aOwnSummary;
  aDone = CDenseSummary();
  const int W = aInput.mXSize, H = aInput.mYSize;
  const int aLength = static_cast<int>(aInput.mFrames.size());
  int aRegions = 0;
  const std::vector<int> aNumber = regionNumbers(aTracks, aRegions);
  std::vector<CTrack> aNumbered;
  const std::vector<CTrack>* aSource = &aTracks;
  if (aRegions > 0 && static_cast<int>(aNumber.size()) != aRegions) {
    aNumbered = aTracks;
    for (CTrack& t : aNumbered)
      if (t.mLabel >= 0) t.mLabel = aNumber[t.mLabel];
    aSource = &aNumbered;
  }
  const std::vector<CTrack>& aLabelled = *aSource;
  const std::vector<std::vector<bool>> aMoving = movingRegions(aLabelled, aRegions, W, H, aLength);
  const int aGridStep = std::max(kMinGridStep, static_cast<int>(kGridShare * std::min(W, H) + 0.5));

  // The frame at hand and the next one, the flows of the pair before it (its backward flow
  // carries the previous regions) and of the pair after it.
  CTensor<float> aFrame, aNext, aBackward, aForward, aNextBackward;
  CMatrix<int> aPrevious, aRegionOf;
  const CTensor<float> aNoFlow;
  const CMatrix<int> aNoRegions;
  CSuperpixels aSuperpixels;
  std::vector<CRegionPoint> aPoints;
  CFlowSource aPair;
  aPair.mXSize = W;
  aPair.mYSize = H;
  auto read = [&](int t, CTensor<float>& aPicture) {
    return readColourFrame(aInput.mFrames[t], W, H, aPicture);
  };
  if (aLength == 0) return true;

  // The regions' colours over the whole sequence, before any frame is labelled.
  CRegionColours aColours(aRegions, kConfirmRadius * aGridStep);
  for (int t = 0; t < aLength; t++) {
    if (!read(t, aFrame)) return false;
    framePoints(aLabelled, t, aPoints);
    aColours.add(aFrame, aPoints);
  }
  aColours.finish();
  CColourEvidence aColour;
  aColour.mFrame = &aFrame;
  aColour.mColours = &aColours;

  if (!read(0, aFrame)) return false;
  std::uint64_t aFingerprint = frameFingerprint(aFrame);
  bool aHasBackward = false;
  for (int t = 0; t < aLength; t++) {
    const int a = aInput.mFirstFrame + t;
    bool aHasForward = false;
    std::uint64_t aNextFingerprint = 0;
    if (t + 1 < aLength) {
      if (!read(t + 1, aNext)) return false;
      aNextFingerprint = frameFingerprint(aNext);
      aPair.mFirst = aFingerprint;
      aPair.mSecond = aNextFingerprint;
      aHasForward = readCachedFlows(aInput.mFlowDir, a, aPair, aForward, aNextBackward);
      aDone.mPairsWithFlows += aHasForward;
    }

    computeSuperpixels(aFrame, aGridStep, kCompactness, aSuperpixels);
    framePoints(aLabelled, t, aPoints);
    labelFrame(aSuperpixels, aPoints, aHasBackward ? aPrevious : aNoRegions,
               aHasBackward ? aBackward : aNoFlow, aHasForward ? aForward : aNoFlow, aRegions,
               aRegionOf, aColour);
    if (!writeRegionPictures(aInput.mOutputDir, t, aRegionOf, aMoving[t], aFrame)) return false;

    std::swap(aPrevious, aRegionOf);
    std::swap(aFrame, aNext);
    std::swap(aBackward, aNextBackward);
    aHasBackward = aHasForward;
    aFingerprint = aNextFingerprint;
  }
  return true;
}
