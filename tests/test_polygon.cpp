#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>

#include "display/polygon_fill.h"
#include "display/zones.h"

using namespace qv;

namespace {

using Points = std::vector<std::pair<int, int>>;

int Count(const Plane<int32_t>& p, int32_t v) { return static_cast<int>(std::count(p.Data(), p.Data() + p.Size(), v)); }

// Crossing test of one point: an edge counts when the scan line y lies in
// its half-open span and it passes at or left of x (compared by cross
// products).
bool Inside(const Points& pts, int64_t x, int64_t y) {
  bool in = false;
  for (size_t i = 0; i < pts.size(); ++i) {
    int64_t x0 = pts[i].first, y0 = pts[i].second;
    int64_t x1 = pts[(i + 1) % pts.size()].first, y1 = pts[(i + 1) % pts.size()].second;
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    if (y >= y0 && y < y1 && (y - y0) * (x1 - x0) <= (x - x0) * (y1 - y0)) in = !in;
  }
  return in;
}

}  // namespace

// Random shapes, self-crossing ones among them, against the crossing test:
// top and left edges in, right and bottom out, doubly crossed areas empty.
TEST(PolygonFill, MatchesPointInPolygonOnRandomShapesAcrossTheBorder) {
  std::mt19937 rng(9);
  for (int round = 0; round < 300; ++round) {
    Points pts(3 + rng() % 6);
    for (auto& p : pts) p = {static_cast<int>(rng() % 40) - 10, static_cast<int>(rng() % 30) - 8};
    Plane<int32_t> s(19, 13);
    FillPolygonAlternate(s, pts, 7);
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(s(x, y) == 7, Inside(pts, x, y)) << round << " at " << x << "," << y;
  }
}

TEST(PolygonFill, HugeAndDegenerateCoordinates) {
  Plane<int32_t> s(15, 11);
  FillPolygonAlternate(s, {{INT_MIN, INT_MIN}, {INT_MAX, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}}, 1);
  EXPECT_EQ(Count(s, 1), 16 * 12);
  s.Fill(0);
  // Left of the diagonal x = y: the crossings need products beyond 64 bits.
  FillPolygonAlternate(s, {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}}, 1);
  EXPECT_EQ(std::pair(Count(s, 1), s(5, 5)), std::pair(66, 0));
  s.Fill(0);
  FillPolygonAlternate(s, {{1, 1}, {5, 5}, {9, 9}}, 1);  // no area
  EXPECT_EQ(Count(s, 1), 0);
}

TEST(PolygonZones, ShapesArePlacedAsFractionsOfTheSurfaceAndOverflowIsAnError) {
  // Three points on 200 x 100 give (20, 10), (100, 10), (100, 50).
  Plane<int32_t> s(199, 99);
  DrawZonesFilled(" .1, .1; .5, .1; .5, .5;", s);
  EXPECT_EQ(Count(s, 0xFFFFFF), 1640);
  // (60, 30) is on the slanted left edge.
  EXPECT_EQ(std::tuple(s(20, 10), s(60, 30), s(100, 10)), std::tuple(0xFFFFFF, 0xFFFFFF, 0));
  // Several shapes; a one-point shape draws nothing.
  Plane<int32_t> t(9, 9);
  DrawZonesFilled(" 0, 0; .2, 0; .2, .2; 0, .2;S .5, .5;S .6, .6; .8, .6; .8, .8; .6, .8;S", t, 3);
  EXPECT_EQ(Count(t, 3), 4 + 4);
  // A third field is ignored; a coordinate beyond an integer is an overflow
  // (the fuzz target feeds the rest of the garbage).
  DrawZonesFilled(".5,.5,.9;.9,.5;.9,.9;", t);
  EXPECT_EQ(t(8, 6), 0xFFFFFF);
  EXPECT_THROW(DrawZonesFilled("1e30,0;1,0;1,1;", t), RuntimeError);
}
