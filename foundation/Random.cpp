#include "foundation/Random.h"

namespace {

// The seeding generator: x -> 16807 x mod (2^31 - 1), computed as Schrage's method does it
// (127773 = (2^31 - 1) / 16807, 2836 = (2^31 - 1) % 16807), so that a negative start (a seed
// of 2^31 or more, taken as a signed word) goes the same way.
constexpr std::int64_t kMultiplier = 16807;
constexpr std::int64_t kQuotient = 127773;
constexpr std::int64_t kRemainder = 2836;
constexpr std::int64_t kModulus = 2147483647;
// Numbers discarded after seeding: ten per word.
constexpr int kDiscarded = 310;

}  // namespace

CRandom::CRandom(unsigned aSeed) {
  std::int32_t aWord = static_cast<std::int32_t>(aSeed == 0 ? 1 : aSeed);
  mWords[0] = static_cast<std::uint32_t>(aWord);
  for (int i = 1; i < kDegree; i++) {
    const std::int64_t aHigh = aWord / kQuotient, aLow = aWord % kQuotient;
    std::int64_t aNext = kMultiplier * aLow - kRemainder * aHigh;
    if (aNext < 0) aNext += kModulus;
    aWord = static_cast<std::int32_t>(aNext);
    mWords[i] = static_cast<std::uint32_t>(aWord);
  }
  for (int i = 0; i < kDiscarded; i++) next();
}
