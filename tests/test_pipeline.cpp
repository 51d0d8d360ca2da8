// The per-image pipeline: routing, calibration, the histogram, a stop, and
// the frames it calls grey.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <random>
#include <tuple>

#include "core/options.h"
#include "process/pixel_rows.h"
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

// A single-plane file fills the plane its name's colour letter names, or
// the channel of the first pattern of the options it holds (an empty one
// matches all); "Mono", no letter or a pattern without a channel leave it
// to the letter or fill all three.
TEST(Pipeline, SinglePlaneFilesAreRoutedByTheirNames) {
  TempDir dir;
  using Patterns = std::array<std::string, 3>;
  const Patterns narrow = {"_HA", "_SII", "_OIII"}, empty = {"_zz", "", "_HA"};
  struct Case {
    const char* name;
    int32_t mono;
    bool r, g, b;
    const Patterns* text = nullptr;
    std::array<int16_t, 3> chk = {};
  } cases[] = {
      {"m31r.fts", 0, true, false, false},
      {"m31g.fit", 0, false, true, false},
      {"m31_B.FTS", 0, false, false, true},
      {"m31c.fts", 0, false, true, true},
      {"m31x.fts", 0, true, true, true},
      {"m31r.fts", Mono, true, true, true},
      {"r.fts", 0, true, false, false},
      {".fr.fts", 0, true, true, true},                             // a name starting with ".f" is not routed
      {"m42_HA_r.fts", 0, true, false, false, &narrow, {0, 4, 0}},  // "_HA" has no channel: the letter decides
      {"m42_HA_r.fts", 0, true, true, false, &narrow, {3, 0, 0}},
      {"m42_HA_r.fts", 0, false, false, true, &empty, {1, 4, 2}},  // the empty pattern matched before "_HA"
  };
  for (const Case& c : cases) {
    qvtest::WriteFits16(dir.File(c.name), 4, 3, 1, Ramp(12, 100, 10));
    TestSession s(dir.File(c.name));
    s->opt.UseMask = c.mono;
    if (c.text) {
      s->opt.ColorText = *c.text;
      s->opt.ColorChk = c.chk;
    }
    ASSERT_TRUE(qvtest::Processed(*s, 1, 1)) << c.name;
    EXPECT_EQ(std::tie(s->pic.HasR, s->pic.HasG, s->pic.HasB), std::tie(c.r, c.g, c.b)) << c.name << c.chk[0];
    EXPECT_EQ(s->pic.PicR(3, 2), c.r ? 210 : 0) << c.name;
    EXPECT_EQ(s->pic.PicB(1, 0), c.b ? 110 : 0) << c.name;
  }
}

// The golden runs calibrate whole frames; these are the edges they do not
// reach: masters left out of a reduced step and never applied to a master
// file, a zero in an active flat, a mask that covers the whole image, and
// the fusion left out of a master.
TEST(Pipeline, CalibrationEdges) {
  TempDir dir;
  const std::string path = dir.File("light.fts"), mask = dir.File("mask.fts");
  qvtest::WriteFits16(path, 4, 2, 1, Ramp(8, 1000, 100));
  qvtest::WriteFits16(mask, 4, 2, 1, std::vector<int>(8, 1));
  TestSession s(path);
  s->opt.UseMask = DarkSub | FlatApply;
  qvtest::SetPlane(s->cal.DarkR, 4, 2, std::vector<int32_t>(8, 100));
  s->cal.DarkG = s->cal.DarkB = s->cal.DarkR;
  qvtest::SetPlane(s->cal.FlatPic, 4, 2, std::vector<int32_t>(8, 1000));
  s->cal.FlatMean = 1000;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_TRUE(s->cal.UseDark && s->cal.UseFlat);
  EXPECT_EQ(s->pic.PicR(1, 0), 1000);
  ASSERT_TRUE(qvtest::Processed(*s, 1, 2));  // full-size masters on a reduced step
  EXPECT_FALSE(s->cal.UseDark || s->cal.UseFlat);
  s->opt.DarkFile = path;
  ASSERT_TRUE(qvtest::Processed(*s, -1, 0));
  EXPECT_FALSE(s->cal.UseDark || s->cal.UseFlat);
  EXPECT_EQ(s->pic.PicR(1, 0), 1100);
  s->cal.FlatPic(2, 1) = 0;
  EXPECT_EQ(ProcessPic(*s, 1, 1).err, 11);

  // Masked pixels are blanked and left out of the histogram; with none
  // left there is no histogram and the image fails.
  s->opt.DarkFile.clear();
  s->opt.UseMask = HotMaskOn;
  s->opt.MaskFile = mask;
  ASSERT_TRUE(qvtest::Processed(*s, 0, 0));
  s->cal.HotMask.Redim(3, 1);
  s->cal.HotMask(1, 0) = 1;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_TRUE(s->cal.UseHotMask);
  EXPECT_EQ(std::tuple(s->pic.PicR(1, 0), std::accumulate(s->pic.Histo.begin(), s->pic.Histo.end(), 0)),
            std::tuple(0, 7));
  s->cal.HotMask.Fill(1);
  EXPECT_FALSE(ProcessPic(*s, 1, 1));

  // Whole-image steps run for list images only: a master keeps its size.
  s->opt.UseMask = Bin2x2;
  ASSERT_TRUE(qvtest::Processed(*s, 1, 1));
  EXPECT_EQ(s->pic.PicR.Width(), 2);  // fused
  s->opt.MaskFile = path;
  ASSERT_TRUE(qvtest::Processed(*s, 0, 1));
  EXPECT_EQ(s->pic.PicR.Width(), 4);
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
  // Over planes of this size already full, a stop leaves the rows after
  // it cleared, as fresh planes would hold them.
  s.services.events.onYield = [&] {
    if (s.services.events.yields == 13 + 3) s->RunState = 2;
  };
  EXPECT_FALSE(ProcessPic(*s, 1, 1));
  for (int y = 0; y < 40; ++y) EXPECT_EQ(s->pic.PicB(7, y), y <= 8 ? 17 + 8 * y : 0) << y;
}

