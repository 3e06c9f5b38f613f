#include "compare/arrays.h"

#include <gtest/gtest.h>

#include "compare/testing/allocation_failure.h"

namespace tarvik {
namespace {

TEST(Arrays, VectorHasItsBoundsAndIsZeroFilled) {
  Vector<float> v;
  ASSERT_TRUE(v.allocate(1, 8, "test"));
  EXPECT_EQ(v.lo(), 1);
  EXPECT_EQ(v.hi(), 8);
  EXPECT_EQ(v.size(), 8u);
  for (long i = 1; i <= 8; ++i) EXPECT_EQ(v(i), 0.0f);
  v(1) = 3.0f;
  v(8) = 4.0f;
  EXPECT_EQ(v.data()[0], 3.0f);
  EXPECT_EQ(v.data()[7], 4.0f);
}

TEST(Arrays, MatrixCentredOnZeroIsRowMajor) {
  Matrix<int> m;
  ASSERT_TRUE(m.allocate(-2, 2, -3, 3, "test"));
  EXPECT_EQ(m.rows(), 5);
  EXPECT_EQ(m.cols(), 7);
  m(-2, -3) = 1;
  m(-2, -2) = 2;
  m(-1, -3) = 3;
  m(2, 3) = 4;
  EXPECT_EQ(m.data()[0], 1);
  EXPECT_EQ(m.data()[1], 2);
  EXPECT_EQ(m.data()[7], 3);
  EXPECT_EQ(m.data()[34], 4);
  EXPECT_EQ(m.row(-1)[0], 3);
  EXPECT_EQ(m(0, 0), 0);
}

TEST(Arrays, CopiesShareAndReleaseDropsOneShare) {
  Matrix<unsigned char> a;
  ASSERT_TRUE(a.allocate(1, 2, 1, 2, "test"));
  Matrix<unsigned char> b = a;
  EXPECT_TRUE(b.shares_with(a));
  b(1, 1) = 9;
  EXPECT_EQ(a(1, 1), 9);
  b.release();
  EXPECT_TRUE(b.empty());
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(a(1, 1), 9);
}

TEST(Arrays, EmptyAndInvertedRangesGiveNoArray) {
  Vector<float> v;
  EXPECT_FALSE(v.allocate(5, 4, "test"));
  EXPECT_TRUE(v.empty());
  Matrix<float> m;
  EXPECT_FALSE(m.allocate(1, 0, 1, 4, "test"));
  EXPECT_TRUE(m.empty());
  EXPECT_EQ(m.rows(), 0);
}

TEST(Arrays, OverflowingSizeFailsInsteadOfWrapping) {
  Matrix<float> m;
  EXPECT_FALSE(m.allocate(0, 1L << 40, 0, 1L << 40, "test"));
  EXPECT_TRUE(m.empty());
}

TEST(Arrays, HookRefusesOnlyItsPurposeAndLeavesTheArrayEmpty) {
  testing::FailAllocations fail("image", 1);
  Vector<int> first, second, other;
  EXPECT_TRUE(first.allocate(1, 4, "image"));
  EXPECT_FALSE(second.allocate(1, 4, "image"));
  EXPECT_TRUE(second.empty());
  EXPECT_TRUE(other.allocate(1, 4, "table"));
  EXPECT_EQ(fail.seen(), 2);
}

TEST(Arrays, FailedReallocationReleasesTheOldArray) {
  Vector<int> v;
  ASSERT_TRUE(v.allocate(1, 4, "image"));
  testing::FailAllocations fail("image");
  EXPECT_FALSE(v.allocate(1, 8, "image"));
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(v.size(), 0u);
}

}  // namespace
}  // namespace tarvik
