#include "densify/DenseRegions.h"

#include <algorithm>
#include <cmath>

#include "densify/AffineMotion.h"

namespace {

// Data weights: of one trajectory point; of a superpixel whose pixels all come from the
// previous frame's regions (a weak hint: the flow of pixels hidden in the previous frame says
// little); of a superpixel whose flow one region's motion explains perfectly.
constexpr double kPointWeight = 1.0;
constexpr double kPriorWeight = 0.1;
constexpr double kMotionWeight = 1.0;
// Weight of the colour evidence of a superpixel whose colours one region's model alone
// explains: like two trajectory points (a superpixel holds one or two at the tracking's
// density), so that colour decides where points are few or disagree with it.
constexpr double kColourWeight = 2.0;
// A region's colour evidence fades with the distance from its points in the frame:
// exp(-d^2 / (2 kColourReach^2)), d the distance in standard deviations of the points' spread
// (their covariance, widened by one superpixel's area), so that the colours of an object claim
// its surroundings but not a like-coloured surface across the frame (a shadow, a parked car).
// Regions with fewer than kMinReachPoints points in the frame keep their evidence everywhere.
constexpr double kColourReach = 3.0;
constexpr int kMinReachPoints = 3;
// A point's vote keeps at least this share when neither its region's colours nor its motion
// explain its superpixel: evidence against a label lowers it, it never erases it.
constexpr double kLeastSupport = 0.1;
// A faint pull of every superpixel towards no region in particular, so that a part of the
// graph without evidence still has one solution (decided by its neighbours).
constexpr double kNeutralWeight = 1e-3;
// Scale of the ties between neighbours against the data (two trajectory points' weight per
// grid step of common border between like neighbours); a tie is its common border in grid
// steps times exp(-d^2 / (2 s^2)) for the colour and each flow, d the difference of the two
// superpixels' means and s^2 its mean square over the frame's neighbour pairs.
constexpr double kSmoothness = 2.0;
// Floor of the mean squares, so that a frame of one colour or one motion divides by no 0.
constexpr double kSmallestMean = 1e-6;
// A region's motion between two frames is fitted from at least this many of its points.
constexpr int kMinModelPoints = 6;
// Width of the motion likelihood exp(-miss^2 / (2 s^2)): the median miss of the superpixels
// under the motion of the region most of their points vote for, at least this (pixels).
constexpr double kMinMotionWidth = 0.5;
// Conjugate-gradient stopping rule: residual below this share of the right-hand side, or this
// many iterations.
constexpr double kTolerance = 1e-4;
constexpr int kMaxIterations = 400;

// Per superpixel the mean of both channels of aFlow (u and v interleaved); empty when aFlow is
// not a flow of the frame's size.
std::vector<double> meanFlow(const CSuperpixels& s, const CTensor<float>& aFlow) {
  const int W = s.mLabel.xSize(), H = s.mLabel.ySize();
  if (aFlow.xSize() != W || aFlow.ySize() != H || aFlow.zSize() < 2) return {};
  std::vector<double> aMean(static_cast<size_t>(s.mCount) * 2, 0.0);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      double* m = &aMean[static_cast<size_t>(s.mLabel(x, y)) * 2];
      m[0] += aFlow(x, y, 0);
      m[1] += aFlow(x, y, 1);
    }
  for (int i = 0; i < s.mCount; i++) {
    aMean[2 * i] /= s.mSize[i];
    aMean[2 * i + 1] /= s.mSize[i];
  }
  return aMean;
}

