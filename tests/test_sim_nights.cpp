// Nights with a frame seen through bad seeing and frames crossed by a
// satellite: what truth.json says of them is what their frames show.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support.h"

namespace {

using qvtest::Cli;
using qvtest::CliResult;
using qvtest::TempDir;
using qvtest::Truth;

std::string Q(const std::string& s) { return "'" + s + "'"; }
bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

std::string Frame(const TempDir& dir, const std::string& night, int k) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame%03d.fts", k);
  return dir.File(night) + name;
}

struct Measure {
  double fwhm, flux;
};

// A star's light above the sky and its FWHM from the second moments of
// that light, the sky taken as the median of a ring around the star.
Measure MeasureStar(const qvtest::FitsImage& img, double x, double y) {
  const long cx = std::lround(x), cy = std::lround(y);
  std::vector<int> ring;
  for (long v = cy - 16; v <= cy + 16; ++v)
    for (long u = cx - 16; u <= cx + 16; ++u)
      if (const double r = std::hypot(u - cx, v - cy); r >= 12 && r <= 16) ring.push_back(img(u, v));
  std::nth_element(ring.begin(), ring.begin() + static_cast<long>(ring.size() / 2), ring.end());
  const double sky = ring[ring.size() / 2];
  double sum = 0, second = 0;
  for (long v = cy - 8; v <= cy + 8; ++v)
    for (long u = cx - 8; u <= cx + 8; ++u) {
      const double light = img(u, v) - sky;
      sum += light;
      second += light * ((u - x) * (u - x) + (v - y) * (v - y));
    }
  // A round Gaussian holds 2 sigma^2 of second moment; FWHM = 2.3548 sigma.
  return {2 * std::sqrt(2 * std::log(2.0)) * std::sqrt(second / sum / 2), sum};
}

// Bright stars with no other star within 24 pixels and far from the edges
// of the frame: the light around them is theirs and the sky's alone.
std::vector<size_t> LoneBrightStars(const Truth& t, const Truth::Frame& f, int w, int h) {
  std::vector<size_t> lone;
  for (size_t k = 0; k < t.stars.size(); ++k) {
    double x, y;
    f.Place(t.stars[k].x, t.stars[k].y, x, y);
    if (t.stars[k].peak < 8000 || x < 24 || y < 24 || x > w - 25 || y > h - 25) continue;
    bool alone = true;
    for (size_t j = 0; j < t.stars.size() && alone; ++j)
      alone = j == k || std::hypot(t.stars[j].x - t.stars[k].x, t.stars[j].y - t.stars[k].y) > 24;
    if (alone) lone.push_back(k);
  }
  return lone;
}

// How far a point is from the line through a trail's ends, and where along
// the trail it falls.
void AlongAndAcross(const Truth::Trail& l, double x, double y, double& along, double& across) {
  const double len = std::hypot(l.x2 - l.x1, l.y2 - l.y1);
  const double ux = (l.x2 - l.x1) / len, uy = (l.y2 - l.y1) / len;
  along = (x - l.x1) * ux + (y - l.y1) * uy;
  across = (x - l.x1) * uy - (y - l.y1) * ux;
}

// The light on the line above the light 5 to 8 pixels beside it, along the
// middle of the line and away from every star of the frame: a trail's peak
// where there is one (a quarter of a pixel from its axis it keeps 97 % of
// it), nothing where there is none. The sky's gradient is the same on both
// sides, so it cancels.
double LineExcess(const qvtest::FitsImage& img, const Truth& t, const Truth::Frame& f, const Truth::Trail& l) {
  std::vector<std::pair<double, double>> stars;
  for (const Truth::Star& s : t.stars) {
    double x, y;
    f.Place(s.x, s.y, x, y);
    stars.emplace_back(x, y);
  }
  const double len = std::hypot(l.x2 - l.x1, l.y2 - l.y1);
  double on = 0, beside = 0;
  int nOn = 0, nBeside = 0;
  for (long y = 0; y < img.h; ++y)
    for (long x = 0; x < img.w; ++x) {
      double along, across;
      AlongAndAcross(l, static_cast<double>(x), static_cast<double>(y), along, across);
      across = std::fabs(across);
      if (along < 0.05 * len || along > 0.95 * len || (across > 0.25 && (across < 5 || across > 8))) continue;
      const bool nearStar = std::any_of(stars.begin(), stars.end(),
                                        [&](const auto& s) { return std::hypot(s.first - x, s.second - y) < 12; });
      if (nearStar) continue;
      if (across <= 0.25) {
        on += img(x, y);
        ++nOn;
      } else {
        beside += img(x, y);
        ++nBeside;
      }
    }
  EXPECT_GT(nOn, 20);
  return nOn && nBeside ? on / nOn - beside / nBeside : 0;
}

