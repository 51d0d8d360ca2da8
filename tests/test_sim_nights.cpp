// Nights with frames crossed by a satellite: what truth.json says of the
// trails is what their frames show, and the other frames stay as a night
// without them draws them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

namespace {

using qvtest::Truth;

std::string Frame(const qvtest::TempDir& dir, const std::string& night, int k) {
  char name[24];
  std::snprintf(name, sizeof name, "/frame%03d.fts", k);
  return dir.File(night) + name;
}

// The light on a trail's line above the light 5 to 8 pixels beside it, along
// its middle and away from the guide star, the night's only star: the
// trail's peak (a quarter of a pixel off its axis keeps 97 % of it), or
// nothing. The sky's gradient is the same on both sides, so it cancels.
double LineExcess(const qvtest::FitsImage& img, const Truth::Frame& f, const Truth::Trail& l) {
  const double len = std::hypot(l.x2 - l.x1, l.y2 - l.y1), ux = (l.x2 - l.x1) / len, uy = (l.y2 - l.y1) / len;
  double sum[2] = {0, 0}, n[2] = {0, 0};
  for (long y = 0; y < img.h; ++y)
    for (long x = 0; x < img.w; ++x) {
      const double along = (x - l.x1) * ux + (y - l.y1) * uy, across = std::fabs((x - l.x1) * uy - (y - l.y1) * ux);
      const bool on = across <= 0.25, beside = across >= 5 && across <= 8;
      if ((on || beside) && along > 0.05 * len && along < 0.95 * len && std::hypot(x - f.guideX, y - f.guideY) > 12) {
        sum[on] += img(x, y);
        ++n[on];
      }
    }
  return sum[1] / n[1] - sum[0] / n[0];
}

TEST(SimulatedNight, ASatellitesTrailCrossesTheSameSkyInEveryFrameThatHasIt) {
  qvtest::TempDir dir;
  const std::string sky = " --frames 9 --width 480 --height 360 --stars 0 --dither 12 --dither-angle 1 --seed 5";
  ASSERT_EQ(qvtest::Cli(dir, "simulate --out '" + dir.File("plain") + "'" + sky).status, 0);
  ASSERT_EQ(qvtest::Cli(dir, "simulate --out '" + dir.File("sky") + "'" + sky + " --trail 3 --trail 5:1 --trail 9:2" +
                                 " --trail-flux 2500")
                .status,
            0);
  const Truth t = qvtest::ReadTruth(dir.File("sky/truth.json"));
  ASSERT_EQ(t.frames.size(), 9u);
  // A frame's point on frame 1's sky; the first satellite's trails lie on
  // frame 3's line, the second's elsewhere.
  auto toSky = [](const Truth::Frame& f, double x, double y, double& sx, double& sy) {
    const double a = f.angle * M_PI / 180, u = x - f.centreX - f.dx, v = y - f.centreY - f.dy;
    sx = std::cos(a) * u + std::sin(a) * v + f.centreX;
    sy = -std::sin(a) * u + std::cos(a) * v + f.centreY;
  };
  ASSERT_TRUE(t.frames[2].trail);
  double ax, ay, bx, by;
  toSky(t.frames[2], t.frames[2].trail->x1, t.frames[2].trail->y1, ax, ay);
  toSky(t.frames[2], t.frames[2].trail->x2, t.frames[2].trail->y2, bx, by);
  for (int k = 1; k <= 9; ++k) {
    const Truth::Frame& f = t.frames[static_cast<size_t>(k - 1)];
    const bool trailed = k == 3 || k == 5 || k == 9;
    ASSERT_EQ(f.trail.has_value(), trailed) << "frame " << k;
    EXPECT_EQ(qvtest::ReadBytes(Frame(dir, "plain", k)) == qvtest::ReadBytes(Frame(dir, "sky", k)), !trailed) << k;
    const qvtest::FitsImage img = qvtest::ReadFitsImage(Frame(dir, "sky", k));
    // Where a neighbour's trail lies, a frame without one shows only sky.
    EXPECT_NEAR(LineExcess(img, f, trailed ? *f.trail : *t.frames[2].trail), trailed ? 2500 : 0, 200) << k;
    if (!trailed) continue;
    EXPECT_EQ(f.trail->flux, 2500);
    for (const auto& [x, y] : {std::pair{f.trail->x1, f.trail->y1}, std::pair{f.trail->x2, f.trail->y2}}) {
      EXPECT_TRUE(std::min({std::fabs(x), std::fabs(y), std::fabs(x - 479), std::fabs(y - 359)}) < 1e-9) << k;
      double sx, sy;
      toSky(f, x, y, sx, sy);
      const double off = ((sx - ax) * (by - ay) - (sy - ay) * (bx - ax)) / std::hypot(bx - ax, by - ay);
      if (k == 9)
        EXPECT_GT(std::fabs(off), 5) << k;
      else
        EXPECT_NEAR(off, 0, 1e-6) << k;
    }
  }
}

}  // namespace
