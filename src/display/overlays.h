// What is drawn over the main picture: the marks of an image's zones and
// the grid of gradient sample points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/plane.h"

namespace qv {

// Overlay colours, packed as the pixel array holds them.
inline constexpr int32_t kMarkRed = 0xFF0000;
inline constexpr int32_t kMarkBlue = 0x0000FF;
// Cross-hatch colour of a display zone (red 120, green 120, blue 80).
inline constexpr int32_t kZoneHatch = (120 << 16) | (120 << 8) | 80;
inline constexpr int kZonePointRadius = 3;
// Spacing of the cross-hatch lines, the size of a hatch brush's pattern.
inline constexpr int kHatchSpacing = 8;

struct PixelPoint {
  int x = 0, y = 0;
  bool operator==(const PixelPoint&) const = default;
};

// DrawZones on a packed pixel surface (the picture as shown). Fill mode
// true fills the polygons in white for mask building; false cross-hatches
// them and circles every point in red, for display. Returns false when the
// zone text holds a coordinate out of range (nothing is drawn then).
// Polygon outlines take the hatch colour.
bool DrawZones(Plane<int32_t>& surface, const std::string& zone, bool fillMode);

// One straight line to draw, from (x1, y1) to (x2, y2) in picture pixels.
struct LineSegment {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  int32_t colour = 0;
};

// The crosses of DrawGradientGrid on a picture of scaleWidth x scaleHeight:
// for every grid cell with samples, a red horizontal and a blue vertical arm
// of a third of the column spacing. Nothing unless the gradient option is
// on and the grid has more than two points on each axis.
std::vector<LineSegment> DrawGradientGrid(const Plane<uint8_t>& gradMask, bool gradRemoveOn, int scaleWidth,
                                          int scaleHeight);

// Draws the segments onto a packed pixel surface, one pixel wide, the last
// pixel left out as line drawing does, clipped to the surface.
void DrawSegments(Plane<int32_t>& surface, const std::vector<LineSegment>& segments);

}  // namespace qv
