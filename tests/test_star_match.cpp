// Star finding and star-pattern recognition on made-up fields whose every
// star is known.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>

#include "core/parallel.h"
#include "stack/star_match.h"
#include "support.h"

using namespace qv;

namespace {

std::vector<Point2> RandomField(unsigned seed, int count, double w = 800, double h = 600) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> ux(0, w), uy(0, h);
  std::vector<Point2> p;
  for (int k = 0; k < count; ++k) p.push_back({ux(rng), uy(rng)});
  return p;
}

// Where a turn by `degrees` about (400, 300) and a shift take p.
Point2 Truly(Point2 p, double degrees, double sx, double sy) {
  const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
  return {c * (p.x - 400) - s * (p.y - 300) + 400 + sx, s * (p.x - 400) + c * (p.y - 300) + 300 + sy};
}

// The field as Truly moves it, with centroid jitter, every `dropEvery`-th
// star lost and `extra` new ones.
std::vector<Point2> Seen(const std::vector<Point2>& ref, double degrees, double sx, double sy, int dropEvery, int extra,
                         unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> jitter(0, 0.15);
  std::vector<Point2> out;
  for (size_t k = 0; k < ref.size(); ++k) {
    if (dropEvery && k % dropEvery == 1) continue;
    const Point2 p = Truly(ref[k], degrees, sx, sy);
    out.push_back({p.x + jitter(rng), p.y + jitter(rng)});
    // Extra stars come in among the bright ones, as a passing satellite or
    // a variable star would.
    if (extra > 0 && k % 3 == 0) {
      out.push_back(RandomField(seed + static_cast<unsigned>(k), 1)[0]);
      --extra;
    }
  }
  return out;
}

struct Painted {
  Plane<int32_t> r, g, b;
  std::vector<Point2> stars;
};

// A 300 x 200 field on a steep sky gradient with noise: stars of every
// width, one clipped, one hot pixel.
Painted PaintField() {
  const int w = 300, h = 200;
  const struct {
    double x, y, sigma, peak;
  } stars[] = {{40.3, 30.6, 0.8, 3000},  {120.5, 44.2, 1.5, 8000},  {200.1, 150.7, 3.0, 2500},
               {260.8, 40.4, 2.0, 1500}, {80.6, 160.1, 1.2, 20000}, {150.2, 100.9, 2.2, 90000}};
  Painted p;
  for (const auto& s : stars) p.stars.push_back({s.x, s.y});
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0, 20);
  std::vector<int32_t> values;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double v = 1000 + 12.0 * x + 5.0 * y;
      for (const auto& s : stars)
        v += s.peak * std::exp(-((x - s.x) * (x - s.x) + (y - s.y) * (y - s.y)) / (2 * s.sigma * s.sigma));
      values.push_back(static_cast<int32_t>(std::min(65535.0, v + noise(rng))));
    }
  qvtest::SetPlane(p.r, w, h, values);
  p.r(230, 120) = 30000;  // hot pixel
  p.g = p.b = p.r;
  return p;
}

}  // namespace

TEST(StarMatch, RecognisesTheFieldAfterShiftTurnAndChangedStarsAndNoOther) {
  const std::vector<Point2> ref = RandomField(7, 70);
  struct Case {
    double degrees, sx, sy;
  } cases[] = {{0.3, 23.5, -17.25}, {-0.3, -38, 31}, {180, 12, -9}, {37, 250, -140}, {0, 0, 0}};
  for (const auto& [degrees, sx, sy] : cases) {
    const StarMatch m = MatchStars(ref, Seen(ref, degrees, sx, sy, 5, 12, 11));
    ASSERT_EQ(m.outcome, MatchOutcome::Matched) << degrees << " " << sx;
    EXPECT_GE(m.agreeing, 30u);
    EXPECT_LT(m.rms, 0.4);
    for (const Point2 p : {Point2{400, 300}, Point2{50, 40}, Point2{760, 560}}) {
      const Point2 got = m.transform.Apply(p), want = Truly(p, degrees, sx, sy);
      EXPECT_NEAR(got.x, want.x, 0.2) << degrees;
      EXPECT_NEAR(got.y, want.y, 0.2) << degrees;
    }
    const Point2 back = m.transform.Inverse(m.transform.Apply({123, 456}));
    EXPECT_NEAR(back.x, 123, 1e-9);
    EXPECT_NEAR(back.y, 456, 1e-9);
  }
  // Another field, a few stars and a repeating pattern are refused.
  for (unsigned seed : {8u, 9u, 10u}) {
    const StarMatch m = MatchStars(ref, RandomField(seed, 70));
    EXPECT_NE(m.outcome, MatchOutcome::Matched) << seed << " agreeing " << m.agreeing;
  }
  // Clouds: three stars left.
  const std::vector<Point2> few(ref.begin(), ref.begin() + 3);
  EXPECT_EQ(MatchStars(ref, Seen(few, 0, 5, 5, 0, 0, 1)).outcome, MatchOutcome::TooFewStars);
  // A lattice looks the same after a shift by any whole number of cells:
  // any answer would be a guess.
  std::vector<Point2> grid, shifted;
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 8; ++i) {
      grid.push_back({60.0 + 90 * i + 7 * (j % 2), 50.0 + 95 * j});
      shifted.push_back({60.0 + 90 * i + 7 * (j % 2) + 20, 50.0 + 95 * j - 11});
    }
  EXPECT_NE(MatchStars(grid, shifted).outcome, MatchOutcome::Matched);
}

