// Test entry point: every test starts from the C library's unseeded random sequence, so a
// test that draws random numbers sees the same draws whatever ran before it.
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class SeedRandomEachTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { srand(1); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new SeedRandomEachTest);
  return RUN_ALL_TESTS();
}
