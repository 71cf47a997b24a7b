// Dense regions on small hand-made frames: superpixels cover the frame with connected pieces
// that keep to colour edges, the random walk puts region borders on those edges also where no
// trajectory is near, and the moving-object decision tells objects from a background in
// parallax, frame by frame.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

#include "densify/DenseRegions.h"
#include "densify/MovingRegions.h"
#include "densify/RegionColours.h"
#include "densify/Superpixels.h"

namespace {

constexpr int kWidth = 64, kHeight = 48;

// Left of column aEdge dark red, right of it light blue, with a faint ripple as texture.
CTensor<float> twoColours(int aEdge) {
  CTensor<float> aFrame(kWidth, kHeight, 3);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      const float aRipple = 4.0f * std::sin(0.9f * x + 1.3f * y);
      const bool aLeft = x < aEdge;
      aFrame(x, y, 0) = (aLeft ? 150.0f : 60.0f) + aRipple;
      aFrame(x, y, 1) = (aLeft ? 40.0f : 140.0f) + aRipple;
      aFrame(x, y, 2) = (aLeft ? 30.0f : 200.0f) + aRipple;
    }
  return aFrame;
}

// Whether a superpixel's pixels are one 4-connected piece.
bool connected(const CMatrix<int>& aLabel, int aSuperpixel) {
  std::vector<int> aStack;
  std::vector<bool> aSeen(aLabel.size(), false);
  int aCount = 0, aReached = 0;
  for (int i = 0; i < aLabel.size(); i++)
    if (aLabel[i] == aSuperpixel) {
      if (aStack.empty() && aReached == 0) aStack.push_back(i), aSeen[i] = true;
      aCount++;
    }
  while (!aStack.empty()) {
    const int i = aStack.back();
    aStack.pop_back();
    aReached++;
    const int x = i % kWidth, y = i / kWidth;
    for (int j : {x > 0 ? i - 1 : -1, x + 1 < kWidth ? i + 1 : -1, y > 0 ? i - kWidth : -1,
                  y + 1 < kHeight ? i + kWidth : -1})
      if (j >= 0 && !aSeen[j] && aLabel[j] == aSuperpixel) aSeen[j] = true, aStack.push_back(j);
  }
  return aCount == aReached;
}

CRegionPoint point(float x, float y, int aRegion) {
  return {x, y, aRegion, false, false, 0.0f, 0.0f, 0.0f, 0.0f};
}

// A point that moves (dx, 0) to the next frame.
CRegionPoint stepping(float x, float y, int aRegion, float dx) {
  return {x, y, aRegion, true, false, x + dx, y, 0.0f, 0.0f};
}

// A trajectory of aSteps steps from (x, y) at frame 0 moving (dx, dy) per frame.
CTrack moving(int x, int y, int aSteps, float dx, float dy, int aLabel) {
  CTrack t;
  t.mox = x;
  t.moy = y;
  t.mLabel = aLabel;
  for (int k = 1; k <= aSteps; k++) {
    t.mx.push_back(x + k * dx);
    t.my.push_back(y + k * dy);
    t.mFlowVar.push_back(0.1f * k);
  }
  return t;
}

}  // namespace

TEST(Superpixels, ConnectedPiecesThatKeepToAColourEdge) {
  CSuperpixels s;
  computeSuperpixels(twoColours(29), 8, 10.0f, s);
  // About one per grid cell of 8 x 8.
  EXPECT_GT(s.mCount, 30);
  EXPECT_LT(s.mCount, 70);
  std::set<int> aLeft, aRight;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) (x < 29 ? aLeft : aRight).insert(s.mLabel(x, y));
  for (int k : aLeft) EXPECT_EQ(aRight.count(k), 0u) << "superpixel " << k << " crosses the edge";
  for (int k = 0; k < s.mCount; k++) {
    EXPECT_TRUE(connected(s.mLabel, k)) << k;
    EXPECT_GT(s.mSize[k], 0);
    // Neighbour lists are symmetric, with the same border length both ways.
    for (int e = s.mStart[k]; e < s.mStart[k + 1]; e++) {
      const int j = s.mNeighbor[e];
      bool aBack = false;
      for (int f = s.mStart[j]; f < s.mStart[j + 1]; f++)
        aBack |= s.mNeighbor[f] == k && s.mBorder[f] == s.mBorder[e];
      EXPECT_TRUE(aBack) << k << " " << j;
    }
  }
}

