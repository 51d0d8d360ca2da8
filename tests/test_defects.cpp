#include <gtest/gtest.h>

#include <algorithm>

#include "process/defects.h"
#include "support.h"

using namespace qv;

namespace {

void Flat(qvtest::TestSession& t, int w, int h, int32_t v) {
  t->pic.PicR.Redim(w - 1, h - 1);
  t->pic.PicR.Fill(v);
  t->pic.PicG = t->pic.PicB = t->pic.PicR;
  t->pic.HasR = t->pic.HasG = t->pic.HasB = true;
  t->opt.CalcThr = 50;
}

}  // namespace

TEST(DefectHot, ThresholdGrowsWithTheDarkestDiagonalAndIsClamped) {
  // LevelMax 1.5 gives s = 0.3125; diagonals of 8 give m x s = 2.5 and
  // t = 51 x 7.25 = 369.75, which rounds to 370.
  for (int32_t v : {378, 379}) {
    qvtest::TestSession t;
    Flat(t, 3, 3, 8);
    t->pic.PicR(1, 1) = v;
    t->opt.CalcThr = 51;
    t->opt.CalcSize = 1;
    t->pic.LevelMax = 1.5;
    RemoveHotPixels(*t);
    EXPECT_EQ(t->pic.PicR(1, 1), v == 379 ? 0 : v);
    EXPECT_EQ(t->pic.PicG(1, 1), v == 379 ? 0 : 8);  // CalcFill off: every plane goes
  }
  qvtest::TestSession t;
  Flat(t, 3, 3, 100);
  for (int32_t thr : {20, 20000}) {
    t->opt.CalcThr = thr;
    RemoveHotPixels(*t);
    EXPECT_EQ(t->opt.CalcThr, thr == 20 ? 50 : 10000);  // clamped, and kept
  }
}

TEST(DefectFill, CornersAndCentreFromTheirDirectNeighbours) {
  qvtest::TestSession t;
  qvtest::SetPlane(t->pic.PicR, 3, 3, {0, 10, 0, 20, 0, 31, 0, 40, 0});
  t->pic.PicG = t->pic.PicB = t->pic.PicR;
  t->pic.HasR = t->pic.HasB = true;
  FillEmpty(*t);
  // At a corner the outside neighbours are the pixel itself; 20.5 -> 20,
  // 35.5 -> 36, and the centre 101 / 4 -> 25.
  Plane<int32_t> want;
  qvtest::SetPlane(want, 3, 3, {15, 10, 20, 20, 25, 31, 30, 40, 36});
  EXPECT_EQ(t->pic.PicR, want);
  EXPECT_EQ(t->pic.PicB, want);
  EXPECT_EQ(t->pic.PicG(0, 0), 0);                 // no data flag: never filled
  EXPECT_EQ(t.services.events.yields, 2 * 2 * 3);  // two passes, a yield per sub-grid row
}

TEST(DefectFill, SpreadsBySubGridOrderAndStopsAfterTenPasses) {
  qvtest::TestSession t;
  Flat(t, 32, 1, 0);
  t->pic.PicR(0, 0) = 7;
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

TEST(DefectKernels, OnARectangleTheyActAsOnACopyOfItAndLeaveTheRestAlone) {
  // Blanks, hot pixels and data everywhere, so that a kernel reaching past
  // its rectangle, or stepping rows by the rectangle's width, shows.
  Plane<int32_t> big[3];
  for (int i = 0; i < 3; ++i) {
    big[i].Redim(13, 10);
    for (int y = 0; y <= 10; ++y)
      for (int x = 0; x <= 13; ++x)
        big[i](x, y) = (x * 7 + y * 3 + i) % 5 == 0 ? 0 : (x + 2 * y + i) % 6 == 0 ? 9000 : 100 + x;
  }
  const int rx = 3, ry = 2, rw = 7, rh = 6;
  auto cut = [&](Plane<int32_t>& p) { return PlaneView<int32_t>(p).Sub(rx, ry, rw, rh); };
  auto copyOf = [&](Plane<int32_t>& p) {
    Plane<int32_t> c(rw - 1, rh - 1);
    for (int y = 0; y < rh; ++y) std::copy_n(cut(p).Row(y), rw, c.Row(y));
    return c;
  };
  const bool has[3] = {true, true, true};
  for (int kernel = 0; kernel < 2; ++kernel) {
    auto run = [&](PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b) {
      if (kernel == 0) FillEmpty(r, g, b, has, {});
      if (kernel == 1) RemoveHotPixels(r, g, b, {50, 2, true, 0});
    };
    Plane<int32_t> whole[3] = {big[0], big[1], big[2]};
    Plane<int32_t> alone[3] = {copyOf(big[0]), copyOf(big[1]), copyOf(big[2])};
    run(cut(whole[0]), cut(whole[1]), cut(whole[2]));
    run(alone[0], alone[1], alone[2]);
    EXPECT_FALSE(alone[0] == copyOf(big[0])) << "kernel " << kernel << " found nothing to do";
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(copyOf(whole[i]), alone[i]) << "kernel " << kernel << " plane " << i;
      // With the rectangle put back, nothing else may differ.
      for (int y = 0; y < rh; ++y) std::copy_n(cut(big[i]).Row(y), rw, cut(whole[i]).Row(y));
      EXPECT_EQ(whole[i], big[i]) << "kernel " << kernel << " plane " << i;
    }
  }
}
