#include "foundation/CFilter.h"

#include <vector>

namespace {

// Mirrors an index outside 0 ... aLength - 1 back into the line, repeating the border sample.
// A mask longer than the line is reflected again instead of reading outside the array.
inline int mirror(int p, int aLength) {
  while (p < 0 || p >= aLength) {
    if (p < 0) p = -1 - p;
    if (p >= aLength) p = 2 * aLength - 1 - p;
  }
  return p;
}

// Filters aCount lines of aLength samples; line l starts at aStarts(l), samples aStride apart.
// The line is split into a border part on each side (mirrored reads) and an interior without
// any border test.
void filterLines(const float* aIn, float* aOut, int aLength, int aStride, int aLineCount,
                 int aLineStride, int aPlaneLines, int aPlaneStride,
                 const CFilter<float>& aFilter) {
  const int aA = aFilter.A();
  const int aB = aFilter.B();
  const int aLeftEnd = std::min(aLength, -aA);               // p < -A reads below 0
  const int aRightStart = std::max(aLeftEnd, aLength - aB);  // p >= L - B reads past the end
  for (int l = 0; l < aLineCount; l++) {
    const int aStart = (l % aPlaneLines) * aLineStride + (l / aPlaneLines) * aPlaneStride;
    const float* s = aIn + aStart;
    float* r = aOut + aStart;
    for (int p = 0; p < aLeftEnd; p++) {
      float aSum = 0.0f;
      for (int j = aA; j <= aB; j++) aSum += aFilter(j) * s[mirror(p + j, aLength) * aStride];
      r[p * aStride] = aSum;
    }
    for (int p = aLeftEnd; p < aRightStart; p++) {
      float aSum = 0.0f;
      const float* c = s + p * aStride;
      for (int j = aA; j <= aB; j++) aSum += aFilter(j) * c[j * aStride];
      r[p * aStride] = aSum;
    }
    for (int p = aRightStart; p < aLength; p++) {
      float aSum = 0.0f;
      for (int j = aA; j <= aB; j++) aSum += aFilter(j) * s[mirror(p + j, aLength) * aStride];
      r[p * aStride] = aSum;
    }
  }
}

void checkSizes(int aInSize, int aOutSize, bool aSame) {
  if (aInSize != aOutSize || aSame) throw EFilterIncompatibleSize(aInSize, aOutSize);
}

// Runs the recursive filter over aLineCount lines (see filterLines for the addressing).
void smoothLines(float* aData, int aLength, int aStride, int aLineCount, int aLineStride,
                 int aPlaneLines, int aPlaneStride, float aSigma) {
  if (aLength < 2 || aLineCount <= 0) return;
  const float aAlpha = static_cast<float>(2.5f / (aSigma * std::sqrt(3.1415927f)));
  const float aExp = static_cast<float>(std::exp(-aAlpha));
  const float aExpSqr = aExp * aExp;
  const float a2Exp = 2.0f * aExp;
  const float k = (1.0f - aExp) * (1.0f - aExp) / (1.0f + 2.0f * aAlpha * aExp - aExpSqr);
  const float aPreMinus = aExp * (aAlpha - 1.0f);
  const float aPrePlus = aExp * (aAlpha + 1.0f);
  std::vector<float> aVals1(aLength), aVals2(aLength);
  const int N = aLength;
  for (int l = 0; l < aLineCount; l++) {
    float* x = aData + (l % aPlaneLines) * aLineStride + (l / aPlaneLines) * aPlaneStride;
    float* y1 = aVals1.data();
    float* y2 = aVals2.data();
    y1[0] = x[0] * (0.5f - k * aPreMinus);
    y1[1] = k * (x[aStride] + aPreMinus * x[0]) + (a2Exp - aExpSqr) * y1[0];
    for (int n = 2; n < N; n++)
      y1[n] = k * (x[n * aStride] + aPreMinus * x[(n - 1) * aStride]) + a2Exp * y1[n - 1] -
              aExpSqr * y1[n - 2];
    y2[N - 1] = x[(N - 1) * aStride] * (0.5f + k * aPreMinus);
    y2[N - 2] = k * (aPrePlus - aExpSqr) * x[(N - 1) * aStride] + (a2Exp - aExpSqr) * y2[N - 1];
    for (int n = N - 3; n >= 0; n--)
      y2[n] = k * (aPrePlus * x[(n + 1) * aStride] - aExpSqr * x[(n + 2) * aStride]) +
              a2Exp * y2[n + 1] - aExpSqr * y2[n + 2];
    for (int n = 0; n < N; n++) x[n * aStride] = y1[n] + y2[n];
  }
}

}  // namespace