// One point per side, far from the edge: every pixel gets a region, and the border between the
// regions lies on the colour edge, also across rows no point is near.
TEST(DenseRegions, RegionBorderFollowsTheColourEdgeFarFromThePoints) {
  CSuperpixels s;
  computeSuperpixels(twoColours(29), 8, 10.0f, s);
  CMatrix<int> aRegions;
  labelFrame(s, {point(6, 6, 0), point(58, 6, 1)}, CMatrix<int>(), CTensor<float>(),
             CTensor<float>(), 2, aRegions);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) EXPECT_EQ(aRegions(x, y), x < 29 ? 0 : 1) << x << " " << y;

  // Without any point every pixel is region 0; regions without points stay absent.
  labelFrame(s, {}, CMatrix<int>(), CTensor<float>(), CTensor<float>(), 3, aRegions);
  for (int i = 0; i < aRegions.size(); i++) ASSERT_EQ(aRegions[i], 0);
  labelFrame(s, {point(6, 6, 2)}, CMatrix<int>(), CTensor<float>(), CTensor<float>(), 3, aRegions);
  for (int i = 0; i < aRegions.size(); i++) ASSERT_EQ(aRegions[i], 2);
}

// Where colour says nothing, the flow does: a uniform frame whose part right of column 40 moves
// 3 pixels a frame, points of region 1 moving with it and of region 0 standing still, none of
// them within 12 pixels of the motion boundary.
TEST(DenseRegions, RegionBorderFollowsAMotionBoundary) {
  CTensor<float> aFrame(kWidth, kHeight, 3, 128.0f);
  CTensor<float> aForward(kWidth, kHeight, 2, 0.0f);
  for (int y = 0; y < kHeight; y++)
    for (int x = 40; x < kWidth; x++) aForward(x, y, 0) = 3.0f;
  CSuperpixels s;
  computeSuperpixels(aFrame, 8, 10.0f, s);
  std::vector<CRegionPoint> aPoints;
  for (int y = 4; y < kHeight; y += 8) {
    aPoints.push_back(stepping(4.0f, static_cast<float>(y), 0, 0.0f));
    aPoints.push_back(stepping(20.0f, static_cast<float>(y), 0, 0.0f));
    aPoints.push_back(stepping(52.0f, static_cast<float>(y), 1, 3.0f));
    aPoints.push_back(stepping(60.0f, static_cast<float>(y), 1, 3.0f));
  }
  CMatrix<int> aRegions;
  labelFrame(s, aPoints, CMatrix<int>(), CTensor<float>(), aForward, 2, aRegions);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) EXPECT_EQ(aRegions(x, y), x < 40 ? 0 : 1) << x << " " << y;
}

// Region 0 covers the border on the left, region 2 on the right moves otherwise (a background
// in parallax) and holds half the border band, region 1 moves in the middle, region 3 is a
// single step of one trajectory, region 4 drifts by a third of region 1's miss (as water or
// foliage): only region 1 is a moving object, in every frame.
TEST(MovingRegions, ObjectsAreTheRegionsThatNeitherHoldTheBorderNorMoveWithTheBackground) {
  const int W = 200, H = 120;
  std::vector<CTrack> aTracks;
  for (int y = 2; y < H; y += 8)
    for (int x = 2; x < W; x += 8) {
      if (x < 90) aTracks.push_back(moving(x, y, 5, 0.5f, 0.0f, 0));
      if (x > 110) aTracks.push_back(moving(x, y, 5, 2.0f, 0.3f, 2));
    }
  for (int y = 50; y < 70; y += 4)
    for (int x = 90; x < 110; x += 4) aTracks.push_back(moving(x, y, 5, -3.0f, 1.0f, 1));
  aTracks.push_back(moving(100, 20, 1, 4.0f, 4.0f, 3));
  for (int y = 90; y < 104; y += 4)
    for (int x = 40; x < 60; x += 4) aTracks.push_back(moving(x, y, 5, 1.5f, 0.3f, 4));
  const std::vector<std::vector<bool>> aMoving = movingRegions(aTracks, 5, W, H, 6);
  ASSERT_EQ(aMoving.size(), 6u);
  for (const std::vector<bool>& aFrame : aMoving)
    EXPECT_EQ(aFrame, std::vector<bool>({false, true, false, false, false}));
}

