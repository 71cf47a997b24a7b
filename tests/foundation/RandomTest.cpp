// The run's generator against the C library's rand: the same numbers after the same seed. The
// one place that calls rand and srand, to check the generator against them.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "foundation/Random.h"

TEST(Random, GivesTheCLibrarySequenceForEverySeed) {
  for (const unsigned aSeed :
       {1u, 0u, 2u, 12345u, 2147483647u, 2147483648u, 2147483653u, UINT_MAX}) {
    std::srand(aSeed);
    CRandom aRandom(aSeed);
    for (int i = 0; i < 5000; i++) ASSERT_EQ(aRandom.next(), std::rand()) << aSeed << " " << i;
  }
}
