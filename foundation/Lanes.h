// The lanes of every vectorised kernel: a few vector types and the operations the kernels
// need, each exactly the IEEE operation of the scalar code in every lane, so that a kernel gives
// the results of its scalar loop bit for bit whichever lanes run it.
//
// - F4, four floats, and D2, two doubles: SSE2 (part of every x86-64 processor) or, elsewhere,
//   plain loops.
// - F8, eight floats, D4, four doubles, and I8, eight ints: AVX2, only where the processor
//   family has it (QUORVIK_HAS_AVX2_TARGET); their operations are compiled for AVX2 and may be
//   used only in kernels compiled so (QUORVIK_AVX2, foundation/Simd.h) and chosen by useAvx2().
//
// Comparisons give lane masks (all bits set or none); select takes a mask, bits() packs the
// masks' signs into an int, lane 0 in bit 0.
#pragma once

#include <cmath>
#include <cstdint>

#include "foundation/FourthRoot.h"
#include "foundation/Simd.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if QUORVIK_HAS_AVX2_TARGET
#include <immintrin.h>
#endif

namespace lanes {

constexpr int kWidth = 4;
constexpr int kDoubleWidth = 2;

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

// F4's lanes one after another (unaligned); the first aCount (at most 4) of them only.
QUORVIK_KERNEL void storePart(float* p, F4 a, int aCount) {
  alignas(16) float aAll[kWidth];
  _mm_store_ps(aAll, a.v);
  for (int i = 0; i < aCount; i++) p[i] = aAll[i];
}

struct D2 {
  __m128d v;
};
QUORVIK_KERNEL D2 loadDouble(const double* p) {
  return {_mm_loadu_pd(p)};
}
QUORVIK_KERNEL void store(double* p, D2 a) {
  _mm_storeu_pd(p, a.v);
}
QUORVIK_KERNEL D2 splatDouble(double x) {
  return {_mm_set1_pd(x)};
}
// Lane 0 a0, lane 1 a1.
QUORVIK_KERNEL D2 doubles(double a0, double a1) {
  return {_mm_set_pd(a1, a0)};
}
QUORVIK_KERNEL D2 operator+(D2 a, D2 b) {
  return {_mm_add_pd(a.v, b.v)};
}
QUORVIK_KERNEL D2 operator*(D2 a, D2 b) {
  return {_mm_mul_pd(a.v, b.v)};
}
QUORVIK_KERNEL D2 operator/(D2 a, D2 b) {
  return {_mm_div_pd(a.v, b.v)};
}
QUORVIK_KERNEL D2 sqrt(D2 a) {
  return {_mm_sqrt_pd(a.v)};
}
// Lanes 0, 1 and lanes 2, 3 of a widened to double.
QUORVIK_KERNEL D2 lowToDouble(F4 a) {
  return {_mm_cvtps_pd(a.v)};
}
QUORVIK_KERNEL D2 highToDouble(F4 a) {
  return {_mm_cvtps_pd(_mm_movehl_ps(a.v, a.v))};
}
// The lanes of aLow and aHigh rounded to float, aLow's first.
QUORVIK_KERNEL F4 toFloat(D2 aLow, D2 aHigh) {
  return {_mm_movelh_ps(_mm_cvtpd_ps(aLow.v), _mm_cvtpd_ps(aHigh.v))};
}
// The two lanes rounded to float into p[0] and p[1].
QUORVIK_KERNEL void storeAsFloat(float* p, D2 a) {
  alignas(16) float aAll[kWidth];
  _mm_store_ps(aAll, _mm_cvtpd_ps(a.v));
  p[0] = aAll[0];
  p[1] = aAll[1];
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

QUORVIK_KERNEL void storePart(float* p, F4 a, int aCount) {
  for (int i = 0; i < aCount; i++) p[i] = a.v[i];
}

struct D2 {
  double v[kDoubleWidth];
};
QUORVIK_KERNEL D2 loadDouble(const double* p) {
  return {{p[0], p[1]}};
}
QUORVIK_KERNEL void store(double* p, D2 a) {
  p[0] = a.v[0];
  p[1] = a.v[1];
}
QUORVIK_KERNEL D2 splatDouble(double x) {
  return {{x, x}};
}
QUORVIK_KERNEL D2 doubles(double a0, double a1) {
  return {{a0, a1}};
}
QUORVIK_KERNEL D2 operator+(D2 a, D2 b) {
  return {{a.v[0] + b.v[0], a.v[1] + b.v[1]}};
}
QUORVIK_KERNEL D2 operator*(D2 a, D2 b) {
  return {{a.v[0] * b.v[0], a.v[1] * b.v[1]}};
}
QUORVIK_KERNEL D2 operator/(D2 a, D2 b) {
  return {{a.v[0] / b.v[0], a.v[1] / b.v[1]}};
}
QUORVIK_KERNEL D2 sqrt(D2 a) {
  return {{std::sqrt(a.v[0]), std::sqrt(a.v[1])}};
}
QUORVIK_KERNEL D2 lowToDouble(F4 a) {
  return {{static_cast<double>(a.v[0]), static_cast<double>(a.v[1])}};
}
QUORVIK_KERNEL D2 highToDouble(F4 a) {
  return {{static_cast<double>(a.v[2]), static_cast<double>(a.v[3])}};
}
QUORVIK_KERNEL F4 toFloat(D2 aLow, D2 aHigh) {
  return {{static_cast<float>(aLow.v[0]), static_cast<float>(aLow.v[1]),
           static_cast<float>(aHigh.v[0]), static_cast<float>(aHigh.v[1])}};
}
QUORVIK_KERNEL void storeAsFloat(float* p, D2 a) {
  p[0] = static_cast<float>(a.v[0]);
  p[1] = static_cast<float>(a.v[1]);
}

#endif

#if QUORVIK_HAS_AVX2_TARGET

constexpr int kWideWidth = 8;

// The wide lanes; every operation carries QUORVIK_AVX2.
#define QUORVIK_WIDE QUORVIK_AVX2 inline __attribute__((always_inline))

struct F8 {
  __m256 v;
};
struct D4 {
  __m256d v;
};
struct I8 {
  __m256i v;
};

QUORVIK_WIDE F8 loadWide(const float* p) {
  return {_mm256_loadu_ps(p)};
}
QUORVIK_WIDE void store(float* p, F8 a) {
  _mm256_storeu_ps(p, a.v);
}
QUORVIK_WIDE F8 splatWide(float x) {
  return {_mm256_set1_ps(x)};
}
QUORVIK_WIDE F8 operator+(F8 a, F8 b) {
  return {_mm256_add_ps(a.v, b.v)};
}
QUORVIK_WIDE F8 operator-(F8 a, F8 b) {
  return {_mm256_sub_ps(a.v, b.v)};
}
QUORVIK_WIDE F8 operator*(F8 a, F8 b) {
  return {_mm256_mul_ps(a.v, b.v)};
}
QUORVIK_WIDE F8 operator|(F8 a, F8 b) {
  return {_mm256_or_ps(a.v, b.v)};
}
// a > b and a >= b per lane, false where either is not a number.
QUORVIK_WIDE F8 greater(F8 a, F8 b) {
  return {_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ)};
}
QUORVIK_WIDE F8 greaterEqual(F8 a, F8 b) {
  return {_mm256_cmp_ps(a.v, b.v, _CMP_GE_OQ)};
}
QUORVIK_WIDE int bits(F8 aMask) {
  return _mm256_movemask_ps(aMask.v);
}
// Rows r[0 .. 7] become columns: afterwards r[i] holds what was lane i of every row. Pure
// data movement.
QUORVIK_WIDE void transpose(F8* r) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0].v, r[1].v), t1 = _mm256_unpackhi_ps(r[0].v, r[1].v);
  const __m256 t2 = _mm256_unpacklo_ps(r[2].v, r[3].v), t3 = _mm256_unpackhi_ps(r[2].v, r[3].v);
  const __m256 t4 = _mm256_unpacklo_ps(r[4].v, r[5].v), t5 = _mm256_unpackhi_ps(r[4].v, r[5].v);
  const __m256 t6 = _mm256_unpacklo_ps(r[6].v, r[7].v), t7 = _mm256_unpackhi_ps(r[6].v, r[7].v);
  const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
  const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
  r[0].v = _mm256_permute2f128_ps(u0, u4, 0x20);
  r[1].v = _mm256_permute2f128_ps(u1, u5, 0x20);
  r[2].v = _mm256_permute2f128_ps(u2, u6, 0x20);
  r[3].v = _mm256_permute2f128_ps(u3, u7, 0x20);
  r[4].v = _mm256_permute2f128_ps(u0, u4, 0x31);
  r[5].v = _mm256_permute2f128_ps(u1, u5, 0x31);
  r[6].v = _mm256_permute2f128_ps(u2, u6, 0x31);
  r[7].v = _mm256_permute2f128_ps(u3, u7, 0x31);
}

