#include "display/overlays.h"

#include <algorithm>
#include <cmath>

#include "core/numeric.h"
#include "display/polygon_fill.h"
#include "display/zones.h"

namespace qv {

namespace {

void Put(Plane<int32_t>& s, int64_t x, int64_t y, int32_t c) {
  if (x >= 0 && y >= 0 && x < s.Width() && y < s.Height()) s(static_cast<int>(x), static_cast<int>(y)) = c;
}

// Outline of a circle by the midpoint rule.
void Circle(Plane<int32_t>& s, int64_t cx, int64_t cy, int r, int32_t c) {
  int x = r, y = 0, err = 1 - r;
  while (x >= y) {
    const int pts[8][2] = {{x, y}, {y, x}, {-y, x}, {-x, y}, {-x, -y}, {-y, -x}, {y, -x}, {x, -y}};
    for (const auto& p : pts) Put(s, cx + p[0], cy + p[1], c);
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
}

std::vector<PixelPoint> PlaceShape(const std::vector<std::pair<double, double>>& shape, double W, double H) {
  std::vector<PixelPoint> pts;
  pts.reserve(shape.size());
  for (const auto& [x, y] : shape) pts.push_back({CLng(x * W), CLng(y * H)});
  return pts;
}

std::vector<std::pair<int, int>> AsPairs(const std::vector<PixelPoint>& pts) {
  std::vector<std::pair<int, int>> out;
  out.reserve(pts.size());
  for (const auto& p : pts) out.emplace_back(p.x, p.y);
  return out;
}

// Straight outline from a to b, the last pixel left out as line drawing
// does, clipped to the surface first so that far-off points cost nothing.
void Line(Plane<int32_t>& s, double x1, double y1, double x2, double y2, int32_t c) {
  const double dx = x2 - x1, dy = y2 - y1;
  double t0 = 0, t1 = 1;
  const double lo[2] = {-1, -1}, hi[2] = {static_cast<double>(s.Width()), static_cast<double>(s.Height())};
  const double p0[2] = {x1, y1}, d[2] = {dx, dy};
  for (int k = 0; k < 2; ++k) {
    if (d[k] == 0) {
      if (p0[k] < lo[k] || p0[k] > hi[k]) return;
      continue;
    }
    double ta = (lo[k] - p0[k]) / d[k], tb = (hi[k] - p0[k]) / d[k];
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta);
    t1 = std::min(t1, tb);
    if (t0 > t1) return;
  }
  const int64_t ax = std::llround(x1 + t0 * dx), ay = std::llround(y1 + t0 * dy);
  const int64_t bx = std::llround(x1 + t1 * dx), by = std::llround(y1 + t1 * dy);
  const bool lastIsEnd = t1 >= 1;
  const int64_t n = std::max(std::llabs(bx - ax), std::llabs(by - ay));
  for (int64_t i = 0; i < n + (lastIsEnd ? 0 : 1); ++i) {
    const double f = n ? static_cast<double>(i) / static_cast<double>(n) : 0;
    Put(s, ax + std::llround(f * static_cast<double>(bx - ax)), ay + std::llround(f * static_cast<double>(by - ay)), c);
  }
}

}  // namespace

bool DrawZones(Plane<int32_t>& surface, const std::string& zone, bool fillMode) {
  if (zone.empty() || surface.Empty()) return true;
  std::vector<std::vector<PixelPoint>> shapes;
  try {
    for (const auto& shape : ParseZones(zone)) shapes.push_back(PlaceShape(shape, surface.Width(), surface.Height()));
  } catch (const RuntimeError&) {
    return false;
  }
  if (fillMode) {
    for (const auto& pts : shapes)
      if (pts.size() > 1) FillPolygonAlternate(surface, AsPairs(pts), 0xFFFFFF);
    return true;
  }
  // The hatch is the polygon's fill seen through a grid of lines: the fill
  // goes to a scratch surface, and only its pixels on the grid are copied.
  Plane<int32_t> inside;
  for (const auto& pts : shapes) {
    for (const auto& p : pts) Circle(surface, p.x, p.y, kZonePointRadius, kMarkRed);
    if (pts.size() <= 1) continue;
    if (inside.Empty())
      inside.Redim(surface.UBound1(), surface.UBound2());
    else
      inside.Fill(0);
    FillPolygonAlternate(inside, AsPairs(pts), 1);
    for (int y = 0; y < surface.Height(); ++y) {
      const int32_t* in = inside.Row(y);
      int32_t* row = surface.Row(y);
      const bool hatchRow = y % kHatchSpacing == 0;
      for (int x = 0; x < surface.Width(); ++x)
        if (in[x] && (hatchRow || x % kHatchSpacing == 0)) row[x] = kZoneHatch;
    }
    for (size_t i = 0; i < pts.size(); ++i) {
      const PixelPoint& a = pts[i];
      const PixelPoint& b = pts[(i + 1) % pts.size()];
      Line(surface, a.x, a.y, b.x, b.y, kZoneHatch);
    }
  }
  return true;
}

std::vector<LineSegment> DrawGradientGrid(const Plane<uint8_t>& gradMask, bool gradRemoveOn, int scaleWidth,
                                          int scaleHeight) {
  std::vector<LineSegment> out;
  const int u1 = gradMask.UBound1(), u2 = gradMask.UBound2();
  if (!gradRemoveOn || u1 <= 1 || u2 <= 1) return out;
  const double sx = (scaleWidth - 1.0) / (u1 - 1), sy = (scaleHeight - 1.0) / (u2 - 1);
  const double a = sx / 3;
  for (int j = 0; j <= u2; ++j)
    for (int i = 0; i <= u1; ++i) {
      if (!gradMask(i, j)) continue;
      const double px = RoundHalfEven(i * sx), py = RoundHalfEven(j * sy);
      out.push_back({px - a, py, px + a, py, kMarkRed});
      out.push_back({px, py - a, px, py + a, kMarkBlue});
    }
  return out;
}

void DrawSegments(Plane<int32_t>& surface, const std::vector<LineSegment>& segments) {
  for (const auto& s : segments) Line(surface, s.x1, s.y1, s.x2, s.y2, s.colour);
}

}  // namespace qv
