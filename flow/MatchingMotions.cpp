// Learning which displacements occur in a frame pair: sparse matching on coarse seed grids,
// each pass narrowing the search window to the displacements found by the previous one.
#include <algorithm>
#include <vector>

#include "flow/CMatching.h"
#include "flow/MatchingSearch.h"
#include "flow/SideBySide.h"

namespace {

// Seeds keep this far from the border so that their descriptors exist.
constexpr int kSeedBorder = 4;
// The first seed grid step is the smallest power of two with kStepWidth * step >= width.
constexpr int kStepWidth = 20;
// Below this first step the picture is too small to learn from: everything stays allowed.
constexpr int kMinFirstStep = 8;
// The passes stop after the one with a step below this.
constexpr int kLastStepBound = 16;
// The initial window is +-kInitialRange * width.
constexpr double kInitialRange = 0.3;
// Seeds need at least this share of the mean corner strength.
constexpr double kSeedCornerShare = 0.5;

// Distance-limited dilation along one line of aCount cells with stride aStride: a cell becomes
// true when a true cell lies at most aRadius cells away. aIn and aOut must differ.
void dilateLine(const bool* aIn, bool* aOut, int aCount, int aStride, int aRadius,
                std::vector<int>& aForward) {
  int aDist = aRadius + 1;
  for (int i = 0; i < aCount; i++) {
    aDist = aIn[i * aStride] ? 0 : std::min(aDist + 1, aRadius + 1);
    aForward[i] = aDist;
  }
  aDist = aRadius + 1;
  for (int i = aCount - 1; i >= 0; i--) {
    aDist = aIn[i * aStride] ? 0 : std::min(aDist + 1, aRadius + 1);
    aOut[i * aStride] = std::min(aDist, aForward[i]) <= aRadius;
  }
}

// Square dilation of aAllowed by aRadius: along every row, then along every column.
void dilate(CMatrix<bool>& aAllowed, int aRadius) {
  const int aWidth = aAllowed.xSize();
  const int aHeight = aAllowed.ySize();
  CMatrix<bool> aRows(aWidth, aHeight);
  std::vector<int> aForward(std::max(aWidth, aHeight));
  for (int y = 0; y < aHeight; y++)
    dilateLine(aAllowed.data() + y * aWidth, aRows.data() + y * aWidth, aWidth, 1, aRadius,
               aForward);
  for (int x = 0; x < aWidth; x++)
    dilateLine(aRows.data() + x, aAllowed.data() + x, aHeight, aWidth, aRadius, aForward);
}

}  // namespace

void findMotionsFields(const CTensor<float>& aImage1, const CTensor<float>& aImage2,
                       const CHOGField& aHOG1, const CHOGField& aHOG2,
                       const CMatrix<float>& aEnergy1, const CMatrix<float>& aEnergy2,
                       const CMatrix<float>& aCorners, float aAverageCornerness, int& rx1, int& ry1,
                       int& rx2, int& ry2, CMatrix<bool>& aAllowed) {
  const int aXSize = aImage1.xSize();
  const int aYSize = aImage2.ySize();

  // 1. First seed grid step.
  int aFirstStep = 1;
  for (int aSize = kStepWidth; aSize < aXSize; aSize *= 2) aFirstStep *= 2;

  // 2. Initial window: +-30 % of the width, every displacement allowed.
  const int r = static_cast<int>(kInitialRange * aXSize);
  rx1 = ry1 = -r;
  rx2 = ry2 = r;
  aAllowed.setSize(2 * r + 1, 2 * r + 1);
  aAllowed.fill(true);

  // 3. Small pictures keep the full window.
  if (aFirstStep < kMinFirstStep) return;

  // 4. Coarse-to-fine passes.
  const double aSeedThreshold = kSeedCornerShare * aAverageCornerness;
  std::vector<CMatch> aPoints;
  for (int aStep = aFirstStep;; aStep /= 2) {
    aPoints.clear();
    for (int y = kSeedBorder; y < aYSize - kSeedBorder; y += aStep)
      for (int x = kSeedBorder; x < aXSize - kSeedBorder; x += aStep)
        if (aCorners(x, y) >= aSeedThreshold) aPoints.emplace_back(x, y);
    // Alternate seeds on the two threads: neighbouring seeds cost about the same.
    runSideBySide(
        [&]() {
          hogMatchingFields(aPoints, aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, rx1, ry1,
                            rx2, ry2, aAllowed, 1, 2);
        },
        [&]() {
          hogMatchingFields(aPoints, aImage1, aImage2, aHOG1, aHOG2, aEnergy1, aEnergy2, rx1, ry1,
                            rx2, ry2, aAllowed, 0, 2);
        });

    int aMinU = 10000, aMaxU = -10000, aMinV = 10000, aMaxV = -10000;
    bool aAnyAccepted = false;
    for (const CMatch& aMatch : aPoints) {
      if (aMatch.mStopped) continue;
      aAnyAccepted = true;
      const int u = aMatch.mx - aMatch.mox;
      const int v = aMatch.my - aMatch.moy;
      aMinU = std::min(aMinU, u);
      aMaxU = std::max(aMaxU, u);
      aMinV = std::min(aMinV, v);
      aMaxV = std::max(aMaxV, v);
    }
    // A pass without any accepted match has learnt nothing: the previous window and allowed
    // set stay, and the next, denser grid tries again.
    if (aAnyAccepted) {
      const int aVar = aStep / 2;
      rx1 = aMinU - aVar;
      ry1 = aMinV - aVar;
      rx2 = aMaxU + aVar;
      ry2 = aMaxV + aVar;
      aAllowed.setSize(rx2 - rx1 + 1, ry2 - ry1 + 1);
      aAllowed.fill(false);
      for (const CMatch& aMatch : aPoints)
        if (!aMatch.mStopped)
          aAllowed(aMatch.mx - aMatch.mox - rx1, aMatch.my - aMatch.moy - ry1) = true;
      dilate(aAllowed, aVar);
    }
    if (aStep < kLastStepBound) break;
  }
}

void CMatching::reflectWindow(int rx1, int ry1, int rx2, int ry2, const CMatrix<bool>& aAllowed,
                              int& aBackX1, int& aBackY1, int& aBackX2, int& aBackY2,
                              CMatrix<bool>& aAllowedBack) {
  aBackX1 = -rx2;
  aBackY1 = -ry2;
  aBackX2 = -rx1;
  aBackY2 = -ry1;
  const int aWidth = aAllowed.xSize();
  const int aHeight = aAllowed.ySize();
  aAllowedBack.setSize(aWidth, aHeight);
  for (int j = 0; j < aHeight; j++)
    for (int i = 0; i < aWidth; i++) aAllowedBack(i, j) = aAllowed(aWidth - 1 - i, aHeight - 1 - j);
}
