// "Étirement auto": the statistics it reads, the levels and curve it
// chooses, what a simulated night looks like with them, and the tool's
// stack rendered with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "editor/auto_stretch.h"
#include "editor/editing.h"
#include "editor/form2.h"
#include "editor/form3.h"
#include "editor/result.h"
#include "io/picture_export.h"
#include "stack/auto_marks.h"
#include "support.h"
#include "workspace/project.h"
#include "workspace/run.h"

using namespace qv;
using qvtest::TempDir;
using qvtest::TestSession;

namespace {

ChannelStatistics Stats(double median, double noise, double high) {
  return {.covered = true, .median = median, .noise = noise, .high = high};
}

// The byte a value renders at with the chosen levels of channel c and curve.
int RenderedByte(const StretchLevels& l, size_t c, double v) {
  CurveTable curve;
  BuildCurve(curve, l.curve * 255, 256, false);
  return CurveByte(curve, (v - l.black[c]) * (32767 / (l.white[c] - l.black[c])));
}

}  // namespace

TEST(AutoStretch, EveryBackgroundLandsOnTheTargetWithoutClippingMore) {
  const ChannelStatistics none;
  struct Case {
    const char* sky;
    std::array<ChannelStatistics, 3> channels;
  };
  const Case cases[] = {
      {"grey", {Stats(1000, 50, 5000), Stats(1000, 50, 5000), Stats(1000, 50, 5000)}},
      {"coloured", {Stats(1000, 160, 10000), Stats(1050, 160, 10200), Stats(1100, 160, 10500)}},
      {"one channel near zero", {Stats(100, 50, 5000), Stats(1000, 50, 5000), Stats(1000, 50, 40000)}},
      {"without noise", {Stats(500, 0, 500), Stats(500, 0, 500), Stats(500, 0, 500)}},
      {"green only", {none, Stats(3000, 20, 9000), none}},
      {"bright", {Stats(60000, 300, 65535), Stats(60000, 300, 65535), Stats(60000, 300, 65535)}},
  };
  for (const Case& k : cases) {
    const StretchLevels l = ChooseStretch(k.channels);
    EXPECT_TRUE(l.curve > 0 && l.curve <= 1) << k.sky;
    for (size_t c = 0; c < 3; ++c) {
      const ChannelStatistics& st = k.channels[c];
      ASSERT_EQ(l.set[c], st.covered) << k.sky;
      if (!st.covered) continue;
      // Whole levels within the editor's limits.
      EXPECT_TRUE(l.black[c] == std::floor(l.black[c]) && l.white[c] == std::floor(l.white[c])) << k.sky;
      EXPECT_TRUE(0 <= l.black[c] && l.black[c] < l.white[c] && l.white[c] <= 65535) << k.sky;
      // Never blacker than the noise allows, never whiter than the stars.
      EXPECT_TRUE(st.noise == 0 || l.black[c] <= std::max(0.0, st.median - kStretchNoiseMultiple * st.noise)) << k.sky;
      EXPECT_GE(l.white[c], std::min(65535.0, st.high)) << k.sky << c;
      // Only data beyond the high quantile saturates (or data at the top
      // of the scale, when the white has nowhere further to go).
      EXPECT_TRUE(l.white[c] == 65535 || RenderedByte(l, c, st.high) < 255) << k.sky << c;
      EXPECT_NEAR(RenderedByte(l, c, st.median), kStretchBackgroundByte, 1) << k.sky << c;
    }
  }
  // Nothing covered: nothing set, the curve straight.
  const StretchLevels empty = ChooseStretch({none, none, none});
  EXPECT_TRUE(empty.set == (std::array<bool, 3>{false, false, false}) && empty.curve == 0.5);
  // Only empty-valued pixels: black 0, and no background to lift.
  const StretchLevels dark = ChooseStretch({Stats(0, 0, 0), none, none});
  EXPECT_TRUE(dark.set[0] && dark.black[0] == 0 && dark.white[0] > 0 && dark.curve == 0.5);
}

