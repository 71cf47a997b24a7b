// Forward and backward flow of one frame pair: dense descriptor matches over the learnt set of
// displacements become a prior (displacement and distinctiveness) for the variational
// refinement. The two directions share the learnt window and the frames' descriptor fields and
// pyramids, which are built first, one frame on each thread; then the directions run side by
// side.
#include <memory>
#include <vector>

#include "flow/CMatching.h"
#include "flow/COpticFlow.h"
#include "flow/FlowPyramid.h"
#include "flow/MatchingSearch.h"
#include "flow/SideBySide.h"

namespace {

// Dense seeds: a grid of this step, this far inside the border.
constexpr int kSeedStep = 4;
constexpr int kSeedBorder = 8;
// Seeds need at least this share of the mean corner strength.
constexpr double kSeedCornerShare = 0.125;
// Integration scale of the corner measure that picks the seeds.
constexpr float kCornerScale = 2.5f;

// The variational refinement as the record's initial values tune it.
constexpr CVariationalParameters kRefinement;

// The window of one direction: rx1 <= u <= rx2, ry1 <= v <= ry2 restricted to mAllowed.
struct CWindow {
  int rx1 = 0, ry1 = 0, rx2 = 0, ry2 = 0;
  CMatrix<bool> mAllowed;
};

// Dense matching from aImage1 to aImage2 and the variational flow with the matches as prior.
void flowOneDirection(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                      const CHOGField& aHOG1, const CHOGField& aHOG2,
                      const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                      const CMatrix<float>& aCorners, float aAverage, const CWindow& aWindow,
                      const CImagePyramid& aPyramid1, const CImagePyramid& aPyramid2,
                      CTensor<float>& aFlow) {
  const int aXSize = aImage1.xSize();
  const int aYSize = aImage1.ySize();
  const double aThreshold = kSeedCornerShare * aAverage;
  std::vector<CMatch> aPoints;
  for (int y = kSeedBorder; y < aYSize - kSeedBorder; y += kSeedStep)
    for (int x = kSeedBorder; x < aXSize - kSeedBorder; x += kSeedStep)
      if (aCorners(x, y) >= aThreshold) aPoints.emplace_back(x, y);
  hogMatchingFields(aPoints, aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, aWindow.rx1,
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
  // Without pre-smoothing (mSigma is 0) the pyramids are those of the frames as given.
  static_assert(kRefinement.mSigma <= 0.0f, "the shared pyramids are built from unsmoothed frames");
  warpingGeometricPyramids(aPyramid1, aPyramid2, aFlow, aGeoU, aGeoV, aGeoConfidence, nullptr,
                           kRefinement);
}

}  // namespace

void CMatching::hogFlow(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                        const CTensor<float>& aHOG1, const CTensor<float>& aHOG2,
                        const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                        CTensor<float>& aForward, CTensor<float>& aBackward) {
  // Each frame's descriptor field, pyramid and corners; then the learnt window (its matching
  // itself on both threads); then the two directions.
  std::unique_ptr<CHOGField> aField1, aField2;
  std::unique_ptr<CImagePyramid> aPyramid1, aPyramid2;
  CMatrix<float> aCorners1, aCorners2;
  runSideBySide(
      [&]() {
        aField2 = std::make_unique<CHOGField>(aHOG2);
        aPyramid2 = std::make_unique<CImagePyramid>(aImage2, kRefinement.mEta);
        computeCorners(aImage2, aCorners2, kCornerScale);
      },
      [&]() {
        aField1 = std::make_unique<CHOGField>(aHOG1);
        aPyramid1 = std::make_unique<CImagePyramid>(aImage1, kRefinement.mEta);
        computeCorners(aImage1, aCorners1, kCornerScale);
      });
  CWindow aWindow, aBackWindow;
  findMotionsFields(aImage1, aImage2, *aField1, *aField2, aEnergy1, aEnergy2, aCorners1,
                    aCorners1.avg(), aWindow.rx1, aWindow.ry1, aWindow.rx2, aWindow.ry2,
                    aWindow.mAllowed);
  reflectWindow(aWindow.rx1, aWindow.ry1, aWindow.rx2, aWindow.ry2, aWindow.mAllowed,
                aBackWindow.rx1, aBackWindow.ry1, aBackWindow.rx2, aBackWindow.ry2,
                aBackWindow.mAllowed);
  runSideBySide(
      [&]() {
        flowOneDirection(aImage2, aImage1, *aField2, *aField1, aEnergy2, aEnergy1, aCorners2,
                         aCorners2.avg(), aBackWindow, *aPyramid2, *aPyramid1, aBackward);
      },
      [&]() {
        flowOneDirection(aImage1, aImage2, *aField1, *aField2, aEnergy1, aEnergy2, aCorners1,
                         aCorners1.avg(), aWindow, *aPyramid1, *aPyramid2, aForward);
      });
}
