// Four single-precision lanes and the few operations the triple affinities need, each exactly
// the IEEE operation of the scalar code in every lane: SSE2 (part of every x86-64 processor) or,
// elsewhere, plain loops. Comparisons give lane masks; select takes a mask.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cmath>

namespace lanes {

constexpr int kWidth = 4;

#if defined(__SSE2__)

struct F4 {
  __m128 v;
};
inline F4 load(const float* p) {
  return {_mm_loadu_ps(p)};
}
inline void store(float* p, F4 a) {
  _mm_storeu_ps(p, a.v);
}
// Rows r0 ... r3 become columns: afterwards r0 holds the first element of every former row.
inline void transpose(F4& r0, F4& r1, F4& r2, F4& r3) {
  _MM_TRANSPOSE4_PS(r0.v, r1.v, r2.v, r3.v);
}
inline F4 splat(float x) {
  return {_mm_set1_ps(x)};
}
inline F4 operator+(F4 a, F4 b) {
  return {_mm_add_ps(a.v, b.v)};
}
inline F4 operator-(F4 a, F4 b) {
  return {_mm_sub_ps(a.v, b.v)};
}
inline F4 operator*(F4 a, F4 b) {
  return {_mm_mul_ps(a.v, b.v)};
}
inline F4 operator/(F4 a, F4 b) {
  return {_mm_div_ps(a.v, b.v)};
}
inline F4 sqrt(F4 a) {
  return {_mm_sqrt_ps(a.v)};
}
inline F4 negate(F4 a) {
  return {_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))};
}
// (a > b) ? a : b per lane: b where a is not a number.
inline F4 maxKeepSecondOnNan(F4 a, F4 b) {
  return {_mm_max_ps(a.v, b.v)};
}
// (a < b) ? a : b per lane: b where either is not a number.
inline F4 minKeepSecondOnNan(F4 a, F4 b) {
  return {_mm_min_ps(a.v, b.v)};
}
inline F4 equal(F4 a, F4 b) {
  return {_mm_cmpeq_ps(a.v, b.v)};
}
inline F4 less(F4 a, F4 b) {
  return {_mm_cmplt_ps(a.v, b.v)};
}
inline F4 unordered(F4 a, F4 b) {
  return {_mm_cmpunord_ps(a.v, b.v)};
}
inline F4 operator|(F4 a, F4 b) {
  return {_mm_or_ps(a.v, b.v)};
}
// aMask ? a : b per lane.
inline F4 select(F4 aMask, F4 a, F4 b) {
  return {_mm_or_ps(_mm_and_ps(aMask.v, a.v), _mm_andnot_ps(aMask.v, b.v))};
}
// 0.5 * double(a) * double(b) rounded to float, per lane.
inline F4 halfProductInDouble(F4 a, F4 b) {
  const __m128d aHalf = _mm_set1_pd(0.5);
  const __m128d aLow = _mm_mul_pd(_mm_mul_pd(aHalf, _mm_cvtps_pd(a.v)), _mm_cvtps_pd(b.v));
  const __m128d aHigh = _mm_mul_pd(_mm_mul_pd(aHalf, _mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))),
                                   _mm_cvtps_pd(_mm_movehl_ps(b.v, b.v)));
  return {_mm_movelh_ps(_mm_cvtpd_ps(aLow), _mm_cvtpd_ps(aHigh))};
}
// sqrt(sqrt(double(a))) per lane, into four doubles.
inline void doubleFourthRoot(F4 a, double* aOut) {
  const __m128d aLow = _mm_sqrt_pd(_mm_sqrt_pd(_mm_cvtps_pd(a.v)));
  const __m128d aHigh = _mm_sqrt_pd(_mm_sqrt_pd(_mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))));
  _mm_storeu_pd(aOut, aLow);
  _mm_storeu_pd(aOut + 2, aHigh);
}

#else

struct F4 {
  float v[kWidth];
};
template <class Op>
inline F4 each(F4 a, F4 b, Op aOp) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = aOp(a.v[i], b.v[i]);
  return r;
}
inline float maskOf(bool b) {
  const unsigned aBits = b ? ~0u : 0u;
  float f;
  __builtin_memcpy(&f, &aBits, sizeof(f));
  return f;
}
inline bool isSet(float aMask) {
  unsigned aBits;
  __builtin_memcpy(&aBits, &aMask, sizeof(aBits));
  return aBits != 0;
}
inline F4 load(const float* p) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = p[i];
  return r;
}
inline void store(float* p, F4 a) {
  for (int i = 0; i < kWidth; i++) p[i] = a.v[i];
}
inline void transpose(F4& r0, F4& r1, F4& r2, F4& r3) {
  F4* r[kWidth] = {&r0, &r1, &r2, &r3};
  for (int i = 0; i < kWidth; i++)
    for (int j = i + 1; j < kWidth; j++) {
      const float t = r[i]->v[j];
      r[i]->v[j] = r[j]->v[i];
      r[j]->v[i] = t;
    }
}
inline F4 splat(float x) {
  return {{x, x, x, x}};
}
inline F4 operator+(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x + y; });
}
inline F4 operator-(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x - y; });
}
inline F4 operator*(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x * y; });
}
inline F4 operator/(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x / y; });
}
inline F4 sqrt(F4 a) {
  return each(a, a, [](float x, float) { return std::sqrt(x); });
}
inline F4 negate(F4 a) {
  return each(a, a, [](float x, float) { return -x; });
}
inline F4 maxKeepSecondOnNan(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x > y ? x : y; });
}
inline F4 minKeepSecondOnNan(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return x < y ? x : y; });
}
inline F4 equal(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(x == y); });
}
inline F4 less(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(x < y); });
}
inline F4 unordered(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(std::isnan(x) || std::isnan(y)); });
}
inline F4 operator|(F4 a, F4 b) {
  return each(a, b, [](float x, float y) { return maskOf(isSet(x) || isSet(y)); });
}
inline F4 select(F4 aMask, F4 a, F4 b) {
  F4 r;
  for (int i = 0; i < kWidth; i++) r.v[i] = isSet(aMask.v[i]) ? a.v[i] : b.v[i];
  return r;
}
inline F4 halfProductInDouble(F4 a, F4 b) {
  F4 r;
  for (int i = 0; i < kWidth; i++)
    r.v[i] = static_cast<float>(0.5 * static_cast<double>(a.v[i]) * static_cast<double>(b.v[i]));
  return r;
}
inline void doubleFourthRoot(F4 a, double* aOut) {
  for (int i = 0; i < kWidth; i++) aOut[i] = std::sqrt(std::sqrt(static_cast<double>(a.v[i])));
}

#endif

}  // namespace lanes
