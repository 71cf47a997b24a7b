#include "densify/MovingRegions.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "densify/AffineMotion.h"

namespace {

// The border band: this share of the frame's smaller side, at least kMinBand pixels.
constexpr double kBandShare = 0.05;
constexpr int kMinBand = 4;
// A step is explained by an affine map when it misses it by less than this (pixels per frame):
// the trackers' steps are accurate to a few tenths of a pixel.
constexpr double kInlierMiss = 1.0;
// A region moves in a pair when its median miss of the camera's model is at least the larger of
// these (pixels per frame; a multiple of the dominant surface's own median miss, its noise).
constexpr double kStillMiss = 0.5;
constexpr double kMissFactor = 3.0;
// Fewest steps a motion (an affine map, an epipole) is fitted to.
constexpr int kMinFitSteps = 6;
// Regions whose motions are tried as the dominant surface's and whose misses as the epipole's,
// the largest of the pair: the scene's surfaces hold most of its points.
constexpr int kHypotheses = 8;
// Maps explaining at least this share of the best map's steps are a tie; the one that explains
// more steps in the border band wins.
constexpr double kTieShare = 0.1;
// A region holding at least this share of the border band's steps around a frame holds the band
// there (the band holds 15 % of a 854 x 480 frame: an object holding 15 % of it fills a side of
// the frame). One that holds it in at least kSceneFrameShare of the frames it is seen in is part
// of the scene in all of them: an object leaving the picture holds the band for its last frames
// only (and on a small frame holds much of it then), a surface of the scene for long, and where
// the shot loses its object, the scene's pieces are what remain.
constexpr double kBackgroundBorderShare = 0.15;
constexpr double kSceneFrameShare = 1.0 / 3.0;
// A region with fewer than this share of all trajectory steps is no object: a few trajectories
// the clustering set apart.
constexpr double kMinObjectShare = 0.001;
// The pairs of this many frames on either side of a frame are pooled for it (a third of a second
// at 25 frames per second: a pause shorter than that keeps an object in the mask, a step or two
// misjudged does not put a region into it).
constexpr int kVoteReach = 4;
// A moving object misses the camera's model by at least this share of the clearest mover's miss
// in its frames: the object of a shot is what moves most clearly, while water, foliage and
// pieces of background the clustering set apart miss it by a fraction of that.
constexpr double kSalientShare = 0.5;
// Another region confirms an epipole with at least this many steps in the border band.
constexpr int kMinConfirmSteps = 3;
// The largest parallax of the scene is that of the regions in the border band that show the
// epipole (their median misses), with this margin: a static surface inside the frame is rarely
// much nearer than the nearest at its border, while an object that moves along the epipole's
// lines usually moves by more.
constexpr double kParallaxMargin = 1.5;
// Jacobi sweeps of the 3 x 3 eigenproblem (it converges in a handful).
constexpr int kJacobiSweeps = 30;

struct CStep {
  CPointStep mStep;
  int mRegion;
  bool mBorder;
  // The miss of the camera's affine map: the step's end minus where the map carries its start
  // (rx, ry), and where it carries it (wx, wy), in pixels.
  double rx, ry, wx, wy;
};

double median(std::vector<double>& aValues) {
  if (aValues.empty()) return 0.0;
  const size_t aMiddle = aValues.size() / 2;
  std::nth_element(aValues.begin(), aValues.begin() + aMiddle, aValues.end());
  return aValues[aMiddle];
}

// The unit vector e minimising e^T M e for a symmetric 3 x 3 M (cyclic Jacobi rotations).
void smallestEigenvector(double M[3][3], double e[3]) {
  double V[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int aSweep = 0; aSweep < kJacobiSweeps; aSweep++) {
    const double aOff = M[0][1] * M[0][1] + M[0][2] * M[0][2] + M[1][2] * M[1][2];
    const double aDiagonal = M[0][0] * M[0][0] + M[1][1] * M[1][1] + M[2][2] * M[2][2];
    if (!(aOff > 1e-30 * aDiagonal)) break;
    for (int p = 0; p < 2; p++)
      for (int q = p + 1; q < 3; q++) {
        if (M[p][q] == 0.0) continue;
        const double aTheta = (M[q][q] - M[p][p]) / (2.0 * M[p][q]);
        const double t =
            (aTheta >= 0.0 ? 1.0 : -1.0) / (std::fabs(aTheta) + std::sqrt(aTheta * aTheta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
        for (int k = 0; k < 3; k++) {
          const double a = M[k][p], b = M[k][q];
          M[k][p] = c * a - s * b, M[k][q] = s * a + c * b;
        }
        for (int k = 0; k < 3; k++) {
          const double a = M[p][k], b = M[q][k];
          M[p][k] = c * a - s * b, M[q][k] = s * a + c * b;
        }
        for (int k = 0; k < 3; k++) {
          const double a = V[k][p], b = V[k][q];
          V[k][p] = c * a - s * b, V[k][q] = s * a + c * b;
        }
      }
  }
  int aSmallest = 0;
  for (int i = 1; i < 3; i++)
    if (M[i][i] < M[aSmallest][aSmallest]) aSmallest = i;
  for (int k = 0; k < 3; k++) e[k] = V[k][aSmallest];
}

// Coordinates of the epipole's fit: centred on the frame and scaled to about -1 ... 1, so that
// the homogeneous third coordinate weighs like the others.
struct CFrameScale {
  double cx, cy, s;
  double x(double aX) const { return (aX - cx) / s; }
  double y(double aY) const { return (aY - cy) / s; }
};

// The epipole (homogeneous, scaled coordinates) closest to every line through a step's carried
// start along its miss: the point the misses of static points off the surface point to or away
// from. Lines weigh with their miss squared: a short miss has a poorly known direction.
void fitEpipole(const std::vector<const CStep*>& aSteps, const CFrameScale& aScale, double e[3]) {
  double M[3][3] = {};
  for (const CStep* aStep : aSteps) {
    const double wx = aScale.x(aStep->wx), wy = aScale.y(aStep->wy);
    const double l[3] = {-aStep->ry, aStep->rx, aStep->ry * wx - aStep->rx * wy};
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) M[i][j] += l[i] * l[j];
  }
  smallestEigenvector(M, e);
}

// The part of a step's miss across its line through the epipole e (pixels); the whole miss
// where the step's carried start is the epipole.
double missAcross(const CStep& aStep, const CFrameScale& aScale, const double e[3]) {
  const double ux = e[0] - e[2] * aScale.x(aStep.wx), uy = e[1] - e[2] * aScale.y(aStep.wy);
  const double aLength = std::sqrt(ux * ux + uy * uy);
  if (!(aLength > 1e-12)) return std::sqrt(aStep.rx * aStep.rx + aStep.ry * aStep.ry);
  return std::fabs(aStep.rx * uy - aStep.ry * ux) / aLength;
}

// A region's affine motion tried as the dominant surface's, and the steps it explains.
struct CCandidate {
  int mRegion, mExplained, mExplainedBorder;
  CAffineMotion mModel;
};

// A region in one frame pair: its steps, those in the border band, and its median miss of the
// camera's model in thresholds (1: as much as the threshold).
struct CJudged {
  int mSteps = 0, mBorder = 0;
  float mMiss = 0.0f;
};

// Work space of one frame pair's judgement, reused over the pairs.
struct CPairWork {
  std::vector<CStep> mSteps;
  std::vector<int> mBorder, mOrder, mTried;
  std::vector<CCandidate> mCandidates;
  std::vector<double> mPlainMiss;
  std::vector<std::vector<const CStep*>> mOfRegion;
  std::vector<CPointStep> mFit;
  std::vector<const CStep*> mMissing, mConfirming;
  std::vector<double> mValues;
};

// Judges one frame pair from its steps (aWork.mSteps): aJudged[k] receives region k's steps, its
// steps in the border band and its miss of the camera's model. Nothing is judged (all counts 0)
// when no region has enough steps for a motion.
void judgePair(CPairWork& aWork, int aRegions, const CFrameScale& aScale, CJudged* aJudged) {
  std::fill(aJudged, aJudged + aRegions, CJudged());
  for (auto& aList : aWork.mOfRegion) aList.clear();
  std::vector<int>& aBorder = aWork.mBorder;
  aBorder.assign(aRegions, 0);
  int aAllBorder = 0;
  for (const CStep& s : aWork.mSteps) {
    aWork.mOfRegion[s.mRegion].push_back(&s);
    aBorder[s.mRegion] += s.mBorder;
    aAllBorder += s.mBorder;
  }
  std::vector<int>& aOrder = aWork.mOrder;
  aOrder.resize(aRegions);
  std::iota(aOrder.begin(), aOrder.end(), 0);
  std::stable_sort(aOrder.begin(), aOrder.end(), [&](int a, int b) {
    return aWork.mOfRegion[a].size() > aWork.mOfRegion[b].size();
  });
  std::vector<int>& aTried = aWork.mTried;
  aTried.clear();
  for (int k : aOrder)
    if (static_cast<int>(aTried.size()) < kHypotheses &&
        static_cast<int>(aWork.mOfRegion[k].size()) >= kMinFitSteps)
      aTried.push_back(k);

  // The dominant surface: the region whose affine motion explains most steps; among maps that
  // explain about as many, the one explaining more steps in the border band.
  aWork.mCandidates.clear();
  for (int k : aWork.mTried) {
    aWork.mFit.clear();
    for (const CStep* s : aWork.mOfRegion[k]) aWork.mFit.push_back(s->mStep);
    CCandidate c{k, 0, 0, CAffineMotion()};
    if (!fitAffineMotion(aWork.mFit, c.mModel)) continue;
    for (const CStep& s : aWork.mSteps)
      if (c.mModel.miss(s.mStep) < kInlierMiss) c.mExplained++, c.mExplainedBorder += s.mBorder;
    aWork.mCandidates.push_back(c);
  }
  if (aWork.mCandidates.empty()) return;
  int aMost = 0;
  for (const CCandidate& c : aWork.mCandidates) aMost = std::max(aMost, c.mExplained);
  const CCandidate* aChosen = nullptr;
  for (const CCandidate& c : aWork.mCandidates)
    if (c.mExplained >= (1.0 - kTieShare) * aMost &&
        (!aChosen || c.mExplainedBorder > aChosen->mExplainedBorder ||
         (c.mExplainedBorder == aChosen->mExplainedBorder && c.mExplained > aChosen->mExplained)))
      aChosen = &c;
  const int aSurface = aChosen->mRegion;
  CAffineMotion aCamera = aChosen->mModel;
  aWork.mFit.clear();
  for (const CStep& s : aWork.mSteps)
    if (aCamera.miss(s.mStep) < kInlierMiss) aWork.mFit.push_back(s.mStep);
  CAffineMotion aRefined = aCamera;
  if (static_cast<int>(aWork.mFit.size()) >= kMinFitSteps && fitAffineMotion(aWork.mFit, aRefined))
    aCamera = aRefined;
  for (CStep& s : aWork.mSteps) {
    aCamera.apply(s.mStep.x, s.mStep.y, s.wx, s.wy);
    s.rx = s.mStep.nx - s.wx, s.ry = s.mStep.ny - s.wy;
  }
  auto miss = [](const CStep* s) { return std::sqrt(s->rx * s->rx + s->ry * s->ry); };
  aWork.mValues.clear();
  for (const CStep* s : aWork.mOfRegion[aSurface]) aWork.mValues.push_back(miss(s));
  const double aThreshold = std::max(kStillMiss, kMissFactor * median(aWork.mValues));

  // The median miss of region k, whole or across the lines through the epipole e.
  auto regionMiss = [&](int k, const double* e) {
    aWork.mValues.clear();
    for (const CStep* s : aWork.mOfRegion[k])
      aWork.mValues.push_back(e ? missAcross(*s, aScale, e) : miss(s));
    return median(aWork.mValues);
  };
  std::vector<double>& aPlainMiss = aWork.mPlainMiss;
  aPlainMiss.assign(aRegions, 0.0);
  for (int k = 0; k < aRegions; k++)
    if (!aWork.mOfRegion[k].empty()) aPlainMiss[k] = regionMiss(k, nullptr);

  // Parallax, measured where the frame's border sees the scene: an epipole fitted to one
  // region's misses in the border band that explains another region's misses there too (the
  // one whose regions hold most such steps), and the largest parallax those regions show.
  auto borderMissing = [&](int k, std::vector<const CStep*>& aList) {
    aList.clear();
    for (const CStep* s : aWork.mOfRegion[k])
      if (s->mBorder && miss(s) >= aThreshold) aList.push_back(s);
  };
  auto medianMiss = [&](const std::vector<const CStep*>& aList) {
    aWork.mValues.clear();
    for (const CStep* s : aList) aWork.mValues.push_back(miss(s));
    return median(aWork.mValues);
  };
  double aEpipole[3] = {0.0, 0.0, 0.0}, aLargestParallax = 0.0;
  bool aHasEpipole = false;
  int aBestSupport = 0;
  for (int k : aTried) {
    if (k == aSurface) continue;
    borderMissing(k, aWork.mMissing);
    if (static_cast<int>(aWork.mMissing.size()) < kMinFitSteps) continue;
    double e[3];
    fitEpipole(aWork.mMissing, aScale, e);
    int aSupport = static_cast<int>(aWork.mMissing.size());
    double aLargest = medianMiss(aWork.mMissing);
    bool aConfirmed = false;
    for (int j = 0; j < aRegions; j++) {
      if (j == aSurface || j == k) continue;
      borderMissing(j, aWork.mConfirming);
      if (static_cast<int>(aWork.mConfirming.size()) < kMinConfirmSteps) continue;
      aWork.mValues.clear();
      for (const CStep* s : aWork.mConfirming) aWork.mValues.push_back(missAcross(*s, aScale, e));
      if (median(aWork.mValues) >= aThreshold) continue;
      aSupport += static_cast<int>(aWork.mConfirming.size());
      aLargest = std::max(aLargest, medianMiss(aWork.mConfirming));
      aConfirmed = true;
    }
    if (aConfirmed && aSupport > aBestSupport) {
      aBestSupport = aSupport;
      std::copy(e, e + 3, aEpipole);
      aHasEpipole = true;
      aLargestParallax = kParallaxMargin * aLargest;
    }
  }
  for (int k = 0; k < aRegions; k++) {
    aJudged[k].mSteps = static_cast<int>(aWork.mOfRegion[k].size());
    aJudged[k].mBorder = aBorder[k];
    if (aJudged[k].mSteps == 0) continue;
    // A region can be static in parallax only if its misses are no larger than the scene's.
    const bool aParallax = aHasEpipole && aPlainMiss[k] <= aLargestParallax;
    aJudged[k].mMiss =
        static_cast<float>((aParallax ? regionMiss(k, aEpipole) : aPlainMiss[k]) / aThreshold);
  }
}

}  // namespace

std::vector<std::vector<bool>> movingRegions(const std::vector<CTrack>& aTracks, int aRegions,
                                             int aXSize, int aYSize, int aFrames) {
  std::vector<std::vector<bool>> aResult(std::max(aFrames, 0),
                                         std::vector<bool>(std::max(aRegions, 0), false));
  if (aRegions <= 0 || aFrames <= 1) return aResult;
  const int aBand =
      std::max(kMinBand, static_cast<int>(kBandShare * std::min(aXSize, aYSize) + 0.5));
  const CFrameScale aScale{0.5 * aXSize, 0.5 * aYSize, 0.5 * std::max(aXSize, aYSize)};
  auto inBand = [&](const CTrackPoint& p) {
    return p.x < aBand || p.y < aBand || p.x >= aXSize - aBand || p.y >= aYSize - aBand;
  };

  // Per pair f (frames f and f + 1) and region: the steps and the miss.
  const int aPairs = aFrames - 1;
  std::vector<CJudged> aJudged(static_cast<size_t>(aPairs) * aRegions);
  CPairWork aWork;
  aWork.mOfRegion.resize(aRegions);
  for (int f = 0; f < aPairs; f++) {
    aWork.mSteps.clear();
    for (const CTrack& t : aTracks) {
      if (t.mLabel < 0 || t.mLabel >= aRegions || f < t.mSetupTime || f >= t.endTime()) continue;
      const CTrackPoint a = t.positionAt(f), b = t.positionAt(f + 1);
      aWork.mSteps.push_back({{a.x, a.y, b.x, b.y}, t.mLabel, inBand(a), 0.0, 0.0, 0.0, 0.0});
    }
    judgePair(aWork, aRegions, aScale, &aJudged[static_cast<size_t>(f) * aRegions]);
  }
  long long aAllSteps = 0;
  std::vector<long long> aSteps(aRegions, 0);
  for (size_t i = 0; i < aJudged.size(); i++) aSteps[i % aRegions] += aJudged[i].mSteps;
  for (int k = 0; k < aRegions; k++) aAllSteps += aSteps[k];

  // Per frame, the pairs around it pooled: each region's miss (the mean over its steps there),
  // its share of the border band's steps, and the largest miss of a region with enough steps.
  // -1: no steps nearby.
  std::vector<double> aMiss(static_cast<size_t>(aFrames) * aRegions, -1.0);
  std::vector<char> aHoldsBorder(aMiss.size(), 0);
  std::vector<long long> aPooled(aMiss.size(), 0);
  std::vector<double> aLargest(aFrames, 0.0);
  for (int t = 0; t < aFrames; t++) {
    const int aFrom = std::max(0, t - kVoteReach), aTo = std::min(aPairs - 1, t + kVoteReach - 1);
    long long aAllBorder = 0;
    for (int f = aFrom; f <= aTo; f++)
      for (int k = 0; k < aRegions; k++)
        aAllBorder += aJudged[static_cast<size_t>(f) * aRegions + k].mBorder;
    for (int k = 0; k < aRegions; k++) {
      long long n = 0, b = 0;
      double aSum = 0.0;
      for (int f = aFrom; f <= aTo; f++) {
        const CJudged& j = aJudged[static_cast<size_t>(f) * aRegions + k];
        n += j.mSteps, b += j.mBorder, aSum += static_cast<double>(j.mSteps) * j.mMiss;
      }
      if (n == 0) continue;
      const size_t i = static_cast<size_t>(t) * aRegions + k;
      aMiss[i] = aSum / n;
      aPooled[i] = n;
      aHoldsBorder[i] = aAllBorder > 0 && b >= kBackgroundBorderShare * aAllBorder;
      if (n >= kMinFitSteps && aSteps[k] >= kMinObjectShare * aAllSteps)
        aLargest[t] = std::max(aLargest[t], aMiss[i]);
    }
  }

  // A region moves in a frame when it misses the camera's model and moves about as clearly as
  // the frame's clearest mover, unless it holds the border band in many of its frames. A frame
  // without its steps nearby takes the decision most of its steps make (each frame's decision
  // weighing with its pooled steps): where the trajectories of a region end, its pixels may go
  // on for many frames, and the last few steps, the least reliable, must not decide them all.
  std::vector<int> aDecided(aFrames);
  for (int k = 0; k < aRegions; k++) {
    if (aSteps[k] == 0 || aSteps[k] < kMinObjectShare * aAllSteps) continue;
    int aSeen = 0, aAtBorder = 0;
    for (int t = 0; t < aFrames; t++) {
      const size_t i = static_cast<size_t>(t) * aRegions + k;
      aSeen += aMiss[i] >= 0.0;
      aAtBorder += aHoldsBorder[i];
    }
    if (aAtBorder >= kSceneFrameShare * aSeen) continue;
    long long aMovingSteps = 0, aStillSteps = 0;
    for (int t = 0; t < aFrames; t++) {
      const size_t i = static_cast<size_t>(t) * aRegions + k;
      aDecided[t] =
          aMiss[i] < 0.0 ? -1 : (aMiss[i] >= 1.0 && aMiss[i] >= kSalientShare * aLargest[t]);
      if (aDecided[t] == 1) aMovingSteps += aPooled[i];
      if (aDecided[t] == 0) aStillSteps += aPooled[i];
    }
    const bool aMostlyMoving = aMovingSteps > aStillSteps;
    for (int t = 0; t < aFrames; t++)
      aResult[t][k] = aDecided[t] < 0 ? aMostlyMoving : aDecided[t] == 1;
  }
  return aResult;
}