namespace {

// A grey, finely textured background of 96 x 72 and a red square (x 48 ... 83, y 18 ... 53)
// without texture, as a car on a road.
constexpr int kRoadWidth = 96, kRoadHeight = 72;
bool inSquare(int x, int y) {
  return x >= 48 && x < 84 && y >= 18 && y < 54;
}
CTensor<float> redSquare() {
  CTensor<float> aFrame(kRoadWidth, kRoadHeight, 3);
  for (int y = 0; y < kRoadHeight; y++)
    for (int x = 0; x < kRoadWidth; x++) {
      const bool aSquare = inSquare(x, y);
      const float aRipple = aSquare ? 0.0f : 6.0f * std::sin(0.9f * x + 1.3f * y);
      aFrame(x, y, 0) = (aSquare ? 200.0f : 120.0f) + aRipple;
      aFrame(x, y, 1) = (aSquare ? 30.0f : 120.0f) + aRipple;
      aFrame(x, y, 2) = (aSquare ? 30.0f : 120.0f) + aRipple;
    }
  return aFrame;
}

}  // namespace

// The regions' colours are learned from the points their neighbours confirm: a region-1 point
// amid region-0 points on the grey background teaches region 1 no grey. Then, in a frame with
// the square moving 3 pixels a frame and a block of region-1 points gone astray on the still
// background (a piece of road the clustering gave to the car), colour and motion overrule
// those points: the road stays background, the square is region 1. Without the colour
// evidence the stray points win their piece of road.
TEST(DenseRegions, ColourAndMotionOverruleStrayPoints) {
  const CTensor<float> aFrame = redSquare();
  CTensor<float> aForward(kRoadWidth, kRoadHeight, 2, 0.0f);
  // The points of a frame where the clustering was right but for one point in the middle of
  // the road, and those of this frame, with a block of 30 x 30 pixels of them gone astray.
  std::vector<CRegionPoint> aLearned, aPoints;
  for (int y = 1; y < kRoadHeight; y += 3)
    for (int x = 1; x < kRoadWidth; x += 3) {
      const bool aSquare = inSquare(x, y);
      const bool aStray = x >= 4 && x < 34 && y >= 34 && y < 64;
      aLearned.push_back(point(x, y, aSquare || (x == 31 && y == 10) ? 1 : 0));
      // Trajectories are sparser than the points colours are learned from over a sequence.
      if (x % 6 == 1 && y % 6 == 1)
        aPoints.push_back(stepping(x, y, aSquare || aStray ? 1 : 0, aSquare ? 3.0f : 0.0f));
    }
  for (int y = 0; y < kRoadHeight; y++)
    for (int x = 0; x < kRoadWidth; x++) aForward(x, y, 0) = inSquare(x, y) ? 3.0f : 0.0f;

  CRegionColours aColours(2, 6.0f);
  aColours.add(aFrame, aLearned);
  aColours.finish();
  ASSERT_TRUE(aColours.hasModel(0));
  ASSERT_TRUE(aColours.hasModel(1));
  CSuperpixels s;
  computeSuperpixels(aFrame, 8, 10.0f, s);
  const std::vector<double> aShares = aColours.shares(aFrame, s, {0, 1});
  // Grey is region 0's: the lone region-1 point on the road was not confident.
  const int aRoad = s.mLabel(31, 10), aCar = s.mLabel(66, 36);
  EXPECT_GT(aShares[aRoad * 2 + 0], 0.9);
  EXPECT_LT(aShares[aRoad * 2 + 1], 0.1);
  EXPECT_GT(aShares[aCar * 2 + 1], 0.9);

  CColourEvidence aColour;
  aColour.mFrame = &aFrame;
  aColour.mColours = &aColours;
  CMatrix<int> aRegions, aWithout;
  labelFrame(s, aPoints, CMatrix<int>(), CTensor<float>(), aForward, 2, aRegions, aColour);
  labelFrame(s, aPoints, CMatrix<int>(), CTensor<float>(), aForward, 2, aWithout);
  int aWrong = 0, aWrongWithout = 0;
  for (int y = 0; y < kRoadHeight; y++)
    for (int x = 0; x < kRoadWidth; x++) {
      aWrong += aRegions(x, y) != (inSquare(x, y) ? 1 : 0);
      aWrongWithout += aWithout(x, y) != (inSquare(x, y) ? 1 : 0);
    }
  EXPECT_EQ(aWrong, 0);
  EXPECT_EQ(aRegions(16, 48), 0);
  EXPECT_EQ(aWithout(16, 48), 1);
  EXPECT_GT(aWrongWithout, 100);
}