namespace NFilter {

void filter(const CTensor<float>& aTensor, CTensor<float>& aResult, const CFilter<float>& aFilter,
            int, int) {
  checkSizes(aTensor.size(), aResult.size(), &aTensor == &aResult);
  const int X = aTensor.xSize(), Y = aTensor.ySize(), Z = aTensor.zSize();
  filterLines(aTensor.data(), aResult.data(), X, 1, Y * Z, X, Y * Z, 0, aFilter);
}

void filter(const CTensor<float>& aTensor, CTensor<float>& aResult, int,
            const CFilter<float>& aFilter, int) {
  checkSizes(aTensor.size(), aResult.size(), &aTensor == &aResult);
  const int X = aTensor.xSize(), Y = aTensor.ySize(), Z = aTensor.zSize();
  filterLines(aTensor.data(), aResult.data(), Y, X, X * Z, 1, X, X * Y, aFilter);
}

void filter(const CTensor<float>& aTensor, CTensor<float>& aResult, int, int,
            const CFilter<float>& aFilter) {
  checkSizes(aTensor.size(), aResult.size(), &aTensor == &aResult);
  const int aPlane = aTensor.xSize() * aTensor.ySize();
  filterLines(aTensor.data(), aResult.data(), aTensor.zSize(), aPlane, aPlane, 1, aPlane, 0,
              aFilter);
}

void filter(const CMatrix<float>& aMatrix, CMatrix<float>& aResult, const CFilter<float>& aFilter,
            int) {
  checkSizes(aMatrix.size(), aResult.size(), &aMatrix == &aResult);
  const int X = aMatrix.xSize(), Y = aMatrix.ySize();
  filterLines(aMatrix.data(), aResult.data(), X, 1, Y, X, Y, 0, aFilter);
}

void filter(const CMatrix<float>& aMatrix, CMatrix<float>& aResult, int,
            const CFilter<float>& aFilter) {
  checkSizes(aMatrix.size(), aResult.size(), &aMatrix == &aResult);
  const int X = aMatrix.xSize(), Y = aMatrix.ySize();
  filterLines(aMatrix.data(), aResult.data(), Y, X, X, 1, X, 0, aFilter);
}

void filter(CTensor<float>& aTensor, const CFilter<float>& aFilter, int, int) {
  CTensor<float> aTemp(aTensor.xSize(), aTensor.ySize(), aTensor.zSize());
  filter(aTensor, aTemp, aFilter, 0, 0);
  aTensor = std::move(aTemp);
}

void filter(CTensor<float>& aTensor, int, const CFilter<float>& aFilter, int) {
  CTensor<float> aTemp(aTensor.xSize(), aTensor.ySize(), aTensor.zSize());
  filter(aTensor, aTemp, 0, aFilter, 0);
  aTensor = std::move(aTemp);
}

void recursiveSmoothX(CTensor<float>& aTensor, float aSigma) {
  const int X = aTensor.xSize(), Y = aTensor.ySize(), Z = aTensor.zSize();
  smoothLines(aTensor.data(), X, 1, Y * Z, X, Y * Z, 0, aSigma);
}

void recursiveSmoothY(CTensor<float>& aTensor, float aSigma) {
  const int X = aTensor.xSize(), Y = aTensor.ySize(), Z = aTensor.zSize();
  smoothLines(aTensor.data(), Y, X, X * Z, 1, X, X * Y, aSigma);
}

void recursiveSmoothX(CMatrix<float>& aMatrix, float aSigma) {
  const int X = aMatrix.xSize(), Y = aMatrix.ySize();
  smoothLines(aMatrix.data(), X, 1, Y, X, Y, 0, aSigma);
}

void recursiveSmoothY(CMatrix<float>& aMatrix, float aSigma) {
  const int X = aMatrix.xSize(), Y = aMatrix.ySize();
  smoothLines(aMatrix.data(), Y, X, X, 1, X, 0, aSigma);
}

}  // namespace NFilter
