#include <gtest/gtest.h>

#include <cmath>

#include "tracking/CFlowVariation.h"

namespace {

// Flow (aU, aV) left of column aSplit and (aU2, aV2) from it on.
CTensor<float> twoRegionFlow(int aXSize, int aYSize, int aSplit, float aU, float aV, float aU2,
                             float aV2) {
  CTensor<float> aFlow(aXSize, aYSize, 2);
  for (int y = 0; y < aYSize; y++)
    for (int x = 0; x < aXSize; x++) {
      aFlow(x, y, 0) = x < aSplit ? aU : aU2;
      aFlow(x, y, 1) = x < aSplit ? aV : aV2;
    }
  return aFlow;
}

}  // namespace

TEST(FlowVariation, ConstantFlowHasNoVariation) {
  CMatrix<float> aFlowVar;
  computeLocalFlowVariation(twoRegionFlow(37, 24, 0, 0, 0, 3.5f, -2.0f), aFlowVar);
  ASSERT_EQ(aFlowVar.xSize(), 37);
  ASSERT_EQ(aFlowVar.ySize(), 24);
  for (int i = 0; i < aFlowVar.size(); i++) {
    ASSERT_GE(aFlowVar[i], 0.0f);
    ASSERT_LT(aFlowVar[i], 5e-3f) << i;
  }
  computeLocalFlowVariation(CTensor<float>(12, 9, 2, 0.0f), aFlowVar);
  for (int i = 0; i < aFlowVar.size(); i++) ASSERT_EQ(aFlowVar[i], 0.0f);
}

TEST(FlowVariation, RisesAtAMotionBoundaryAndStaysLowerInsideTheRegions) {
  // Left half at rest, right half moving 4 pixels to the right.
  const int X = 60, Y = 40, aSplit = 30, y = Y / 2;
  CMatrix<float> aFlowVar;
  computeLocalFlowVariation(twoRegionFlow(X, Y, aSplit, 0, 0, 4.0f, 0), aFlowVar);
  ASSERT_EQ(aFlowVar.xSize(), X);
  ASSERT_EQ(aFlowVar.ySize(), Y);
  // The half-resolution pixel on the step holds both motions half and half: deviation ~2.
  const float aBoundary = std::fmax(aFlowVar(aSplit - 1, y), aFlowVar(aSplit, y));
  EXPECT_GT(aBoundary, 1.8f);
  EXPECT_LT(aBoundary, 2.05f);
  // Away from the step the diffusivities (1 / |gradient|) let only a bounded flux across it,
  // so the moments of each region stay mostly its own.
  for (int x = 0; x < X; x++) {
    if (std::abs(x - aSplit) <= 2) continue;
    EXPECT_LT(aFlowVar(x, y), 0.75f * aBoundary) << x;
  }
  // The same along every row (the flow does not change along y).
  for (int yy = 0; yy < Y; yy++) EXPECT_NEAR(aFlowVar(5, yy), aFlowVar(5, y), 1e-3f);

  // The flux across the step is the same whatever the region size, so larger regions mix less.
  CMatrix<float> aWide;
  computeLocalFlowVariation(twoRegionFlow(200, Y, 100, 0, 0, 4.0f, 0), aWide);
  EXPECT_LT(aWide(10, y), 0.7f * aFlowVar(10, y));
  EXPECT_GT(std::fmax(aWide(99, y), aWide(100, y)), 1.8f);

  // The variation measures the flow vector: a vertical motion step gives the same profile.
  CMatrix<float> aVertical;
  computeLocalFlowVariation(twoRegionFlow(X, Y, aSplit, 0, 0, 0, 4.0f), aVertical);
  for (int x = 0; x < X; x++) EXPECT_NEAR(aVertical(x, y), aFlowVar(x, y), 1e-3f) << x;
}

TEST(FlowVariation, ResultHasTheFrameSizeForOddAndEvenSizes) {
  const int aSizes[][2] = {{9, 7}, {10, 8}, {9, 8}, {10, 7}, {1, 1}, {2, 3}, {3, 2}};
  for (const auto& aSize : aSizes) {
    CMatrix<float> aFlowVar;
    computeLocalFlowVariation(twoRegionFlow(aSize[0], aSize[1], aSize[0] / 2, 1, 2, -1, 0),
                              aFlowVar);
    EXPECT_EQ(aFlowVar.xSize(), aSize[0]);
    EXPECT_EQ(aFlowVar.ySize(), aSize[1]);
    for (int i = 0; i < aFlowVar.size(); i++) EXPECT_TRUE(std::isfinite(aFlowVar[i]));
  }
  CMatrix<float> aEmpty(3, 3, 1.0f);
  computeLocalFlowVariation(CTensor<float>(), aEmpty);
  EXPECT_EQ(aEmpty.size(), 0);
}