// A region's colours claim its surroundings, not a like-coloured surface across the frame: on a
// road of 192 x 72 with the red square moving at the right, a red patch without texture at the
// far left (x 4 ... 27, y 24 ... 47, a parked car) holds two still road points and otherwise
// none. With the colour evidence everywhere the patch's pointless superpixels went to the
// square's region; faded by the distance from the square's points they stay road, while the
// square, untextured as well, is still found whole.
TEST(DenseRegions, ColourEvidenceFadesFarFromItsRegion) {
  constexpr int W = 192, H = 72;
  auto aPatch = [](int x, int y) { return x >= 4 && x < 28 && y >= 24 && y < 48; };
  auto aSquare = [](int x, int y) { return x >= 144 && x < 180 && y >= 18 && y < 54; };
  CTensor<float> aFrame(W, H, 3);
  CTensor<float> aForward(W, H, 2, 0.0f);
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      const bool aRed = aPatch(x, y) || aSquare(x, y);
      const float aRipple = aRed ? 0.0f : 6.0f * std::sin(0.9f * x + 1.3f * y);
      aFrame(x, y, 0) = (aRed ? 200.0f : 120.0f) + aRipple;
      aFrame(x, y, 1) = (aRed ? 30.0f : 120.0f) + aRipple;
      aFrame(x, y, 2) = (aRed ? 30.0f : 120.0f) + aRipple;
      aForward(x, y, 0) = aSquare(x, y) ? 3.0f : 0.0f;
    }
  std::vector<CRegionPoint> aLearned, aPoints;
  for (int y = 1; y < H; y += 3)
    for (int x = 1; x < W; x += 3) {
      if (aPatch(x, y)) continue;
      aLearned.push_back(point(x, y, aSquare(x, y) ? 1 : 0));
      if (x % 6 == 1 && y % 6 == 1)
        aPoints.push_back(stepping(x, y, aSquare(x, y) ? 1 : 0, aSquare(x, y) ? 3.0f : 0.0f));
    }
  aPoints.push_back(stepping(10, 30, 0, 0.0f));
  aPoints.push_back(stepping(22, 42, 0, 0.0f));
  CRegionColours aColours(2, 6.0f);
  aColours.add(aFrame, aLearned);
  aColours.finish();
  CColourEvidence aColour;
  aColour.mFrame = &aFrame;
  aColour.mColours = &aColours;
  CSuperpixels s;
  computeSuperpixels(aFrame, 8, 10.0f, s);
  CMatrix<int> aRegions;
  labelFrame(s, aPoints, CMatrix<int>(), CTensor<float>(), aForward, 2, aRegions, aColour);
  int aPatchTaken = 0, aSquareMissed = 0;
  for (int y = 0; y < H; y++)
    for (int x = 0; x < W; x++) {
      aPatchTaken += aPatch(x, y) && aRegions(x, y) == 1;
      aSquareMissed += aSquare(x, y) && aRegions(x, y) != 1;
    }
  EXPECT_EQ(aPatchTaken, 0);
  EXPECT_EQ(aSquareMissed, 0);
}

namespace {

// A point with its positions in the next and in the previous frame (dx, dy per frame forward).
CRegionPoint steppingBothWays(float x, float y, int aRegion, float dx) {
  return {x, y, aRegion, true, true, x + dx, y, x - dx, y};
}

// The regions of a uniform grey frame with the given flows (empty: unknown).
CMatrix<int> greyFrameRegions(const std::vector<CRegionPoint>& aPoints,
                              const CMatrix<int>& aPrevious, const CTensor<float>& aBackward,
                              const CTensor<float>& aForward, int aRegions) {
  CSuperpixels s;
  computeSuperpixels(CTensor<float>(kWidth, kHeight, 3, 128.0f), 8, 10.0f, s);
  CMatrix<int> aResult;
  labelFrame(s, aPoints, aPrevious, aBackward, aForward, aRegions, aResult);
  return aResult;
}

}  // namespace

