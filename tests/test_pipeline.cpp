// The per-image pipeline: routing, calibration, histogram and levels.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <tuple>

#include "core/options.h"
#include "process/process_pic.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

std::vector<int> Ramp(int n, int start, int stepBy) {
  std::vector<int> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = start + i * stepBy;
  return v;
}

}  // namespace

TEST(Pipeline, SinglePlaneFilesAreRoutedByTheirNames) {
  TempDir dir;
  struct Case {
    const char* name;
    int32_t mono;
    bool r, g, b;
  } cases[] = {
      {"m31r.fts", 0, true, false, false}, {"m31g.fit", 0, false, true, false}, {"m31_B.FTS", 0, false, false, true},
      {"m31c.fts", 0, false, true, true},  {"m31x.fts", 0, true, true, true},   {"m31r.fts", Mono, true, true, true},
      {"r.fts", 0, true, false, false},    {".fr.fts", 0, true, true, true},  // a name starting with ".f" is not routed
  };
  for (const Case& c : cases) {
    qvtest::WriteFits16(dir.File(c.name), 4, 3, 1, Ramp(12, 100, 10));
    TestSession s(dir.File(c.name));
    s->opt.UseMask = c.mono;
    ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << c.name;
    EXPECT_EQ(s->pic.HasR, c.r) << c.name;
    EXPECT_EQ(s->pic.HasG, c.g) << c.name;
    EXPECT_EQ(s->pic.HasB, c.b) << c.name;
    EXPECT_EQ(s->pic.PicR(3, 2), c.r ? 210 : 0) << c.name;
    EXPECT_EQ(s->pic.PicB(1, 0), c.b ? 110 : 0) << c.name;
  }
}

TEST(Pipeline, ColourPatternsNeedAChannelAndAnEmptyPatternMatchesAll) {
  TempDir dir;
  const std::string path = dir.File("m42_HA_r.fts");
  qvtest::WriteFits16(path, 3, 3, 1, Ramp(9, 50, 1));
  const struct {
    std::array<std::string, 3> text;
    std::array<int16_t, 3> chk;
    bool r, g, b;
  } cases[] = {
      {{"_HA", "_SII", "_OIII"}, {0, 4, 0}, true, false, false},  // "_HA" has no channel: the name's letter decides
      {{"_HA", "_SII", "_OIII"}, {3, 0, 0}, true, true, false},
      {{"_zz", "", "_HA"}, {1, 4, 2}, false, false, true},  // the empty pattern matched before "_HA"
  };
  for (const auto& c : cases) {
    TestSession s(path);
    s->opt.ColorText = c.text;
    s->opt.ColorChk = c.chk;
    ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
    EXPECT_EQ(std::tie(s->pic.HasR, s->pic.HasG, s->pic.HasB), std::tie(c.r, c.g, c.b)) << c.text[0] << c.chk[0];
  }
}

TEST(Pipeline, DarkAndFlatApplyToListImagesOfTheirSize) {
  TempDir dir;
  const std::string path = dir.File("light.fts");
  // Row 0: 0, 500, 1000; row 1: 1500, 2000, 2500.
  qvtest::WriteFits16(path, 3, 2, 1, {0, 500, 1000, 1500, 2000, 2500});
  TestSession s(path);
  s->opt.UseMask = Mono | DarkSub | FlatApply;
  qvtest::SetPlane(s->cal.DarkR, 3, 2, {100, 500, 1200, 100, 100, 100});
  s->cal.DarkG = s->cal.DarkR;
  s->cal.DarkB = s->cal.DarkR;
  qvtest::SetPlane(s->cal.FlatPic, 3, 2, {1000, 1000, 1000, 1000, 800, 3000});
  s->cal.FlatMean = 1000;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_TRUE(s->cal.UseDark && s->cal.UseFlat);
  EXPECT_EQ(s->pic.PicR(0, 0), 0);  // no data: neither subtracted nor lifted to 1
  EXPECT_EQ(s->pic.PicR(1, 0), 1);  // equal to the dark
  EXPECT_EQ(s->pic.PicR(2, 0), 1);  // below the dark
  EXPECT_EQ(s->pic.PicG(0, 1), 1400);
  EXPECT_EQ(s->pic.PicR(1, 1), 2375);  // 1900 x 1000 / 800
  EXPECT_EQ(s->pic.PicB(2, 1), 800);   // 2400 / 3
  // Histogram bins are the sum of the planes over 96.
  EXPECT_EQ(s->pic.Histo[2375 * 3 / 96], 1);

  // The same masters are never applied to a master file.
  s->opt.DarkFile = path;
  ASSERT_TRUE(qvtest::Processed(*s, -1, 0));
  EXPECT_FALSE(s->cal.UseDark || s->cal.UseFlat);
  EXPECT_EQ(s->pic.PicR(1, 0), 500);

  // A zero in the flat under an active flat is a run-time error.
  s->cal.FlatPic(2, 1) = 0;
  const Outcome zero = ProcessPic(*s, 1, 1);
  EXPECT_FALSE(zero);
  EXPECT_EQ(zero.err, 11);
}

