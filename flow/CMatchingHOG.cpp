// Histograms of oriented gradients: per-pixel votes of the gradient magnitude into 15
// orientation bins, smoothed across orientation (cyclically coupled at the ends) and averaged
// over a 7 x 7 neighbourhood; and the point descriptor read from them.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "flow/CHOGDescriptor.h"
#include "flow/CMatching.h"
#include "foundation/CFilter.h"

namespace {

// Single-precision pi; the bin arithmetic is defined with it.
constexpr float kPi = 3.1415927f;
// Width and standard deviation of the smoothing across orientation bins.
constexpr float kOrientationSigma = 0.8f;
constexpr float kOrientationPrecision = 1.0f;
// Half width of the spatial pooling window (7 x 7).
constexpr int kPoolRadius = 3;
constexpr int kPoolWidth = 2 * kPoolRadius + 1;
// Reciprocals of the possible window pixel counts 1 ... 7 along one axis.
constexpr float kInvCount[kPoolWidth + 1] = {0.0f,        1.0f,        1.0f / 2.0f, 1.0f / 3.0f,
                                             1.0f / 4.0f, 1.0f / 5.0f, 1.0f / 6.0f, 1.0f / 7.0f};

// Bin units between a direction and the nearest bin boundary below which the direction is
// recomputed with the exact atan2; far above the error of the polynomial below.
constexpr double kBinMargin = 1e-3;

// Arc tangent of t in [0, 1] with an absolute error below 1e-5 (odd minimax polynomial).
inline double atanUnit(double t) {
  const double t2 = t * t;
  return t *
         (0.9998660 + t2 * (-0.3302995 + t2 * (0.1801410 + t2 * (-0.0851330 + t2 * 0.0208351))));
}

// Number of indices of [p - kPoolRadius, p + kPoolRadius] inside [0, aLength).
inline int windowCount(int p, int aLength) {
  const int aLow = p - kPoolRadius < 0 ? 0 : p - kPoolRadius;
  const int aHigh = p + kPoolRadius >= aLength ? aLength - 1 : p + kPoolRadius;
  return aHigh - aLow + 1;
}

// Replaces every row of the plane by its running-window mean along x.
void poolRows(float* aPlane, int aXSize, int aYSize, float* aLine) {
  for (int y = 0; y < aYSize; y++) {
    float* aRow = aPlane + y * aXSize;
    std::copy(aRow, aRow + aXSize, aLine);
    float aSum = 0.0f;
    for (int x = 0; x < kPoolRadius && x < aXSize; x++) aSum += aLine[x];
    for (int x = 0; x < aXSize; x++) {
      if (x + kPoolRadius < aXSize) aSum += aLine[x + kPoolRadius];
      if (x - kPoolRadius - 1 >= 0) aSum -= aLine[x - kPoolRadius - 1];
      aRow[x] = aSum * kInvCount[windowCount(x, aXSize)];
    }
  }
}

// Replaces every column of the plane by its running-window mean along y. The sums of all
// columns advance together one row at a time, so every access runs along a row; aRing keeps
// the original values of the last kPoolRing rows, which the output has already replaced.
constexpr int kPoolRing = kPoolRadius + 2;
void poolColumns(float* aPlane, int aXSize, int aYSize, float* aSums, float* aRing) {
  std::fill(aSums, aSums + aXSize, 0.0f);
  for (int y = 0; y < kPoolRadius && y < aYSize; y++) {
    const float* aRow = aPlane + y * aXSize;
    for (int x = 0; x < aXSize; x++) aSums[x] += aRow[x];
  }
  for (int y = 0; y < aYSize; y++) {
    if (y + kPoolRadius < aYSize) {
      const float* aAdd = aPlane + (y + kPoolRadius) * aXSize;
      for (int x = 0; x < aXSize; x++) aSums[x] += aAdd[x];
    }
    if (y - kPoolRadius - 1 >= 0) {
      const float* aSub = aRing + ((y - kPoolRadius - 1) % kPoolRing) * aXSize;
      for (int x = 0; x < aXSize; x++) aSums[x] -= aSub[x];
    }
    float* aOut = aPlane + y * aXSize;
    std::copy(aOut, aOut + aXSize, aRing + (y % kPoolRing) * aXSize);
    const float aInv = kInvCount[windowCount(y, aYSize)];
    for (int x = 0; x < aXSize; x++) aOut[x] = aSums[x] * aInv;
  }
}

}  // namespace

int orientationBin(float dx, float dy) {
  constexpr double kPiD = kPi;
  static const float kBinScale = static_cast<float>(kHOGBins / (2.0 * kPiD));
  // The exact rule needs atan2 in double, which dominates the cost of the histograms. A cheap
  // approximation decides every direction that lies clearly inside a bin; the few within
  // kBinMargin of a boundary, where rounding matters, take the exact rule.
  const double ax = std::fabs(double(dx));
  const double ay = std::fabs(double(dy));
  double aAngle = ay <= ax ? atanUnit(ay / ax) : 0.5 * M_PI - atanUnit(ax / ay);
  if (dx < 0.0f) aAngle = M_PI - aAngle;
  if (dy < 0.0f) aAngle = -aAngle;
  const double q = (aAngle + M_PI) * (kHOGBins / (2.0 * M_PI));
  const double aNearest = std::floor(q + 0.5);
  if (std::fabs(q - aNearest) > kBinMargin) return static_cast<int>(q);
  const float aOri = static_cast<float>(std::atan2(static_cast<double>(dy), dx) + kPiD);
  const int aBin = static_cast<int>(aOri * kBinScale);
  return aBin >= kHOGBins ? 0 : aBin;
}