// A frame the pipeline calls grey holds one value in its three planes
// (the display then draws it without comparing them): never wrongly so,
// whatever routes, calibrates or reshapes the planes; and a plain grey
// camera's frame, masked and flat-fielded, is called grey.
TEST(Pipeline, FramesCalledGreyHoldOneValueInTheirThreePlanes) {
  TempDir dir;
  const std::string mono = dir.File("m31x.fts"), red = dir.File("m31r.fts"), colour = dir.File("rgb.fts");
  std::vector<int> values = Ramp(64, 1000, 37);
  values[9] = 30000;  // a hot pixel
  qvtest::WriteFits16(mono, 8, 8, 1, values);
  qvtest::WriteFits16(red, 8, 8, 1, values);
  std::vector<int> planes = values;
  for (int k = 0; k < 128; ++k) planes.push_back(values[static_cast<size_t>(k % 64)] + 5 * (k / 64 + 1));
  qvtest::WriteFits16(colour, 8, 8, 3, planes);
  const struct Case {
    const char* what;
    const std::string* file;
    int32_t options;
    bool grey;
  } cases[] = {
      {"grey", &mono, 0, true},
      {"mask and flat", &mono, FlatApply | HotMaskOn, true},
      {"routed to red", &red, 0, false},
      {"three planes", &colour, 0, false},
      {"dark of three planes", &mono, DarkSub, false},
      {"binned", &mono, Bin2x2, false},
      {"hot pixels", &mono, HotCalc, false},
      {"gradient", &mono, GradRemove, false},
  };
  for (const Case& c : cases) {
    TestSession s(*c.file);
    s->opt.UseMask = c.options;
    qvtest::SetPlane(s->cal.DarkR, 8, 8, std::vector<int32_t>(64, 100));
    s->cal.DarkG = s->cal.DarkR;
    qvtest::SetPlane(s->cal.DarkB, 8, 8, std::vector<int32_t>(64, 90));
    qvtest::SetPlane(s->cal.FlatPic, 8, 8, Ramp(64, 900, 3));
    s->cal.FlatMean = 1000;
    s->cal.HotMask.Redim(7, 7);
    s->cal.HotMask(3, 3) = 1;
    bool grey = !c.grey;
    ASSERT_TRUE(ProcessPic(*s, 1, 1, grey)) << c.what;
    EXPECT_EQ(grey, c.grey) << c.what;
    if (grey) {
      EXPECT_TRUE(s->pic.PicR == s->pic.PicG && s->pic.PicR == s->pic.PicB) << c.what;
    }
  }
  // A failed frame is not called grey.
  TestSession s(dir.File("missing.fts"));
  bool grey = true;
  EXPECT_FALSE(ProcessPic(*s, 1, 1, grey));
  EXPECT_FALSE(grey);
}

// Rows of camera values and rows beyond them (negative, near 2^29, past
// the last bin), masked or not, of lengths that do not fill the four
// tables, count as the plain pixel-by-pixel rule counts them.
TEST(Pipeline, HistogramRowsCountAsThePlainRule) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 37);
    const int kind = trial % 4;
    std::vector<int32_t> r(n), g(n), b(n);
    std::vector<uint8_t> skip(n);
    for (int x = 0; x < n; ++x) {
      for (std::vector<int32_t>* p : {&r, &g, &b}) {
        const uint32_t u = rng();
        (*p)[x] = kind == 0   ? static_cast<int32_t>(u % 70000)
                  : kind == 1 ? static_cast<int32_t>(u % 300) - 100
                  : kind == 2 ? (1 << 29) - 1 - static_cast<int32_t>(u % 3)
                              : static_cast<int32_t>(u % 70000) * (x == n / 2 ? 30000 : 1);
      }
      skip[x] = rng() % 5 == 0;
    }
    for (bool masked : {false, true}) {
      std::array<int32_t, kHistoBins> histo{}, expected{};
      histo[7] = expected[7] = 3;  // counts of earlier rows stay
      RowFault fault{n};
      CountRow(RgbRow{{r.data(), g.data(), b.data()}, n}, masked ? skip.data() : nullptr, histo, fault);
      int end = n, number = 0;
      for (int x = 0; x < n; ++x) {
        if (masked && skip[x]) continue;
        const int64_t sum = int64_t{r[x]} + g[x] + b[x];
        if (sum < INT32_MIN || sum > INT32_MAX) {
          end = x + 1, number = kErrOverflow;
          break;
        }
        ++expected[static_cast<size_t>(std::clamp(static_cast<int32_t>(sum) / 96, 0, kHistoBins - 1))];
      }
      EXPECT_EQ(fault.end, end) << trial;
      EXPECT_EQ(fault.number, number) << trial;
      EXPECT_EQ(histo, expected) << trial << " masked " << masked;
    }
  }
}