// Where neither colour nor points say anything, the regions' motions do. On a grey frame a
// still background of region-0 points holds a moving block of region-1 points (x 48 ... 63,
// y 0 ... 15, 3 pixels a frame) and two blocks without points that region 1's motions explain
// through one flow only: A's forward flow (+3) as region 1's, its backward flow as nobody's
// (+3: 3 off the background's, 6 off region 1's); B the other way round. Each block is region
// 1's by the smaller miss of its two flows; by either flow alone, or by both together, one of
// them would not be, and without the motion evidence both would be the background's.
TEST(DenseRegions, ABlockWithoutPointsTakesTheRegionWhoseMotionExplainsOneOfItsFlows) {
  CTensor<float> aForward(kWidth, kHeight, 2, 0.0f), aBackward(kWidth, kHeight, 2, 0.0f);
  auto inBlock = [](int x, int y, int x0, int y0) {
    return x >= x0 && x < x0 + 16 && y >= y0 && y < y0 + 16;
  };
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      if (inBlock(x, y, 48, 0)) aForward(x, y, 0) = 3.0f, aBackward(x, y, 0) = -3.0f;
      if (inBlock(x, y, 8, 24)) aForward(x, y, 0) = 3.0f, aBackward(x, y, 0) = 3.0f;
      if (inBlock(x, y, 40, 24)) aForward(x, y, 0) = -3.0f, aBackward(x, y, 0) = -3.0f;
    }
  std::vector<CRegionPoint> aPoints;
  for (int y = 2; y < kHeight; y += 4)
    for (int x = 2; x < kWidth; x += 4) {
      if (inBlock(x, y, 48, 0))
        aPoints.push_back(steppingBothWays(x, y, 1, 3.0f));
      else if (!inBlock(x, y, 8, 24) && !inBlock(x, y, 40, 24))
        aPoints.push_back(steppingBothWays(x, y, 0, 0.0f));
    }
  const CMatrix<int> aRegions = greyFrameRegions(aPoints, CMatrix<int>(), aBackward, aForward, 2);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++)
      EXPECT_EQ(aRegions(x, y),
                inBlock(x, y, 48, 0) || inBlock(x, y, 8, 24) || inBlock(x, y, 40, 24))
          << x << " " << y;
}

// Ties between neighbours are weakened by their differences, so a region border settles where
// colour or motion changes, not halfway between the points: one point of each region at x 6
// and 58 (halfway: 32), a colour edge at x 20 on one frame, a motion edge at x 48 on a grey
// one (the points have no steps, so no region's motion is known).
TEST(DenseRegions, RegionBorderSettlesOnTheColourOrMotionEdgeNotHalfwayBetweenThePoints) {
  const std::vector<CRegionPoint> aPoints = {point(6, 24, 0), point(58, 24, 1)};
  CSuperpixels s;
  computeSuperpixels(twoColours(20), 8, 10.0f, s);
  CMatrix<int> aByColour;
  labelFrame(s, aPoints, CMatrix<int>(), CTensor<float>(), CTensor<float>(), 2, aByColour);
  CTensor<float> aForward(kWidth, kHeight, 2, 0.0f);
  for (int y = 0; y < kHeight; y++)
    for (int x = 48; x < kWidth; x++) aForward(x, y, 1) = 3.0f;
  const CMatrix<int> aByMotion =
      greyFrameRegions(aPoints, CMatrix<int>(), CTensor<float>(), aForward, 2);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      EXPECT_EQ(aByColour(x, y), x < 20 ? 0 : 1) << x << " " << y;
      EXPECT_EQ(aByMotion(x, y), x < 48 ? 0 : 1) << x << " " << y;
    }
}

