#include <gtest/gtest.h>

#include "tracking/DistanceTransform.h"

namespace {

CVector<float> values(std::initializer_list<float> aList) {
  CVector<float> v(static_cast<int>(aList.size()));
  int i = 0;
  for (float x : aList) v(i++) = x;
  return v;
}

}  // namespace

TEST(DistanceTransform, OneDimensionalSquaredDistances) {
  CVector<float> d;
  dt(values({0, 1e20f, 1e20f, 1e20f}), d, 4);
  ASSERT_EQ(d.size(), 4);
  EXPECT_EQ(d(0), 0.0f);
  EXPECT_EQ(d(1), 1.0f);
  EXPECT_EQ(d(2), 4.0f);
  EXPECT_EQ(d(3), 9.0f);
  dt(values({1e20f, 0, 1e20f}), d, 3);
  EXPECT_EQ(d(0), 1.0f);
  EXPECT_EQ(d(1), 0.0f);
  EXPECT_EQ(d(2), 1.0f);
  dt(values({7.5f, 3}), d, 1);
  ASSERT_EQ(d.size(), 1);
  EXPECT_EQ(d(0), 7.5f);
  dt(values({1}), d, 0);
  EXPECT_EQ(d.size(), 0);
  // Input values add to the distance: min over p of (q - p)^2 + f(p).
  dt(values({0, 1e20f, 1e20f, 1e20f, 1}), d, 5);
  EXPECT_EQ(d(3), 2.0f);
}

TEST(DistanceTransform, SinglePointGivesSquaredEuclideanDistance) {
  CMatrix<float> m(7, 5, 1e20f);
  m(2, 3) = 0.0f;
  euclideanDistanceTransform(m);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 7; x++)
      EXPECT_EQ(m(x, y), static_cast<float>((x - 2) * (x - 2) + (y - 3) * (y - 3)));
}

TEST(DistanceTransform, NearestOfSeveralPointsAndNoPointStaysFar) {
  CMatrix<float> m(9, 4, 1e20f);
  m(0, 0) = 0.0f;
  m(8, 3) = 0.0f;
  euclideanDistanceTransform(m);
  EXPECT_EQ(m(3, 1), 10.0f);  // (3, 1) to (0, 0)
  EXPECT_EQ(m(6, 2), 5.0f);   // (6, 2) to (8, 3)
  CMatrix<float> aEmpty(4, 3, 1e20f);
  euclideanDistanceTransform(aEmpty);
  for (int i = 0; i < aEmpty.size(); i++) EXPECT_NEAR(aEmpty(i), 1e20f, 1e14f);
}
