// The trajectory record's positions over its frames, and the small ordered records.
#include <gtest/gtest.h>

#include <algorithm>
#include <queue>
#include <vector>

#include "tracking/CTrack.h"
#include "tracking/TrackRecords.h"

TEST(CTrack, CoversItsFramesWithTheStartPointFirst) {
  CTrack aTrack;
  aTrack.mox = 4;
  aTrack.moy = 12;
  aTrack.mSetupTime = 3;
  aTrack.mx = {5.5f, 6.25f};
  aTrack.my = {12.5f, 13.0f};
  EXPECT_EQ(aTrack.endTime(), 5);
  EXPECT_FALSE(aTrack.covers(2));
  EXPECT_TRUE(aTrack.covers(3));
  EXPECT_TRUE(aTrack.covers(5));
  EXPECT_FALSE(aTrack.covers(6));
  EXPECT_EQ(aTrack.positionAt(3).x, 4.0f);
  EXPECT_EQ(aTrack.positionAt(3).y, 12.0f);
  EXPECT_EQ(aTrack.positionAt(5).x, 6.25f);
  EXPECT_EQ(aTrack.positionAt(5).y, 13.0f);
}

TEST(TrackRecords, OrderingsSortAndHeapAsIntended) {
  std::vector<CTrackItem> aItems = {{0, 1.0f}, {1, 3.0f}, {2, 2.0f}};
  std::sort(aItems.begin(), aItems.end());
  EXPECT_EQ(aItems[0].mIndex, 1);
  EXPECT_EQ(aItems[2].mIndex, 0);
  EXPECT_FALSE(CTrackItem(0, 1.0f) < CTrackItem(1, 1.0f));
  std::vector<CSizeStruct> aSizes = {{5, 0}, {9, 1}};
  std::sort(aSizes.begin(), aSizes.end());
  EXPECT_EQ(aSizes[0].mLabel, 1);
  std::priority_queue<CMergeType> aQueue;
  aQueue.push(CMergeType(0.5f, 1, 2));
  aQueue.push(CMergeType(2.5f, 3, 4));
  EXPECT_EQ(aQueue.top().ma, 3);
  EXPECT_EQ(aQueue.top().mb, 4);
}
