// The editor: the curve and the colour scale, the detail filter against a
// direct computation, the engine's rendering and operations on destinations
// in memory, and what the window adds over them (restarts, selectors,
// captions).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <random>

#include "core/parallel.h"
#include "editor/editing.h"
#include "editor/form2.h"
#include "editor/form3.h"
#include "editor/operations.h"
#include "editor/rendering.h"
#include "editor/result.h"
#include "io/picture_export.h"
#include "stack/combine.h"
#include "support.h"
#include "workspace/save_commands.h"

using namespace qv;
using qvtest::TestSession;

namespace {

int32_t Rgb(int r, int g, int b) { return (r << 16) | (g << 8) | b; }

// The destination's sum and weight planes of channel c, emptied to w x h.
std::pair<Plane<float>*, Plane<float>*> Sized(Session& s, int c, int w, int h) {
  Plane<float>* sum[3] = {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB};
  Plane<float>* weight[3] = {&s.dest.DestWeightR, &s.dest.DestWeightG, &s.dest.DestWeightB};
  sum[c]->Redim(w - 1, h - 1);
  weight[c]->Redim(w - 1, h - 1);
  return {sum[c], weight[c]};
}

// A destination of w x h pixels whose value in every channel is f(x, y, c)
// (weight 1; a value of 0 or less leaves the pixel empty).
template <class F>
void SetDestination(Session& s, int w, int h, F f) {
  for (int c = 0; c < 3; ++c) {
    auto [sum, weight] = Sized(s, c, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double v = f(x, y, c);
        if (v > 0) (*sum)(x, y) = static_cast<float>(v), (*weight)(x, y) = 1;
      }
  }
  MeasureDestination(s);
}

struct FakeClock : Clock {
  double now = 0, step = 0;
  double SecondsSinceMidnight() override {
    const double t = now;
    now += step;
    return t;
  }
};

// Counts what a render shows as it goes.
struct Counting : RenderListener {
  int calls = 0;
  bool SoFar(const Plane<int32_t>&) override { return ++calls, true; }
};

// The editor's windows on a session of their own.
class EditorWindows : public ::testing::Test {
 protected:
  // Opens a destination made by SetDestination in the editor.
  template <class F>
  void Open(int w, int h, F value) {
    SetDestination(s, w, h, value);
    f.Form_Load();
  }
  TestSession ts;
  Session& s = *ts;
  Form2 dest;
  Form3 f{s, dest};
};
// The engine's rendering and operations; the window's controls; a saved
// result and the tool.
using EditorRender = EditorWindows;
using EditorControls = EditorWindows;
using EditorResult = EditorWindows;

// A saved result of three planes of w x h pixels, value(k, p) at pixel k of
// plane p, stored with BZERO 32768.
template <class F>
void WriteResult(const std::string& path, int w, int h, F value) {
  std::vector<int> stored;
  for (int p = 0; p < 3; ++p)
    for (int k = 0; k < w * h; ++k) stored.push_back(value(k, p) - 32768);
  qvtest::WriteFits16(path, w, h, 3, stored, {"BZERO   =                32768"});
}

}  // namespace

