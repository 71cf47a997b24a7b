// Four single-precision lanes and the few operations the triple affinities need, each exactly
// the IEEE operation of the scalar code in every lane: SSE2 (part of every x86-64 processor) or,
// elsewhere, plain loops. Comparisons give lane masks; select takes a mask.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>
#include <cstdint>

#include "foundation/Simd.h"
#include "graph/FourthRoot.h"

namespace lanes {

constexpr int kWidth = 4;

#if defined(__SSE2__)

struct F4 {
  __m128 v;
};
QUORVIK_KERNEL F4 load(const float* p) {
  return {_mm_loadu_ps(p)};
}
QUORVIK_KERNEL void store(float* p, F4 a) {
  _mm_storeu_ps(p, a.v);
}
// Rows r0 ... r3 become columns: afterwards r0 holds the first element of every former row.
QUORVIK_KERNEL void transpose(F4& r0, F4& r1, F4& r2, F4& r3) {
  _MM_TRANSPOSE4_PS(r0.v, r1.v, r2.v, r3.v);
}
QUORVIK_KERNEL F4 splat(float x) {
  return {_mm_set1_ps(x)};
}
// The first two lanes of a, then the first two of b.
QUORVIK_KERNEL F4 lowHalves(F4 a, F4 b) {
  return {_mm_movelh_ps(a.v, b.v)};
}
// Each lane truncated toward zero to an integer, as float(int(x)) (in the range of int).
QUORVIK_KERNEL F4 truncate(F4 a) {
  return {_mm_cvtepi32_ps(_mm_cvttps_epi32(a.v))};
}
QUORVIK_KERNEL F4 operator+(F4 a, F4 b) {
  return {_mm_add_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 operator-(F4 a, F4 b) {
  return {_mm_sub_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 operator*(F4 a, F4 b) {
  return {_mm_mul_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 operator/(F4 a, F4 b) {
  return {_mm_div_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 sqrt(F4 a) {
  return {_mm_sqrt_ps(a.v)};
}
QUORVIK_KERNEL F4 negate(F4 a) {
  return {_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))};
}
// (a > b) ? a : b per lane: b where a is not a number.
QUORVIK_KERNEL F4 maxKeepSecondOnNan(F4 a, F4 b) {
  return {_mm_max_ps(a.v, b.v)};
}
// (a < b) ? a : b per lane: b where either is not a number.
QUORVIK_KERNEL F4 minKeepSecondOnNan(F4 a, F4 b) {
  return {_mm_min_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 equal(F4 a, F4 b) {
  return {_mm_cmpeq_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 less(F4 a, F4 b) {
  return {_mm_cmplt_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 unordered(F4 a, F4 b) {
  return {_mm_cmpunord_ps(a.v, b.v)};
}
QUORVIK_KERNEL F4 operator|(F4 a, F4 b) {
  return {_mm_or_ps(a.v, b.v)};
}
// aMask ? a : b per lane.
QUORVIK_KERNEL F4 select(F4 aMask, F4 a, F4 b) {
  return {_mm_or_ps(_mm_and_ps(aMask.v, a.v), _mm_andnot_ps(aMask.v, b.v))};
}
// 0.5 * double(a) * double(b) rounded to float, per lane.
QUORVIK_KERNEL F4 halfProductInDouble(F4 a, F4 b) {
  const __m128d aHalf = _mm_set1_pd(0.5);
  const __m128d aLow = _mm_mul_pd(_mm_mul_pd(aHalf, _mm_cvtps_pd(a.v)), _mm_cvtps_pd(b.v));
  const __m128d aHigh = _mm_mul_pd(_mm_mul_pd(aHalf, _mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))),
                                   _mm_cvtps_pd(_mm_movehl_ps(b.v, b.v)));
  return {_mm_movelh_ps(_mm_cvtpd_ps(aLow), _mm_cvtpd_ps(aHigh))};
}
// fourthRootToFloat(double(a)) per lane (FourthRoot.h): the two square roots in double,
// rounded to float, and pow for the rare lanes that rule sends to it.
QUORVIK_KERNEL F4 fourthRootToFloat(F4 a) {
  const __m128d aLow = _mm_sqrt_pd(_mm_sqrt_pd(_mm_cvtps_pd(a.v)));
  const __m128d aHigh = _mm_sqrt_pd(_mm_sqrt_pd(_mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))));
  // Lanes that the rule leaves to pow: roots outside [1e-30, 1e30] (or NaN), and roots whose
  // 29 dropped mantissa bits lie within 15 of the halfway point 2^28.
  auto aToPow = [](__m128d r) {
    const __m128d aInRange =
        _mm_and_pd(_mm_cmpge_pd(r, _mm_set1_pd(1e-30)), _mm_cmple_pd(r, _mm_set1_pd(1e30)));
    const __m128i aDropped =
        _mm_and_si128(_mm_castpd_si128(r), _mm_set1_epi64x((std::int64_t{1} << 29) - 1));
    const __m128i v = _mm_sub_epi32(aDropped, _mm_set1_epi32((1 << 28) - 15));
    const __m128i aNear = _mm_and_si128(_mm_cmpgt_epi32(v, _mm_set1_epi32(-1)),
                                        _mm_cmplt_epi32(v, _mm_set1_epi32(31)));
    // The low half of each double holds the dropped bits: its sign bit says "near".
    const int aNearLanes = _mm_movemask_ps(_mm_castsi128_ps(aNear));
    return ((aNearLanes & 1) | ((aNearLanes >> 1) & 2)) | (~_mm_movemask_pd(aInRange) & 3);
  };
  F4 r = {_mm_movelh_ps(_mm_cvtpd_ps(aLow), _mm_cvtpd_ps(aHigh))};
  const int aPow = aToPow(aLow) | (aToPow(aHigh) << 2);
  if (aPow != 0) {
    alignas(16) float aIn[kWidth], aOut[kWidth];
    _mm_store_ps(aIn, a.v);
    _mm_store_ps(aOut, r.v);
    for (int j = 0; j < kWidth; j++)
      if (aPow & (1 << j))
        aOut[j] = static_cast<float>(std::pow(static_cast<double>(aIn[j]), 0.25));
    r.v = _mm_load_ps(aOut);
  }
  return r;
}

#else

struct F4 {
  float v[kWidth];
};
template <class Op>
QUORVIK_KERNEL F4 each(F4 a, F4 b, Op aOp) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = aOp(a.v[i], b.v[i]);
  return r;
}
QUORVIK_KERNEL float maskOf(bool b) {
  const unsigned aBits = b ? ~0u : 0u;
  float f;
  __builtin_memcpy(&f, &aBits, sizeof(f));
  return f;
}
QUORVIK_KERNEL bool isSet(float aMask) {
  unsigned aBits;
  __builtin_memcpy(&aBits, &aMask, sizeof(aBits));
  return aBits != 0;
}
QUORVIK_KERNEL F4 load(const float* p) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = p[i];
  return r;
}
QUORVIK_KERNEL void store(float* p, F4 a) {
  for (int i = 0; i < kWidth; i++) p[i] = a.v[i];
}
QUORVIK_KERNEL void transpose(F4& r0, F4& r1, F4& r2, F4& r3) {
  F4* r[kWidth] = {&r0, &r1, &r2, &r3};
  for (int i = 0; i < kWidth; i++)
    for (int j = i + 1; j < kWidth; j++) {
      const float t = r[i]->v[j];
      r[i]->v[j] = r[j]->v[i];
      r[j]->v[i] = t;
    }
}
QUORVIK_KERNEL F4 splat(float x) {
  return {{x, x, x, x}};
}
QUORVIK_KERNEL F4 lowHalves(F4 a, F4 b) {
  return {{a.v[0], a.v[1], b.v[0], b.v[1]}};
}
QUORVIK_KERNEL F4 truncate(F4 a) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = static_cast<float>(static_cast<int>(a.v[i]));
  return r;
}
QUORVIK_KERNEL F4 operator+(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x + y; });
}
QUORVIK_KERNEL F4 operator-(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x - y; });
}
QUORVIK_KERNEL F4 operator*(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x * y; });
}
QUORVIK_KERNEL F4 operator/(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x / y; });
}
QUORVIK_KERNEL F4 sqrt(F4 a) {
  return each(a, a, [](float x, float) { return std::sqrt(x); });
}
QUORVIK_KERNEL F4 negate(F4 a) {
  return each(a, a, [](float x, float) { return -x; });
}
QUORVIK_KERNEL F4 maxKeepSecondOnNan(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x > y ? x : y; });
}
QUORVIK_KERNEL F4 minKeepSecondOnNan(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x < y ? x : y; });
}
QUORVIK_KERNEL F4 equal(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(x == y); });
}
QUORVIK_KERNEL F4 less(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(x < y); });
}
QUORVIK_KERNEL F4 unordered(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(std::isnan(x) || std::isnan(y)); });
}
QUORVIK_KERNEL F4 operator|(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(isSet(x) || isSet(y)); });
}
QUORVIK_KERNEL F4 select(F4 aMask, F4 a, F4 b) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = isSet(aMask.v[i]) ? a.v[i] : b.v[i];
  return r;
}
QUORVIK_KERNEL F4 halfProductInDouble(F4 a, F4 b) {
  F4 r;
  for (int i = 0; i < kWidth; i++)
    r.v[i] = static_cast<float>(0.5 * static_cast<double>(a.v[i]) * static_cast<double>(b.v[i]));
  return r;
}
QUORVIK_KERNEL F4 fourthRootToFloat(F4 a) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = ::fourthRootToFloat(static_cast<double>(a.v[i]));
  return r;
}

#endif

}  // namespace lanes
