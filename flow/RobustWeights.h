// The weights of the refinement's robust terms (internal to flow/): the derivative 1 / sqrt(s +
// eps) of the robust penaliser, with its fixed float and double points. For vectorised loops:
// the functions are always inlined.
#pragma once

#include <cmath>

#include "foundation/Simd.h"

// Squared-residual regulariser of the robust terms: weights are 1 / sqrt(s^2 + kEpsilonSqr).
constexpr double kEpsilonSqr = 1e-6;
constexpr float kEpsilonSqrF = 1e-6f;

// Weight 1 / sqrt(s + eps) of a robust term, root and quotient in double.
QUORVIK_KERNEL float robustWeight(float aNumerator, float aSquare) {
  return static_cast<float>(aNumerator / std::sqrt(static_cast<double>(aSquare) + kEpsilonSqr));
}

// The same weight of a squared residual that rounding may have made slightly negative, taken
// as 0 then. Clamping s + eps at eps gives the same sum as clamping s at 0 first (eps is exact
// either way) and keeps the loop free of branches.
QUORVIK_KERNEL float clampedRobustWeight(float aNumerator, float aSquare) {
  const double aSum = static_cast<double>(aSquare) + kEpsilonSqr;
  return static_cast<float>(aNumerator / std::sqrt(aSum < kEpsilonSqr ? kEpsilonSqr : aSum));
}

// Gradient normalisation 1 / sqrt(a^2 + b^2 + eps): the sum in float, root and quotient in
// double.
QUORVIK_KERNEL float gradientNorm(float a, float b) {
  const float aSum = a * a + b * b + kEpsilonSqrF;
  return static_cast<float>(1.0 / std::sqrt(static_cast<double>(aSum)));
}
