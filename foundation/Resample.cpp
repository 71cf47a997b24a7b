#include "foundation/Resample.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/CAreaReducer.h"
#include "foundation/CMatrix.h"
#include "foundation/CTensor.h"
#include "foundation/Exceptions.h"
#include "foundation/Simd.h"

namespace {

// One step of the walk shared by the area reduction and the area-weighted enlargement: source
// sample mSource, weighted by mWeight, is added to target sample mTarget.
struct CWalkStep {
  int mSource, mTarget;
  float mWeight;
};

// The walk along a line of aOldSize source and aNewSize target samples. With factor = larger
// size / smaller size, each step hands the fine line's current sample, or the part of it still
// left, to the coarse line's current sample. Reducing, each target sample thus receives the sum
// of the source samples it covers (a boundary sample with its covered fraction); enlarging,
// each target sample receives its share of the source samples, with weights that sum to 1. The
// steps depend on the sizes only, so one walk serves every line.
std::vector<CWalkStep> walkSteps(int aOldSize, int aNewSize) {
  std::vector<CWalkStep> aSteps;
  const bool aReducing = aNewSize < aOldSize;
  const float aFactor =
      aReducing ? static_cast<float>(aOldSize) / aNewSize : static_cast<float>(aNewSize) / aOldSize;
  int i = 0, j = 0;  // source and target sample
  int& aFine = aReducing ? i : j;
  int& aCoarse = aReducing ? j : i;
  float aRest = aFactor, aPart = 1.0f;
  while (j < aNewSize && i < aOldSize) {
    if (aRest > 1.0f) {
      aSteps.push_back({i, j, aPart});
      aRest -= aPart;
      aFine++;
      aPart = 1.0f;
    } else {
      // The fine sample is shared: its remaining part goes to the next coarse sample.
      aSteps.push_back({i, j, aRest});
      aCoarse++;
      aPart = 1.0f - aRest;
      aRest = aFactor;
    }
  }
  return aSteps;
}

// Runs the walk over aCount lines (aStride between samples; line starts aSourceStep /
// aTargetStep apart), adding into the zeroed target.
void resampleLines(const float* aSource, int aSourceStep, float* aTarget, int aTargetStep,
                   int aOldSize, int aNewSize, int aCount, int aStride) {
  const std::vector<CWalkStep> aSteps = walkSteps(aOldSize, aNewSize);
  for (int aLine = 0; aLine < aCount; aLine++) {
    const float* aSrc = aSource + static_cast<size_t>(aLine) * aSourceStep;
    float* aDst = aTarget + static_cast<size_t>(aLine) * aTargetStep;
    for (const CWalkStep& aStep : aSteps)
      aDst[aStep.mTarget * aStride] += aSrc[aStep.mSource * aStride] * aStep.mWeight;
  }
}

// The walk applied to aWidth lines side by side: row aStep.mSource of aSource (aWidth values)
// times the weight is added to row aStep.mTarget of the zeroed aTarget, for every step in order.
// Every target value receives its terms in the order of one line's walk.
QUORVIK_KERNEL void walkRows(const std::vector<CWalkStep>& aSteps, const float* aSource,
                             float* aTarget, int aWidth) {
  for (const CWalkStep& aStep : aSteps) {
    const float* aFrom = aSource + static_cast<size_t>(aStep.mSource) * aWidth;
    float* aTo = aTarget + static_cast<size_t>(aStep.mTarget) * aWidth;
    const float w = aStep.mWeight;
    QUORVIK_IVDEP
    for (int x = 0; x < aWidth; x++) aTo[x] += aFrom[x] * w;
  }
}

QUORVIK_AVX2 void walkRowsAvx2(const std::vector<CWalkStep>& aSteps, const float* aSource,
                               float* aTarget, int aWidth) {
  walkRows(aSteps, aSource, aTarget, aWidth);
}

void walkRowsBase(const std::vector<CWalkStep>& aSteps, const float* aSource, float* aTarget,
                  int aWidth) {
  walkRows(aSteps, aSource, aTarget, aWidth);
}

void walkRowsDispatch(const std::vector<CWalkStep>& aSteps, const float* aSource, float* aTarget,
                      int aWidth) {
  if (useAvx2())
    walkRowsAvx2(aSteps, aSource, aTarget, aWidth);
  else
    walkRowsBase(aSteps, aSource, aTarget, aWidth);
}

// aOut (aColumns x aRows, row-major) = the transpose of aIn (aRows x aColumns, row-major).
void transpose(const float* aIn, int aRows, int aColumns, float* aOut) {
  constexpr int kBlock = 16;
  for (int r0 = 0; r0 < aRows; r0 += kBlock)
    for (int c0 = 0; c0 < aColumns; c0 += kBlock) {
      const int r1 = std::min(r0 + kBlock, aRows), c1 = std::min(c0 + kBlock, aColumns);
      for (int r = r0; r < r1; r++)
        for (int c = c0; c < c1; c++)
          aOut[static_cast<size_t>(c) * aRows + r] = aIn[static_cast<size_t>(r) * aColumns + c];
    }
}

// The area walk along x, then along y, for every dimension whose size changes.
void resampleArea(CMatrix<float>& aMatrix, int aNewXSize, int aNewYSize) {
  const int aXSize = aMatrix.xSize(), aYSize = aMatrix.ySize();
  if (aNewXSize != aXSize) {
    CMatrix<float> aTarget(aNewXSize, aYSize, 0.0f);
    resampleLines(aMatrix.data(), aXSize, aTarget.data(), aNewXSize, aXSize, aNewXSize, aYSize, 1);
    aMatrix = std::move(aTarget);
  }
  if (aNewYSize != aYSize) {
    CMatrix<float> aTarget(aNewXSize, aNewYSize, 0.0f);
    resampleLines(aMatrix.data(), 1, aTarget.data(), 1, aYSize, aNewYSize, aNewXSize, aNewXSize);
    aMatrix = std::move(aTarget);
  }
}

// Neighbour pair and fraction of a source coordinate for bilinear lookup. Left of the first
// pixel centre the pair is (0, 1) with weight 0 on the second; the second index is clamped
// so a one-pixel-wide source is never read past its end.
void bilinearPair(float aPos, int aSize, int& aLow, int& aHigh, float& aFraction) {
  if (aPos < 0.0f) {
    aLow = 0;
    aHigh = std::min(1, aSize - 1);
    aFraction = 0.0f;
    return;
  }
  aLow = std::min(static_cast<int>(aPos), aSize - 1);
  aHigh = std::min(aLow + 1, aSize - 1);
  aFraction = aPos - aLow;
}

}  // namespace

