#include "foundation/CFilter.h"

#include <vector>

#include "foundation/Simd.h"

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

// Interior of a line with unit stride: r[p] = sum over j of c[j] * s[p + aA + j] for p in
// aFrom ... aTo - 1, accumulated from j = 0 upward; N taps known at compile time.
template <int N>
QUORVIK_KERNEL void filterInterior(const float* s, float* r, int aFrom, int aTo, int aA,
                                   const float* aMask) {
  float c[N];
  for (int j = 0; j < N; j++) c[j] = aMask[j];
  QUORVIK_IVDEP
  for (int p = aFrom; p < aTo; p++) {
    float aSum = 0.0f;
    for (int j = 0; j < N; j++) aSum += c[j] * s[p + aA + j];
    r[p] = aSum;
  }
}

// The same sum across aWidth neighbouring lines at once: r[x] = sum over j of c[j] *
// aRows[j][x], the rows being the samples at offsets aA ... aB of one position of every line.
template <int N>
QUORVIK_KERNEL void filterAcross(const float* const* aRows, float* r, int aWidth,
                                 const float* aMask) {
  float c[N];
  const float* aRow[N];
  for (int j = 0; j < N; j++) {
    c[j] = aMask[j];
    aRow[j] = aRows[j];
  }
  QUORVIK_IVDEP
  for (int x = 0; x < aWidth; x++) {
    float aSum = 0.0f;
    for (int j = 0; j < N; j++) aSum += c[j] * aRow[j][x];
    r[x] = aSum;
  }
}

// Filters aLineCount lines of aLength samples; line l starts at (l % aPlaneLines) *
// aLineStride + (l / aPlaneLines) * aPlaneStride, samples aStride apart. Every sum is
// accumulated in float from the mask's first offset upward, as one output sample at a time
// would be; the fast paths only change which sums are formed side by side.
QUORVIK_KERNEL void filterLinesKernel(const float* aIn, float* aOut, int aLength, int aStride,
                                      int aLineCount, int aLineStride, int aPlaneLines,
                                      int aPlaneStride, const CFilter<float>& aFilter) {
  const int aA = aFilter.A();
  const int aB = aFilter.B();
  const int aTaps = aB - aA + 1;
  const float* c = &aFilter(aA);
  const int aLeftEnd = std::min(aLength, -aA);               // p < -A reads below 0
  const int aRightStart = std::max(aLeftEnd, aLength - aB);  // p >= L - B reads past the end
  if (aStride != 1 && aLineStride == 1 && (aTaps == 3 || aTaps == 5) && aPlaneLines > 0 &&
      aLineCount % aPlaneLines == 0) {
    // Lines side by side (columns of a plane, or the channels of a tensor): the samples at
    // one position of all lines of a plane are contiguous, so whole rows are filtered at once.
    const float* aRows[5];
    for (int aPlane = 0; aPlane < aLineCount / aPlaneLines; aPlane++) {
      const float* s = aIn + static_cast<size_t>(aPlane) * aPlaneStride;
      float* r = aOut + static_cast<size_t>(aPlane) * aPlaneStride;
      for (int p = 0; p < aLength; p++) {
        for (int j = 0; j < aTaps; j++)
          aRows[j] = s + static_cast<size_t>(mirror(p + aA + j, aLength)) * aStride;
        float* aTarget = r + static_cast<size_t>(p) * aStride;
        if (aTaps == 3)
          filterAcross<3>(aRows, aTarget, aPlaneLines, c);
        else
          filterAcross<5>(aRows, aTarget, aPlaneLines, c);
      }
    }
    return;
  }
  for (int l = 0; l < aLineCount; l++) {
    const int aStart = (l % aPlaneLines) * aLineStride + (l / aPlaneLines) * aPlaneStride;
    const float* s = aIn + aStart;
    float* r = aOut + aStart;
    for (int p = 0; p < aLeftEnd; p++) {
      float aSum = 0.0f;
      for (int j = aA; j <= aB; j++) aSum += aFilter(j) * s[mirror(p + j, aLength) * aStride];
      r[p * aStride] = aSum;
    }
    if (aStride == 1 && aTaps == 3) {
      filterInterior<3>(s, r, aLeftEnd, aRightStart, aA, c);
    } else if (aStride == 1 && aTaps == 5) {
      filterInterior<5>(s, r, aLeftEnd, aRightStart, aA, c);
    } else {
      for (int p = aLeftEnd; p < aRightStart; p++) {
        float aSum = 0.0f;
        const float* q = s + p * aStride;
        for (int j = aA; j <= aB; j++) aSum += aFilter(j) * q[j * aStride];
        r[p * aStride] = aSum;
      }
    }
    for (int p = aRightStart; p < aLength; p++) {
      float aSum = 0.0f;
      for (int j = aA; j <= aB; j++) aSum += aFilter(j) * s[mirror(p + j, aLength) * aStride];
      r[p * aStride] = aSum;
    }
  }
}

