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
//
// What the compiler does not vectorise by itself (gathers, lane masks, transposes, several
// values converted to double at once) a kernel writes with the lanes of foundation/Lanes.h,
// never with the processor's intrinsics directly.
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

// True when the processor runs AVX2 code and the AVX2 kernels are not switched off.
bool useAvx2();
// Switches the AVX2 kernels off (false) or back on where the processor has AVX2 (true), so that
// tests can run both copies of a kernel. Not meant to be changed while kernels run.
void allowAvx2(bool aAllowed);
