// Forward and backward flow of one frame pair: dense descriptor matches over the learnt set of
// displacements become a prior (displacement and distinctiveness) for the variational
// refinement. The two directions share only the learnt window, so they run side by side.
#include <system_error>
#include <thread>
#include <vector>

#include "flow/CMatching.h"
#include "flow/COpticFlow.h"

namespace {

// Dense seeds: a grid of this step, this far inside the border.
constexpr int kSeedStep = 4;
constexpr int kSeedBorder = 8;
// Seeds need at least this share of the mean corner strength.
constexpr double kSeedCornerShare = 0.125;
// Integration scale of the corner measure that picks the seeds.
constexpr float kCornerScale = 2.5f;

// Parameters of the variational refinement.
constexpr float kSigma = 0.0f;
constexpr float kAlpha = 70.0f;
constexpr float kBeta = 400.0f;
constexpr float kGamma = 5.0f;
constexpr float kEdgeWeight = 0.0f;
constexpr float kEta = 0.95f;
constexpr int kFixedPointIterations = 3;
constexpr int kSORIterations = 5;
constexpr float kOmega = 1.85f;
constexpr float kDelta = 1.0f;

// The window of one direction: rx1 <= u <= rx2, ry1 <= v <= ry2 restricted to mAllowed.
struct CWindow {
  int rx1 = 0, ry1 = 0, rx2 = 0, ry2 = 0;
  CMatrix<bool> mAllowed;
};

// Dense matching from aImage1 to aImage2 and the variational flow with the matches as prior.
void flowOneDirection(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                      const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                      const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                      const CMatrix<float>& aCorners, float aAverage, const CWindow& aWindow,
                      CTensor<float>& aFlow) {
  const int aXSize = aImage1.xSize();
  const int aYSize = aImage1.ySize();
  const double aThreshold = kSeedCornerShare * aAverage;
  std::vector<CMatch> aPoints;
  for (int y = kSeedBorder; y < aYSize - kSeedBorder; y += kSeedStep)
    for (int x = kSeedBorder; x < aXSize - kSeedBorder; x += kSeedStep)
      if (aCorners(x, y) >= aThreshold) aPoints.emplace_back(x, y);
  CMatching::hogMatching(aPoints, aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aWindow.rx1,
                         aWindow.ry1, aWindow.rx2, aWindow.ry2, aWindow.mAllowed);

  // The prior: each accepted match proposes its displacement, weighted by its score.
  CTensor<float> aGeoU(aXSize, aYSize, 1, 0.0f);
  CTensor<float> aGeoV(aXSize, aYSize, 1, 0.0f);
  CTensor<float> aGeoConfidence(aXSize, aYSize, 1, 0.0f);
  for (const CMatch& aMatch : aPoints) {
    if (aMatch.mStopped) continue;
    aGeoU(aMatch.mox, aMatch.moy, 0) = static_cast<float>(aMatch.mx - aMatch.mox);
    aGeoV(aMatch.mox, aMatch.moy, 0) = static_cast<float>(aMatch.my - aMatch.moy);
    aGeoConfidence(aMatch.mox, aMatch.moy, 0) = aMatch.mScore;
  }
  COpticFlow::warpingGeometric(aImage1, aImage2, aFlow, aGeoU, aGeoV, aGeoConfidence, nullptr,
                               kSigma, kAlpha, kBeta, kGamma, kEdgeWeight, kEta,
                               kFixedPointIterations, kSORIterations, kOmega, kDelta);
}

}  // namespace

void CMatching::hogFlow(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                        const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                        const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                        CTensor<float>& aForward, CTensor<float>& aBackward) {
  // The backward direction needs only the learnt window; its corners do not depend on it.
  CMatrix<float> aCorners1, aCorners2;
  computeCorners(aImage1, aCorners1, kCornerScale);
  const float aAverage1 = aCorners1.avg();
  CWindow aWindow;
  findMotions(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aCorners1, aAverage1, aWindow.rx1,
              aWindow.ry1, aWindow.rx2, aWindow.ry2, aWindow.mAllowed);
  CWindow aBackWindow;
  reflectWindow(aWindow.rx1, aWindow.ry1, aWindow.rx2, aWindow.ry2, aWindow.mAllowed,
                aBackWindow.rx1, aBackWindow.ry1, aBackWindow.rx2, aBackWindow.ry2,
                aBackWindow.mAllowed);

  auto aBackwardTask = [&]() {
    computeCorners(aImage2, aCorners2, kCornerScale);
    const float aAverage2 = aCorners2.avg();
    flowOneDirection(aImage2, aImage1, aHOG2, aHOG1, aEnergy2, aEnergy1, aCorners2, aAverage2,
                     aBackWindow, aBackward);
  };
  std::thread aBackwardThread;
  try {
    aBackwardThread = std::thread(aBackwardTask);
  } catch (const std::system_error&) {
    // No thread available: the directions simply run one after the other.
  }
  flowOneDirection(aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aCorners1, aAverage1,
                   aWindow, aForward);
  if (aBackwardThread.joinable())
    aBackwardThread.join();
  else
    aBackwardTask();
}