TEST(SimulatedNight, BadSeeingWidensTheStarsOfItsFrameOnlyAndKeepsTheirLight) {
  TempDir dir;
  const int w = 640, h = 480;
  const CliResult r = Cli(dir, "simulate --out " + Q(dir.File("sky")) + " --frames 4 --width 640 --height 480" +
                                   " --stars 60 --seed 11 --seeing 3:5");
  ASSERT_EQ(r.status, 0) << r.err;
  const Truth t = qvtest::ReadTruth(dir.File("sky/truth.json"));
  ASSERT_EQ(t.frames.size(), 4u);
  EXPECT_NEAR(t.fwhm, 1.5 * 2 * std::sqrt(2 * std::log(2.0)), 1e-9);
  // Every frame tells its FWHM, not only the one seen otherwise.
  const double expected[] = {t.fwhm, t.fwhm, 5, t.fwhm};
  const std::vector<size_t> lone = LoneBrightStars(t, t.frames[0], w, h);
  ASSERT_GE(lone.size(), 3u);
  std::vector<double> light(lone.size());
  for (int k = 1; k <= 4; ++k) {
    const Truth::Frame& f = t.frames[static_cast<size_t>(k - 1)];
    EXPECT_DOUBLE_EQ(f.fwhm, expected[k - 1]) << "frame " << k;
    const qvtest::FitsImage img = qvtest::ReadFitsImage(Frame(dir, "sky", k));
    double sum = 0;
    for (size_t s = 0; s < lone.size(); ++s) {
      double x, y;
      f.Place(t.stars[lone[s]].x, t.stars[lone[s]].y, x, y);
      const Measure m = MeasureStar(img, x, y);
      sum += m.fwhm;
      // Seeing spreads a star's light; it takes none away.
      if (k == 1)
        light[s] = m.flux;
      else
        EXPECT_NEAR(m.flux / light[s], 1.0, 0.05) << "frame " << k << ", star " << lone[s];
    }
    EXPECT_NEAR(sum / static_cast<double>(lone.size()), expected[k - 1], 0.3) << "frame " << k;
  }
}

TEST(SimulatedNight, SeeingAndTrailsLeaveTheOtherFramesAsTheyWere) {
  TempDir dir;
  const std::string sky = " --frames 4 --width 128 --height 96 --stars 20 --seed 6 --dither 5";
  const CliResult plain = Cli(dir, "simulate --out " + Q(dir.File("plain")) + sky + " --trail-flux 900");
  const CliResult bad = Cli(dir, "simulate --out " + Q(dir.File("bad")) + sky + " --seeing 3:6.5 --trail 2");
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(bad.status, 0) << bad.err;
  // A trail's flux alone draws nothing: the plain night records no FWHM.
  EXPECT_FALSE(Has(qvtest::ReadText(dir.File("plain/truth.json")), "fwhm"));
  for (int k = 1; k <= 4; ++k) {
    const bool changed = k == 2 || k == 3;
    EXPECT_EQ(qvtest::ReadBytes(Frame(dir, "plain", k)) == qvtest::ReadBytes(Frame(dir, "bad", k)), !changed)
        << "frame " << k;
  }
  const Truth t = qvtest::ReadTruth(dir.File("bad/truth.json"));
  ASSERT_EQ(t.frames.size(), 4u);
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(t.frames[k].trail.has_value(), k == 1) << "frame " << k + 1;
  EXPECT_DOUBLE_EQ(t.frames[2].fwhm, 6.5);
  EXPECT_DOUBLE_EQ(t.frames[0].fwhm, t.fwhm);
}

