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

}  // namespace

TEST(Gradient, NothingToSampleOrEverythingExcludedLeavesTheImage) {
  for (int c = 0; c < 3; ++c) {
    qvtest::TestSession t;
    Flat(t, 20, 20, 2000);
    if (c == 0) t->opt.GradRatio = 0;  // lim = lo = 1952
    if (c > 0) qvtest::OneImage(*t, "");
    if (c == 1) t->Img[1].ImgZone = " 0, 0; 1, 0; 1, 1; 0, 1;";
    if (c == 2) t->Img[1].ImgZone = "1e300,0;1,0;1,1;";  // overflow: the step gives up
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
  EXPECT_EQ(std::tuple(t->pic.PicB(19, 0), t->pic.PicR(0, 1), t->pic.Histo[31]), std::tuple(1000, 2000, 20));
  EXPECT_EQ(std::accumulate(t->pic.Histo.begin(), t->pic.Histo.end(), 0), 20);  // only those rows are counted
}
