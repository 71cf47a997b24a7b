// Resampling of float matrices and tensors: area-averaging reduction, area-weighted and
// bilinear enlargement, confidence-weighted reduction. The image pyramid of the flow and the
// flow-variation measure depend on these exact weights.
#include <vector>

#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"

namespace {

// One line of the area walk: aCount source samples (stride aStride) spread over aNewCount
// target samples (same stride). Reduction and enlargement differ only in which index the
// "rest" branch advances, so both share the walk with aShrink choosing.
void areaWalk(const float* aSource, int aCount, float* aTarget, int aNewCount, int aStride,
              float aFactor, bool aShrink) {
  int i = 0, j = 0;  // source, target
  float aRest = aFactor, aPart = 1.0f;
  while (i < aCount && j < aNewCount) {
    if (aRest > 1.0f) {
      aTarget[j * aStride] += aSource[i * aStride] * aPart;
      aRest -= aPart;
      if (aShrink)
        i++;
      else
        j++;
      aPart = 1.0f;
    } else {
      aTarget[j * aStride] += aSource[i * aStride] * aRest;
      if (aShrink)
        j++;
      else
        i++;
      aPart = 1.0f - aRest;
      aRest = aFactor;
    }
  }
}

// Resizes aMatrix along x then y with the area walk.
void areaResample(CMatrix<float>& aMatrix, int aNewXSize, int aNewYSize, bool aShrink) {
  const int aXSize = aMatrix.xSize(), aYSize = aMatrix.ySize();
  if (aNewXSize != aXSize) {
    CMatrix<float> aTemp(aNewXSize, aYSize, 0.0f);
    const float aFactor =
        aShrink ? static_cast<float>(aXSize) / aNewXSize : static_cast<float>(aNewXSize) / aXSize;
    for (int y = 0; y < aYSize; y++)
      areaWalk(aMatrix.data() + y * aXSize, aXSize, aTemp.data() + y * aNewXSize, aNewXSize, 1,
               aFactor, aShrink);
    aMatrix = std::move(aTemp);
  }
  if (aNewYSize != aYSize) {
    CMatrix<float> aTemp(aNewXSize, aNewYSize, 0.0f);
    const float aFactor =
        aShrink ? static_cast<float>(aYSize) / aNewYSize : static_cast<float>(aNewYSize) / aYSize;
    for (int x = 0; x < aNewXSize; x++)
      areaWalk(aMatrix.data() + x, aYSize, aTemp.data() + x, aNewYSize, aNewXSize, aFactor,
               aShrink);
    aMatrix = std::move(aTemp);
  }
}

}  // namespace

CVector<float> operator*(const CMatrix<float>& aMatrix, const CVector<float>& aVector) {
  if (aVector.size() != aMatrix.xSize())
    throw EIncompatibleMatrices(aMatrix.xSize(), aMatrix.ySize(), 1, aVector.size());
  CVector<float> aResult(aMatrix.ySize());
  for (int y = 0; y < aMatrix.ySize(); y++) {
    float aSum = 0.0f;
    const float* aRow = aMatrix.data() + y * aMatrix.xSize();
    for (int x = 0; x < aMatrix.xSize(); x++) aSum += aRow[x] * aVector(x);
    aResult(y) = aSum;
  }
  return aResult;
}

template <>
void CMatrix<float>::downsample(int aNewXSize, int aNewYSize) {
  const int aOldSize = mXSize * mYSize;
  areaResample(*this, aNewXSize, aNewYSize, true);
  // The walk summed the covered source pixels; scale the sums to area averages.
  const float aScale = static_cast<float>(aNewXSize * aNewYSize) / static_cast<float>(aOldSize);
  for (int i = 0; i < size(); i++) mData[i] *= aScale;
}

template <>
void CMatrix<float>::upsample(int aNewXSize, int aNewYSize) {
  areaResample(*this, aNewXSize, aNewYSize, false);
}