template <>
void CMatrix<float>::downsample(int aNewXSize, int aNewYSize) {
  if (aNewXSize <= 0 || aNewYSize <= 0 || mXSize <= 0 || mYSize <= 0) {
    setSize(std::max(aNewXSize, 0), std::max(aNewYSize, 0));
    fill(0.0f);
    return;
  }
  const int aOldXSize = mXSize, aOldYSize = mYSize;
  resampleArea(*this, aNewXSize, aNewYSize);
  const float aScale =
      static_cast<float>(aNewXSize * aNewYSize) / static_cast<float>(aOldXSize * aOldYSize);
  for (int i = 0; i < size(); i++) mData[i] *= aScale;
}

template <>
void CMatrix<float>::downsample(int aNewXSize, int aNewYSize, CMatrix<float>& aConfidence) {
  // A confidence map of another size would be read out of bounds.
  if (aConfidence.xSize() != mXSize || aConfidence.ySize() != mYSize)
    throw EIncompatibleMatrices(mXSize, mYSize, aConfidence.xSize(), aConfidence.ySize());
  const int aCount = std::max(aNewXSize, 0) * std::max(aNewYSize, 0);
  float* aValues = allocate(aNewXSize, aNewYSize);
  std::vector<float> aWeights(static_cast<size_t>(aCount), 0.0f);
  std::fill(aValues, aValues + aCount, 0.0f);
  const float aRatioX = static_cast<float>(aNewXSize) / mXSize;
  const float aRatioY = static_cast<float>(aNewYSize) / mYSize;
  for (int y = 0; y < mYSize && aCount > 0; y++) {
    const float ay = aRatioY * y;
    const int iy = static_cast<int>(ay);
    const float fy = ay - iy;
    const bool aHasDown = iy + 1 < aNewYSize;
    for (int x = 0; x < mXSize; x++) {
      const float a = aConfidence.mData[x + mXSize * y];
      if (!(a > 0.0f)) continue;
      const float ax = aRatioX * x;
      const int ix = static_cast<int>(ax);
      const float fx = ax - ix;
      const bool aHasRight = ix + 1 < aNewXSize;
      const float aValue = a * mData[x + mXSize * y];
      const int aBase = ix + aNewXSize * iy;
      const float w00 = (1.0f - fx) * (1.0f - fy);
      aValues[aBase] += aValue * w00;
      aWeights[aBase] += a * w00;
      if (aHasRight) {
        const float w10 = fx * (1.0f - fy);
        aValues[aBase + 1] += aValue * w10;
        aWeights[aBase + 1] += a * w10;
      }
      if (aHasDown) {
        const float w01 = (1.0f - fx) * fy;
        aValues[aBase + aNewXSize] += aValue * w01;
        aWeights[aBase + aNewXSize] += a * w01;
      }
      if (aHasRight && aHasDown) {
        const float w11 = fx * fy;
        aValues[aBase + aNewXSize + 1] += aValue * w11;
        aWeights[aBase + aNewXSize + 1] += a * w11;
      }
    }
  }
  for (int i = 0; i < aCount; i++)
    if (aWeights[i] > 0.0f) aValues[i] /= aWeights[i];
  delete[] mData;
  mData = aValues;
  mXSize = std::max(aNewXSize, 0);
  mYSize = std::max(aNewYSize, 0);
}

