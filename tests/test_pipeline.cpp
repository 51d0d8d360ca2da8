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