void CMatching::computeHOG(const CTensor<float>& aBox, CTensor<float>& aHOG) {
  const int aXSize = aBox.xSize();
  const int aYSize = aBox.ySize();
  const int aChannels = aBox.zSize();
  if (aHOG.xSize() != aXSize || aHOG.ySize() != aYSize || aHOG.zSize() != kHOGBins)
    aHOG.setSize(aXSize, aYSize, kHOGBins);
  aHOG.fill(0.0f);
  const int aPlane = aXSize * aYSize;
  if (aPlane == 0 || aChannels == 0) return;

  // Gradients of every channel by central differences, mirrored at the border.
  const CDerivative<float> aDerivative(3);
  CTensor<float> aDx(aXSize, aYSize, aChannels);
  CTensor<float> aDy(aXSize, aYSize, aChannels);
  NFilter::filter(aBox, aDx, aDerivative, 1, 1);
  NFilter::filter(aBox, aDy, 1, aDerivative, 1);

  // Every channel votes its gradient magnitude into the bin of its direction.
  float* aHist = aHOG.data();
  for (int c = 0; c < aChannels; c++) {
    const float* aGx = aDx.data() + c * aPlane;
    const float* aGy = aDy.data() + c * aPlane;
    for (int i = 0; i < aPlane; i++) {
      const float dx = aGx[i];
      const float dy = aGy[i];
      if (dx == 0.0f && dy == 0.0f) continue;
      const float aMag = std::sqrt(dx * dx + dy * dy);
      aHist[orientationBin(dx, dy) * aPlane + i] += aMag;
    }
  }
  aDx = CTensor<float>();
  aDy = CTensor<float>();

  // Smoothing across orientation with the 3-tap Gaussian, the end bins mirrored (bin -1 reads
  // bin 0, bin 15 reads bin 14), summed in the order of the mask's taps. It runs in place plane
  // by plane, so that every access is along rows (filtering across channels would stride by
  // whole planes); aPrevious and aCurrent keep the unsmoothed planes b - 1 and b.
  const CSmooth<float> aGauss(kOrientationSigma, kOrientationPrecision);
  const float aLow = aGauss(-1), aMid = aGauss(0), aHigh = aGauss(1);
  std::vector<float> aPreviousPlane(aPlane), aCurrentPlane(aPlane);
  float* aPrevious = aPreviousPlane.data();
  float* aCurrent = aCurrentPlane.data();
  for (int b = 0; b < kHOGBins; b++) {
    float* aOut = aHist + b * aPlane;
    std::copy(aOut, aOut + aPlane, aCurrent);
    const float* aBelow = b > 0 ? aPrevious : aCurrent;
    const float* aAbove = b < kHOGBins - 1 ? aOut + aPlane : aCurrent;
    for (int i = 0; i < aPlane; i++) {
      float aSum = 0.0f;
      aSum += aLow * aBelow[i];
      aSum += aMid * aCurrent[i];
      aSum += aHigh * aAbove[i];
      aOut[i] = aSum;
    }
    std::swap(aPrevious, aCurrent);
  }
  // Orientation is cyclic: the first and the last bin are then coupled.
  const float aT = aHigh;
  float* aFirst = aHist;
  float* aLast = aHist + (kHOGBins - 1) * aPlane;
  for (int i = 0; i < aPlane; i++) {
    const float s0 = aFirst[i];
    const float s14 = aLast[i];
    aFirst[i] = static_cast<float>(aT * s14 + (1.0 - aT) * s0);
    aLast[i] = static_cast<float>(aT * s0 + (1.0 - aT) * s14);
  }

  // Spatial pooling: window means, cut at the border, along x and then along y.
  std::vector<float> aLine(aXSize), aSums(aXSize), aRing(kPoolRing * aXSize);
  for (int b = 0; b < kHOGBins; b++) {
    float* aBinPlane = aHOG.data() + b * aPlane;
    poolRows(aBinPlane, aXSize, aYSize, aLine.data());
    poolColumns(aBinPlane, aXSize, aYSize, aSums.data(), aRing.data());
  }
}

void pointDescriptor(const CTensor<float>& aHOG, int ax, int ay, float* aDescriptor) {
  const int aXSize = aHOG.xSize();
  const int aPlane = aXSize * aHOG.ySize();
  const float* aHist = aHOG.data();
  int k = 0;
  for (int dy = -kDescriptorSpacing; dy <= kDescriptorSpacing; dy += kDescriptorSpacing)
    for (int dx = -kDescriptorSpacing; dx <= kDescriptorSpacing; dx += kDescriptorSpacing) {
      const int i = (ax + dx) + aXSize * (ay + dy);
      for (int b = 0; b < kHOGBins; b++) aDescriptor[k++] = aHist[b * aPlane + i];
    }
}

void hogEnergy(const CTensor<float>& aHOG, CMatrix<float>& aEnergy) {
  const int aPlane = aHOG.xSize() * aHOG.ySize();
  aEnergy.setSize(aHOG.xSize(), aHOG.ySize());
  aEnergy.fill(0.0f);
  float* aOut = aEnergy.data();
  for (int b = 0; b < aHOG.zSize(); b++) {
    const float* aBin = aHOG.data() + b * aPlane;
    for (int i = 0; i < aPlane; i++) aOut[i] += aBin[i];
  }
}
