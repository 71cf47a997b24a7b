// Test entry point. Every test draws its random numbers from a generator of its own
// (foundation/Random.h), so no test depends on what ran before it.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
