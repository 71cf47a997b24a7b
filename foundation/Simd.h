// Run-time choice of the instruction set for the vectorised kernels.
//
// A kernel is written once, as plain loops over contiguous arrays whose iterations are
// independent, and compiled twice: for baseline x86-64 (SSE2) and for AVX2. The compiler turns
// such a loop into vector code in which every lane does exactly the operations of one scalar
// iteration, in the same order and precision (the build forbids fused multiply-add with
// -ffp-contract=off and never reorders floating-point sums), so both copies give the results
// of the scalar loop bit for bit and the choice only changes the speed.
//
//   QUORVIK_KERNEL void body(...) { ... }               // the loops, always inlined
//   QUORVIK_AVX2 void bodyAvx2(...) { body(...); }      // the AVX2 copy
//   void bodyBase(...) { body(...); }                   // the baseline copy
//   useAvx2() ? bodyAvx2(...) : bodyBase(...);
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define QUORVIK_HAS_AVX2_TARGET 1
#define QUORVIK_AVX2 __attribute__((target("avx2")))
#else
#define QUORVIK_HAS_AVX2_TARGET 0
#define QUORVIK_AVX2
#endif
#define QUORVIK_KERNEL inline __attribute__((always_inline))
// Placed before a loop whose iterations neither read nor write what another iteration writes,
// although they may index the same arrays: lets the compiler vectorise it without run-time
// overlap checks.
#if defined(__GNUC__) && !defined(__clang__)
#define QUORVIK_IVDEP _Pragma("GCC ivdep")
#else
#define QUORVIK_IVDEP
#endif

#if QUORVIK_HAS_AVX2_TARGET
#include <immintrin.h>

// Transposes the 8 x 8 block of floats held in r[0 .. 7]: afterwards r[i] holds what was
// lane i of every row. Pure data movement, for AVX2 kernels.
QUORVIK_AVX2 inline __attribute__((always_inline)) void transpose8x8(__m256* r) {
  const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
  const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
  const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
  const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
  const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
  const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
  r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
  r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
  r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
  r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
  r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
  r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
  r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
  r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}
#endif

// True when the processor runs AVX2 code and the AVX2 kernels are not switched off.
bool useAvx2();
// Switches the AVX2 kernels off (false) or back on where the processor has AVX2 (true), so that
// tests can run both copies of a kernel. Not meant to be changed while kernels run.
void allowAvx2(bool aAllowed);
