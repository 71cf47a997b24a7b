// Matrix-vector product of float containers.
#include "foundation/CMatrix.h"
#include "foundation/CVector.h"
#include "foundation/Exceptions.h"

CVector<float> operator*(const CMatrix<float>& aMatrix, const CVector<float>& aVector) {
  if (aVector.size() != aMatrix.xSize())
    throw EIncompatibleMatrices(aMatrix.xSize(), aMatrix.ySize(), 1, aVector.size());
  const int aXSize = aMatrix.xSize(), aYSize = aMatrix.ySize();
  CVector<float> aResult(aYSize);
  const float* aRow = aMatrix.data();
  const float* aV = aVector.data();
  for (int y = 0; y < aYSize; y++, aRow += aXSize) {
    // Float accumulation from x = 0 upward keeps the sums reproducible.
    float aSum = 0.0f;
    for (int x = 0; x < aXSize; x++) aSum += aRow[x] * aV[x];
    aResult[y] = aSum;
  }
  return aResult;
}
