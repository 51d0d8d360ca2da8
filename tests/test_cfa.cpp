#include <gtest/gtest.h>

#include "process/cfa.h"
#include "support.h"

using namespace qv;

TEST(Cfa, LayoutFollowsSubFrameOriginAndCameraFamily) {
  const int flags[] = {1, 3, 5, 7, 9, 11, 13, 15};
  const int layout[] = {0, 1, 2, 3, 2, 3, 0, 1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(CfaLayout(flags[i]), layout[i]) << "flags " << flags[i];
  // Where each layout keeps its red and blue sites, as cell indices x + 2y.
  const int red[] = {2, 3, 0, 1}, blue[] = {1, 0, 3, 2};
  for (int l = 0; l < 4; ++l) {
    qvtest::TestSession t;
    qvtest::SetPlane(t->pic.PicR, 2, 2, {10, 20, 30, 40});
    t->pic.PicG = t->pic.PicB = t->pic.PicR;
    DecodeCfa(*t, static_cast<int16_t>(flags[l]));
    EXPECT_EQ(t->pic.PicR(red[l] % 2, red[l] / 2), 10 * (red[l] + 1)) << l;
    EXPECT_EQ(t->pic.PicB(blue[l] % 2, blue[l] / 2), 10 * (blue[l] + 1)) << l;
  }
}
