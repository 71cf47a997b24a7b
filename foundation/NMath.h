// NMath: small dense linear algebra. Holds the least-squares solver that fits the affine
// motion models of the cluster merging (six parameters, a few hundred rows).
#pragma once

#include "foundation/CMatrix.h"
#include "foundation/CVector.h"

namespace NMath {

// Householder triangularisation of A (x-size n = columns, y-size m = rows; A(c, r) is
// column c, row r) in place, applying the same reflections to b (m entries). Afterwards the
// diagonal and the part above it hold the triangular factor R, the part below the diagonal
// the reflection vectors, and b holds Q^T b. A column without any remaining norm (or more
// columns than rows) stops the triangularisation with "NMath::householder(): matrix is
// singular!" on standard error; the diagonal entries of that column and of all later ones
// are then set to 0, marking them undetermined.
void householder(CMatrix<float>& A, CVector<float>& b);

// Returns X (one entry per column of A) minimising |A X - b|^2; A and b are overwritten.
// Components that a rank-deficient system leaves undetermined are 0, so the result is
// always finite for finite input.
CVector<float> leastSquares(CMatrix<float>& A, CVector<float>& b);

}  // namespace NMath
