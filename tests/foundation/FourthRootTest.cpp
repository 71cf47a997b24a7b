#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "foundation/FourthRoot.h"
#include "foundation/Lanes.h"

namespace {

float powRoot(double x) {
  return static_cast<float>(std::pow(x, 0.25));
}

bool sameBits(float a, float b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

}  // namespace

// The triple affinities take this root of float values: every ten-millionth of them agrees bit
// for bit with pow, over the whole positive float range.
TEST(FourthRoot, EqualsPowRoundedToFloatForFloatArguments) {
  int aChecked = 0;
  for (std::uint32_t aBits = 1; aBits < 0x7f800000u; aBits += 211) {
    float x;
    std::memcpy(&x, &aBits, sizeof(x));
    ASSERT_TRUE(sameBits(fourthRootToFloat(x), powRoot(x))) << x;
    aChecked++;
  }
  EXPECT_GT(aChecked, 10000000);
}

TEST(FourthRoot, EqualsPowNearHalfwayPointsAndForSpecialValues) {
  // Arguments whose root lies within 4 double ulps of the point halfway between two floats:
  // there two square roots and pow round to different floats about once in 3,000 cases.
  std::uint64_t aState = 1;
  auto next = [&aState]() {
    aState = aState * 6364136223846793005ull + 1442695040888963407ull;
    return aState >> 33;
  };
  for (int i = 0; i < 1000000; i++) {
    const std::uint32_t aBits = 0x30000000u + static_cast<std::uint32_t>(next() % 0x1f000000u);
    float f;
    std::memcpy(&f, &aBits, sizeof(f));
    double aMid = 0.5 * (static_cast<double>(f) + static_cast<double>(std::nextafter(f, 1e30f)));
    std::uint64_t aMidBits;
    std::memcpy(&aMidBits, &aMid, sizeof(aMid));
    aMidBits += static_cast<std::uint64_t>(next() % 9) - 4;
    std::memcpy(&aMid, &aMidBits, sizeof(aMid));
    const double x = aMid * aMid * aMid * aMid;
    ASSERT_TRUE(sameBits(fourthRootToFloat(x), powRoot(x))) << x;
  }
  for (double x : {0.0, 1.0, 16.0, 1e-300, 1e300, std::numeric_limits<double>::infinity()})
    EXPECT_TRUE(sameBits(fourthRootToFloat(x), powRoot(x))) << x;
  EXPECT_TRUE(std::isnan(fourthRootToFloat(std::nan(""))));
}

// The four-lane root of the triple affinities gives the scalar root in every lane, whichever
// lanes go to pow.
TEST(FourthRoot, FourLanesEqualTheScalarRoot) {
  auto expectLanes = [](const float* x) {
    alignas(16) float aOut[lanes::kWidth];
    lanes::store(aOut, lanes::fourthRootToFloat(lanes::load(x)));
    for (int j = 0; j < lanes::kWidth; j++) {
      const float aExpected = powRoot(static_cast<double>(x[j]));
      if (std::isnan(aExpected))
        EXPECT_TRUE(std::isnan(aOut[j])) << x[j];
      else
        ASSERT_TRUE(sameBits(aOut[j], aExpected)) << x[j];
    }
  };
  float x[lanes::kWidth];
  int aLane = 0;
  for (std::uint32_t aBits = 1; aBits < 0x7f800000u; aBits += 211) {
    std::memcpy(&x[aLane], &aBits, sizeof(float));
    if (++aLane == lanes::kWidth) {
      expectLanes(x);
      aLane = 0;
    }
  }
  const float aInf = std::numeric_limits<float>::infinity();
  const float aSpecial[][lanes::kWidth] = {{0.0f, -0.0f, 1.0f, aInf},
                                           {1e-45f, 2.0f, std::nanf(""), -3.0f},
                                           {16.0f, 1e-40f, 3e38f, 0.5f}};
  for (const auto& aRow : aSpecial) expectLanes(aRow);
}