TEST(Pipeline, TheHotMaskBlanksPixelsAndCanDecideTheReferenceSize) {
  TempDir dir;
  const std::string a = dir.File("a.fts"), b = dir.File("second.fts"), maskFile = dir.File("mask.fts");
  qvtest::WriteFits16(a, 3, 2, 1, Ramp(6, 1000, 100));
  qvtest::WriteFits16(b, 4, 2, 1, Ramp(8, 1000, 100));
  qvtest::WriteFits16(maskFile, 4, 2, 1, Ramp(8, 1, 0));
  TestSession s;
  s->ResizeImageArrays(2);
  s->Img[1].ImgFile = a;
  s->Img[2].ImgFile = b;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  const Outcome other = ProcessPic(*s, 2, 1);  // not the size of image 1
  EXPECT_FALSE(other);
  EXPECT_NE(other.why.find("4 x 2"), std::string::npos);

  // With the mask option on and a mask header of image 2's size, image 2 is accepted.
  s->opt.UseMask = HotMaskOn;
  s->opt.MaskFile = maskFile;
  ASSERT_TRUE(qvtest::Processed(*s, 0, 0));
  s->cal.HotMask.Redim(3, 1);
  s->cal.HotMask(1, 0) = 1;
  s->cal.HotMask(3, 1) = 1;
  ASSERT_TRUE(qvtest::Processed(*s, 2, 1));
  EXPECT_TRUE(s->cal.UseHotMask);
  EXPECT_EQ(s->pic.PicR(1, 0), 0);
  EXPECT_EQ(s->pic.PicG(3, 1), 0);
  EXPECT_EQ(s->pic.PicR(2, 0), 1200);
  int counted = 0;
  for (int v : s->pic.Histo) counted += v;
  EXPECT_EQ(counted, 6);  // masked pixels are not counted

  // A fully masked image has no histogram and fails.
  s->cal.HotMask.Fill(1);
  EXPECT_FALSE(ProcessPic(*s, 2, 1));
}

TEST(Pipeline, LevelsOfAnAllZeroImageAndOfAnOrdinaryOne) {
  TempDir dir;
  const std::string zero = dir.File("zero.fts"), ramp = dir.File("ramp.fts");
  qvtest::WriteFits16(zero, 4, 4, 1, std::vector<int>(16, 0));
  TestSession s(zero);
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->pic.HistoMax, 16);
  EXPECT_EQ(s->pic.LevelMin, 2048);
  EXPECT_EQ(s->pic.LevelMax, 0);
  EXPECT_EQ(s->pic.LevelLow, 0);
  EXPECT_EQ(s->pic.LevelHigh, 0);

  // Ten pixels in bin 31, one in bin 0 and one in bin 62: a bin holding exactly a tenth of
  // HistoMax does not pass the 0.1 test.
  std::vector<int> v(12, 1000);
  v[0] = 0;
  v[11] = 2000;
  qvtest::WriteFits16(ramp, 4, 3, 1, v);
  qvtest::OneImage(*s, ramp);
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->pic.HistoMax, 10);
  EXPECT_EQ(s->pic.LevelMin, 31);  // bin 0 never counts for the minimum
  EXPECT_EQ(s->pic.LevelMax, 62);
  EXPECT_EQ(s->pic.LevelLow, 31);
  EXPECT_EQ(s->pic.LevelHigh, 31);
}

TEST(Pipeline, StepSubSamplesAndLeavesFullSizeMastersOut) {
  TempDir dir;
  const std::string path = dir.File("large.fts");
  qvtest::WriteFits16(path, 101, 51, 1, Ramp(101 * 51, 1, 1));
  TestSession s(path);
  s->opt.UseMask = DarkSub;
  s->cal.DarkR.Redim(100, 50);
  s->cal.DarkG = s->cal.DarkR;
  s->cal.DarkB = s->cal.DarkR;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 2));
  EXPECT_EQ(s->pic.PicR.Width(), 51);
  EXPECT_EQ(s->pic.PicR.Height(), 26);
  EXPECT_FALSE(s->cal.UseDark);
  EXPECT_EQ(s->pic.PicR(50, 25), 1 + 100 + 50 * 101);  // file pixel (100, 50)
  EXPECT_EQ(s->pic.PicR(1, 1), 1 + 2 + 2 * 101);

  Plane<int32_t> r0 = s->pic.PicR;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 0));
  Plane<int32_t> r1 = s->pic.PicR;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(r1, s->pic.PicR);  // Step 0 counts as 1
  EXPECT_NE(r0, s->pic.PicR);
}

TEST(Pipeline, AStopRequestEndsThePixelLoop) {
  TempDir dir;
  const std::string path = dir.File("stop.fts");
  qvtest::WriteFits16(path, 8, 40, 1, Ramp(320, 10, 1));
  TestSession s(path);
  s.services.events.onYield = [&] {
    if (s.services.events.yields == 3) s->RunState = 2;
  };
  EXPECT_FALSE(ProcessPic(*s, 1, 1));
  EXPECT_EQ(s.services.events.yields, 3);  // rows 0, 4 and 8
  s->RunState = 0;
  s.services.events.onYield = nullptr;
  EXPECT_TRUE(ProcessPic(*s, 1, 1));
  EXPECT_EQ(s.services.events.yields, 3 + 10);
}

TEST(Pipeline, WholeImageStepsRunOnlyForListImages) {
  TempDir dir;
  const std::string path = dir.File("m.fts");
  qvtest::WriteFits16(path, 6, 6, 1, Ramp(36, 1000, 10));
  TestSession s(path);
  s->opt.UseMask = Bin2x2;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->pic.PicR.Width(), 3);  // fused
  s->opt.MaskFile = path;
  ASSERT_TRUE(qvtest::Processed(*s, 0, 1));
  EXPECT_EQ(s->pic.PicR.Width(), 6);  // a master keeps its size
}