// The curve at its centre is a straight line from black to white; hiding
// the maximum moves the ends. Then the colour scale's blend.
TEST_F(EditorRender, CurveCentreEndsIndicesAndColourScale) {
  EditorSettings st;  // levels 0 .. 65535, the curve at its centre
  SettleLevels(st);
  CurveTable t;
  BuildCurve(t, st);
  for (int v : {0, 1, 128, 129, 1000, 32767, 32768, 40000, 65534, 65535}) {
    const double n = RoundHalfEven(v * 32767.0 / 65535);
    EXPECT_EQ(CurveByte(t, (v - st.black[0]) * st.gain[0]), RoundHalfEven(255 * n / 32767)) << v;
  }
  // {curve position, maximum hidden, index, byte}: hidden, the ends keep
  // off 0 and 255 (round(255 / 32767) = 0 is raised to the low end); the
  // left edge (exponent 0) lifts every inner value to the top; the right
  // edge is a square law, (16384 / 32767)^2 x 255 = 63.8.
  using End = std::tuple<double, bool, size_t, int>;
  for (const auto& [position, hide, index, byte] :
       {End{127.5, true, 0, 1}, End{127.5, true, 1, 1}, End{127.5, true, 32766, 254}, End{127.5, true, 32767, 254},
        End{127.5, false, 0, 0}, End{127.5, false, 32766, 255}, End{0, true, 1, 254}, End{0, true, 0, 1},
        End{255, false, 16384, 64}}) {
    BuildCurve(t, position, 256, hide);
    EXPECT_EQ(t[index], byte) << position << " " << hide << " " << index;
  }
  // Indices round half to even and clamp.
  for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint8_t>(i % 251);
  using Index = std::pair<double, size_t>;
  for (const auto& [v, index] :
       {Index{-5, 0}, Index{1e12, 32767}, Index{32766.6, 32767}, Index{2.5, 2}, Index{3.5, 4}, Index{std::nan(""), 0}})
    EXPECT_EQ(CurveByte(t, v), t[index]) << v;

  // The colour scale: level 0 sits on the palette's second entry, the top
  // level on white; brightness scales and is limited to 0 .. 1.
  // 255 x 0.5 = 127.5 goes to even; halfway between entries 5 and 6,
  // x = 5.5, needs g = 4.5 / 0.043137.
  using Scale = std::tuple<double, double, int32_t>;
  for (const auto& [g, brightness, rgb] :
       {Scale{0, 1, Rgb(100, 100, 255)}, Scale{255, 1, Rgb(255, 255, 255)}, Scale{255, 3, Rgb(255, 255, 255)},
        Scale{255, 0.5, Rgb(128, 128, 128)}, Scale{100, -1, 0}, Scale{4.5 / 0.043137, 1, Rgb(100, 255, 100)}})
    EXPECT_EQ(ColourScale(g, brightness), rgb) << g << " " << brightness;
}

namespace {

double BruteMean(const Plane<float>& sum, const Plane<float>& weight, int x, int y, int r) {
  double t = 0;
  int n = 0;
  for (int yy = y - r; yy <= y + r; ++yy)
    for (int xx = x - r; xx <= x + r; ++xx) {
      if (xx < 0 || yy < 0 || xx > sum.UBound1() || yy > sum.UBound2()) continue;
      if (weight(xx, yy) > 0) t += sum(xx, yy) / weight(xx, yy), ++n;
    }
  return n ? t / n : 0;
}

// Gives up at the n-th band it is asked to compute, once that band is done.
struct GivingUpAt : RenderListener {
  int band = 0, at = 0;
  std::function<void()> beforeFirst;  // checks what the caller's thread did before any band
  explicit GivingUpAt(int n) : at(n) {}
  bool Compute(const std::function<void()>& rows) override {
    if (band == 0 && beforeFirst) beforeFirst();
    rows();
    return ++band != at;
  }
};

}  // namespace

