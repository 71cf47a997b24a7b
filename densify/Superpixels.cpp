#include "densify/Superpixels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Local k-means passes; the assignment hardly changes after ten.
constexpr int kIterations = 10;
// A connected piece smaller than this share of a grid cell joins a neighbouring superpixel.
constexpr int kMinPieceDivisor = 4;
// CIELAB from sRGB with the D65 white point.
constexpr float kWhiteX = 0.950456f, kWhiteZ = 1.088754f;
constexpr float kEpsilon = 0.008856f, kKappa = 7.787f;

float linearise(float aValue) {
  const float c = aValue / 255.0f;
  return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

float labCurve(float t) {
  return t > kEpsilon ? std::cbrt(t) : kKappa * t + 16.0f / 116.0f;
}

// CIELAB planes of the frame; the 256 channel values are linearised once.
void toLab(const CTensor<float>& aFrame, std::vector<float>& aL, std::vector<float>& aA,
           std::vector<float>& aB) {
  float aLinear[256];
  for (int v = 0; v < 256; v++) aLinear[v] = linearise(static_cast<float>(v));
  const int n = aFrame.xSize() * aFrame.ySize();
  aL.resize(n);
  aA.resize(n);
  aB.resize(n);
  const float* aRed = aFrame.data();
  const float* aGreen = aRed + n;
  const float* aBlue = aGreen + n;
  auto channel = [&](float v) {
    const int i = static_cast<int>(v + 0.5f);
    return aLinear[std::min(255, std::max(0, i))];
  };
  for (int i = 0; i < n; i++) {
    const float r = channel(aRed[i]), g = channel(aGreen[i]), b = channel(aBlue[i]);
    const float x = (0.412453f * r + 0.357580f * g + 0.180423f * b) / kWhiteX;
    const float y = 0.212671f * r + 0.715160f * g + 0.072169f * b;
    const float z = (0.019334f * r + 0.119193f * g + 0.950227f * b) / kWhiteZ;
    const float fx = labCurve(x), fy = labCurve(y), fz = labCurve(z);
    aL[i] = y > kEpsilon ? 116.0f * fy - 16.0f : 903.3f * y;
    aA[i] = 500.0f * (fx - fy);
    aB[i] = 200.0f * (fy - fz);
  }
}

struct CCentre {
  float l, a, b, x, y;
};

}  // namespace

