#include "foundation/Simd.h"

#include <atomic>

namespace {

bool processorHasAvx2() {
#if QUORVIK_HAS_AVX2_TARGET
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

std::atomic<bool> gAvx2Allowed{true};

}  // namespace

bool useAvx2() {
  static const bool kProcessorHasAvx2 = processorHasAvx2();
  return kProcessorHasAvx2 && gAvx2Allowed.load(std::memory_order_relaxed);
}

void allowAvx2(bool aAllowed) {
  gAvx2Allowed.store(aAllowed, std::memory_order_relaxed);
}