QUORVIK_WIDE I8 loadInts(const int* p) {
  return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
}
QUORVIK_WIDE I8 splatInt(int x) {
  return {_mm256_set1_epi32(x)};
}
QUORVIK_WIDE I8 operator+(I8 a, I8 b) {
  return {_mm256_add_epi32(a.v, b.v)};
}
// p[aIndex] per lane.
QUORVIK_WIDE F8 gather(const float* p, I8 aIndex) {
  return {_mm256_i32gather_ps(p, aIndex.v, 4)};
}

QUORVIK_WIDE D4 splatWideDouble(double x) {
  return {_mm256_set1_pd(x)};
}
QUORVIK_WIDE D4 operator+(D4 a, D4 b) {
  return {_mm256_add_pd(a.v, b.v)};
}
QUORVIK_WIDE D4 operator/(D4 a, D4 b) {
  return {_mm256_div_pd(a.v, b.v)};
}
QUORVIK_WIDE D4 sqrt(D4 a) {
  return {_mm256_sqrt_pd(a.v)};
}
// F4's lanes widened to double, and D4's rounded to float.
QUORVIK_WIDE D4 toDouble(F4 a) {
  return {_mm256_cvtps_pd(a.v)};
}
QUORVIK_WIDE F4 toFloat(D4 a) {
  return {_mm256_cvtpd_ps(a.v)};
}
// Ends a stretch of wide lanes before code of the baseline instructions runs.
QUORVIK_WIDE void leaveWide() {
  _mm256_zeroupper();
}

#undef QUORVIK_WIDE

#endif
}  // namespace lanes
