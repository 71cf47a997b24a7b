// The fourth root of a double rounded to float, bit for bit what
// static_cast<float>(std::pow(x, 0.25)) gives, at the cost of two square roots in nearly all
// cases. The triple affinities take one per similarity-transform error, which made pow the
// largest cost of the graph construction.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// sqrt(sqrt(x)) is within 2 double ulps of the exact root and pow within 1, so both round to
// the same float unless they lie within a few double ulps of a point halfway between two
// floats; there (about one case in 10^7) pow itself decides.
inline float fourthRootToFloatFrom(double x, double aRoot);

inline float fourthRootToFloat(double x) {
  return fourthRootToFloatFrom(x, std::sqrt(std::sqrt(x)));
}

// The same with aRoot = sqrt(sqrt(x)) already taken (several at once, for instance).
inline float fourthRootToFloatFrom(double x, double aRoot) {
  // Zero, infinity, NaN and roots far from the float range (where floats lose mantissa bits)
  // are left to pow.
  if (!(aRoot >= 1e-30 && aRoot <= 1e30)) return static_cast<float>(std::pow(x, 0.25));
  std::uint64_t aBits;
  std::memcpy(&aBits, &aRoot, sizeof(aBits));
  // The 29 mantissa bits a float drops; 2^28 is the halfway point.
  constexpr std::uint64_t kDropped = (std::uint64_t{1} << 29) - 1;
  constexpr std::int64_t kHalfway = std::int64_t{1} << 28;
  constexpr std::int64_t kMargin = 16;
  const std::int64_t aOffset = static_cast<std::int64_t>(aBits & kDropped) - kHalfway;
  if (aOffset > -kMargin && aOffset < kMargin) return static_cast<float>(std::pow(x, 0.25));
  return static_cast<float>(aRoot);
}