// The ties of the superpixel graph (one per adjacency entry) from the colour and the flows.
std::vector<double> ties(const CSuperpixels& s,
                         const std::vector<const std::vector<double>*>& aFlows) {
  const int N = s.mCount, E = s.mStart[N];
  std::vector<double> aTie(E, 0.0);
  if (E == 0) return aTie;
  std::vector<double> aExponent(E, 0.0), aDiff(E);
  auto addTerm = [&](auto aSquaredDifference) {
    double aMean = 0.0;
    for (int i = 0; i < N; i++)
      for (int e = s.mStart[i]; e < s.mStart[i + 1]; e++) {
        aDiff[e] = aSquaredDifference(i, s.mNeighbor[e]);
        aMean += aDiff[e];
      }
    aMean = std::max(aMean / E, kSmallestMean);
    for (int e = 0; e < E; e++) aExponent[e] += aDiff[e] / (2.0 * aMean);
  };
  addTerm([&](int i, int j) {
    const double dl = s.mL[i] - s.mL[j], da = s.mA[i] - s.mA[j], db = s.mB[i] - s.mB[j];
    return dl * dl + da * da + db * db;
  });
  for (const std::vector<double>* f : aFlows)
    addTerm([&](int i, int j) {
      const double du = (*f)[2 * i] - (*f)[2 * j], dv = (*f)[2 * i + 1] - (*f)[2 * j + 1];
      return du * du + dv * dv;
    });
  const double aGridStep = std::sqrt(static_cast<double>(s.mLabel.size()) / N);
  for (int i = 0; i < N; i++)
    for (int e = s.mStart[i]; e < s.mStart[i + 1]; e++)
      aTie[e] = kSmoothness * (s.mBorder[e] / aGridStep) * std::exp(-aExponent[e]);
  return aTie;
}

// Motion evidence: per superpixel and region the likelihood that the region's motion (fitted
// to its points' steps to the next and to the previous frame) explains the superpixel's flow,
// from the better explained of the two flows, so that pixels about to be hidden (whose forward
// flow is guessed) and pixels just uncovered (whose backward flow is) are judged by the flow
// that sees them. Empty when there is no flow or no region has enough points.
std::vector<double> motionLikelihood(const CSuperpixels& s,
                                     const std::vector<CRegionPoint>& aPoints,
                                     const std::vector<double>& aForward,
                                     const std::vector<double>& aBackward,
                                     const std::vector<float>& aVotes, int aRegions) {
  const int N = s.mCount;
  std::vector<CAffineMotion> aModels[2];
  std::vector<bool> aFitted[2];
  const std::vector<double>* aFlows[2] = {&aForward, &aBackward};
  bool aAny = false;
  for (int d = 0; d < 2; d++) {
    aModels[d].resize(aRegions);
    aFitted[d].assign(aRegions, false);
    if (aFlows[d]->empty()) continue;
    std::vector<std::vector<CPointStep>> aSteps(aRegions);
    for (const CRegionPoint& p : aPoints) {
      if (p.mRegion < 0 || p.mRegion >= aRegions) continue;
      if (d == 0 && p.mHasNext) aSteps[p.mRegion].push_back({p.x, p.y, p.nx, p.ny});
      if (d == 1 && p.mHasPrevious) aSteps[p.mRegion].push_back({p.x, p.y, p.px, p.py});
    }
    for (int k = 0; k < aRegions; k++)
      if (static_cast<int>(aSteps[k].size()) >= kMinModelPoints)
        aAny |= aFitted[d][k] = fitAffineMotion(aSteps[k], aModels[d][k]);
  }
  if (!aAny) return {};

  // Smallest miss per superpixel and region (negative: no model).
  std::vector<double> aMiss(static_cast<size_t>(N) * aRegions, -1.0);
  for (int i = 0; i < N; i++)
    for (int k = 0; k < aRegions; k++) {
      double aBest = -1.0;
      for (int d = 0; d < 2; d++) {
        if (!aFitted[d][k]) continue;
        const double x = s.mX[i], y = s.mY[i];
        const CPointStep aStep{x, y, x + (*aFlows[d])[2 * i], y + (*aFlows[d])[2 * i + 1]};
        const double m = aModels[d][k].miss(aStep);
        if (aBest < 0.0 || m < aBest) aBest = m;
      }
      aMiss[static_cast<size_t>(i) * aRegions + k] = aBest;
    }
  // The width: how well the regions' own motions explain the superpixels their points are in.
  std::vector<double> aOwn;
  for (int i = 0; i < N; i++) {
    int aMajority = -1;
    float aMost = 0.0f;
    for (int k = 0; k < aRegions; k++)
      if (aVotes[static_cast<size_t>(i) * aRegions + k] > aMost)
        aMost = aVotes[static_cast<size_t>(i) * aRegions + k], aMajority = k;
    if (aMajority >= 0 && aMiss[static_cast<size_t>(i) * aRegions + aMajority] >= 0.0)
      aOwn.push_back(aMiss[static_cast<size_t>(i) * aRegions + aMajority]);
  }
  double aWidth = kMinMotionWidth;
  if (!aOwn.empty()) {
    std::nth_element(aOwn.begin(), aOwn.begin() + aOwn.size() / 2, aOwn.end());
    aWidth = std::max(aWidth, aOwn[aOwn.size() / 2]);
  }
  std::vector<double> aLikelihood(aMiss.size(), 0.0);
  for (size_t c = 0; c < aMiss.size(); c++)
    if (aMiss[c] >= 0.0) aLikelihood[c] = std::exp(-aMiss[c] * aMiss[c] / (2.0 * aWidth * aWidth));
  return aLikelihood;
}

