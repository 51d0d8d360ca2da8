#include <gtest/gtest.h>

#include "process/fuse.h"
#include "support.h"

using namespace qv;

TEST(Fuse, BlocksAverageTheirDataHoldingPixels) {
  Plane<int32_t> r, g, b, want;
  qvtest::SetPlane(r, 4, 4,
                   {100, 100, 0, 0,  //
                    100, 0, 0, 0,    //
                    1, 2, 1, 4,      //
                    2, 2, 0, 0});
  // 5 x 3: the last column and row of blocks have one source column or row.
  qvtest::SetPlane(g, 5, 3, {1, 2, 3, 4, 9, 0, 0, 0, 0, 0, 5, 6, 7, 7, 8});
  Fuse2x2(r, g, b);
  // 7 / 4 = 1.75 gives 2; 5 / 2 = 2.5 goes to the even 2.
  qvtest::SetPlane(want, 2, 2, {100, 0, 2, 2});
  EXPECT_EQ(r, want);
  qvtest::SetPlane(want, 3, 2, {2, 4, 9, 6, 7, 8});  // 1.5 -> 2, 3.5 -> 4, 5.5 -> 6
  EXPECT_EQ(g, want);
  EXPECT_TRUE(b.Empty());
}