template <>
void CMatrix<float>::upsampleBilinear(int aNewXSize, int aNewYSize) {
  CMatrix<float> aResult(aNewXSize, aNewYSize);
  const float aXRatio = static_cast<float>(mXSize) / aNewXSize;
  const float aYRatio = static_cast<float>(mYSize) / aNewYSize;
  // Column pairs and weights are the same for every row.
  std::vector<int> aX1(aNewXSize), aX2(aNewXSize);
  std::vector<float> aFX(aNewXSize);
  for (int x = 0; x < aNewXSize; x++) {
    const float sx = static_cast<float>((x + 0.5) * aXRatio - 0.5);
    if (sx < 0.0f) {
      aX1[x] = 0;
      aX2[x] = std::min(1, mXSize - 1);
      aFX[x] = 0.0f;
    } else {
      aX1[x] = static_cast<int>(sx);
      aX2[x] = std::min(aX1[x] + 1, mXSize - 1);
      aFX[x] = sx - aX1[x];
    }
  }
  for (int y = 0; y < aNewYSize; y++) {
    const float sy = static_cast<float>((y + 0.5) * aYRatio - 0.5);
    int y1, y2;
    float fy;
    if (sy < 0.0f) {
      y1 = 0;
      y2 = std::min(1, mYSize - 1);
      fy = 0.0f;
    } else {
      y1 = static_cast<int>(sy);
      y2 = std::min(y1 + 1, mYSize - 1);
      fy = sy - y1;
    }
    const float* aRow1 = mData + y1 * mXSize;
    const float* aRow2 = mData + y2 * mXSize;
    float* aOut = aResult.data() + y * aNewXSize;
    for (int x = 0; x < aNewXSize; x++) {
      const float fx = aFX[x];
      aOut[x] = (1.0f - fy) * ((1.0f - fx) * aRow1[aX1[x]] + fx * aRow1[aX2[x]]) +
                fy * ((1.0f - fx) * aRow2[aX1[x]] + fx * aRow2[aX2[x]]);
    }
  }
  *this = std::move(aResult);
}

template <>
void CMatrix<float>::downsample(int aNewXSize, int aNewYSize, CMatrix<float>& aConfidence) {
  CMatrix<float> aValues(aNewXSize, aNewYSize, 0.0f);
  CMatrix<float> aWeights(aNewXSize, aNewYSize, 0.0f);
  const float aXRatio = static_cast<float>(aNewXSize) / mXSize;
  const float aYRatio = static_cast<float>(aNewYSize) / mYSize;
  for (int y = 0; y < mYSize; y++)
    for (int x = 0; x < mXSize; x++) {
      const float a = aConfidence(x, y);
      if (!(a > 0.0f)) continue;
      const float ax = aXRatio * x, ay = aYRatio * y;
      const int ix = static_cast<int>(ax), iy = static_cast<int>(ay);
      const float fx = ax - ix, fy = ay - iy;
      const float aValue = a * operator()(x, y);
      const bool aRight = ix + 1 < aNewXSize, aDown = iy + 1 < aNewYSize;
      const float w00 = (1.0f - fx) * (1.0f - fy);
      aValues(ix, iy) += aValue * w00;
      aWeights(ix, iy) += a * w00;
      if (aRight) {
        const float w = fx * (1.0f - fy);
        aValues(ix + 1, iy) += aValue * w;
        aWeights(ix + 1, iy) += a * w;
      }
      if (aDown) {
        const float w = (1.0f - fx) * fy;
        aValues(ix, iy + 1) += aValue * w;
        aWeights(ix, iy + 1) += a * w;
      }
      if (aRight && aDown) {
        const float w = fx * fy;
        aValues(ix + 1, iy + 1) += aValue * w;
        aWeights(ix + 1, iy + 1) += a * w;
      }
    }
  for (int i = 0; i < aValues.size(); i++)
    if (aWeights(i) > 0.0f) aValues(i) /= aWeights(i);
  *this = std::move(aValues);
}

namespace {

// Applies a matrix operation to every channel of aTensor and replaces its planes.
template <class Operation>
void perChannel(CTensor<float>& aTensor, int aNewXSize, int aNewYSize, Operation aOperation) {
  CTensor<float> aResult(aNewXSize, aNewYSize, aTensor.zSize());
  CMatrix<float> aPlane(aTensor.xSize(), aTensor.ySize());
  for (int z = 0; z < aTensor.zSize(); z++) {
    aPlane.setSize(aTensor.xSize(), aTensor.ySize());
    aTensor.getMatrix(aPlane, z);
    aOperation(aPlane, z);
    aResult.putMatrix(aPlane, z);
  }
  aTensor = std::move(aResult);
}

}  // namespace

template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize) {
  perChannel(*this, aNewXSize, aNewYSize,
             [&](CMatrix<float>& aPlane, int) { aPlane.downsample(aNewXSize, aNewYSize); });
}

template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize, CTensor<float>& aConfidence) {
  CMatrix<float> aChannelConfidence(mXSize, mYSize);
  perChannel(*this, aNewXSize, aNewYSize, [&](CMatrix<float>& aPlane, int z) {
    aConfidence.getMatrix(aChannelConfidence, z);
    aPlane.downsample(aNewXSize, aNewYSize, aChannelConfidence);
  });
}

template <>
void CTensor<float>::upsampleBilinear(int aNewXSize, int aNewYSize) {
  perChannel(*this, aNewXSize, aNewYSize,
             [&](CMatrix<float>& aPlane, int) { aPlane.upsampleBilinear(aNewXSize, aNewYSize); });
}