// Lowers each region's colour shares (index i * aActive.size() + a) by the distance of
// superpixel i from the region's points in the frame (kColourReach).
void limitColourReach(const CSuperpixels& s, const std::vector<CRegionPoint>& aPoints,
                      const std::vector<int>& aActive, std::vector<double>& aShares) {
  const int N = s.mCount, K = static_cast<int>(aActive.size());
  const double aSuperpixelArea = static_cast<double>(s.mLabel.size()) / N;
  for (int a = 0; a < K; a++) {
    int n = 0;
    double mx = 0.0, my = 0.0;
    for (const CRegionPoint& p : aPoints)
      if (p.mRegion == aActive[a]) n++, mx += p.x, my += p.y;
    if (n < kMinReachPoints) continue;
    mx /= n;
    my /= n;
    double sxx = 0.0, sxy = 0.0, syy = 0.0;
    for (const CRegionPoint& p : aPoints)
      if (p.mRegion == aActive[a]) {
        sxx += (p.x - mx) * (p.x - mx);
        sxy += (p.x - mx) * (p.y - my);
        syy += (p.y - my) * (p.y - my);
      }
    sxx = sxx / n + aSuperpixelArea;
    syy = syy / n + aSuperpixelArea;
    sxy /= n;
    const double aDeterminant = sxx * syy - sxy * sxy;
    for (int i = 0; i < N; i++) {
      const double dx = s.mX[i] - mx, dy = s.mY[i] - my;
      const double d2 = (syy * dx * dx - 2.0 * sxy * dx * dy + sxx * dy * dy) / aDeterminant;
      aShares[static_cast<size_t>(i) * K + a] *=
          std::exp(-0.5 * d2 / (kColourReach * kColourReach));
    }
  }
}