TEST(StarMatch, FindsStarsOfEverySizeOnAnUnevenSkyAndMeasuresItsNoiseExactly) {
  Painted p = PaintField();
  const StarField f = DetectStars(p.r, p.g, p.b, 65535);
  ASSERT_GE(f.stars.size(), p.stars.size());
  EXPECT_NEAR(f.sky.noise, 3 * 20, 12);  // three equal planes add their noise
  for (size_t k = 0; k < p.stars.size(); ++k) {
    const StarSpot* found = nullptr;
    for (const StarSpot& s : f.stars)
      if (std::hypot(s.x - p.stars[k].x, s.y - p.stars[k].y) < 1.0) found = &s;
    ASSERT_NE(found, nullptr) << "star " << k;
    EXPECT_EQ(found->saturated, k == 5) << "star " << k;
    EXPECT_FALSE(found->hot) << "star " << k;
    // The clipped star's centre is only roughly where it was drawn.
    EXPECT_LT(std::hypot(found->x - p.stars[k].x, found->y - p.stars[k].y), k < 5 ? 0.35 : 1.0) << "star " << k;
  }
  // Nothing found on the bare sky; the hot pixel is found and known for one.
  for (const StarSpot& s : f.stars) {
    bool real = std::hypot(s.x - 230, s.y - 120) < 1;
    for (const Point2& t : p.stars) real = real || std::hypot(s.x - t.x, s.y - t.y) < 1.5;
    EXPECT_TRUE(real) << "spurious star at " << s.x << "," << s.y;
    EXPECT_EQ(s.hot, std::hypot(s.x - 230, s.y - 120) < 1) << s.x << "," << s.y;
  }
  EXPECT_EQ(MatchablePoints(f).size(), f.stars.size() - 1);
  // A picture too small to hold a star, or planes of unequal sizes.
  Plane<int32_t> tiny(3, 3);
  EXPECT_TRUE(DetectStars(tiny, tiny, tiny, 65535).stars.empty());
  EXPECT_TRUE(DetectStars(p.r, p.g, tiny, 65535).stars.empty());

  // Every 8 x 8 block holds the values 0..63 once: the sky is flat at the
  // blocks' median, and the noise is 1.4826 x the median distance to the
  // median, 48 (three equal planes: three times 16), to the last bit.
  Plane<int32_t> blocks(63, 63);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) blocks(x, y) = (x % 8) + 8 * (y % 8);
  const StarField flat = DetectStars(blocks, blocks, blocks, 65535);
  EXPECT_EQ(std::tuple(flat.sky.level, flat.sky.noise), std::tuple(96.0, 1.4826 * 48));
}

// The detection splits its passes between two cores, and runs its loops
// over every pixel in wider vectors where the processor has them; whatever
// the way, on odd sizes too (one block, rows fewer than the halves' overlap,
// widths that leave a vector's tail), it finds the same stars with the same
// doubles as the one loop on one core.
TEST(StarMatch, EveryWayFindsWhatTheOneLoopFinds) {
  Painted p = PaintField();
  for (const auto& [w, h] : {std::pair{300, 200}, {8, 8}, {9, 301}, {297, 9}, {65, 11}}) {
    Plane<int32_t> r(w - 1, h - 1), g(w - 1, h - 1), b(w - 1, h - 1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        r(x, y) = p.r(x % 300, y % 200);
        g(x, y) = p.g((x + 7) % 300, y % 200);
        b(x, y) = p.b(x % 300, (y + 3) % 200) / 2;
      }
    // A bright row just above where the halves meet: a half that misses the
    // row above its first changes the sample of the noise.
    for (int x = 0; x < w && h > 20; ++x) r(x, h / 2 - 1) += 400 + 37 * (x % 11);
    StarField f[4];
    for (int way = 0; way < 4; ++way) {
      UseSecondCore(way & 1);
      UseWideLoops(way & 2);
      f[way] = DetectStars(r, g, b, 65535, 2, 5000);
    }
    UseSecondCore(true);
    UseWideLoops(true);
    for (int way = 1; way < 4; ++way) {
      // The same stars, to the last bit, in the same order.
      const std::string where = std::to_string(w) + "x" + std::to_string(h) + " way " + std::to_string(way);
      ASSERT_EQ(f[0].stars.size(), f[way].stars.size()) << where;
      EXPECT_TRUE(f[0].sky.level == f[way].sky.level && f[0].sky.noise == f[way].sky.noise) << where;
      for (size_t k = 0; k < f[0].stars.size(); ++k) {
        const StarSpot &s = f[0].stars[k], &t = f[way].stars[k];
        EXPECT_TRUE(s.x == t.x && s.y == t.y && s.peak == t.peak && s.flux == t.flux && s.hot == t.hot &&
                    s.saturated == t.saturated)
            << where << " star " << k;
      }
    }
  }
}

// The counted median is the element nth_element leaves in the middle: on
// wide and narrow ranges, negative values, repeats, and neighbouring floats
// a few steps apart.
TEST(StarMatch, UpperMedianIsTheMiddleElement) {
  std::mt19937 rng(11);
  for (int t = 0; t < 300; ++t) {
    std::vector<float> v(1 + rng() % 3000);
    const float base = std::ldexp(static_cast<float>(rng() % 1000) - 500, static_cast<int>(rng() % 40) - 20);
    for (float& x : v) {
      switch (t % 3) {
        case 0:
          x = base + static_cast<float>(rng() % 7) - 3;
          break;
        case 1:
          x = base;
          for (unsigned k = rng() % 40; k > 0; --k) x = std::nextafter(x, 1e30f);
          break;
        default:
          x = std::bit_cast<float>(static_cast<uint32_t>(rng()) & 0xBF7FFFFFu);
          break;
      }
    }
    std::vector<float> sorted = v;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(v.size() / 2), sorted.end());
    ASSERT_EQ(UpperMedian(v), sorted[v.size() / 2]) << "case " << t;
  }
}
