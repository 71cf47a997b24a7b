#include "tracking/DistanceTransform.h"

#include <algorithm>
#include <vector>

namespace {

// Boundaries of the outermost parabola ranges.
constexpr float kLowSentinel = -1e21f;
constexpr float kHighSentinel = 1e21f;

// The 1-D transform on raw arrays; v and z are work arrays of n and n + 1 entries.
void transform(const float* f, float* d, int n, int* v, float* z) {
  if (n <= 0) return;
  int k = 0;
  v[0] = 0;
  z[0] = kLowSentinel;
  z[1] = kHighSentinel;
  for (int q = 1; q < n; q++) {
    float s;
    for (;;) {
      const int p = v[k];
      s = ((f[q] + static_cast<float>(q * q)) - (f[p] + static_cast<float>(p * p))) /
          static_cast<float>(2 * q - 2 * p);
      if (s > z[k]) break;
      k--;
    }
    k++;
    v[k] = q;
    z[k] = s;
    z[k + 1] = kHighSentinel;
  }
  k = 0;
  for (int q = 0; q < n; q++) {
    while (z[k + 1] < static_cast<float>(q)) k++;
    const int aOffset = q - v[k];
    d[q] = static_cast<float>(aOffset * aOffset) + f[v[k]];
  }
}

}  // namespace

void dt(const CVector<float>& f, CVector<float>& d, int n) {
  d.setSize(std::max(n, 0));
  if (n <= 0) return;
  std::vector<int> v(n);
  std::vector<float> z(n + 1);
  transform(f.data(), d.data(), n, v.data(), z.data());
}

void euclideanDistanceTransform(CMatrix<float>& aMatrix) {
  const int aXSize = aMatrix.xSize();
  const int aYSize = aMatrix.ySize();
  if (aXSize <= 0 || aYSize <= 0) return;
  const int aMax = std::max(aXSize, aYSize);
  std::vector<float> f(aMax), d(aMax), z(aMax + 1);
  std::vector<int> v(aMax);
  float* aData = aMatrix.data();
  for (int x = 0; x < aXSize; x++) {
    for (int y = 0; y < aYSize; y++) f[y] = aData[x + aXSize * y];
    transform(f.data(), d.data(), aYSize, v.data(), z.data());
    for (int y = 0; y < aYSize; y++) aData[x + aXSize * y] = d[y];
  }
  for (int y = 0; y < aYSize; y++) {
    float* aRow = aData + static_cast<size_t>(aXSize) * y;
    std::copy(aRow, aRow + aXSize, f.data());
    transform(f.data(), d.data(), aXSize, v.data(), z.data());
    std::copy(d.data(), d.data() + aXSize, aRow);
  }
}
