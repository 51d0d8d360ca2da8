// The filling of empty pixels beyond what the golden outputs' frames reach:
// the order of its sub-grids and its limit of ten passes.
#include <gtest/gtest.h>

#include "process/defects.h"
#include "support.h"

using namespace qv;

TEST(DefectFill, SpreadsBySubGridOrderAndStopsAfterTenPasses) {
  qvtest::TestSession t;
  t->pic.PicR.Redim(31, 0);
  t->pic.PicR(0, 0) = 7;
  t->pic.PicG = t->pic.PicB = t->pic.PicR;
  t->pic.HasR = t->pic.HasG = t->pic.HasB = true;
  Plane<int32_t> afterFirstPass;
  t.services.events.onYield = [&] {
    if (t.services.events.yields == 2) afterFirstPass = t->pic.PicR;
  };
  FillEmpty(*t);
  // The even sub-grid comes first, so x = 2 is visited before x = 1 holds
  // data and has to wait for the next pass; from then on each pass fills an
  // even pixel and the odd one after it.
  EXPECT_EQ(afterFirstPass(1, 0), 7);
  EXPECT_EQ(afterFirstPass(2, 0), 0);
  EXPECT_EQ(t.services.events.yields, 20);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(t->pic.PicR(x, 0), x <= 19 ? 7 : 0) << x;
}
