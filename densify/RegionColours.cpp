#include "densify/RegionColours.h"

#include <algorithm>
#include <cmath>

namespace {

// Levels per colour channel: 16 levels of 16 grey values each tell a grey road from a red car
// or a dark swan from brighter water, and over a sequence each region fills enough of the
// 4096 bins to be smoothed into a model.
constexpr int kLevels = 16;
constexpr int kLevelWidth = 256 / kLevels;
constexpr int kBins = kLevels * kLevels * kLevels;
// A point is confident when at least this share of the labelled points within the radius
// (itself included) carry its label, and there are at least kMinNear of them: a point on a
// region's border or off on its own may carry the wrong label, one inside its region rarely.
constexpr double kConfirmShare = 0.8;
constexpr int kMinNear = 3;
// A region needs this many colour samples for a model: fewer say little about its colours.
constexpr double kMinSamples = 50.0;
// Share of a bin's mass that stays in it when the histogram is smoothed; the rest goes to its
// six neighbours in colour space, so that a colour seen only next to those of a region still
// counts as the region's (lighting changes, noise).
constexpr double kKeep = 0.5;
// Floor of a normalised model's bins, so that one unseen colour does not reduce a region's
// likelihood to nothing (about one sample in a thousand spread over the colour space).
constexpr double kFloor = 1e-3 / kBins;

int bin(float r, float g, float b) {
  auto level = [](float v) {
    return std::min(kLevels - 1, std::max(0, static_cast<int>(v) / kLevelWidth));
  };
  return (level(r) * kLevels + level(g)) * kLevels + level(b);
}

}  // namespace

CRegionColours::CRegionColours(int aRegions, float aRadius)
    : mRegions(std::max(aRegions, 0)),
      mRadius(aRadius),
      mHistogram(static_cast<size_t>(mRegions) * kBins, 0.0),
      mSamples(mRegions, 0.0),
      mHasModel(mRegions, false) {}

void CRegionColours::add(const CTensor<float>& aFrame, const std::vector<CRegionPoint>& aPoints) {
  const int W = aFrame.xSize(), H = aFrame.ySize();
  if (W == 0 || H == 0 || mRegions == 0 || aPoints.empty()) return;
  // Points in square cells of the radius; a point's neighbours lie in its cell and the eight
  // around it.
  const float aCell = std::max(mRadius, 1.0f);
  const int aColumns = static_cast<int>(W / aCell) + 1, aRows = static_cast<int>(H / aCell) + 1;
  std::vector<int> aStart(static_cast<size_t>(aColumns) * aRows + 1, 0), aOrder;
  std::vector<int> aCellOf(aPoints.size(), -1);
  for (size_t p = 0; p < aPoints.size(); p++) {
    const CRegionPoint& q = aPoints[p];
    if (q.mRegion < 0 || q.mRegion >= mRegions || !(q.x >= 0 && q.y >= 0 && q.x < W && q.y < H))
      continue;
    aCellOf[p] = static_cast<int>(q.y / aCell) * aColumns + static_cast<int>(q.x / aCell);
    aStart[aCellOf[p] + 1]++;
  }
  for (size_t c = 1; c < aStart.size(); c++) aStart[c] += aStart[c - 1];
  aOrder.resize(aStart.back());
  std::vector<int> aFill(aStart.begin(), aStart.end() - 1);
  for (size_t p = 0; p < aPoints.size(); p++)
    if (aCellOf[p] >= 0) aOrder[aFill[aCellOf[p]]++] = static_cast<int>(p);
  const float aRadius2 = mRadius * mRadius;
  for (size_t p = 0; p < aPoints.size(); p++) {
    if (aCellOf[p] < 0) continue;
    const CRegionPoint& q = aPoints[p];
    const int cx = aCellOf[p] % aColumns, cy = aCellOf[p] / aColumns;
    int aNear = 0, aSame = 0;
    for (int y = std::max(cy - 1, 0); y <= std::min(cy + 1, aRows - 1); y++)
      for (int x = std::max(cx - 1, 0); x <= std::min(cx + 1, aColumns - 1); x++) {
        const int c = y * aColumns + x;
        for (int o = aStart[c]; o < aStart[c + 1]; o++) {
          const CRegionPoint& r = aPoints[aOrder[o]];
          if ((r.x - q.x) * (r.x - q.x) + (r.y - q.y) * (r.y - q.y) > aRadius2) continue;
          aNear++;
          aSame += r.mRegion == q.mRegion;
        }
      }
    if (aNear < kMinNear || aSame < kConfirmShare * aNear) continue;
    const int px = std::min(W - 1, static_cast<int>(std::lround(q.x)));
    const int py = std::min(H - 1, static_cast<int>(std::lround(q.y)));
    mHistogram[static_cast<size_t>(q.mRegion) * kBins +
               bin(aFrame(px, py, 0), aFrame(px, py, 1), aFrame(px, py, 2))] += 1.0;
    mSamples[q.mRegion] += 1.0;
  }
}

