// The random numbers of a run: the additive feedback generator of the GNU C library (the
// numbers it gives once seeded with aSeed), written out here so that a run owns its sequence
// instead of sharing the library's process-wide one. Over 31 words r[k] it sets
// r[k] = r[k - 31] + r[k - 3] (modulo 2^32) and returns r[k] >> 1, 0 ... 2^31 - 1. The seed
// fills the words through the multiplicative generator x -> 16807 x mod (2^31 - 1), starting at
// the seed (1 for a seed of 0), and the first 310 results are discarded. One object serves
// one run, on one thread at a time.
#pragma once

#include <cstdint>

class CRandom {
 public:
  // The largest number drawn (the C library's RAND_MAX).
  static constexpr int kMax = 2147483647;

  // The C library's sequence for seed aSeed; a process that never seeds starts as with seed 1.
  explicit CRandom(unsigned aSeed = 1);

  // The next number of the sequence, 0 ... kMax.
  int next() {
    const int aFront =
        mRear + kSeparation < kDegree ? mRear + kSeparation : mRear + kSeparation - kDegree;
    mWords[aFront] += mWords[mRear];
    mRear = mRear + 1 < kDegree ? mRear + 1 : 0;
    return static_cast<int>(mWords[aFront] >> 1);
  }

 private:
  static constexpr int kDegree = 31;
  static constexpr int kSeparation = 3;

  std::uint32_t mWords[kDegree];
  // Position of the rear word (the one added); the front word is kSeparation further on.
  int mRear = 0;
};
