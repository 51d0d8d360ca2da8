#include "display/polygon_fill.h"

#include <algorithm>

namespace qv {

namespace {

// One non-horizontal edge, oriented downwards: y0 < y1.
struct Edge {
  int64_t x0, y0, x1, y1;
};

// Smallest integer not below n / d, for d > 0.
inline __int128 CeilDiv(__int128 n, __int128 d) {
  const __int128 q = n / d;
  return (n % d != 0 && n > 0) ? q + 1 : q;
}

}  // namespace

void FillPolygonAlternate(Plane<int32_t>& surface, const std::vector<std::pair<int, int>>& points, int32_t colour) {
  const int64_t w = surface.Width(), h = surface.Height();
  if (points.size() < 3 || w <= 0 || h <= 0) return;

  // Horizontal edges never cross a scan line: they are left out, and the
  // half-open span y0 <= y < y1 of the others puts a top edge inside and a
  // bottom edge outside, and counts a vertex between two edges once.
  std::vector<Edge> edges;
  edges.reserve(points.size());
  int64_t ymin = INT64_MAX, ymax = INT64_MIN;
  for (size_t i = 0; i < points.size(); ++i) {
    const auto& a = points[i];
    const auto& b = points[(i + 1) % points.size()];
    if (a.second == b.second) continue;
    Edge e =
        a.second < b.second ? Edge{a.first, a.second, b.first, b.second} : Edge{b.first, b.second, a.first, a.second};
    ymin = std::min(ymin, e.y0);
    ymax = std::max(ymax, e.y1);
    edges.push_back(e);
  }
  if (edges.empty()) return;

  const int64_t yFirst = std::max<int64_t>(0, ymin), yLast = std::min(h - 1, ymax - 1);
  std::vector<int64_t> cross;
  cross.reserve(edges.size());
  for (int64_t y = yFirst; y <= yLast; ++y) {
    // A pixel x is inside when an odd number of crossings lies at or left of
    // it. For a whole x that is the same as the crossing's ceiling lying at
    // or left of it, so each crossing is kept as its ceiling, clipped to
    // 0..w (outside that range the comparison with any pixel of the row
    // keeps its outcome).
    cross.clear();
    for (const Edge& e : edges) {
      if (y < e.y0 || y >= e.y1) continue;
      const __int128 num = static_cast<__int128>(y - e.y0) * (e.x1 - e.x0);
      const __int128 cx = e.x0 + CeilDiv(num, e.y1 - e.y0);
      cross.push_back(static_cast<int64_t>(std::clamp<__int128>(cx, 0, w)));
    }
    std::sort(cross.begin(), cross.end());
    int32_t* row = surface.Row(static_cast<int>(y));
    for (size_t k = 0; k + 1 < cross.size(); k += 2) std::fill(row + cross[k], row + cross[k + 1], colour);
  }
}

}  // namespace qv