// Solves (D + L) x = b on the superpixel graph, D the data weights (diagonal), L the graph
// Laplacian of the ties, by conjugate gradients with the diagonal as preconditioner. x holds
// the start on entry.
void solve(const CSuperpixels& s, const std::vector<double>& aTie, const std::vector<double>& aData,
           const std::vector<double>& b, std::vector<double>& x) {
  const int N = s.mCount;
  std::vector<double> aDiagonal(N), r(N), z(N), p(N), q(N);
  for (int i = 0; i < N; i++) {
    double d = aData[i];
    for (int e = s.mStart[i]; e < s.mStart[i + 1]; e++) d += aTie[e];
    aDiagonal[i] = d;
  }
  auto multiply = [&](const std::vector<double>& v, std::vector<double>& aOut) {
    for (int i = 0; i < N; i++) {
      double y = aDiagonal[i] * v[i];
      for (int e = s.mStart[i]; e < s.mStart[i + 1]; e++) y -= aTie[e] * v[s.mNeighbor[e]];
      aOut[i] = y;
    }
  };
  double aNormB = 0.0;
  for (int i = 0; i < N; i++) aNormB += b[i] * b[i];
  if (aNormB == 0.0) {
    std::fill(x.begin(), x.end(), 0.0);
    return;
  }
  multiply(x, q);
  double rz = 0.0;
  for (int i = 0; i < N; i++) {
    r[i] = b[i] - q[i];
    z[i] = r[i] / aDiagonal[i];
    p[i] = z[i];
    rz += r[i] * z[i];
  }
  for (int aIteration = 0; aIteration < kMaxIterations; aIteration++) {
    double rr = 0.0;
    for (int i = 0; i < N; i++) rr += r[i] * r[i];
    if (rr <= kTolerance * kTolerance * aNormB) break;
    multiply(p, q);
    double pq = 0.0;
    for (int i = 0; i < N; i++) pq += p[i] * q[i];
    if (!(pq > 0.0)) break;
    const double alpha = rz / pq;
    double rzNew = 0.0;
    for (int i = 0; i < N; i++) {
      x[i] += alpha * p[i];
      r[i] -= alpha * q[i];
      z[i] = r[i] / aDiagonal[i];
      rzNew += r[i] * z[i];
    }
    const double beta = rzNew / rz;
    rz = rzNew;
    for (int i = 0; i < N; i++) p[i] = z[i] + beta * p[i];
  }
}

}  // namespace

