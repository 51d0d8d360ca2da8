// Polygon filling on a packed pixel surface.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/plane.h"

namespace qv {

// Fills the closed polygon through `points` (x, y in surface pixels; the
// last point joins the first) with `colour`, by the alternate (even-odd)
// rule. A pixel (x, y) is filled when the point (x, y) is inside; a pixel
// lying exactly on the outline is filled on a left or top edge and not on a
// right or bottom edge, so polygons sharing an edge never overlap and an
// axis-aligned rectangle from (x0, y0) to (x1, y1) fills x0..x1-1 by
// y0..y1-1. Only pixels of the surface are written; any coordinates, however
// large or degenerate, are accepted.
void FillPolygonAlternate(Plane<int32_t>& surface, const std::vector<std::pair<int, int>>& points, int32_t colour);

}  // namespace qv