// On odd sizes, one row or column among them, over several bands of rows,
// split between both cores or not and resumed after a render given up, the
// picture is the same, and every byte that of a direct computation.
TEST_F(EditorRender, DetailMatchesADirectComputationOnOneOrTwoCores) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> value(0, 30000), wpick(0, 4);
  const std::pair<int, int> sizes[] = {{37, 23}, {9, 1}, {1, 7}, {31, 257}, {4097, 3}};
  for (const auto& [w, h] : sizes) {
    Plane<float>*sum[3], *weight[3];
    for (int c = 0; c < 3; ++c) {
      std::tie(sum[c], weight[c]) = Sized(s, c, w, h);
      for (size_t k = 0; k < sum[c]->Size(); ++k) {
        const int wt = wpick(rng);  // a fifth of the pixels are empty
        weight[c]->Data()[k] = static_cast<float>(wt);
        sum[c]->Data()[k] = static_cast<float>(wt * value(rng) + (wt ? 1 : 0));
      }
    }
    const int sliders[][3] = {{-7, 0, 0}, {0, -20, -3}, {3, 0, 0}, {-5, 2, 1}, {0, 0, 9}};
    for (const auto& sl : sliders) {
      EditorSettings st;  // fresh means for every setting
      st.black = {1000, 2500, 0};
      st.white = {21000, 18000, 30000};
      st.detail = {sl[0], sl[1], sl[2]};
      st.detailActive = true;
      st.curvePosition = 90;
      Plane<int32_t> picture, again;
      ASSERT_TRUE(RenderDestination(s, st, picture));
      // On one core, with means built across a render given up at its
      // second band: the same picture.
      CurveTable curve;
      BuildCurve(curve, st);
      UseSecondCore(false);
      DetailMeans resumed;
      GivingUpAt giveUp(2);
      // The means' storage, hundreds of megabytes on a large result, is
      // taken with the first band, which the window computes off its thread.
      giveUp.beforeFirst = [&] {
        for (const auto& scale : resumed.planes)
          for (const Plane<double>& plane : scale) EXPECT_TRUE(plane.Empty());
      };
      RenderDestination(s, st, resumed, curve, again, giveUp);
      ASSERT_TRUE(RenderDestination(s, st, resumed, curve, again));
      UseSecondCore(true);
      ASSERT_EQ(again, picture) << w << "x" << h;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          int bytes[3];
          for (int c = 0; c < 3; ++c) {
            double v = (*weight[c])(x, y) > 0 ? static_cast<double>((*sum[c])(x, y) / (*weight[c])(x, y)) : 0;
            for (int k = 0; k < 3; ++k) {
              const double thr = st.black[c] - (st.white[c] - st.black[c]) * sl[k] / 20;
              if (sl[k] < 0 && v < thr) v = BruteMean(*sum[c], *weight[c], x, y, k + 1);
            }
            for (int k = 0; k < 3; ++k)
              if (sl[k] > 0) v += (v - BruteMean(*sum[c], *weight[c], x, y, k + 1)) * sl[k];
            v = (v - st.black[c]) * (32767 / (st.white[c] - st.black[c]));
            const double index = std::min(32767.0, std::max(0.0, RoundHalfEven(v)));
            bytes[c] = curve[static_cast<size_t>(index)];
          }
          ASSERT_EQ(picture(x, y), Rgb(bytes[0], bytes[1], bytes[2]))
              << w << "x" << h << " at " << x << "," << y << " " << sl[0];
        }
    }
  }
}

TEST_F(EditorRender, SlidersActOnlyWhileDetailIsActive) {
  Open(20, 20, [](int x, int y, int) { return 1000.0 + ((x * 7 + y * 3) % 5) * 2000; });
  const Plane<int32_t> plain = f.Picture;
  f.HScroll1 = 10;
  f.HScroll1_Change();
  EXPECT_TRUE(f.Picture == plain && !f.Detail().Valid(0));
  f.Check3 = 1;
  f.Check3_Click();
  EXPECT_TRUE(f.Picture != plain && f.Detail().Valid(0));
  f.Command3_Click();  // "Initialiser"
  EXPECT_TRUE(f.Picture == plain && !f.Detail().Valid(0));
}