template <>
void CMatrix<float>::upsample(int aNewXSize, int aNewYSize) {
  if (aNewXSize <= 0 || aNewYSize <= 0 || mXSize <= 0 || mYSize <= 0) {
    setSize(std::max(aNewXSize, 0), std::max(aNewYSize, 0));
    fill(0.0f);
    return;
  }
  resampleArea(*this, aNewXSize, aNewYSize);
}

template <>
void CMatrix<float>::upsampleBilinear(int aNewXSize, int aNewYSize) {
  if (aNewXSize <= 0 || aNewYSize <= 0 || mXSize <= 0 || mYSize <= 0) {
    setSize(std::max(aNewXSize, 0), std::max(aNewYSize, 0));
    fill(0.0f);
    return;
  }
  const float aRatioX = static_cast<float>(mXSize) / aNewXSize;
  const float aRatioY = static_cast<float>(mYSize) / aNewYSize;
  float* aTarget = allocate(aNewXSize, aNewYSize);
  std::vector<int> aX1(aNewXSize), aX2(aNewXSize);
  std::vector<float> aFx(aNewXSize);
  for (int x = 0; x < aNewXSize; x++) {
    const float sx = static_cast<float>((x + 0.5) * aRatioX - 0.5);
    bilinearPair(sx, mXSize, aX1[x], aX2[x], aFx[x]);
  }
  for (int y = 0; y < aNewYSize; y++) {
    const float sy = static_cast<float>((y + 0.5) * aRatioY - 0.5);
    int y1, y2;
    float fy;
    bilinearPair(sy, mYSize, y1, y2, fy);
    const float* aRow1 = mData + static_cast<size_t>(mXSize) * y1;
    const float* aRow2 = mData + static_cast<size_t>(mXSize) * y2;
    float* aOut = aTarget + static_cast<size_t>(aNewXSize) * y;
    for (int x = 0; x < aNewXSize; x++) {
      const float fx = aFx[x];
      aOut[x] = (1.0f - fy) * ((1.0f - fx) * aRow1[aX1[x]] + fx * aRow1[aX2[x]]) +
                fy * ((1.0f - fx) * aRow2[aX1[x]] + fx * aRow2[aX2[x]]);
    }
  }
  delete[] mData;
  mData = aTarget;
  mXSize = aNewXSize;
  mYSize = aNewYSize;
}

namespace {

// Applies aOperation to every channel of aTensor in turn and gathers the resized channels,
// so the tensor's data and width and height are replaced only at the end.
template <class TOperation>
void resampleChannels(CTensor<float>& aTensor, int aNewXSize, int aNewYSize,
                      TOperation aOperation) {
  const int aZSize = aTensor.zSize();
  const int aNewX = std::max(aNewXSize, 0), aNewY = std::max(aNewYSize, 0);
  CTensor<float> aResult(aNewX, aNewY, aZSize);
  CMatrix<float> aChannel(aTensor.xSize(), aTensor.ySize());
  const size_t aPlane = static_cast<size_t>(aNewX) * aNewY;
  for (int z = 0; z < aZSize; z++) {
    if (aChannel.xSize() != aTensor.xSize() || aChannel.ySize() != aTensor.ySize())
      aChannel.setSize(aTensor.xSize(), aTensor.ySize());
    aTensor.getMatrix(aChannel, z);
    aOperation(aChannel, z);
    std::copy(aChannel.data(), aChannel.data() + aPlane, aResult.data() + aPlane * z);
  }
  aTensor = std::move(aResult);
}

}  // namespace

template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize) {
  resampleChannels(*this, aNewXSize, aNewYSize, [&](CMatrix<float>& aChannel, int) {
    aChannel.downsample(aNewXSize, aNewYSize);
  });
}

