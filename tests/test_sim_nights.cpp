// Nights with a frame seen through bad seeing and frames crossed by a
// satellite: what truth.json says of them is what their frames show, and
// the other frames stay as a night without them draws them.
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

// A star's light above the sky (the median of a ring around it) and its
// FWHM from that light's second moments: 2 sigma^2 for a round Gaussian.
std::pair<double, double> FluxAndFwhm(const qvtest::FitsImage& img, double x, double y) {
  const long cx = std::lround(x), cy = std::lround(y);
  std::vector<int> ring;
  for (long v = cy - 16; v <= cy + 16; ++v)
    for (long u = cx - 16; u <= cx + 16; ++u)
      if (const double r = std::hypot(u - cx, v - cy); r >= 12 && r <= 16) ring.push_back(img(u, v));
  std::nth_element(ring.begin(), ring.begin() + static_cast<long>(ring.size() / 2), ring.end());
  double sum = 0, second = 0;
  for (long v = cy - 8; v <= cy + 8; ++v)
    for (long u = cx - 8; u <= cx + 8; ++u) {
      const double light = img(u, v) - ring[ring.size() / 2];
      sum += light;
      second += light * ((u - x) * (u - x) + (v - y) * (v - y));
    }
  return {sum, 2 * std::sqrt(2 * std::log(2.0)) * std::sqrt(second / sum / 2)};
}

TEST(SimulatedNight, BadSeeingWidensTheStarsOfItsFrameOnlyAndKeepsTheirLight) {
  qvtest::TempDir dir;
  const std::string sky = " --frames 4 --width 640 --height 480 --stars 60 --seed 11";
  ASSERT_EQ(qvtest::Cli(dir, "simulate --out '" + dir.File("plain") + "'" + sky).status, 0);
  ASSERT_EQ(qvtest::Cli(dir, "simulate --out '" + dir.File("bad") + "'" + sky + " --seeing 3:5").status, 0);
  const Truth t = qvtest::ReadTruth(dir.File("bad/truth.json"));
  ASSERT_EQ(t.frames.size(), 4u);
  EXPECT_NEAR(t.fwhm, 3.5322, 1e-4);
  // Bright stars with no other within 24 pixels, away from the edges.
  std::vector<size_t> lone;
  for (size_t k = 0; k < t.stars.size(); ++k) {
    const Truth::Star& s = t.stars[k];
    bool alone = s.peak > 8000 && s.x > 30 && s.y > 30 && s.x < 610 && s.y < 450;
    for (const Truth::Star& o : t.stars) alone = alone && (&o == &s || std::hypot(o.x - s.x, o.y - s.y) > 24);
    if (alone) lone.push_back(k);
  }
  ASSERT_GE(lone.size(), 3u);
  std::vector<double> light;
  for (int k = 1; k <= 4; ++k) {
    const Truth::Frame& f = t.frames[static_cast<size_t>(k - 1)];
    EXPECT_EQ(f.fwhm, k == 3 ? 5 : t.fwhm) << "frame " << k;  // every frame tells its own
    EXPECT_EQ(qvtest::ReadBytes(Frame(dir, "plain", k)) == qvtest::ReadBytes(Frame(dir, "bad", k)), k != 3) << k;
    const qvtest::FitsImage img = qvtest::ReadFitsImage(Frame(dir, "bad", k));
    double fwhm = 0;
    for (size_t s = 0; s < lone.size(); ++s) {
      double x, y;
      f.Place(t.stars[lone[s]].x, t.stars[lone[s]].y, x, y);
      const auto [flux, width] = FluxAndFwhm(img, x, y);
      fwhm += width / static_cast<double>(lone.size());
      if (k == 1) light.push_back(flux);  // seeing spreads a star's light, takes none away
      EXPECT_NEAR(flux / light[s], 1.0, 0.05) << "frame " << k << ", star " << lone[s];
    }
    EXPECT_NEAR(fwhm, f.fwhm, 0.3) << "frame " << k;
  }
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

// A trail in one frame of twelve: the plain average keeps its light, both
// rules take it out, and everything else is the same night.
TEST(SimulatedNight, OneTrailLeavesTheStackWithEitherRule) {
  qvtest::TempDir dir;
  const std::string sky = " --frames 12 --width 320 --height 240 --stars 60 --dither 8 --seed 6";
  ASSERT_EQ(qvtest::Cli(dir, "simulate --out '" + dir.File("clean") + "'" + sky).status, 0);
  ASSERT_EQ(qvtest::Cli(dir, "simulate --out '" + dir.File("trail") + "'" + sky + " --trail 5").status, 0);
  const std::string tmp = "TMPDIR='" + dir.path().string() + "' ";
  auto kept = [&](const std::string& mode) {
    std::vector<qvtest::FitsImage> stacks;
    for (const std::string night : {"clean", "trail"}) {
      const std::string out = dir.File(night + "-" + mode + ".fts");
      const qvtest::CliResult r = qvtest::Cli(
          dir, "stack '" + dir.File(night) + "/project.txt' --guide auto --reject " + mode + " --out '" + out + "'",
          tmp);
      EXPECT_EQ(r.status, 0) << r.err;
      stacks.push_back(qvtest::ReadFitsImage(out));
    }
    double light = 0;
    if (stacks[0].w != stacks[1].w || stacks[0].h != stacks[1].h) return -1.0;
    for (long y = 0; y < stacks[0].h; ++y)
      for (long x = 0; x < stacks[0].w; ++x) light += stacks[1](x, y) - stacks[0](x, y);
    return light;
  };
  const double plain = kept("aucun");
  // 3000 ADU at the peak (the default) of a line over 240 pixels long, a
  // twelfth of it in the mean: here 110,000 ADU in all.
  EXPECT_GT(plain, 60000);
  for (const std::string mode : {"sigma", "winsor"}) EXPECT_LT(std::fabs(kept(mode)), 0.05 * plain) << mode;
}

}  // namespace
