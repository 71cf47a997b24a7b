#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "foundation/Random.h"
#include "foundation/Simd.h"
#include "spectral/RegionSmoothing.h"

namespace {

// 500 nodes with 0 to 19 random neighbours each (lists of every length, so that the kernels'
// blocks of two and four neighbours all meet remainders), random pair weights, and the hard
// memberships of kRegionLanes regions: mostly 0 or 1, some in between.
struct CSmoothingCase {
  static constexpr int kNodes = 500;
  CVector<std::vector<int>> mIdx{kNodes};
  CVector<std::vector<float>> mG{kNodes};
  std::vector<float> mU[kRegionLanes];
  CSmoothingCase() {
    CRandom aRandom(11);
    for (int n = 0; n < kNodes; n++)
      for (int r = 0; r < n % 20; r++) {
        mIdx(n).push_back(aRandom.next() % kNodes);
        mG(n).push_back(static_cast<float>(1 + aRandom.next() % 1000) * 1e-3f);
      }
    for (std::vector<float>& u : mU)
      for (int n = 0; n < kNodes; n++) {
        const int aDraw = aRandom.next() % 10;
        u.push_back(aDraw < 4   ? 0.0f
                    : aDraw < 8 ? 1.0f
                                : static_cast<float>(aRandom.next() % 97) / 97.0f);
      }
  }
};

std::uint64_t fingerprint(const std::vector<float>& aValues) {
  std::uint64_t h = 14695981039346656037ULL;
  for (float v : aValues) {
    std::uint32_t aBits;
    std::memcpy(&aBits, &v, sizeof(aBits));
    h = (h ^ aBits) * 1099511628211ULL;
  }
  return h;
}

}  // namespace

TEST(RegionSmoothing, EveryKernelGivesTheSameFloats) {
  const CSmoothingCase c;
  const CNeighborArrays aNeighbors(c.mG, c.mIdx);
  const int N = CSmoothingCase::kNodes;
  // Region by region and in groups, with and without AVX2: all bit for bit the same.
  std::vector<std::vector<float>> aResults;
  for (bool aAvx2 : {false, true}) {
    allowAvx2(aAvx2);
    std::vector<float> aSingle, aGroupU(kRegionLanes * N), aGroupS;
    for (int l = 0; l < kRegionLanes; l++) {
      std::vector<float> S = c.mU[l];
      smoothRegion(aNeighbors, c.mU[l].data(), S.data(), N);
      aSingle.insert(aSingle.end(), S.begin(), S.end());
      for (int n = 0; n < N; n++) aGroupU[kRegionLanes * n + l] = c.mU[l][n];
    }
    aGroupS = aGroupU;
    smoothRegionGroup(aNeighbors, aGroupU.data(), aGroupS.data(), N);
    std::vector<float> aGroup;
    for (int l = 0; l < kRegionLanes; l++)
      for (int n = 0; n < N; n++) aGroup.push_back(aGroupS[kRegionLanes * n + l]);
    aResults.push_back(aSingle);
    aResults.push_back(aGroup);
  }
  allowAvx2(true);
  for (size_t v = 1; v < aResults.size(); v++)
    for (size_t i = 0; i < aResults[0].size(); i++)
      ASSERT_EQ(std::memcmp(&aResults[v][i], &aResults[0][i], sizeof(float)), 0)
          << "variant " << v << ", entry " << i;
  // The memberships the smoothing gave before its AVX2 kernels existed.
  EXPECT_EQ(fingerprint(aResults[0]), 0x187e00563e840d44ULL);
}