template <>
void CTensor<float>::downsample(int aNewXSize, int aNewYSize, CTensor<float>& aConfidence) {
  if (aConfidence.xSize() != mXSize || aConfidence.ySize() != mYSize ||
      aConfidence.zSize() < mZSize)
    throw ETensorIncompatibleSize(aConfidence.xSize(), aConfidence.ySize(), mXSize, mYSize);
  CMatrix<float> aWeights(mXSize, mYSize);
  resampleChannels(*this, aNewXSize, aNewYSize, [&](CMatrix<float>& aChannel, int z) {
    aConfidence.getMatrix(aWeights, z);
    aChannel.downsample(aNewXSize, aNewYSize, aWeights);
  });
}

template <>
void CTensor<float>::upsampleBilinear(int aNewXSize, int aNewYSize) {
  resampleChannels(*this, aNewXSize, aNewYSize, [&](CMatrix<float>& aChannel, int) {
    aChannel.upsampleBilinear(aNewXSize, aNewYSize);
  });
}

CAreaReducer::CAreaReducer(const CTensor<float>& aPicture)
    : mXSize(aPicture.xSize()), mYSize(aPicture.ySize()), mZSize(aPicture.zSize()) {
  const size_t aPlane = static_cast<size_t>(std::max(mXSize, 0)) * std::max(mYSize, 0);
  mRows.assign(aPicture.data(), aPicture.data() + aPlane * std::max(mZSize, 0));
  mColumns.resize(mRows.size());
  mSource.resize(std::max(mZSize, 0));
  for (int z = 0; z < mZSize; z++) {
    // A channel equal to an earlier one, bit for bit (a grey picture's), has the same
    // reductions: it is reduced once.
    mSource[z] = z;
    for (int e = 0; e < z && mSource[z] == z; e++)
      if (mSource[e] == e && std::memcmp(mRows.data() + aPlane * e, mRows.data() + aPlane * z,
                                         aPlane * sizeof(float)) == 0)
        mSource[z] = e;
    if (mSource[z] == z)
      transpose(mRows.data() + aPlane * z, mYSize, mXSize, mColumns.data() + aPlane * z);
  }
}

void CAreaReducer::reduce(int aNewXSize, int aNewYSize, CTensor<float>& aResult,
                          std::vector<float>& aWork) const {
  const int aNewX = std::max(aNewXSize, 0), aNewY = std::max(aNewYSize, 0);
  if (aResult.xSize() != aNewX || aResult.ySize() != aNewY || aResult.zSize() != mZSize)
    aResult.setSize(aNewX, aNewY, mZSize);
  if (aNewX == 0 || aNewY == 0 || mXSize <= 0 || mYSize <= 0) {
    aResult.fill(0.0f);
    return;
  }
  const size_t aPlane = static_cast<size_t>(mXSize) * mYSize;
  const size_t aMiddlePlane = static_cast<size_t>(aNewX) * mYSize;
  const size_t aNewPlane = static_cast<size_t>(aNewX) * aNewY;
  const std::vector<CWalkStep> aStepsX =
      aNewX != mXSize ? walkSteps(mXSize, aNewX) : std::vector<CWalkStep>();
  const std::vector<CWalkStep> aStepsY =
      aNewY != mYSize ? walkSteps(mYSize, aNewY) : std::vector<CWalkStep>();
  // The same float quotient as CMatrix<float>::downsample.
  const float aScale = static_cast<float>(aNewX * aNewY) / static_cast<float>(mXSize * mYSize);
  if (aWork.size() < 2 * aMiddlePlane) aWork.resize(2 * aMiddlePlane);
  float* aColumnsOut = aWork.data();
  float* aMiddle = aWork.data() + aMiddlePlane;
  for (int z = 0; z < mZSize; z++) {
    float* aOut = aResult.data() + aNewPlane * z;
    if (mSource[z] != z) {
      const float* aSame = aResult.data() + aNewPlane * mSource[z];
      std::copy(aSame, aSame + aNewPlane, aOut);
      continue;
    }
    // Along x: the columns of the picture are rows of mColumns, so the walk moves whole
    // columns; the result is turned back into rows.
    const float* aRowsIn = mRows.data() + aPlane * z;
    if (aNewX != mXSize) {
      std::fill(aColumnsOut, aColumnsOut + aMiddlePlane, 0.0f);
      walkRowsDispatch(aStepsX, mColumns.data() + aPlane * z, aColumnsOut, mYSize);
      transpose(aColumnsOut, aNewX, mYSize, aMiddle);
      aRowsIn = aMiddle;
    }
    // Along y: the walk moves whole rows.
    if (aNewY != mYSize) {
      std::fill(aOut, aOut + aNewPlane, 0.0f);
      walkRowsDispatch(aStepsY, aRowsIn, aOut, aNewX);
    } else {
      std::copy(aRowsIn, aRowsIn + aNewPlane, aOut);
    }
    for (size_t i = 0; i < aNewPlane; i++) aOut[i] *= aScale;
  }
}
