#include "foundation/NMath.h"

#include <cmath>
#include <iostream>

namespace NMath {

void householder(CMatrix<float>& A, CVector<float>& b) {
  const int n = A.xSize();
  const int m = A.ySize();
  // Diagonal of R; columns the loop never reaches stay 0 (undetermined).
  CVector<float> d(n, 0.0f);
  for (int j = 0; j < n; j++) {
    float sigma = 0.0f;
    if (j < m)
      for (int i = j; i < m; i++) sigma += A(j, i) * A(j, i);
    if (j >= m || sigma == 0.0f) {
      std::cerr << "NMath::householder(): matrix is singular!" << std::endl;
      break;
    }
    const float aRoot = static_cast<float>(std::sqrt(static_cast<double>(sigma)));
    const float s = A(j, j) < 0.0f ? aRoot : -aRoot;
    d[j] = s;
    const float beta = 1.0f / (s * A(j, j) - sigma);
    A(j, j) -= s;
    for (int k = j + 1; k < n; k++) {
      float aSum = 0.0f;
      for (int i = j; i < m; i++) aSum += A(j, i) * A(k, i);
      const float f = beta * aSum;
      for (int i = j; i < m; i++) A(k, i) += f * A(j, i);
    }
    float aSum = 0.0f;
    for (int i = j; i < m; i++) aSum += A(j, i) * b(i);
    const float f = beta * aSum;
    for (int i = j; i < m; i++) b(i) += f * A(j, i);
  }
  // With more columns than rows, columns m ... n - 1 have no diagonal element to hold.
  for (int j = 0; j < n && j < m; j++) A(j, j) = d[j];
}

CVector<float> leastSquares(CMatrix<float>& A, CVector<float>& b) {
  const int n = A.xSize();
  const int m = A.ySize();
  CVector<float> X(n, 0.0f);
  householder(A, b);
  for (int i = n - 1; i >= 0; i--) {
    // A row beyond the matrix or a zero diagonal means the component is undetermined: 0.
    if (i >= m || A(i, i) == 0.0f) {
      X(i) = 0.0f;
      continue;
    }
    float aSum = 0.0f;
    for (int k = i + 1; k < n; k++) aSum += A(k, i) * X(k);
    const float aValue = (b(i) - aSum) / A(i, i);
    X(i) = std::isfinite(aValue) ? aValue : 0.0f;
  }
  return X;
}

}  // namespace NMath