void computeSuperpixels(const CTensor<float>& aFrame, int aGridStep, float aCompactness,
                        CSuperpixels& aResult) {
  const int W = aFrame.xSize(), H = aFrame.ySize(), n = W * H;
  const int S = std::max(aGridStep, 1);
  std::vector<float> L, A, B;
  toLab(aFrame, L, A, B);

  // Seeds on the grid, each moved to the lowest colour gradient of its 3 x 3 neighbourhood so
  // that none starts on an edge.
  auto gradient = [&](int x, int y) {
    const int l = y * W + std::max(x - 1, 0), r = y * W + std::min(x + 1, W - 1);
    const int u = std::max(y - 1, 0) * W + x, d = std::min(y + 1, H - 1) * W + x;
    const float dx = (L[r] - L[l]) * (L[r] - L[l]) + (A[r] - A[l]) * (A[r] - A[l]) +
                     (B[r] - B[l]) * (B[r] - B[l]);
    const float dy = (L[d] - L[u]) * (L[d] - L[u]) + (A[d] - A[u]) * (A[d] - A[u]) +
                     (B[d] - B[u]) * (B[d] - B[u]);
    return dx + dy;
  };
  std::vector<CCentre> aCentres;
  for (int gy = S / 2; gy < H; gy += S)
    for (int gx = S / 2; gx < W; gx += S) {
      int bx = gx, by = gy;
      float aBest = std::numeric_limits<float>::max();
      for (int y = std::max(gy - 1, 0); y <= std::min(gy + 1, H - 1); y++)
        for (int x = std::max(gx - 1, 0); x <= std::min(gx + 1, W - 1); x++) {
          const float g = gradient(x, y);
          if (g < aBest) aBest = g, bx = x, by = y;
        }
      const int i = by * W + bx;
      aCentres.push_back({L[i], A[i], B[i], static_cast<float>(bx), static_cast<float>(by)});
    }
  if (aCentres.empty()) aCentres.push_back({L[0], A[0], B[0], 0.0f, 0.0f});
  const int K = static_cast<int>(aCentres.size());

  // Local k-means: each centre competes only for the pixels within S of it.
  const float aSpatialWeight = (aCompactness / S) * (aCompactness / S);
  std::vector<int> aLabel(n, -1);
  std::vector<float> aDistance(n);
  std::vector<double> aSum(static_cast<size_t>(K) * 5);
  std::vector<int> aCount(K);
  for (int aIteration = 0; aIteration < kIterations; aIteration++) {
    std::fill(aDistance.begin(), aDistance.end(), std::numeric_limits<float>::max());
    for (int k = 0; k < K; k++) {
      const CCentre& c = aCentres[k];
      const int x0 = std::max(static_cast<int>(c.x) - S, 0),
                x1 = std::min(static_cast<int>(c.x) + S, W - 1);
      const int y0 = std::max(static_cast<int>(c.y) - S, 0),
                y1 = std::min(static_cast<int>(c.y) + S, H - 1);
      for (int y = y0; y <= y1; y++) {
        const float dy = static_cast<float>(y) - c.y;
        for (int x = x0; x <= x1; x++) {
          const int i = y * W + x;
          const float dx = static_cast<float>(x) - c.x;
          const float dl = L[i] - c.l, da = A[i] - c.a, db = B[i] - c.b;
          const float d = dl * dl + da * da + db * db + aSpatialWeight * (dx * dx + dy * dy);
          if (d < aDistance[i]) {
            aDistance[i] = d;
            aLabel[i] = k;
          }
        }
      }
    }
    std::fill(aSum.begin(), aSum.end(), 0.0);
    std::fill(aCount.begin(), aCount.end(), 0);
    for (int y = 0, i = 0; y < H; y++)
      for (int x = 0; x < W; x++, i++) {
        const int k = aLabel[i];
        if (k < 0) continue;
        double* s = &aSum[static_cast<size_t>(k) * 5];
        s[0] += L[i], s[1] += A[i], s[2] += B[i], s[3] += x, s[4] += y;
        aCount[k]++;
      }
    for (int k = 0; k < K; k++) {
      if (aCount[k] == 0) continue;
      const double* s = &aSum[static_cast<size_t>(k) * 5];
      const double inv = 1.0 / aCount[k];
      aCentres[k] = {static_cast<float>(s[0] * inv), static_cast<float>(s[1] * inv),
                     static_cast<float>(s[2] * inv), static_cast<float>(s[3] * inv),
                     static_cast<float>(s[4] * inv)};
    }
  }

  // Connected pieces become the superpixels; a piece too small to stand alone joins the
  // superpixel it touches first (left or above), so every superpixel is connected.
  CMatrix<int>& aOut = aResult.mLabel;
  aOut.setSize(W, H);
  aOut.fill(-1);
  const int aMinPiece = std::max(1, S * S / kMinPieceDivisor);
  std::vector<int> aStack, aPiece;
  int aNext = 0;
  for (int start = 0; start < n; start++) {
    if (aOut[start] >= 0) continue;
    const int aOwn = aLabel[start];
    // The superpixel a small piece joins: one already numbered next to its first pixel.
    int aAdjacent = -1;
    const int sx = start % W, sy = start / W;
    if (sx > 0 && aOut[start - 1] >= 0) aAdjacent = aOut[start - 1];
    if (aAdjacent < 0 && sy > 0 && aOut[start - W] >= 0) aAdjacent = aOut[start - W];
    aPiece.clear();
    aStack.assign(1, start);
    aOut[start] = aNext;
    while (!aStack.empty()) {
      const int i = aStack.back();
      aStack.pop_back();
      aPiece.push_back(i);
      const int x = i % W, y = i / W;
      const int aNeighbours[4] = {x > 0 ? i - 1 : -1, x + 1 < W ? i + 1 : -1, y > 0 ? i - W : -1,
                                  y + 1 < H ? i + W : -1};
      for (int j : aNeighbours)
        if (j >= 0 && aOut[j] < 0 && aLabel[j] == aOwn) {
          aOut[j] = aNext;
          aStack.push_back(j);
        }
    }
    if (static_cast<int>(aPiece.size()) < aMinPiece && aAdjacent >= 0) {
      for (int i : aPiece) aOut[i] = aAdjacent;
    } else {
      aNext++;
    }
  }
  aResult.mCount = aNext;

  // Mean colours and positions, sizes, and the adjacency with border lengths.
  const int N = aNext;
  std::vector<double> aMean(static_cast<size_t>(N) * 5, 0.0);
  aResult.mSize.assign(N, 0);
  for (int y = 0, i = 0; y < H; y++)
    for (int x = 0; x < W; x++, i++) {
      double* m = &aMean[static_cast<size_t>(aOut[i]) * 5];
      m[0] += L[i], m[1] += A[i], m[2] += B[i], m[3] += x, m[4] += y;
      aResult.mSize[aOut[i]]++;
    }
  for (std::vector<float>* v : {&aResult.mL, &aResult.mA, &aResult.mB, &aResult.mX, &aResult.mY})
    v->resize(N);
  for (int k = 0; k < N; k++) {
    const double* m = &aMean[static_cast<size_t>(k) * 5];
    const double inv = 1.0 / std::max(aResult.mSize[k], 1);
    aResult.mL[k] = static_cast<float>(m[0] * inv);
    aResult.mA[k] = static_cast<float>(m[1] * inv);
    aResult.mB[k] = static_cast<float>(m[2] * inv);
    aResult.mX[k] = static_cast<float>(m[3] * inv);
    aResult.mY[k] = static_cast<float>(m[4] * inv);
  }
  std::vector<std::pair<int, int>> aPairs;
  for (int y = 0, i = 0; y < H; y++)
    for (int x = 0; x < W; x++, i++) {
      const int k = aOut[i];
      if (x + 1 < W && aOut[i + 1] != k) {
        aPairs.emplace_back(k, aOut[i + 1]);
        aPairs.emplace_back(aOut[i + 1], k);
      }
      if (y + 1 < H && aOut[i + W] != k) {
        aPairs.emplace_back(k, aOut[i + W]);
        aPairs.emplace_back(aOut[i + W], k);
      }
    }
  std::sort(aPairs.begin(), aPairs.end());
  aResult.mStart.assign(N + 1, 0);
  aResult.mNeighbor.clear();
  aResult.mBorder.clear();
  for (size_t p = 0; p < aPairs.size(); p++) {
    if (p > 0 && aPairs[p] == aPairs[p - 1]) {
      aResult.mBorder.back()++;
      continue;
    }
    aResult.mNeighbor.push_back(aPairs[p].second);
    aResult.mBorder.push_back(1);
    aResult.mStart[aPairs[p].first + 1] = static_cast<int>(aResult.mNeighbor.size());
  }
  for (int k = 0; k < N; k++)
    aResult.mStart[k + 1] = std::max(aResult.mStart[k + 1], aResult.mStart[k]);
}
