#include <gtest/gtest.h>

#include "process/cfa.h"
#include "support.h"

using namespace qv;

TEST(Cfa, LayoutFollowsSubFrameOriginAndCameraFamily) {
  const int flags[] = {1, 3, 5, 7, 9, 11, 13, 15};
  const int layout[] = {0, 1, 2, 3, 2, 3, 0, 1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(CfaLayout(flags[i]), layout[i]) << "flags " << flags[i];
  // Cells written (0,0), (1,0), (0,1), (1,1).
  const char* digits[] = {"2312", "3221", "1223", "2132"};
  for (int l = 0; l < 4; ++l)
    for (int k = 0; k < 4; ++k) EXPECT_EQ(CfaColourAt(l, k % 2 + 2, k / 2 + 4), digits[l][k] - '0');
}

TEST(Cfa, FillUsesValuesWrittenEarlierInTheScan) {
  // Layout 2: red sites at the four corners of a 3 x 3 image.
  qvtest::TestSession t;
  qvtest::SetPlane(t->pic.PicR, 3, 3, {100, 9, 300, 9, 9, 9, 500, 9, 700});
  t->pic.PicG = t->pic.PicB = t->pic.PicR;
  DecodeCfa(*t, 5);
  // (1,1) averages the corners with the fresh (1,0) = 200 and (0,1) = 267:
  // 2067 / 6 = 344.5 goes to the even 344 (the corners alone give 400).
  Plane<int32_t> want;
  qvtest::SetPlane(want, 3, 3, {100, 200, 300, 267, 344, 386, 500, 439, 700});
  EXPECT_EQ(t->pic.PicR, want);
  qvtest::SetPlane(want, 3, 3, {9, 9, 9, 9, 9, 9, 9, 9, 9});
  EXPECT_EQ(t->pic.PicG, want);
}