TEST_F(EditorControls, HistogramBoxFollowsTheDestinationRangeAndClicksSetLevels) {
  Open(2, 1, [](int x, int, int) { return x ? 200.0 : 20.0; });
  EXPECT_EQ(std::pair(f.HistoLow, f.HistoHigh), std::pair(20, 200));
  EXPECT_DOUBLE_EQ(f.Picture1ScaleLeft, -0.02 * 255);
  EXPECT_DOUBLE_EQ(f.Picture1ScaleLeft + f.Picture1ScaleWidth, 1.02 * 255);
  // A press at the very middle of the box (127.5, which the edges' sum
  // rounds past) is on the white side; just left of it, the black one.
  for (const double x : {127.5, 127.49}) {
    f.Check1 = f.Check2 = {0, 0, 0};
    f.Picture1_MouseDown(1, x);
    EXPECT_EQ(f.Check2[0], x == 127.5) << x;
  }
  f.Check1 = f.Check2 = {0, 0, 0};
  Open(2, 1, [](int x, int, int) { return x ? 256.0 : 20.0; });
  EXPECT_DOUBLE_EQ(f.Picture1ScaleLeft + f.Picture1ScaleWidth, 1.02 * 65535);

  // Clicks choose the selectors, then set levels.
  Open(2, 1, [](int x, int, int) { return x ? 60000.0 : 200.0; });
  f.Picture1_MouseDown(1, 40000.4);  // right of the middle: the white selectors
  EXPECT_EQ(f.Check2, (std::array<int16_t, 3>{1, 1, 1}));
  EXPECT_EQ(std::tuple(f.Text2[1], f.Line2X[1]), std::tuple("40000", 40000.0));
  f.Picture1_MouseDown(1, 1200.5);  // the selectors stay: still the white level
  EXPECT_EQ(std::tuple(f.Text2[2], f.Text1[2]), std::tuple("1200", "0"));
  f.Picture1_MouseDown(2, 0);  // another button clears them
  EXPECT_EQ(f.Check2, (std::array<int16_t, 3>{0, 0, 0}));
  f.Picture1_MouseDown(1, 1200.5);
  EXPECT_TRUE(f.Check1 == (std::array<int16_t, 3>{1, 1, 1}) && f.Text1[0] == "1200");
  f.Check1 = {0, 1, 0};
  f.Picture1_MouseDown(1, 999);
  EXPECT_EQ(f.Text1, (std::array<std::string, 3>{"1200", "999", "1200"}));

  // An unreadable level keeps the previous one; a white equal to the black
  // gives no gain, and the previous white (1200) stays.
  f.Text1[0] = "500";
  f.Text1_Change(0);
  f.Text1[0] = "abc";
  f.Text2[0] = "500";
  f.Text1_Change(0);
  EXPECT_EQ(f.LastSettings().black[0], 500);
  EXPECT_DOUBLE_EQ(f.LastSettings().gain[0], 32767.0 / (1200 - 500));
}

TEST_F(EditorControls, WhiteBalanceOfATwoColourRegionGivesBackgroundAndSignal) {
  // Left half a dark sky, right half a bright nebula, each its own colour.
  SetDestination(s, 100, 100, [](int x, int, int c) {
    static const double sky[3] = {1000, 1200, 1500}, neb[3] = {9000, 6000, 4000};
    return x < 50 ? sky[c] : neb[c];
  });
  EditorSettings st;
  BalanceLevels measured;
  const HistogramRange range = DestinationHistogramRange(s);
  const SettingsChanged changed = BalanceWhiteAt(s, 50, 50, range, measured, st);
  EXPECT_TRUE(changed.black[0] && changed.white[2] && !changed.curve);
  EXPECT_EQ(std::pair(measured.background[0], measured.signal[0]), std::pair(1000.0, 9000.0));
  EXPECT_EQ(std::pair(measured.background[2], measured.signal[2]), std::pair(1500.0, 4000.0));
  // Strength at its maximum: k = (highest - lowest bin) / largest span; the
  // histogram takes each pixel's brightest channel.
  const double k = (9000.0 - 1500.0) / 8000.0;
  EXPECT_EQ(st.black, (std::array<double, 3>{1000, 1200, 1500}));
  EXPECT_EQ(std::tuple(st.white[1], st.white[2]), std::tuple(CLng(1200 + 4800 * k), CLng(1500 + 2500 * k)));
  EXPECT_DOUBLE_EQ(st.gain[2], 32767 / (st.white[2] - 1500));  // settled, as the redraw after a click
  BalanceLevelsFor(measured, 0.5, range, st);
  EXPECT_EQ(st.white[2], CLng(1500 + 2500 * 0.25 * k));
  // Clicks far outside measure nothing and change nothing.
  const EditorSettings before = st;
  for (float far : {-1e9f, 1e9f, 3e38f}) BalanceWhiteAt(s, far, far, {}, measured, st);
  EXPECT_TRUE(st.black == before.black && measured.background[2] == 1500);
  // The window's slider gives the strength.
  f.Form_Load();
  int16_t left = 1;
  f.BalWhite(50, 50, left);
  f.HScroll4 = 32767 / 2;
  f.HScroll4_Change();
  const double half = (32767 / 2) / 32767.0;
  EXPECT_EQ(f.Text2[2], std::to_string(CLng(1500 + 2500 * half * half * k)));
}

