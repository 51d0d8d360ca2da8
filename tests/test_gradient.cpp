#include <gtest/gtest.h>

#include <numeric>

#include "process/gradient.h"
#include "support.h"

using namespace qv;

namespace {

// A flat image whose levels put the sampling limit at 2016 (GradRatio 10).
void Flat(qvtest::TestSession& t, int w, int h, int32_t v) {
  t->pic.PicR.Redim(w - 1, h - 1);
  t->pic.PicR.Fill(v);
  t->pic.PicG = t->pic.PicB = t->pic.PicR;
  t->pic.LevelLow = t->pic.LevelHigh = 62;
  t->opt.GradRatio = 10;
  t->pic.Histo.fill(3);
}

// 8 x 8, rising by 100 a column (or a row) from 1000: cells of 4 give the
// means 1150 and 1550, M = 1350.
void Ramp(qvtest::TestSession& t, bool alongY = false) {
  Flat(t, 8, 8, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      t->pic.PicR(x, y) = t->pic.PicG(x, y) = t->pic.PicB(x, y) = 1000 + 100 * (alongY ? y : x);
}

void SetZone(qvtest::TestSession& t, const std::string& zone) {
  t->ResizeImageArrays(1);
  t->CurPic = 1;
  t->Img[1].ImgZone = zone;
}

int Total(const Session& s) { return std::accumulate(s.pic.Histo.begin(), s.pic.Histo.end(), 0); }

}  // namespace

TEST(Gradient, GridGeometry) {
  const GradientGrid g = GradientGridFor(999, 799);
  EXPECT_EQ(g.cell, 18);
  EXPECT_EQ(g.nx, 57);
  EXPECT_EQ(g.ny, 46);
  EXPECT_EQ(GradientGridFor(9, 9).cell, 4);
}

TEST(Gradient, FlatImageGoesTo1000AndOutliersAreCorrectedNotSampled) {
  qvtest::TestSession t;
  Flat(t, 40, 30, 2000);
  t->pic.PicR(5, 5) = 30000;  // a star
  t->pic.PicG(6, 5) = 70000;  // beyond the ceiling after correction
  t->pic.PicB(7, 5) = 1;      // too dark to sample, lands on the floor
  t->pic.PicR(8, 5) = 0;      // blank
  t->CurPic = 7;              // not a list entry: no zone
  RemoveGradient(*t);
  EXPECT_EQ(t->pic.PicR(5, 5), 29000);
  EXPECT_EQ(t->pic.PicG(6, 5), 65535);
  EXPECT_EQ(t->pic.PicB(7, 5), 500);
  EXPECT_EQ(t->pic.PicR(8, 5), 0);
  EXPECT_EQ(t->pic.PicG(39, 29), 1000);
  EXPECT_EQ(t->pic.Histo[31], 40 * 30 - 3);
  EXPECT_EQ(Total(*t), 40 * 30);
  // Cells of 4 pixels: 0..9 by 0..7 sampled, the spare ones not.
  EXPECT_EQ(t->pic.GradMask(9, 7), 1);
  EXPECT_EQ(t->pic.GradMask(10, 7), 0);
}

TEST(Gradient, BackgroundOfACellSitsHalfACellBeforeItAndZonesAreLeftOut) {
  for (bool alongY : {false, true}) {
    qvtest::TestSession t;
    Ramp(t, alongY);
    RemoveGradient(*t);
    // x = 0 lies between the cells 0 and 1, so b = 1350 and k = 1; x = 1
    // has b = 1450; x = 2 falls on cell 1 (1550), and so does x = 5 since
    // the spare cell took 1550 too. Likewise along y.
    const int want[] = {650, 674, 695, 0, 0, 956};  // 674 = 1100 x 1350 / 1450 - 350
    for (int i : {0, 1, 2, 5}) EXPECT_EQ(alongY ? t->pic.PicG(0, i) : t->pic.PicB(i, 0), want[i]) << alongY << i;
  }
  // Without the first grid column, which takes 1550 from its neighbour.
  qvtest::TestSession z;
  Ramp(z);
  SetZone(z, " 0, 0; .25, 0; .25, 1; 0, 1;");
  RemoveGradient(*z);
  EXPECT_EQ(z->pic.GradMask(0, 0), 0);
  EXPECT_EQ(z->pic.GradMask(1, 1), 1);
  EXPECT_EQ(z->pic.PicR(0, 0), 500);
  EXPECT_EQ(z->pic.PicR(7, 7), 1150);
}

TEST(Gradient, NothingToSampleOrEverythingExcludedLeavesTheImage) {
  for (int c = 0; c < 3; ++c) {
    qvtest::TestSession t;
    Flat(t, 20, 20, 2000);
    if (c == 0) t->opt.GradRatio = 0;  // lim = lo = 1952
    if (c == 1) SetZone(t, " 0, 0; 1, 0; 1, 1; 0, 1;");
    if (c == 2) SetZone(t, "1e300,0;1,0;1,1;");  // overflow: the step gives up
    const Plane<int32_t> before = t->pic.PicR;
    RemoveGradient(*t);
    EXPECT_EQ(t->pic.PicR, before) << c;
    EXPECT_EQ(t->pic.Histo[0], 3) << c;
  }
}

TEST(Gradient, StopDuringTheCorrectionKeepsTheRowsDone) {
  qvtest::TestSession t;
  Flat(t, 20, 20, 2000);
  t.services.events.onYield = [&] {
    if (t->pic.PicR(0, 0) == 1000) t->RunState = 2;
  };
  RemoveGradient(*t);
  EXPECT_EQ(t->pic.PicB(19, 0), 1000);
  EXPECT_EQ(t->pic.PicR(0, 1), 2000);
  EXPECT_EQ(t->pic.Histo[31], 20);
  EXPECT_EQ(Total(*t), 20);  // only those rows are counted
}
