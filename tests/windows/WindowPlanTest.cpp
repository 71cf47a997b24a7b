// Window planning: lengths, overlaps, the last window, and which window gives each frame.
#include <gtest/gtest.h>

#include <vector>

#include "windows/WindowPlan.h"

TEST(WindowPlan, ShortVideoIsOneWindowOfAllItsFrames) {
  for (int aFrames : {1, 2, 39, 40}) {
    const std::vector<CWindow> aPlan = planWindows(aFrames, 40, 10);
    ASSERT_EQ(aPlan.size(), 1u) << aFrames;
    EXPECT_EQ(aPlan[0].mFirst, 0);
    EXPECT_EQ(aPlan[0].mCount, aFrames);
    EXPECT_EQ(frameOwners(aPlan), std::vector<int>(aFrames, 0));
  }
}

TEST(WindowPlan, KnownPlansAndHandOvers) {
  // 100 frames: three windows exactly 30 frames apart, sharing 10 frames each.
  std::vector<CWindow> aPlan = planWindows(100, 40, 10);
  ASSERT_EQ(aPlan.size(), 3u);
  EXPECT_EQ(aPlan[1].mFirst, 30);
  EXPECT_EQ(aPlan[2].mFirst, 60);
  EXPECT_EQ(aPlan[2].last(), 99);
  std::vector<int> aOwner = frameOwners(aPlan);
  // Common frames 30 ... 39: the first window keeps 30 ... 34, the second takes 35 on.
  EXPECT_EQ(aOwner[34], 0);
  EXPECT_EQ(aOwner[35], 1);
  EXPECT_EQ(aOwner[64], 1);
  EXPECT_EQ(aOwner[65], 2);
  // One frame more needs a fourth window; the starts spread evenly (61 / 3 = 20.3 apart).
  aPlan = planWindows(101, 40, 10);
  ASSERT_EQ(aPlan.size(), 4u);
  EXPECT_EQ(aPlan[1].mFirst, 20);
  EXPECT_EQ(aPlan[2].mFirst, 41);
  EXPECT_EQ(aPlan[3].mFirst, 61);
  // Just over one window: two windows that share all but one frame each side.
  aPlan = planWindows(41, 40, 10);
  ASSERT_EQ(aPlan.size(), 2u);
  EXPECT_EQ(aPlan[1].mFirst, 1);
  // No overlap: the windows touch.
  aPlan = planWindows(80, 40, 0);
  ASSERT_EQ(aPlan.size(), 2u);
  EXPECT_EQ(aPlan[1].mFirst, 40);
  EXPECT_EQ(frameOwners(aPlan)[39], 0);
  EXPECT_EQ(frameOwners(aPlan)[40], 1);
}

TEST(WindowPlan, EveryPlanCoversTheVideoWithTheFewestWindowsAndTheOverlap) {
  for (int aWindow : {2, 3, 12, 40})
    for (int aOverlap = 0; aOverlap<aWindow; aOverlap += aWindow> 12 ? 7 : 1)
      for (int aFrames = aWindow + 1; aFrames <= 6 * aWindow; aFrames += 1 + aFrames / 40) {
        const std::vector<CWindow> aPlan = planWindows(aFrames, aWindow, aOverlap);
        const std::string aCase = std::to_string(aFrames) + " frames, window " +
                                  std::to_string(aWindow) + ", overlap " + std::to_string(aOverlap);
        ASSERT_GE(aPlan.size(), 2u) << aCase;
        EXPECT_EQ(aPlan.front().mFirst, 0) << aCase;
        EXPECT_EQ(aPlan.back().last(), aFrames - 1) << aCase;
        for (size_t w = 0; w < aPlan.size(); w++) {
          EXPECT_EQ(aPlan[w].mCount, aWindow) << aCase;
          if (w == 0) continue;
          EXPECT_GT(aPlan[w].mFirst, aPlan[w - 1].mFirst) << aCase;
          EXPECT_GE(aPlan[w - 1].last() - aPlan[w].mFirst + 1, aOverlap) << aCase;
        }
        // One window fewer could not cover the frames with that overlap.
        const long long aFewer = static_cast<long long>(aPlan.size()) - 1;
        EXPECT_LT(aWindow + (aFewer - 1) * (aWindow - aOverlap), aFrames) << aCase;
        // Every frame comes from a window that holds it, in order.
        const std::vector<int> aOwner = frameOwners(aPlan);
        ASSERT_EQ(static_cast<int>(aOwner.size()), aFrames) << aCase;
        for (int f = 0; f < aFrames; f++) {
          const CWindow& aFrom = aPlan[aOwner[f]];
          EXPECT_TRUE(f >= aFrom.mFirst && f <= aFrom.last()) << aCase << ", frame " << f;
          if (f > 0) {
            EXPECT_LE(aOwner[f - 1], aOwner[f]) << aCase;
          }
        }
      }
}

TEST(WindowPlan, RefusedNumbersAndNames) {
  EXPECT_TRUE(validPlan(1, 2, 0));
  EXPECT_FALSE(validPlan(0, 40, 10));
  EXPECT_FALSE(validPlan(100, 1, 0));
  EXPECT_FALSE(validPlan(100, 40, 40));
  EXPECT_FALSE(validPlan(100, 40, -1));
  EXPECT_EQ(frameDigits(1), 5);
  EXPECT_EQ(frameDigits(100000), 5);
  EXPECT_EQ(frameDigits(100001), 6);
  EXPECT_EQ(frameNumber(42, 1000), "00042");
  EXPECT_EQ(frameNumber(123456, 200000), "123456");
  EXPECT_EQ(windowFolder(CWindow{30, 40}, 1000), "windows/00030-00069");
  EXPECT_EQ(windowFolder(CWindow{30, 40}, 1000000), "windows/000030-000069");
}