// Blocks at the right and bottom edges keep the pixels they have.
TEST_F(EditorRender, BinningAveragesByWeightAndResetsTheSettings) {
  EditorSettings st;
  EXPECT_FALSE(BinDestination(s, 2, st));  // no destination
  SetDestination(s, 5, 3, [](int x, int y, int) { return 100.0 * (1 + x + y); });
  s.dest.DestWeightR(1, 0) = 3;  // (1, 0) counts three times in its block
  s.dest.DestSumR(1, 0) = 600;
  st.black = {7, 7, 7};
  st.mirror = true;
  EXPECT_FALSE(BinDestination(s, 0, st));
  ASSERT_TRUE(BinDestination(s, 2, st));
  ASSERT_EQ(s.dest.DestWeightB.Width(), 3);
  EXPECT_FLOAT_EQ(s.dest.DestSumR(0, 0) / s.dest.DestWeightR(0, 0), (100 + 600 + 200 + 300) / 6.0f);
  EXPECT_FLOAT_EQ(s.dest.DestSumR(2, 0) / s.dest.DestWeightR(2, 0), 550);  // one column
  EXPECT_FLOAT_EQ(s.dest.DestSumR(2, 1) / s.dest.DestWeightR(2, 1), 700);  // one pixel
  EXPECT_TRUE(st.black[0] == 0 && st.mirror);                              // "Initialiser" keeps the mirror
}

TEST_F(EditorRender, HiddenMaximumBlacksOutASaturatedStarAndItsHalo) {
  // A star at (5, 5): saturated core, bright ring at distance 1, faint sky.
  Plane<int32_t> pic(10, 10);
  pic.Fill(Rgb(40, 40, 40));
  pic(5, 5) = Rgb(255, 250, 250);
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i)
      if (i || j) pic(5 + i, 5 + j) = Rgb(200, 200, 200);
  pic(7, 5) = Rgb(60, 60, 60);  // on the circle of radius 2: the average 45
  pic(4, 6) = Rgb(45, 45, 45);  // inside it, no brighter than that average: kept
  Plane<int32_t> radius1 = pic;
  ASSERT_TRUE(HideSaturated(pic, 2));
  // (7, 5) is on the circle, not inside it.
  EXPECT_EQ(std::tuple(pic(5, 5), pic(4, 4), pic(6, 5), pic(7, 5), pic(8, 8), pic(4, 6)),
            std::tuple(0, 0, 0, Rgb(60, 60, 60), Rgb(40, 40, 40), Rgb(45, 45, 45)));
  // Radius 1 only blacks the saturated pixel.
  ASSERT_TRUE(HideSaturated(radius1, 1));
  EXPECT_EQ(std::pair(radius1(5, 5), radius1(4, 4)), std::pair(0, Rgb(200, 200, 200)));
  // A fifth of the picture saturated stops before the halo.
  Plane<int32_t> fifth(4, 4);  // 25 pixels
  fifth.Fill(Rgb(100, 100, 100));
  for (int x = 0; x < 5; ++x) fifth(x, 0) = Rgb(0, 0, 255);
  EXPECT_FALSE(HideSaturated(fifth, 3));
  EXPECT_EQ(std::pair(fifth(2, 0), fifth(2, 1)), std::pair(0, Rgb(100, 100, 100)));
}

// The zoom box takes a typed percent rounded half to even, and nothing
// outside 1..32767.
TEST_F(EditorControls, ZoomBoxRoundsHalfToEven) {
  for (const auto& [typed, percent] : {std::pair("62.5", 62), std::pair("63.5", 64), std::pair("0.5", 0),
                                       std::pair("40000", 0), std::pair("75", 75)}) {
    f.Combo1 = typed;
    EXPECT_EQ(f.ZoomPercent(), percent) << typed;
  }
}

TEST_F(EditorRender, ColourScaleStarIsHiddenWhenTheMaximumIs) {
  SetDestination(s, 15, 15, [](int x, int y, int) { return x == 7 && y == 7 ? 65000.0 : 3000.0; });
  EditorSettings st;
  st.mode = kColourScale;
  Plane<int32_t> pic;
  RenderDestination(s, st, pic);
  EXPECT_EQ(pic(7, 7), Rgb(255, 255, 255));
  st.hideMax = true;
  RenderDestination(s, st, pic);
  EXPECT_EQ(pic(7, 7), 0);
  st.fill = true;  // "Remplissage" fills the hole again from its diagonal neighbours
  RenderDestination(s, st, pic);
  EXPECT_EQ(pic(7, 7), pic(6, 6));
}