TEST(SimulatedNight, ATrailCrossesTheSameSkyInEveryFrameThatHasOne) {
  TempDir dir;
  const int w = 480, h = 360;
  const std::set<int> trailed = {3, 7, 12};
  const CliResult r = Cli(dir, "simulate --out " + Q(dir.File("sky")) + " --frames 12 --width 480 --height 360" +
                                   " --stars 60 --dither 12 --dither-angle 1 --seed 5 --trail 3 --trail 7" +
                                   " --trail 12 --trail-flux 2500");
  ASSERT_EQ(r.status, 0) << r.err;
  const Truth t = qvtest::ReadTruth(dir.File("sky/truth.json"));
  ASSERT_EQ(t.frames.size(), 12u);
  ASSERT_TRUE(t.frames[2].trail);
  // Frame 3's trail on frame 1's sky: the line every other trail lies on.
  auto toSky = [](const Truth::Frame& f, double x, double y, double& sx, double& sy) {
    const double a = -f.angle * M_PI / 180, ca = std::cos(a), sa = std::sin(a);
    const double u = x - f.centreX - f.dx, v = y - f.centreY - f.dy;
    sx = ca * u - sa * v + f.centreX;
    sy = sa * u + ca * v + f.centreY;
  };
  Truth::Trail sky = *t.frames[2].trail;
  toSky(t.frames[2], sky.x1, sky.y1, sky.x1, sky.y1);
  toSky(t.frames[2], sky.x2, sky.y2, sky.x2, sky.y2);

  for (int k = 1; k <= 12; ++k) {
    const Truth::Frame& f = t.frames[static_cast<size_t>(k - 1)];
    ASSERT_EQ(f.trail.has_value(), trailed.count(k) == 1) << "frame " << k;
    const qvtest::FitsImage img = qvtest::ReadFitsImage(Frame(dir, "sky", k));
    if (!f.trail) {
      // Where the trail of a neighbour lies, nothing but sky.
      if (k == 2 || k == 8) {
        EXPECT_NEAR(LineExcess(img, t, f, *t.frames[k == 2 ? 2 : 6].trail), 0, 60) << k;
      }
      continue;
    }
    const Truth::Trail& l = *f.trail;
    EXPECT_EQ(l.flux, 2500);
    // From one edge to the other.
    for (const auto& [x, y] : {std::pair{l.x1, l.y1}, std::pair{l.x2, l.y2}}) {
      const bool onEdge =
          std::fabs(x) < 1e-9 || std::fabs(y) < 1e-9 || std::fabs(x - (w - 1)) < 1e-9 || std::fabs(y - (h - 1)) < 1e-9;
      EXPECT_TRUE(onEdge) << "frame " << k << ": " << x << "," << y;
    }
    EXPECT_GT(std::hypot(l.x2 - l.x1, l.y2 - l.y1), h / 4.0) << "frame " << k;
    for (const auto& [x, y] : {std::pair{l.x1, l.y1}, std::pair{l.x2, l.y2}}) {
      double sx, sy, along, across;
      toSky(f, x, y, sx, sy);
      AlongAndAcross(sky, sx, sy, along, across);
      EXPECT_NEAR(across, 0, 1e-6) << "frame " << k;
    }
    EXPECT_NEAR(LineExcess(img, t, f, l), 2500, 200) << "frame " << k;
  }
}

TEST(SimulatedNight, ATrailThatWouldMissItsFrameIsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  // 199 frames of 50 pixels' drift apart: no one line of the sky crosses both.
  const CliResult r = Cli(dir, "simulate --out " + Q(dir.File("sky")) +
                                   " --frames 200 --width 64 --height 64 --drift 50,50 --trail 1 --trail 200");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "--trail") && Has(r.err, "ne traverse pas")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("sky")));
}

TEST(SimulatedNight, TheHelpTellsBothOptionsInFrench) {
  TempDir dir;
  const CliResult r = Cli(dir, "simulate --help");
  ASSERT_EQ(r.status, 0);
  for (const char* words : {"--seeing K:FWHM", "--trail K", "--trail-flux ADU", "traînée de satellite",
                            "fixe sur le ciel", "(3000)", "répétable"})
    EXPECT_TRUE(Has(r.out, words)) << words;
}

}  // namespace