QUORVIK_AVX2 void filterLinesAvx2(const float* aIn, float* aOut, int aLength, int aStride,
                                  int aLineCount, int aLineStride, int aPlaneLines,
                                  int aPlaneStride, const CFilter<float>& aFilter) {
  filterLinesKernel(aIn, aOut, aLength, aStride, aLineCount, aLineStride, aPlaneLines, aPlaneStride,
                    aFilter);
}

void filterLinesBase(const float* aIn, float* aOut, int aLength, int aStride, int aLineCount,
                     int aLineStride, int aPlaneLines, int aPlaneStride,
                     const CFilter<float>& aFilter) {
  filterLinesKernel(aIn, aOut, aLength, aStride, aLineCount, aLineStride, aPlaneLines, aPlaneStride,
                    aFilter);
}

// Output rows aFirstRow ... aFirstRow + aRows - 1 of the y-filter of an X x Y plane whose row y
// is at aSourceRows[y] (mirrored at the plane's borders), written one after another to aOut.
QUORVIK_KERNEL void filterRowsKernel(const float* const* aSourceRows, int aXSize, int aYSize,
                                     int aFirstRow, int aRows, float* aOut,
                                     const CFilter<float>& aFilter) {
  const int aA = aFilter.A();
  const int aTaps = aFilter.B() - aA + 1;
  const float* c = &aFilter(aA);
  std::vector<const float*> aTapRows(aTaps);
  for (int p = aFirstRow; p < aFirstRow + aRows; p++) {
    for (int j = 0; j < aTaps; j++) aTapRows[j] = aSourceRows[mirror(p + aA + j, aYSize)];
    float* r = aOut + static_cast<size_t>(p - aFirstRow) * aXSize;
    if (aTaps == 3) {
      filterAcross<3>(aTapRows.data(), r, aXSize, c);
    } else if (aTaps == 5) {
      filterAcross<5>(aTapRows.data(), r, aXSize, c);
    } else {
      for (int x = 0; x < aXSize; x++) {
        float aSum = 0.0f;
        for (int j = 0; j < aTaps; j++) aSum += c[j] * aTapRows[j][x];
        r[x] = aSum;
      }
    }
  }
}

QUORVIK_AVX2 void filterRowsAvx2(const float* const* aSourceRows, int aXSize, int aYSize,
                                 int aFirstRow, int aRows, float* aOut,
                                 const CFilter<float>& aFilter) {
  filterRowsKernel(aSourceRows, aXSize, aYSize, aFirstRow, aRows, aOut, aFilter);
}

void filterRowsBase(const float* const* aSourceRows, int aXSize, int aYSize, int aFirstRow,
                    int aRows, float* aOut, const CFilter<float>& aFilter) {
  filterRowsKernel(aSourceRows, aXSize, aYSize, aFirstRow, aRows, aOut, aFilter);
}

void filterLines(const float* aIn, float* aOut, int aLength, int aStride, int aLineCount,
                 int aLineStride, int aPlaneLines, int aPlaneStride,
                 const CFilter<float>& aFilter) {
  if (aLength <= 0 || aLineCount <= 0) return;
  if (useAvx2())
    filterLinesAvx2(aIn, aOut, aLength, aStride, aLineCount, aLineStride, aPlaneLines, aPlaneStride,
                    aFilter);
  else
    filterLinesBase(aIn, aOut, aLength, aStride, aLineCount, aLineStride, aPlaneLines, aPlaneStride,
                    aFilter);
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

void filterX(const float* aIn, float* aOut, int aXSize, int aYSize, const CFilter<float>& aFilter) {
  filterLines(aIn, aOut, aXSize, 1, aYSize, aXSize, aYSize, 0, aFilter);
}

void filterY(const float* aIn, float* aOut, int aXSize, int aYSize, const CFilter<float>& aFilter) {
  filterLines(aIn, aOut, aYSize, aXSize, aXSize, 1, aXSize, 0, aFilter);
}

void filterYRows(const float* const* aSourceRows, int aXSize, int aYSize, int aFirstRow, int aRows,
                 float* aOut, const CFilter<float>& aFilter) {
  if (aXSize <= 0 || aYSize <= 0 || aRows <= 0) return;
  if (useAvx2())
    filterRowsAvx2(aSourceRows, aXSize, aYSize, aFirstRow, aRows, aOut, aFilter);
  else
    filterRowsBase(aSourceRows, aXSize, aYSize, aFirstRow, aRows, aOut, aFilter);
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