// The previous frame's regions, carried along the backward flow, decide where no point is: the
// right half (x >= 29) came from 24 pixels further right, where the previous frame had region
// 1 (x >= 53; x >= 40 came from outside the frame); the only point is region 0's, at the left.
TEST(DenseRegions, PreviousRegionsCarriedAlongTheBackwardFlowDecideWhereNoPointIs) {
  CSuperpixels s;
  computeSuperpixels(twoColours(29), 8, 10.0f, s);
  CMatrix<int> aPrevious(kWidth, kHeight, 0);
  CTensor<float> aBackward(kWidth, kHeight, 2, 0.0f);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      if (x >= 53) aPrevious(x, y) = 1;
      if (x >= 29) aBackward(x, y, 0) = 24.0f;
    }
  CMatrix<int> aRegions;
  labelFrame(s, {point(6, 24, 0)}, aPrevious, aBackward, CTensor<float>(), 2, aRegions);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) EXPECT_EQ(aRegions(x, y), x < 29 ? 0 : 1) << x << " " << y;
}

// A camera moving sideways over a scene with depth: the far scene (region 0, all over the
// frame) steps 1 pixel a frame, two nearer posts standing on the lower border (regions 1, 2)
// 1.75 and 3.25 pixels, along the camera's path: their misses of the far scene's motion point along
// one direction, the epipole's, and they are background. Region 3 moves across that direction;
// region 6 along it, but by more than any parallax the border shows; region 4 leaves the frame
// over its left edge, in the border band all the while; region 5 stands with the far scene for
// the first 10 frames, then moves down. Regions 3, 4 and 6 are objects in every frame, region 5
// from frame 11 on, when most of the steps around the frame move.
TEST(MovingRegions, ParallaxIsBackgroundObjectsAtTheBorderMoveAndTheDecisionIsPerFrame) {
  const int W = 240, H = 160, aFrames = 20;
  auto inside = [](int x, int y, int x0, int y0, int aWidth, int aHeight) {
    return x >= x0 && x < x0 + aWidth && y >= y0 && y < y0 + aHeight;
  };
  std::vector<CTrack> aTracks;
  for (int y = 2; y < H; y += 6)
    for (int x = 2; x < W; x += 6) {
      if (inside(x, y, 30, 100, 30, 60))
        aTracks.push_back(moving(x, y, aFrames - 1, 1.75f, 0.0f, 1));
      else if (inside(x, y, 170, 100, 30, 60))
        aTracks.push_back(moving(x, y, aFrames - 1, 3.25f, 0.0f, 2));
      else if (inside(x, y, 100, 40, 30, 30))
        aTracks.push_back(moving(x, y, aFrames - 1, 1.0f, 3.0f, 3));
      else if (inside(x, y, 0, 60, 8, 30))
        aTracks.push_back(moving(x, y, aFrames - 1, -0.2f, 2.5f, 4));
      else if (inside(x, y, 100, 110, 24, 24)) {
        CTrack t = moving(x, y, aFrames - 1, 1.0f, 0.0f, 5);
        for (int k = 10; k < aFrames - 1; k++) t.my[k] += 3.5f * (k - 9);
        aTracks.push_back(t);
      } else if (inside(x, y, 60, 12, 24, 24)) {
        aTracks.push_back(moving(x, y, aFrames - 1, 5.0f, 0.0f, 6));
      } else {
        aTracks.push_back(moving(x, y, aFrames - 1, 1.0f, 0.0f, 0));
      }
    }
  const std::vector<std::vector<bool>> aMoving = movingRegions(aTracks, 7, W, H, aFrames);
  ASSERT_EQ(aMoving.size(), static_cast<size_t>(aFrames));
  for (int t = 0; t < aFrames; t++)
    EXPECT_EQ(aMoving[t], std::vector<bool>({false, false, false, true, true, t >= 11, true})) << t;
}