void labelFrame(const CSuperpixels& aSuperpixels, const std::vector<CRegionPoint>& aPoints,
                const CMatrix<int>& aPrevious, const CTensor<float>& aBackward,
                const CTensor<float>& aForward, int aRegions, CMatrix<int>& aRegionOf,
                const CColourEvidence& aColour) {
  const CSuperpixels& s = aSuperpixels;
  const int W = s.mLabel.xSize(), H = s.mLabel.ySize(), N = s.mCount;
  aRegionOf.setSize(W, H);
  aRegionOf.fill(0);
  if (N == 0 || aRegions <= 0) return;

  // Evidence per superpixel and region: trajectory points, and pixels whose place in the
  // previous frame lay in that region.
  std::vector<float> aVotes(static_cast<size_t>(N) * aRegions, 0.0f);
  std::vector<float> aCarried(static_cast<size_t>(N) * aRegions, 0.0f);
  for (const CRegionPoint& aPoint : aPoints) {
    const long x = std::lround(aPoint.x), y = std::lround(aPoint.y);
    if (x < 0 || y < 0 || x >= W || y >= H || aPoint.mRegion < 0 || aPoint.mRegion >= aRegions)
      continue;
    aVotes[static_cast<size_t>(s.mLabel(x, y)) * aRegions + aPoint.mRegion] += 1.0f;
  }
  const std::vector<double> aMeanBackward = meanFlow(s, aBackward);
  const std::vector<double> aMeanForward = meanFlow(s, aForward);
  if (!aMeanBackward.empty() && aPrevious.xSize() == W && aPrevious.ySize() == H) {
    for (int y = 0; y < H; y++)
      for (int x = 0; x < W; x++) {
        const float px = static_cast<float>(x) + aBackward(x, y, 0);
        const float py = static_cast<float>(y) + aBackward(x, y, 1);
        if (!(px > -0.5f && py > -0.5f && px < W - 0.5f && py < H - 0.5f)) continue;
        const int r =
            aPrevious(static_cast<int>(std::lround(px)), static_cast<int>(std::lround(py)));
        if (r >= 0 && r < aRegions)
          aCarried[static_cast<size_t>(s.mLabel(x, y)) * aRegions + r] += 1.0f;
      }
  }
  const std::vector<double> aMotion =
      motionLikelihood(s, aPoints, aMeanForward, aMeanBackward, aVotes, aRegions);

  // Only the regions with points or carried pixels in this frame take part.
  std::vector<int> aActive;
  for (int k = 0; k < aRegions; k++) {
    bool aSeen = false;
    for (int i = 0; i < N && !aSeen; i++)
      aSeen = aVotes[static_cast<size_t>(i) * aRegions + k] > 0.0f ||
              aCarried[static_cast<size_t>(i) * aRegions + k] > 0.0f;
    if (aSeen) aActive.push_back(k);
  }
  if (aActive.empty()) return;
  const int K = static_cast<int>(aActive.size());

  std::vector<const std::vector<double>*> aFlows;
  if (!aMeanBackward.empty()) aFlows.push_back(&aMeanBackward);
  if (!aMeanForward.empty()) aFlows.push_back(&aMeanForward);
  const std::vector<double> aTie = ties(s, aFlows);

  std::vector<double> aColourShares;
  if (aColour.mFrame && aColour.mColours)
    aColourShares = aColour.mColours->shares(*aColour.mFrame, s, aActive);
  if (!aColourShares.empty()) limitColourReach(s, aPoints, aActive, aColourShares);
  // Data per superpixel: weight and, per region, the weighted target. The motion evidence is
  // spread over the active regions by their likelihoods, weighted by the best of them; the
  // colour evidence by the regions' shares of the colour likelihoods.
  std::vector<double> aData(N, kNeutralWeight), aTarget(static_cast<size_t>(N) * K);
  for (int i = 0; i < N; i++) {
    double aMotionSum = 0.0, aMotionBest = 0.0;
    if (!aMotion.empty())
      for (int k : aActive) {
        aMotionSum += aMotion[static_cast<size_t>(i) * aRegions + k];
        aMotionBest = std::max(aMotionBest, aMotion[static_cast<size_t>(i) * aRegions + k]);
      }
    double aColourBest = 0.0;
    if (!aColourShares.empty())
      for (int a = 0; a < K; a++)
        aColourBest = std::max(aColourBest, aColourShares[static_cast<size_t>(i) * K + a]);
    for (int a = 0; a < K; a++) {
      const size_t c = static_cast<size_t>(i) * aRegions + aActive[a];
      // A point's vote counts fully when the region's colours or its motion explain the
      // superpixel nearly as well as the best region's do, and less the less either does.
      double aSupport = 1.0;
      if (aColourBest > 0.0 && aMotionBest > 0.0)
        aSupport = std::max({aColourShares[static_cast<size_t>(i) * K + a] / aColourBest,
                             aMotion[c] / aMotionBest, kLeastSupport});
      double t = kPointWeight * aSupport * aVotes[c] + kPriorWeight * aCarried[c] / s.mSize[i] +
                 kNeutralWeight / K;
      if (aMotionSum > 0.0) t += kMotionWeight * aMotionBest * aMotion[c] / aMotionSum;
      if (!aColourShares.empty())
        t += kColourWeight * aColourShares[static_cast<size_t>(i) * K + a];
      aTarget[static_cast<size_t>(i) * K + a] = t;
    }
    double aSum = 0.0;
    for (int a = 0; a < K; a++) aSum += aTarget[static_cast<size_t>(i) * K + a];
    aData[i] = aSum;
  }

  // One solve per region; every superpixel takes the region of the largest solution, the
  // lower region on ties.
  std::vector<double> aBest(N, -1.0), x(N), b(N);
  std::vector<int> aChoice(N, aActive[0]);
  for (int a = 0; a < K; a++) {
    for (int i = 0; i < N; i++) {
      b[i] = aTarget[static_cast<size_t>(i) * K + a];
      x[i] = b[i] / aData[i];
    }
    solve(s, aTie, aData, b, x);
    for (int i = 0; i < N; i++)
      if (x[i] > aBest[i]) {
        aBest[i] = x[i];
        aChoice[i] = aActive[a];
      }
  }
  for (int y = 0; y < H; y++)
    for (int px = 0; px < W; px++) aRegionOf(px, y) = aChoice[s.mLabel(px, y)];
}