void CRegionColours::finish() {
  std::vector<double> aSmooth(kBins);
  for (int k = 0; k < mRegions; k++) {
    mHasModel[k] = mSamples[k] >= kMinSamples;
    if (!mHasModel[k]) continue;
    double* h = &mHistogram[static_cast<size_t>(k) * kBins];
    std::fill(aSmooth.begin(), aSmooth.end(), 0.0);
    for (int r = 0; r < kLevels; r++)
      for (int g = 0; g < kLevels; g++)
        for (int b = 0; b < kLevels; b++) {
          const int i = (r * kLevels + g) * kLevels + b;
          if (h[i] == 0.0) continue;
          // Mass that leaves the picture's colour range stays in the bin.
          const int aNeighbours[6][3] = {{r - 1, g, b}, {r + 1, g, b}, {r, g - 1, b},
                                         {r, g + 1, b}, {r, g, b - 1}, {r, g, b + 1}};
          const double aShare = h[i] * (1.0 - kKeep) / 6.0;
          aSmooth[i] += h[i] * kKeep;
          for (const auto& n : aNeighbours) {
            const bool aInside = n[0] >= 0 && n[0] < kLevels && n[1] >= 0 && n[1] < kLevels &&
                                 n[2] >= 0 && n[2] < kLevels;
            aSmooth[aInside ? (n[0] * kLevels + n[1]) * kLevels + n[2] : i] += aShare;
          }
        }
    for (int i = 0; i < kBins; i++) h[i] = aSmooth[i] / mSamples[k] + kFloor;
  }
}

void CRegionColours::pixelShares(int aBin, const std::vector<int>& aAmong, double* aShares) const {
  // Each region against the others together, each of them weighted by its colour samples: a
  // region split in two (a background in parallax) counts as one against a third region.
  double aAll = 0.0, aMixture = 0.0;
  for (int k : aAmong)
    if (hasModel(k)) {
      aAll += mSamples[k];
      aMixture += mSamples[k] * mHistogram[static_cast<size_t>(k) * kBins + aBin];
    }
  for (size_t a = 0; a < aAmong.size(); a++) {
    const int k = aAmong[a];
    aShares[a] = 0.0;
    if (!hasModel(k)) continue;
    const double p = mHistogram[static_cast<size_t>(k) * kBins + aBin];
    const double aRest =
        aAll - mSamples[k] > 0.0 ? (aMixture - mSamples[k] * p) / (aAll - mSamples[k]) : 0.0;
    aShares[a] = p / (p + std::max(aRest, 0.0));
  }
}

std::vector<double> CRegionColours::shares(const CTensor<float>& aFrame,
                                           const CSuperpixels& aSuperpixels,
                                           const std::vector<int>& aAmong) const {
  const CSuperpixels& s = aSuperpixels;
  const int W = s.mLabel.xSize(), H = s.mLabel.ySize(), N = s.mCount;
  const int K = static_cast<int>(aAmong.size());
  bool aAny = false;
  for (int k : aAmong) aAny |= hasModel(k);
  if (!aAny || aFrame.xSize() != W || aFrame.ySize() != H) return {};
  std::vector<double> aShares(static_cast<size_t>(N) * K, 0.0), aPixel(K);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      pixelShares(bin(aFrame(x, y, 0), aFrame(x, y, 1), aFrame(x, y, 2)), aAmong, aPixel.data());
      double* aRow = &aShares[static_cast<size_t>(s.mLabel(x, y)) * K];
      for (int a = 0; a < K; a++) aRow[a] += aPixel[a];
    }
  for (int i = 0; i < N; i++)
    for (int a = 0; a < K; a++) aShares[static_cast<size_t>(i) * K + a] /= s.mSize[i];
  return aShares;
}