// Where a region's trajectories end early, its last few steps do not decide the frames after
// them. Over a still scene (region 0, all over the frame), region 1 moves clearly in all 30
// frames; region 2 drifts by a third of that (as water does) until its trajectories end at frame
// 14, but for three of them that go on to frame 18 moving as much as region 1. Frames 22 and
// later see no step of region 2 nearby: they take what most of its steps decide (still), not
// what its last few steps decided.
TEST(MovingRegions, FramesAfterARegionsLastStepsTakeWhatMostOfItsStepsDecide) {
  const int W = 240, H = 160, aFrames = 30;
  std::vector<CTrack> aTracks;
  int aLate = 0;
  for (int y = 2; y < H; y += 6)
    for (int x = 2; x < W; x += 6) {
      if (x >= 100 && x < 130 && y >= 40 && y < 70) {
        aTracks.push_back(moving(x, y, aFrames - 1, 1.0f, 3.0f, 1));
      } else if (x >= 40 && x < 70 && y >= 100 && y < 130) {
        if (aLate++ < 3) {
          CTrack t = moving(x, y, 18, 2.0f, 0.0f, 2);
          for (int k = 14; k < 18; k++) t.my[k] += 3.0f * (k - 13);
          aTracks.push_back(t);
        } else {
          aTracks.push_back(moving(x, y, 14, 2.0f, 0.0f, 2));
        }
      } else {
        aTracks.push_back(moving(x, y, aFrames - 1, 1.0f, 0.0f, 0));
      }
    }
  const std::vector<std::vector<bool>> aMoving = movingRegions(aTracks, 3, W, H, aFrames);
  ASSERT_EQ(aMoving.size(), static_cast<size_t>(aFrames));
  for (int t = 0; t < aFrames; t++) {
    EXPECT_FALSE(aMoving[t][0]) << t;
    EXPECT_TRUE(aMoving[t][1]) << t;
    if (t <= 13 || t >= 22) {
      EXPECT_FALSE(aMoving[t][2]) << t;
    }
  }
}

// An object behind a thin occluder: a red block moving 3 pixels a frame (x 16 ... 47, y 12 ...
// 35) passes behind a still, dark pole 4 pixels wide (x 30 ... 33) that no trajectory point
// lies on, and its part beyond the pole has no points either (trajectories end where a surface
// is hidden and start again only later). In the shot's first frame (no previous regions to
// carry), the block's motion in the flows claims that part for it, and the pole's own motion
// (none: the background's) keeps the pole out of it: the object is not cut in two at the pole,
// nor does it swallow the pole.
TEST(DenseRegions, AThinStillOccluderStaysBackgroundWhileAnObjectPassesBehindIt) {
  auto inPole = [](int x) { return x >= 30 && x < 34; };
  auto inBlock = [](int x, int y) { return x >= 16 && x < 48 && y >= 12 && y < 36; };
  CTensor<float> aFrame(kWidth, kHeight, 3);
  CTensor<float> aForward(kWidth, kHeight, 2, 0.0f), aBackward(kWidth, kHeight, 2, 0.0f);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      const float aRipple = 6.0f * std::sin(0.9f * x + 1.3f * y);
      const bool aBlock = inBlock(x, y) && !inPole(x);
      const float aColour[3] = {inPole(x) ? 30.0f
                                : aBlock  ? 200.0f
                                          : 128.0f + aRipple,
                                inPole(x) ? 30.0f
                                : aBlock  ? 40.0f + aRipple
                                          : 128.0f + aRipple,
                                inPole(x) ? 90.0f
                                : aBlock  ? 40.0f
                                          : 128.0f + aRipple};
      for (int c = 0; c < 3; c++) aFrame(x, y, c) = aColour[c];
      if (aBlock) aForward(x, y, 0) = 3.0f, aBackward(x, y, 0) = -3.0f;
    }
  std::vector<CRegionPoint> aPoints;
  for (int y = 2; y < kHeight; y += 4)
    for (int x = 2; x < kWidth; x += 4) {
      if (inPole(x) || (inBlock(x, y) && x > 33)) continue;
      aPoints.push_back(inBlock(x, y) ? steppingBothWays(x, y, 1, 3.0f)
                                      : steppingBothWays(x, y, 0, 0.0f));
    }
  CSuperpixels s;
  computeSuperpixels(aFrame, 8, 10.0f, s);
  CMatrix<int> aRegions;
  labelFrame(s, aPoints, CMatrix<int>(), aBackward, aForward, 2, aRegions);
  int aPoleInBlock = 0, aBlockMissed = 0;
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      if (inPole(x)) aPoleInBlock += aRegions(x, y) == 1;
      if (inBlock(x, y) && !inPole(x)) aBlockMissed += aRegions(x, y) != 1;
    }
  EXPECT_EQ(aPoleInBlock, 0);
  EXPECT_EQ(aBlockMissed, 0);
}
