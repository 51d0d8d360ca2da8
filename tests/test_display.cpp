// Rendering of planes to packed pixels, the view's stretch, overlays,
// display levels, the histogram box and the scroll-bar layout.
#include <gtest/gtest.h>

#include <algorithm>

#include "display/histogram.h"
#include "display/overlays.h"
#include "display/render.h"
#include "display/zones.h"
#include "support.h"
#include "workspace/show_histo.h"

namespace {

using qv::Plane;

Plane<int32_t> Flat(int w, int h, int32_t v) {
  Plane<int32_t> p(w - 1, h - 1);
  p.Fill(v);
  return p;
}

int32_t Grey(int v) { return qv::PackRgb(v, v, v); }

// One pixel drawn. The levels map data linearly onto 0..255 with halves to
// even and clamp at both ends; equal or reversed levels give the gain
// white - black itself. Grey averages the scaled channels.
TEST(DrawImageOnePixel, LevelsRoundAndClampAndGreyAveragesTheChannels) {
  struct Case {
    double black, white;
    int32_t r, g, b;
    bool mono;
    int32_t shown;
  } cases[] = {
      // 255 / 510 = 0.5 per level: halves go to even.
      {1000, 1510, 1001, 1001, 1001, false, Grey(0)},
      {1000, 1510, 1003, 1003, 1003, false, Grey(2)},
      {1000, 1510, 1005, 1005, 1005, false, Grey(2)},
      {1000, 1510, 500, 500, 500, false, Grey(0)},
      {1000, 1510, 9000, 9000, 9000, false, Grey(255)},
      // Equal levels give black.
      {2000, 2000, 0, 0, 0, false, Grey(0)},
      {2000, 2000, 65535, 65535, 65535, false, Grey(0)},
      // White below black: gain -1000, only pixels below black show.
      {3000, 2000, 2900, 2900, 2900, false, Grey(255)},
      {3000, 2000, 3000, 3000, 3000, false, Grey(0)},
      {3000, 2000, 5000, 5000, 5000, false, Grey(0)},
      {30000.1, 29900.1, 30000, 30000, 30000, false, Grey(10)},  // 0.1 below black times -100
      // 255 / 1e-320 is infinite; 0 x infinity is not a number and shows black.
      {0, 1e-320, 0, 0, 0, false, Grey(0)},
      {0, 1e-320, 1, 1, 1, false, Grey(255)},
      {0, 1e-320, 0, 0, 0, true, Grey(0)},
      // Gain 1 (255 levels over 255): r 30, g 60, b 90 -> 59.9999994 -> 60.
      // The grey is clamped after averaging, not per channel: 400 + 0 + 0 ->
      // 133; a grey above 255 is clamped, not wrapped into the low byte.
      {0, 255, 30, 60, 90, true, Grey(60)},
      {0, 255, 30, 60, 90, false, qv::PackRgb(30, 60, 90)},
      {0, 255, 400, 0, 0, true, Grey(133)},
      {0, 255, 400, 400, 400, true, Grey(255)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(qv::DrawImage(Flat(1, 1, c.r), Flat(1, 1, c.g), Flat(1, 1, c.b), c.black, c.white, 1, c.mono)(0, 0),
              c.shown)
        << c.black << " " << c.white << " " << c.r << " " << c.g << " " << c.mono;
}

// The view's size: aspect, zoom and rounding; then what it shows of the
// array: rows and columns dropped or repeated, never blended.
TEST(ShowPixels, GeometryAndStretch) {
  const struct {
    int w, h;
    bool aspect;
    double ratio;
    int zoom, dw, dh;
  } cases[] = {
      {100, 50, false, 1.28, 0, 100, 50},
      {100, 50, true, 1.28, 0, 128, 50},
      {100, 50, true, 1.28, 50, 64, 25},
      {5, 7, false, 1, 50, 2, 4},  // 5 x 0.5 = 2.5 -> 2 and 7 x 0.5 = 3.5 -> 4: halves go to even
      // The zoom applies to the aspect-corrected width (12.5 -> 12), the height to h alone.
      {10, 10, true, 1.25, 200, 24, 20},
      {10, 10, false, 1, -5, 10, 10},
  };
  for (const auto& c : cases) {
    const auto g = qv::ShowPixelsGeometry(c.w, c.h, c.aspect, c.ratio, c.zoom, false);
    EXPECT_EQ(std::pair(g.dw, g.dh), std::pair(c.dw, c.dh)) << c.w << " x " << c.h << " at " << c.zoom;
  }

  Plane<int32_t> src(3, 1);  // 4 x 2
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) src(x, y) = 10 * y + x;
  // Half size keeps the first of each pair of columns.
  const Plane<int32_t> half = qv::ShowPixels(src, qv::ShowPixelsGeometry(4, 2, false, 1, 50, false));
  ASSERT_TRUE(half.HasSize(2, 1));
  EXPECT_EQ(std::pair(half(0, 0), half(1, 0)), std::pair(0, 2));
  // Double size repeats each pixel.
  const Plane<int32_t> twice = qv::ShowPixels(src, qv::ShowPixelsGeometry(4, 2, false, 1, 200, false));
  ASSERT_TRUE(twice.HasSize(8, 4));
  const int32_t row3[8] = {10, 10, 11, 11, 12, 12, 13, 13};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(twice(x, 3), row3[x]);
  // Mirror puts the last column at the left.
  const Plane<int32_t> m = qv::ShowPixels(src, qv::ShowPixelsGeometry(4, 2, false, 1, 0, true));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(m(x, 1), 10 + 3 - x);
  // Aspect stretch 1.28 of 4 columns: 5 displayed, one source column twice.
  const Plane<int32_t> a = qv::ShowPixels(src, qv::ShowPixelsGeometry(4, 2, true, 1.28, 0, false));
  ASSERT_EQ(a.Width(), 5);
  EXPECT_EQ(std::pair(a(0, 0), a(4, 0)), std::pair(0, 3));
  // A degenerate geometry or one larger than the array shows nothing.
  EXPECT_TRUE(qv::ShowPixels(src, qv::ShowPixelsGeometry(5, 2, false, 1, 0, false)).Empty());
  EXPECT_TRUE(qv::ShowPixels(src, qv::ShowPixelsGeometry(4, 2, false, 1, 1, false)).Empty());  // 0.04 -> 0
}

TEST(DrawZonesDisplay, HatchAndMarks) {
  Plane<int32_t> s(49, 49);
  ASSERT_TRUE(qv::DrawZones(s, "0.2,0.2;0.8,0.2;0.8,0.8;0.2,0.8", false));
  // Corners (10, 10) ... (40, 40): circles of radius 3 in red around them.
  // Inside: grid lines every 8 pixels carry the hatch, the rest is
  // untouched. Outside stays clear.
  using Point = std::tuple<int, int, int32_t>;
  for (const auto& [x, y, colour] :
       {Point{7, 10, qv::kMarkRed}, Point{10, 7, qv::kMarkRed}, Point{43, 40, qv::kMarkRed},
        Point{24, 20, qv::kZoneHatch}, Point{20, 24, qv::kZoneHatch}, Point{21, 21, 0}, Point{5, 24, 0},
        Point{45, 16, 0}})
    EXPECT_EQ(s(x, y), colour) << x << "," << y;
  // An overflowing coordinate draws nothing and reports it.
  Plane<int32_t> t(9, 9);
  EXPECT_FALSE(qv::DrawZones(t, "1e300,0;0.5,0.5;0,1", false));
  EXPECT_EQ(t, Plane<int32_t>(9, 9));
}

TEST(GradientGrid, CrossesOnCellsWithSamples) {
  Plane<uint8_t> grid(3, 2);  // 4 x 3 points
  grid(1, 1) = 1;
  grid(3, 2) = 1;
  // Picture 301 x 201: sx = 300 / 2 = 150, sy = 200 / 1 = 200, arm 50.
  const auto segs = qv::DrawGradientGrid(grid, true, 301, 201);
  ASSERT_EQ(segs.size(), 4u);
  EXPECT_EQ(std::tuple(segs[0].x1, segs[0].x2, segs[0].y1, segs[0].colour),
            std::tuple(100.0, 200.0, 200.0, qv::kMarkRed));
  EXPECT_EQ(std::tuple(segs[1].y1, segs[1].y2, segs[1].colour), std::tuple(150.0, 250.0, qv::kMarkBlue));
  EXPECT_TRUE(qv::DrawGradientGrid(grid, false, 301, 201).empty());
  Plane<uint8_t> thin(3, 1);  // only two rows of points
  thin.Fill(1);
  EXPECT_TRUE(qv::DrawGradientGrid(thin, true, 301, 201).empty());

  Plane<int32_t> surface(300, 200);
  qv::DrawSegments(surface, segs);
  // The horizontal arm of (150, 200); the vertical arm, cut at the bottom.
  EXPECT_EQ(std::tuple(surface(120, 200), surface(150, 170), surface(150, 200), surface(150, 149)),
            std::tuple(qv::kMarkRed, qv::kMarkBlue, qv::kMarkBlue, 0));
}

TEST(HistoLevels, SliderMovesBetweenTheStatistics) {
  std::string t1 = "x", t2 = "y";
  const auto loc = qv::NumLocale::Comma();
  auto l = qv::ShowHistoLevels(10, 2000, 100, 600, 0, true, t1, t2, loc);
  EXPECT_EQ(std::pair(l.black, l.white), std::pair(3200.0, 19200.0));
  l = qv::ShowHistoLevels(10, 2000, 100, 600, 10, true, t1, t2, loc);
  EXPECT_EQ(std::tuple(l.black, l.white, t1), std::tuple(2480.0, 30400.0, "2480"));
  l = qv::ShowHistoLevels(10, 2000, 100, 600, 20, true, t1, t2, loc);
  EXPECT_EQ(std::tuple(l.black, l.white, l.markBlack, l.markWhite), std::tuple(320.0, 64000.0, 10.0, 2000.0));
  l = qv::ShowHistoLevels(10, 2001, 100, 600, 10, true, t1, t2, loc);
  EXPECT_EQ(t2, "30408");
  l = qv::ShowHistoLevels(10.5, 2000, 100.5, 600, 0, true, t1, t2, loc);
  EXPECT_EQ(t1, "3216");
  l = qv::ShowHistoLevels(0, 0, 0.015625, 0, 0, true, t1, t2, loc);
  EXPECT_EQ(t1, "0,5");  // the user's decimal comma

  // Typed levels replace the computed ones.
  t1 = "1 234,5", t2 = "40000";
  l = qv::ShowHistoLevels(10, 2000, 100, 600, 0, false, t1, t2, qv::NumLocale::Comma());
  // The marks still show the computed levels.
  EXPECT_EQ(std::tuple(l.black, l.white, l.markBlack, t1), std::tuple(1234.5, 40000.0, 100.0, "1 234,5"));
  // A text that is not a number keeps the computed level for that field only.
  t1 = "abc";
  l = qv::ShowHistoLevels(10, 2000, 100, 600, 0, false, t1, t2, qv::NumLocale::Comma());
  EXPECT_EQ(std::pair(l.black, l.white), std::pair(3200.0, 40000.0));
}

// A new zone point is drawn at once: the image at the levels the boxes hold
// ("Auto" or not), the zones over it whatever the menu says. ShowHisto
// keeps its picture for the next image: shown again over another image,
// with or without the pixel aspect, it holds what a fresh picture would,
// never pixels of the image before.
TEST(ShowHistoMainPicture, ZonesPictureUsesTheTypedLevelsAndAKeptPictureShowsTheNextImage) {
  qvtest::TestSession s;
  EXPECT_TRUE(qv::ZonesPicture(s.form1, 1, {}).Empty());  // no image
  qvtest::SetPicture(*s, 9, 5, [](int, int x, int) { return x * 1000; });
  // One image in the list, its levels 0 .. 8000 (bin 250), the slider at 0.
  qvtest::OneImage(*s, "a.fts");
  s->pic.Histo[31] = 1;
  s->pic.HistoMax = 1;
  s->pic.LevelMin = s->pic.LevelLow = 0;
  s->pic.LevelMax = s->pic.LevelHigh = 250;  // 8000 / 32
  s.form1.HScroll1 = 0;
  s.form1.Text1 = "2000";
  s.form1.Text2 = "4000";
  qv::Plane<int32_t> shown = qv::ZonesPicture(s.form1, 1, {});
  ASSERT_TRUE(shown.HasSize(9, 5));
  // 1000 x 255 / 2000 = 127.5 at x = 3.
  EXPECT_EQ(std::tuple(shown(1, 0), shown(3, 0), shown(8, 0)), std::tuple(Grey(0), Grey(128), Grey(255)));
  // A box without a number: the picture on the screen stays, the zones go
  // over it.
  s.form1.Text2 = "blanc";
  s->Img[1].ImgZone = " .5, .5;";
  qv::Plane<int32_t> over = shown;  // (6, y) would be 170 drawn again
  ASSERT_TRUE(qv::DrawZones(over, s->Img[1].ImgZone, false));
  EXPECT_EQ(qv::ZonesPicture(s.form1, 1, shown), over);
  EXPECT_TRUE(qv::ZonesPicture(s.form1, 1, {}).Empty());
  s.form1.Text2 = "4000";

  // At zoom 2 the picture halves, the zone mark with it.
  shown = qv::ZonesPicture(s.form1, 2, {});
  ASSERT_TRUE(shown.HasSize(5, 3));
  EXPECT_NE(std::find(shown.Row(0), shown.Row(0) + shown.Size(), qv::kMarkRed), shown.Row(0) + shown.Size());

  s->Img[1].ImgZone.clear();
  s.form1.Check3 = 1;
  qv::MainPicture kept;
  for (bool aspect : {false, true, false}) {
    s->opt.UseMask = aspect ? (s->opt.UseMask | qv::PixAspect) : (s->opt.UseMask & ~qv::PixAspect);
    s->opt.PixRatio = 1.5;
    for (int shift : {0, 3000}) {
      qvtest::SetPicture(*s, 9, 5, [&](int, int x, int y) { return x * 800 + y * 100 + shift; });
      qv::LevelTexts keptTexts, freshTexts;
      qv::ShowHisto(s.form1, keptTexts, 1, false, false, kept);
      qv::MainPicture fresh;
      qv::ShowHisto(s.form1, freshTexts, 1, false, false, fresh);
      ASSERT_TRUE(kept.drawn);
      EXPECT_EQ(kept.shown, fresh.shown) << aspect << " " << shift;
      EXPECT_EQ(kept.shown.Width(), aspect ? 14 : 9);          // 9 x 1.5 = 13.5, to even
      EXPECT_EQ(kept.shown(0, 0), Grey(shift == 0 ? 0 : 96));  // 3000 x 255 / 8000 = 95.6
    }
  }
  // No image: nothing is drawn, and the picture says so.
  s->pic.HistoMax = 0;
  qv::LevelTexts texts;
  qv::ShowHisto(s.form1, texts, 1, false, false, kept);
  EXPECT_FALSE(kept.drawn);
}

// A picture large enough to be drawn through the tables of the working
// scale gives, pixel for pixel, the bytes of the arithmetic a one-pixel
// picture is drawn with, values outside 0..65535 included, in colour and
// in grey, for colour frames and for a grey camera's frame (where most
// pixels, not all, hold one value in the three planes).
TEST(DrawImageLarge, TableGivesTheArithmeticsBytes) {
  const int w = 517, h = 257;  // above the size that takes the table, runs of 256 and a tail
  Plane<int32_t> r(w - 1, h - 1), g(w - 1, h - 1), b(w - 1, h - 1);
  uint32_t seed = 11;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int32_t>(seed >> 14) - 20000;  // about -20000 .. 242000
  };
  for (size_t k = 0; k < r.Size(); ++k) {
    r.Data()[k] = next();
    g.Data()[k] = next() % 70000;
    b.Data()[k] = static_cast<int32_t>(k % 65540) - 2;
  }
  r(5, 5) = 0;  // at black 0 with an infinite gain: 0 x inf, a NaN, shows black
  // A grey camera's frame, but for a few pixels of every third row.
  Plane<int32_t> gg = r, bb = r;
  for (int y = 1; y < h; y += 3) (y % 2 ? gg : bb)(300 + y % 5, y) = g(300, y);
  const struct {
    double black, white;
  } levels[] = {{1000, 3000}, {3000, 1000}, {500.25, 500.25}, {-7, 66000.5}, {0, 1e-320}};
  for (int kind = 0; kind < 4; ++kind)
    for (const auto& l : levels)
      for (int step : {1, 2}) {
        const bool mono = kind % 2 == 1, greyFrame = kind >= 2;
        const Plane<int32_t>& g2 = greyFrame ? gg : g;
        const Plane<int32_t>& b2 = greyFrame ? bb : b;
        Plane<int32_t> px;
        qv::DrawImage(r, g2, b2, l.black, l.white, step, mono, px);
        ASSERT_TRUE(px.HasSize((w - 1) / step + 1, (h - 1) / step + 1));
        int differing = 0;
        for (int y = 0; y < px.Height(); ++y)
          for (int x = 0; x < px.Width(); ++x) {
            const int sx = x * step, sy = y * step;
            const Plane<int32_t> one = qv::DrawImage(Flat(1, 1, r(sx, sy)), Flat(1, 1, g2(sx, sy)),
                                                     Flat(1, 1, b2(sx, sy)), l.black, l.white, 1, mono);
            differing += px(x, y) != one(0, 0);
          }
        EXPECT_EQ(differing, 0) << l.black << " " << l.white << " step " << step << " kind " << kind;
        // Planes known to be alike are drawn as if they had been compared.
        Plane<int32_t> known, compared;
        qv::DrawImage(r, r, r, l.black, l.white, step, mono, known, true);
        qv::DrawImage(r, r, r, l.black, l.white, step, mono, compared);
        EXPECT_TRUE(known == compared) << l.black << " " << l.white << " step " << step << " kind " << kind;
      }
  // Other steps (0 counts as 1); empty or mismatched planes give nothing.
  EXPECT_TRUE(qv::DrawImage(r, g, b, 0, 1, 8, false).HasSize(65, 33));
  EXPECT_EQ(qv::DrawImage(r, g, b, 0, 1, 0, false).Width(), w);
  const Plane<int32_t> empty, small = Flat(1, 1, 0);
  EXPECT_TRUE(qv::DrawImage(empty, empty, empty, 0, 1, 1, false).Empty());
  EXPECT_TRUE(qv::DrawImage(r, small, b, 0, 1, 1, false).Empty());
}

}  // namespace
