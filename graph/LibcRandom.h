// The C library's rand sequence, drawn without a call per number. The graph construction takes
// tens of random numbers per edge, one after the other on one thread; through rand each draw
// takes the library's lock, which made the drawing a sizeable serial share of the graph.
//
// The GNU C library's rand is an additive feedback generator over 31 words: with the words
// r[k], it sets r[k] = r[k - 31] + r[k - 3] (modulo 2^32) and returns r[k] >> 1. A CLibcRandom
// takes over the library's current state on construction, continues that very sequence, and
// hands the state back, advanced by every number it drew, on destruction: rand then goes on
// exactly as if each number had come from it. Where the library's state cannot be taken over
// (another C library, or a state that is not of that generator) the object draws through rand
// itself. Nothing else may call rand while an object exists.
#pragma once

#include <cstddef>
#include <cstdint>

class CLibcRandom {
 public:
  CLibcRandom();
  ~CLibcRandom();
  CLibcRandom(const CLibcRandom&) = delete;
  CLibcRandom& operator=(const CLibcRandom&) = delete;

  // The next value of the rand sequence (0 ... RAND_MAX).
  int next() {
    if (mLibrary == nullptr) return nextFromLibrary();
    const int f =
        mRear + kSeparation < kDegree ? mRear + kSeparation : mRear + kSeparation - kDegree;
    mWords[f] += mWords[mRear];
    mRear = mRear + 1 < kDegree ? mRear + 1 : 0;
    return static_cast<int>(mWords[f] >> 1);
  }

  // True when the numbers are generated here rather than drawn through rand.
  bool generatesItself() const { return mLibrary != nullptr; }

 private:
  static constexpr int kDegree = 31;
  static constexpr int kSeparation = 3;

  // A bare model, for the check of the library.
  explicit CLibcRandom(std::nullptr_t) {}
  static bool modelFitsLibrary();
  static int nextFromLibrary();

  std::uint32_t mWords[kDegree] = {};
  // Position of the rear word (the one added); the front word is kSeparation further on.
  int mRear = 0;
  // The library's own state array (its header word first) while it is taken over, else null.
  char* mLibrary = nullptr;
  // The state the library draws from meanwhile.
  alignas(std::int32_t) char mParking[128];
};
