#include "tracking/Tracker.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

#include "flow/CMatching.h"
#include "flow/COpticFlow.h"
#include "flow/FlowCache.h"
#include "flow/FlowPictures.h"
#include "flow/FramePreparation.h"
#include "foundation/CFilter.h"
#include "settings/ResultNames.h"
#include "tracking/CFlowVariation.h"
#include "tracking/CTrack.h"
#include "tracking/DistanceTransform.h"
#include "tracking/FlowAhead.h"

namespace {

// Integration scale of the corner measure that decides seeding and texture.
constexpr float kCornerRho = 1.0f;
// Seeds keep this many pixels from every border.
constexpr int kSeedMargin = 4;
// "Far from every live track" before any track exists.
constexpr float kNoTrackDistance = 1e20f;
// Track colour: row kColorRowsPerStep * length of the colour ramp.
constexpr int kColorRowsPerStep = 4;

// Squared distance to the nearest live track end; 1e20 everywhere before the first step.
void computeCoverage(int t, const std::vector<CTrack>& aTracks, CMatrix<float>& aCovered) {
  const int aXSize = aCovered.xSize(), aYSize = aCovered.ySize();
  aCovered.fill(kNoTrackDistance);
  if (t == 0) return;
  for (const CTrack& aTrack : aTracks) {
    if (aTrack.mStopped) continue;
    const CTrackPoint aEnd = aTrack.positionAt(aTrack.endTime());
    const int x = static_cast<int>(aEnd.x), y = static_cast<int>(aEnd.y);
    if (x >= 0 && x < aXSize && y >= 0 && y < aYSize) aCovered(x, y) = 0.0f;
  }
  euclideanDistanceTransform(aCovered);
}

// New tracks on the grid where the corner measure is high enough for the distance to the
// border and no live track is within aStep pixels.
void seedTracks(int t, int aStep, const CMatrix<float>& aCovered, const CMatrix<float>& aCorners,
                float aCornerAvg, std::vector<CTrack>& aTracks) {
  const int aXSize = aCovered.xSize(), aYSize = aCovered.ySize();
  if (aYSize <= 2 * kSeedMargin || aXSize <= 2 * kSeedMargin) return;
  const float aMinCovered = static_cast<float>(aStep * aStep);
  for (int ay = kSeedMargin; ay < aYSize - kSeedMargin; ay += aStep)
    for (int ax = kSeedMargin; ax < aXSize - kSeedMargin; ax += aStep) {
      if (aCovered(ax, ay) < aMinCovered) continue;
      const int aDistToBorder = std::min(std::min(ax, ay), std::min(aXSize - ax, aYSize - ay));
      const float e = static_cast<float>(std::exp(-0.1 * aDistToBorder));
      const float c = aCorners(ax, ay);
      if (c < aCornerAvg * (e + 0.1)) continue;
      if (c < e + 1.0f) continue;
      CTrack aTrack;
      aTrack.mox = ax;
      aTrack.moy = ay;
      aTrack.mLabel = -1;
      aTrack.mSetupTime = t;
      aTrack.mScale = seedScale(ax, ay);
      aTracks.push_back(std::move(aTrack));
    }
}

// Colour of a track with aLength positions; tracks longer than the ramp take its last row.
void trackColour(size_t aLength, float& r, float& g, float& b) {
  const size_t aRow = std::min(aLength * kColorRowsPerStep, static_cast<size_t>(kColorCodeRows));
  const CColour c = colorCode(static_cast<long long>(aRow));
  r = c.mRed, g = c.mGreen, b = c.mBlue;
}

// The tracking picture starts as the prepared frame in colour; a grey frame is repeated into
// three channels so that tracks can be drawn in colour.
void startPicture(const CTensor<float>& aImage, CTensor<float>& aShow) {
  if (aImage.zSize() >= 3) {
    aShow = aImage;
    return;
  }
  aShow.setSize(aImage.xSize(), aImage.ySize(), 3);
  const int aPlane = aImage.xSize() * aImage.ySize();
  for (int z = 0; z < 3; z++)
    std::copy(aImage.data(), aImage.data() + aPlane, aShow.data() + z * aPlane);
}

bool writePicture(const CRunSettings& aSettings, const CTensor<float>& aShow, int aFrame) {
  return aShow.writeToPPM((aSettings.mResultDir + NResultNames::kTracking.name(aFrame)).c_str());
}

// Flows of the pair (t, t + 1) from the cache when its record names exactly these two frames,
// else computed, cached with their record and drawn. A pair computed ahead (aAhead) is read
// from the cache and logged as computed. False when a computed flow, its record or its
// pictures could not be written (the writer has said why).
bool loadOrComputeFlow(const CRunSettings& aSettings, std::ostream& aStatus, int t,
                       CFlowAhead::EOutcome aAhead, const CFlowSource& aSource,
                       const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                       const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                       const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                       const CPairFlow& aComputeFlow, const CPairFlowPictures& aShowFlow,
                       CTensor<float>& aForward, CTensor<float>& aBackward) {
  if (aAhead == CFlowAhead::kFailed) return false;
  const std::string& aFolder = aSettings.mResultDir;
  const int aFirst = aSettings.mStartFrame;
  if (readCachedFlows(aFolder, aFirst + t, aSource, aForward, aBackward)) {
    if (aAhead == CFlowAhead::kComputed) aStatus << "Compute optical flow. Frame" << t << std::endl;
    return true;
  }
  aStatus << "Compute optical flow. Frame" << t << std::endl;
  aComputeFlow(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aForward, aBackward);
  if (!writeCachedFlows(aFolder, aFirst + t, aSource, aForward, aBackward)) return false;
  return !aShowFlow || aShowFlow(aForward, aBackward, t);
}

// One step of every live track along the forward flow, or its end; draws the new positions.
void propagateTracks(const CTensor<float>& aForward, const CMatrix<float>& aFlowVar,
                     const CMatrix<float>& aUnreliable, std::vector<CTrack>& aTracks,
                     CTensor<float>& aShow) {
  const int aXSize = aForward.xSize(), aYSize = aForward.ySize();
  for (CTrack& aTrack : aTracks) {
    if (aTrack.mStopped) continue;
    // A live track has one position per frame since its start, so its last one is frame t's.
    const CTrackPoint aNow = aTrack.positionAt(aTrack.endTime());
    const float ax = aNow.x, ay = aNow.y;
    const float aOldVar = aTrack.mFlowVar.empty() ? 0.0f : aTrack.mFlowVar.back();
    const long iax = std::lround(ax), iay = std::lround(ay);
    if (iax < 0 || iay < 0 || iax >= aXSize || iay >= aYSize || aUnreliable(iax, iay) > 0.0f) {
      aTrack.mStopped = true;
      continue;
    }
    const float bx = ax + aForward(iax, iay, 0);
    const float by = ay + aForward(iax, iay, 1);
    // Finite and not far outside first, so that the rounding is defined.
    if (!(bx > -1.0f && by > -1.0f && bx < aXSize && by < aYSize)) {
      aTrack.mStopped = true;
      continue;
    }
    const long ibx = std::lround(bx), iby = std::lround(by);
    if (iby < 0 || ibx < 0 || ibx >= aXSize || iby >= aYSize) {
      aTrack.mStopped = true;
      continue;
    }
    aTrack.mx.push_back(bx);
    aTrack.my.push_back(by);
    aTrack.mFlowVar.push_back(aOldVar + aFlowVar(iax, iay));
    float r, g, b;
    trackColour(aTrack.mx.size(), r, g, b);
    aShow.drawRect(ibx - 1, iby - 1, ibx + 1, iby + 1, r, g, b);
  }
}

// One line per frame pair on a terminal, rewritten in place; nothing otherwise.
class CProgress {
 public:
  CProgress() : mTerminal(isatty(STDERR_FILENO) == 1) {}
  void start() { mStart = std::chrono::steady_clock::now(); }
  void done(int t, int aPairs) {
    if (!mTerminal) return;
    const double aSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
    std::fprintf(stderr, "\rTracking: frame pair %d of %d, %.1f s\033[K", t + 1, aPairs, aSeconds);
    if (t + 1 == aPairs) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  bool mTerminal;
  std::chrono::steady_clock::time_point mStart;
};

}  // namespace

int seedScale(int ax, int ay) {
  const int aBits = (ax - kSeedMargin) | (ay - kSeedMargin);
  for (int aScale = 1; aScale <= 16; aScale *= 2)
    if (aBits & aScale) return aScale;
  return 32;
}

void markUnreliable(const CTensor<float>& aForward, const CTensor<float>& aBackward,
                    const CMatrix<float>& aCorners, float aCornerAvg, CMatrix<float>& aUnreliable) {
  const int aXSize = aForward.xSize(), aYSize = aForward.ySize();
  aUnreliable.setSize(aXSize, aYSize);
  aUnreliable.fill(0.0f);
  // Squared flow gradient: large at motion boundaries.
  const CDerivative<float> aDev(3);
  CTensor<float> dx(aXSize, aYSize, 2), dy(aXSize, aYSize, 2);
  NFilter::filter(aForward, dx, aDev, 1, 1);
  NFilter::filter(aForward, dy, 1, aDev, 1);
  CMatrix<float> aMotionEdge(aXSize, aYSize);
  for (int ay = 0; ay < aYSize; ay++)
    for (int ax = 0; ax < aXSize; ax++) {
      const float dxu = dx(ax, ay, 0), dxv = dx(ax, ay, 1);
      const float dyu = dy(ax, ay, 0), dyv = dy(ax, ay, 1);
      aMotionEdge(ax, ay) = dxu * dxu + dxv * dxv + dyu * dyu + dyv * dyv;
    }
  for (int ay = 0; ay < aYSize; ay++)
    for (int ax = 0; ax < aXSize; ax++) {
      const float u = aForward(ax, ay, 0), v = aForward(ax, ay, 1);
      const float bx = ax + u, by = ay + v;
      // The interpolation cell must lie inside; this also refuses values that are not numbers
      // before they are converted.
      if (!(bx > -1.0f && bx < aXSize - 1 && by > -1.0f && by < aYSize - 1)) {
        aUnreliable(ax, ay) = 1.0f;
        continue;
      }
      const int x1 = static_cast<int>(bx), y1 = static_cast<int>(by);
      const int x2 = x1 + 1, y2 = y1 + 1;
      if (x1 < 0 || x2 >= aXSize || y1 < 0 || y2 >= aYSize) {
        aUnreliable(ax, ay) = 1.0f;
        continue;
      }
      const float alphaX = bx - x1, alphaY = by - y1;
      float aBack[2];
      for (int c = 0; c < 2; c++) {
        const float a = (1.0 - alphaX) * aBackward(x1, y1, c) + alphaX * aBackward(x2, y1, c);
        const float b = (1.0 - alphaX) * aBackward(x1, y2, c) + alphaX * aBackward(x2, y2, c);
        aBack[c] = (1.0 - alphaY) * a + alphaY * b;
      }
      const float u2 = aBack[0], v2 = aBack[1];
      // Occlusion: going forward and back does not return to the start.
      const float aErrX = bx + u2 - ax, aErrY = by + v2 - ay;
      if (aErrX * aErrX + aErrY * aErrY >= 0.01 * (u2 * u2 + v2 * v2 + u * u + v * v) + 0.25) {
        aUnreliable(ax, ay) = 1.0f;
        continue;
      }
      if (aMotionEdge(ax, ay) > 0.01 * (u * u + v * v) + 0.005f) {
        aUnreliable(ax, ay) = 1.0f;
        continue;
      }
      // Texture: near the border more structure is required.
      const int aDistToBorder = std::min(std::min(ay, aYSize - ay), std::min(ax, aXSize - ax));
      const float e = static_cast<float>(std::exp(-0.1 * aDistToBorder));
      const float c = aCorners(ax, ay);
      if (c < 0.25f * aCornerAvg * (0.1f + e) || c < 0.25f * (e + 1.0f)) aUnreliable(ax, ay) = 1.0f;
    }
}

bool computeTracks(const CRunSettings& aSettings, const CTensor<float>& aFirstFrame,
                   const CPairFlow& aComputeFlow, const CPairFlowPictures& aShowFlow,
                   std::vector<CTrack>& aTracks, std::ostream& aStatus) {
  const int aXSize = aSettings.mXSize, aYSize = aSettings.mYSize, aStep = aSettings.mStep;
  const int aStartFrame = aSettings.mStartFrame;
  const CVector<std::string>& aInput = aSettings.mInput;
  aTracks.clear();
  if (aStep < 1) {
    std::cerr << "Grid step must be at least 1, got " << aStep << std::endl;
    return false;
  }
  if (aFirstFrame.xSize() != aXSize || aFirstFrame.ySize() != aYSize || aXSize < 1 || aYSize < 1 ||
      aFirstFrame.zSize() < 1) {
    std::cerr << "Tracking needs a non-empty first frame of " << aXSize << " x " << aYSize
              << " pixels" << std::endl;
    return false;
  }
  // The cached flows of a pair are used only if they were computed from these very frames.
  CFlowSource aSource;
  aSource.mXSize = aXSize;
  aSource.mYSize = aYSize;
  aSource.mFirst = frameFingerprint(aFirstFrame);
  CTensor<float> aImage1(aFirstFrame), aImage2, aHOG1, aHOG2;
  CMatrix<float> aEnergy1, aEnergy2;
  prepareFrame(aImage1, aHOG1, aEnergy1);
  CMatrix<float> aCovered(aXSize, aYSize), aCorners, aFlowVar, aUnreliable;
  CTensor<float> aForward, aBackward, aShow;
  CProgress aProgress;
  const int aPairs = aSettings.mSequenceLength - 1;
  CFlowAhead aFlowAhead(aSettings, pairsAhead(), aPairs, aComputeFlow, aShowFlow);
  for (int t = 0; t < aPairs; t++) {
    aProgress.start();
    const CFlowAhead::EOutcome aAhead = aFlowAhead.atPair(t);
    if (aStartFrame + t + 1 >= aInput.size()) {
      std::cerr << "Tracking stopped: the sequence has no frame " << aStartFrame + t + 1
                << std::endl;
      return false;
    }
    const std::string aFrameName = aInput(aStartFrame + t + 1);
    if (!aImage2.readFromPPM(aFrameName.c_str())) {
      std::cerr << "Tracking stopped: frame " << aStartFrame + t + 1 << " (" << aFrameName
                << ") cannot be read" << std::endl;
      return false;
    }
    if (aImage2.xSize() != aXSize || aImage2.ySize() != aYSize ||
        aImage2.zSize() != aImage1.zSize()) {
      std::cerr << "Tracking stopped: frame " << aStartFrame + t + 1 << " (" << aFrameName
                << ") is " << aImage2.xSize() << " x " << aImage2.ySize()
                << ", not the first frame's " << aXSize << " x " << aYSize << std::endl;
      return false;
    }
    aSource.mSecond = frameFingerprint(aImage2);
    prepareFrame(aImage2, aHOG2, aEnergy2);

    computeCoverage(t, aTracks, aCovered);
    CMatching::computeCorners(aImage1, aCorners, kCornerRho);
    const float aCornerAvg = aCorners.avg();
    seedTracks(t, aStep, aCovered, aCorners, aCornerAvg, aTracks);
    if (t == 0) {
      startPicture(aImage1, aShow);
      float r, g, b;
      trackColour(0, r, g, b);
      for (const CTrack& aTrack : aTracks)
        aShow.drawRect(aTrack.mox - 1, aTrack.moy - 1, aTrack.mox + 1, aTrack.moy + 1, r, g, b);
      if (!writePicture(aSettings, aShow, aStartFrame)) return false;
    }

    if (!loadOrComputeFlow(aSettings, aStatus, t, aAhead, aSource, aImage1, aImage2, aHOG1, aHOG2,
                           aEnergy1, aEnergy2, aComputeFlow, aShowFlow, aForward, aBackward))
      return false;
    if (aForward.xSize() != aXSize || aForward.ySize() != aYSize || aForward.zSize() != 2 ||
        aBackward.xSize() != aXSize || aBackward.ySize() != aYSize || aBackward.zSize() != 2) {
      std::cerr << "Tracking stopped: the flow of frame " << aStartFrame + t
                << " does not have the frame size" << std::endl;
      return false;
    }
    computeLocalFlowVariation(aForward, aFlowVar);
    markUnreliable(aForward, aBackward, aCorners, aCornerAvg, aUnreliable);

    startPicture(aImage2, aShow);
    propagateTracks(aForward, aFlowVar, aUnreliable, aTracks, aShow);
    if (!writePicture(aSettings, aShow, aStartFrame + t + 1)) return false;

    // The next frame's data become the current ones without being recomputed.
    std::swap(aImage1, aImage2);
    std::swap(aHOG1, aHOG2);
    std::swap(aEnergy1, aEnergy2);
    aSource.mFirst = aSource.mSecond;
    aProgress.done(t, aPairs);
  }
  return true;
}