TEST_F(EditorRender, FillTakesHolesFromTheirDiagonalNeighboursForTwentySecondsAtMost) {
  Plane<int32_t> pic(4, 4);
  pic.Fill(Rgb(10, 20, 30));
  pic(2, 2) = Rgb(0, 50, 30);  // one channel empty: a hole
  pic(1, 1) = Rgb(11, 1, 30);  // a value of 1 does not count
  // (11 + 10 + 10 + 10) / 4 rounds to 10; 20 from three.
  EXPECT_EQ(FillPass(pic), 1);
  EXPECT_EQ(pic(2, 2), Rgb(10, 20, 30));
  // Only channels without any usable neighbour stay empty.
  Plane<int32_t> lone(2, 2);
  lone(1, 1) = Rgb(0, 9, 0);
  lone(0, 0) = Rgb(7, 0, 1);
  EXPECT_EQ(FillPass(lone), 9);
  EXPECT_EQ(lone(1, 1), Rgb(7, 9, 0));

  // Filling a picture stops after twenty seconds of the clock.
  FakeClock clock;
  clock.now = 3600;
  clock.step = 1;
  // A hole that needs about a hundred passes to close.
  Plane<int32_t> wide(201, 201);
  for (int x = 0; x <= 201; ++x) wide(x, 0) = Rgb(50, 50, 50);
  Counting shown;
  FillHoles(wide, shown, &clock);
  EXPECT_EQ(shown.calls, 20);
  // The same with a clock that stands still runs to the end.
  clock.step = 0;
  FillHoles(wide, shown, &clock);
  EXPECT_TRUE(std::none_of(wide.Data(), wide.Data() + wide.Size(), [](int32_t v) { return (v & 0xFF) == 0; }));
}

TEST_F(EditorResult, ValuesBecomeSumsWithUnitWeightWherePositive) {
  qvtest::TempDir dir;
  const std::string file = dir.File("result.fts");
  // 0 marks an empty pixel; calibration must not touch a result.
  WriteResult(file, 3, 2, [](int k, int p) { return k == 4 ? 0 : 1000 * (p + 1) + k; });
  s.opt.UseMask = HotCalc | CalcFill | Mono;
  ASSERT_TRUE(LoadResult(s, file));
  EXPECT_EQ(std::tuple(s.dest.DestSumB(2, 0), s.dest.DestWeightB(2, 0), s.dest.DestWeightG(1, 1)),
            std::tuple(3002.0f, 1.0f, 0.0f));
  EXPECT_FALSE(LoadResult(s, dir.File("missing.fts")));
  // A grey result named like a red filter's frame stays grey.
  s.opt.UseMask = 0;
  qvtest::WriteFits16(dir.File("night_r.fts"), 2, 2, 1, {1000, 2000, 3000, 4000});
  ASSERT_TRUE(LoadResult(s, dir.File("night_r.fts")));
  for (Plane<float>* p : {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB}) EXPECT_EQ((*p)(1, 1), 4000);
}

// Where the editor's save dialog opens: on DestFileName less its extension,
// which the dialog shows in the folder of list image 1 when its own folder
// cannot be written.
TEST_F(EditorResult, SaveDialogOpensWhereItCanWrite) {
  qvtest::TempDir dir;
  const std::string images = dir.File("ciel") + "/", writable = dir.File("sorties") + "/";
  std::filesystem::create_directories(writable);
  std::filesystem::create_directories(images);
  qvtest::OneImage(s, images + "frame001.fts");
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      // OutDir, DestFileName, the name proposed, where the dialog opens
      {writable, writable + "frame_1.bmp", writable + "frame_1", writable + "frame_1"},
      {"", "/frame_1.bmp", "/frame_1", images + "frame_1"},  // no output folder: not the root
      {"/usr/bin", "/sans/dossier/frame_2.bmp", "/sans/dossier/frame_2", images + "frame_2"},
      {writable, writable + "absent/frame_3.bmp", writable + "absent/frame_3", images + "frame_3"},
  };
  for (const auto& [outDir, destFileName, proposed, opens] : cases) {
    s.opt.OutDir = outDir;
    s.dest.DestFileName = destFileName;
    const FileDialogRequest request = EditorSaveDialog(s).Request();
    EXPECT_EQ(std::pair(request.initialFile, SaveDialogStart(request)), std::pair(proposed, opens)) << destFileName;
  }
  // Nowhere better to go: the proposed name stays.
  FileDialogRequest request = EditorSaveDialog(s).Request();
  request.writableFolder = "/sans/dossier/";
  EXPECT_EQ(SaveDialogStart(request), request.initialFile);
}

