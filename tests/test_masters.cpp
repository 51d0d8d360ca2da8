// Calibration masters: flat, dark and hot-pixel mask from their files, the
// stop handling, and the masters of the command-line process command.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/options.h"
#include "process/process_pic.h"
#include "stack/masters.h"
#include "stack/run_control.h"
#include "support.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

// The mask as a pixel-by-pixel marking makes it, for comparison.
Plane<uint8_t> ReferenceMask(const std::vector<int>& v, int w, int h, int maskSize, int thr) {
  Plane<uint8_t> mask(w - 1, h - 1);
  const int m = maskSize - 1;
  int64_t good = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool hot = v[static_cast<size_t>(y) * w + x] > thr;
      good += hot ? 0 : 3;
      for (int j = std::max(0, y - m); hot && j <= std::min(h - 1, y + m); ++j)
        for (int i = std::max(0, x - m); i <= std::min(w - 1, x + m); ++i) mask(i, j) = 1;
    }
  if (good < int64_t{w - 1} * (h - 1)) mask.Redim(0, 0);
  return mask;
}

}  // namespace

// The flat's mean comes from its histogram, and an empty flat pixel
// becomes 1 so that it divides without harm. A master whose option is off
// or whose file is missing stays empty; with nothing selected no file is read.
TEST(Masters, FlatMeanEmptyFlatPixelsAndMissingFiles) {
  TempDir dir;
  // Row 0 at 3200 (bin 100), row 1 at 4480 (bin 140) with one empty pixel.
  std::vector<int> flat(20, 3200);
  std::fill(flat.begin() + 10, flat.end(), 4480);
  flat[15] = 0;
  qvtest::WriteFits16(dir.File("flat.fts"), 10, 2, 1, flat);
  TestSession s;
  s->opt.UseMask = FlatApply;
  s->opt.FlatFile = s->opt.DarkFile = dir.File("flat.fts");
  BuildMasters(*s);
  EXPECT_DOUBLE_EQ(s->cal.FlatMean, 3840);
  ASSERT_TRUE(s->cal.FlatPic.HasSize(10, 2));
  EXPECT_EQ(std::tuple(s->cal.FlatPic(9, 1), s->cal.FlatPic(5, 1), s->cal.DarkR.Width()), std::tuple(4480, 1, 1));

  s->opt.UseMask = FlatApply | DarkSub;
  s->opt.FlatFile = dir.File("absent.fts");
  BuildMasters(*s);
  EXPECT_EQ(std::pair(s->cal.FlatPic.Width(), s->cal.DarkR.Width()), std::pair(1, 10));
  s->opt.UseMask = 0;
  const long yields = s.services.events.yields;
  BuildMasters(*s);
  EXPECT_EQ(std::pair(s->cal.DarkR.Width(), s.services.events.yields), std::pair(1, yields));
}

// A session set to build only the mask from `file`.
static void BuildMask(TestSession& s, const std::string& file, int size, int thr) {
  s->opt.UseMask = HotMaskOn;
  s->opt.MaskFile = file;
  s->opt.MaskSize = static_cast<int16_t>(size);
  s->opt.MaskThr = thr;
  BuildMasters(*s);
}

TEST(Masters, MaskSquareFollowsMaskSize) {
  TempDir dir;
  // Random defects, and sizes that only a damaged store could give.
  std::mt19937 rng(7);
  const int w = 23, h = 17;
  std::vector<int> r(static_cast<size_t>(w) * h);
  for (int& x : r) x = (rng() % 10 == 0) ? 2000 + static_cast<int>(rng() % 1000) : static_cast<int>(rng() % 900);
  qvtest::WriteFits16(dir.File("random.fts"), w, h, 1, r);
  for (int size : {-3, 0, 1, 2, 3, 4, 7, 40, 32767}) {
    TestSession s;
    BuildMask(s, dir.File("random.fts"), size, 1500);
    EXPECT_EQ(s->cal.HotMask, ReferenceMask(r, w, h, size, 1500)) << size;
  }
  // Mostly above the threshold, the mask is discarded: on 9 x 9 it stays
  // while 3 x good pixels reaches 8 x 8 = 64.
  for (int hot : {59, 60}) {
    std::vector<int> v(81, 10);
    std::fill_n(v.begin(), hot, 9000);
    qvtest::WriteFits16(dir.File("mask.fts"), 9, 9, 1, v);
    TestSession s;
    BuildMask(s, dir.File("mask.fts"), 1, 1000);
    EXPECT_EQ(s->cal.HotMask.Width(), hot == 59 ? 9 : 1) << hot;
  }
}

// Stopped while the flat is read, the flat is lost and the dark step enters
// the running state afresh; stopped while the mask file is read, the mask
// stays empty. Either way the run state is left.
TEST(Masters, StopRequest) {
  TempDir dir;
  std::vector<int> v(64, 100);
  v[9] = 9000;
  qvtest::WriteFits16(dir.File("cal.fts"), 8, 8, 1, v);
  for (const bool duringMask : {false, true}) {
    TestSession s;
    s->opt.UseMask = FlatApply | DarkSub | HotMaskOn;
    s->opt.FlatFile = s->opt.DarkFile = s->opt.MaskFile = dir.File("cal.fts");
    bool asked = false;
    s.services.events.onYield = [&] {
      if (!asked && (!duringMask || s->cal.DarkR.Width() > 1)) {
        RequestStop(*s);
        asked = true;
      }
    };
    BuildMasters(*s);
    EXPECT_EQ(s->cal.FlatMean != 0, duringMask);
    // The flat's, the dark's and the mask's widths.
    EXPECT_EQ(std::tuple(s->cal.FlatPic.Width(), s->cal.DarkR.Width(), s->cal.HotMask.Width()),
              std::tuple(duringMask ? 8 : 1, 8, duringMask ? 1 : 8));
    EXPECT_EQ(std::tuple(s->RunState, s.form1.Caption), std::tuple(0, std::string(kAppTitle)));
  }
}

TEST(MastersCli, ProcessBuildsTheMastersOfTheSettingsFile) {
  TempDir dir;
  const std::string light = dir.File("light.fts"), ini = dir.File("s.ini"), planes = dir.File("p.raw");
  qvtest::WriteFits16(light, 4, 2, 1, {500, 600, 700, 800, 900, 1000, 1100, 1200});
  std::ofstream(ini) << "[Settings]\nUseMask=32768\nDarkFile=" << light << "\n";
  const qvtest::CliResult r = qvtest::Cli(dir, "process " + light + " --settings " + ini + " --planes " + planes);
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\"UseDark\":true"), std::string::npos) << r.out;
  // A dark equal to the image leaves 1 everywhere.
  const std::vector<uint8_t> bytes = qvtest::ReadBytes(planes);
  ASSERT_EQ(bytes.size(), 8u * 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 4) EXPECT_EQ(bytes[i] | bytes[i + 1] << 8, 1) << i;
  EXPECT_FALSE(std::filesystem::exists(dir.File("config")));
}