TEST(AutoStretch, StatisticsReadOnlyTheCoveredFiniteValues) {
  Plane<float> sum(99, 99), weight(99, 99);
  // Covered pixels hold 1000 .. 1199 evenly, half of them with weight 2;
  // every eleventh pixel is empty but holds a large sum.
  for (int k = 0; k < 10000; ++k) {
    const int x = k % 100, y = k / 100;
    if (k % 11 == 0) {
      sum(x, y) = 60000;
      continue;
    }
    const float w = k % 2 ? 2.0f : 1.0f;
    weight(x, y) = w;
    sum(x, y) = w * static_cast<float>(1000 + k % 200);
  }
  weight(5, 5) = 1, sum(5, 5) = std::numeric_limits<float>::quiet_NaN();
  weight(5, 6) = 1, sum(5, 6) = std::numeric_limits<float>::infinity();
  const ChannelStatistics st = MeasureChannel(sum, weight);
  ASSERT_TRUE(st.covered);
  EXPECT_NEAR(st.median, 1099.5, 1);
  EXPECT_NEAR(st.noise, 1.4826 * 50, 1.5);
  EXPECT_NEAR(st.high, 1199.5, 1);

  // Beyond the data scale a value counts at its end.
  Plane<float> bright(3, 0), one(3, 0);
  one.Fill(1);
  qvtest::SetPlane<float>(bright, 4, 1, {-50, 70000, 70000, 70000});
  const ChannelStatistics top = MeasureChannel(bright, one);
  EXPECT_NEAR(top.median, 65535.5, 0.5);
  EXPECT_FALSE(MeasureChannel(bright, Plane<float>(3, 0)).covered);
  EXPECT_FALSE(MeasureChannel(Plane<float>(), Plane<float>()).covered);
}

// The night of a small camera, stacked with its masters and without them,
// as the editor opens it and after "Étirement auto": the sky, whatever its
// level, renders dim but visible, and the stars keep their cores.
TEST(AutoStretch, ASimulatedNightRendersItsSkyDimAndItsStarsWhole) {
  TempDir dir;
  const std::string sim =
      qvtest::SimulateNight(dir, "nuit",
                            "--frames 8 --width 480 --height 320 --dither 20 --cloud 5 --hot-pixels "
                            "--vignetting --calibrated --calibration-frames 4 --seed 7");
  for (const bool masters : {true, false}) {
    TestSession ts;
    Session& s = *ts;
    ASSERT_EQ(LoadProject(ts.form1, sim + "/project.txt").outcome, ProjectLoad::Completed);
    if (!masters) s.opt.UseMask &= ~(DarkSub | FlatApply);
    s.stack.TempBase = dir.File("run_");
    s.RunState = 1;
    ASSERT_TRUE(AutoMarks(*ts, AutoMarkOptions{}).ok);
    s.RunState = 0;
    RunStack(ts.form1);
    ASSERT_FALSE(s.dest.DestSumR.Empty());

    Form2 dest;
    Form3 f(s, dest);
    f.Form_Load();
    EXPECT_EQ(f.Text1, (std::array<std::string, 3>{"0", "0", "0"}));  // until the button is pressed
    f.Command7_Click();
    const DestPlanes d = DestinationPlanes(s);
    for (int c = 0; c < 3; ++c) {
      std::vector<int> bytes;
      int64_t saturated = 0;
      for (int y = 0; y < f.Picture.Height(); ++y)
        for (int x = 0; x < f.Picture.Width(); ++x) {
          const float w = (*d.weight[c])(x, y);
          if (w <= 0) continue;
          const int b = (f.Picture(x, y) >> (16 - 8 * c)) & 0xFF;
          bytes.push_back(b);
          saturated += b == 255 && (*d.sum[c])(x, y) / w < 65535;
        }
      ASSERT_FALSE(bytes.empty());
      std::nth_element(bytes.begin(), bytes.begin() + bytes.size() / 2, bytes.end());
      const int median = bytes[bytes.size() / 2];
      EXPECT_TRUE(median >= 25 && median <= 45) << "masters " << masters << " channel " << c << ": " << median;
      EXPECT_LT(static_cast<double>(saturated) / static_cast<double>(bytes.size()), 0.001) << c;
    }

    if (!masters) continue;
    // The tool's stack renders its picture with the same rule.
    const auto r =
        qvtest::Cli(dir, "stack '" + sim + "/project.txt' --mark auto --auto --out '" + dir.File("nuit.bmp") + "'",
                    "TMPDIR='" + dir.path().string() + "' ");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(qvtest::ReadBytes(dir.File("nuit.bmp")), BuildBmpFile(dest.Shown(false, 1)));
  }
}