// The tool builds the settings itself and calls the engine; the window
// translates its controls. Option after option, both give the same picture;
// the tool's geometry is checked on its own, and bad options are refused.
TEST_F(EditorResult, TheToolRendersAsTheWindowDoes) {
  qvtest::TempDir dir;
  const std::string in = dir.File("in.fts");
  const auto value = [](int k, int p) { return 1500 + 200 * p + (k * 37) % 400 + (k % 97 == 0) * 20000; };
  WriteResult(in, 40, 30, value);
  const auto r = qvtest::Cli(dir, "render '" + in + "' --bin 2 --rotate90 1 --out '" + dir.File("turned.fts") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"width\":15,\"height\":20"), std::string::npos) << r.out;
  ASSERT_TRUE(LoadResult(s, dir.File("turned.fts")));
  // Binned 2 x 2 (the mean of a block), then turned: the old bottom-left
  // block (rows 28 and 29, columns 0 and 1) is on top.
  EXPECT_EQ(s.dest.DestSumR(0, 0),
            RoundHalfEven((value(1120, 0) + value(1121, 0) + value(1160, 0) + value(1161, 0)) / 4.0));
  // A picture tells the size it was written at.
  const auto zoomed = qvtest::Cli(dir, "render '" + in + "' --zoom 50 --out '" + dir.File("z.bmp") + "'");
  EXPECT_NE(zoomed.out.find("\"width\":20,\"height\":15"), std::string::npos) << zoomed.out << zoomed.err;
  for (const char* bad : {"--detail 1,2", "--bin 4", "--auto 1"})
    EXPECT_EQ(qvtest::Cli(dir, "render '" + in + "' --out x.fts " + bad).status, 2) << bad;

  struct Case {
    std::string options, ext;
    std::function<void(Form3&)> steps;
  };
  const Case cases[] = {
      {"--bin 2 --auto", "bmp", [](Form3& g) { g.bin(2), g.AutoStretch(); }},
      // Measured before the binning, then reset by it.
      {"--auto --bin 2", "bmp", [](Form3& g) { g.AutoStretch(), g.bin(2); }},
      {"--auto --levels g:0:9000 --hide-max --fill --mirror --zoom 50", "jpg",
       [](Form3& g) {
         g.AutoStretch(), g.Text1[1] = "0", g.Text2[1] = "9000", g.Check5 = g.Check6 = g.Check4 = 1, g.Combo1 = "50";
       }},
      {"--rotate90 1 --zoom 50 --balance 10,7 --detail 3,0,-2 --mode echelle --curve 0.3", "bmp",
       [](Form3& g) {
         int16_t left = 1;
         g.Rotate90(), g.Combo1 = "50", g.BalWhite(10, 7, left);
         g.HScroll1 = 3, g.HScroll3 = -2, g.Check3 = 1, g.Option1 = 2, g.SetHisCurv(0.3 * 255);
       }},
  };
  for (const Case& k : cases) {
    const std::string out = dir.File("out." + k.ext), expected = dir.File("expected." + k.ext);
    const auto run = qvtest::Cli(dir, "render '" + in + "' " + k.options + " --out '" + out + "'");
    ASSERT_EQ(run.status, 0) << k.options << ": " << run.err;
    TestSession session;
    ASSERT_TRUE(LoadResult(*session, in));
    Form2 d;
    Form3 g(*session, d);
    g.Form_Load();
    g.Combo1 = "100";
    k.steps(g);
    g.draw();
    if (k.ext == "jpg")
      ASSERT_TRUE(SaveJpeg(d.Shown(false, 1), expected));
    else
      qvtest::WriteBytes(expected, BuildBmpFile(d.Shown(false, 1)));
    EXPECT_EQ(qvtest::ReadBytes(out), qvtest::ReadBytes(expected)) << k.options;
  }
}
