#include "display/zones.h"

#include <string_view>

#include "core/numeric.h"
#include "display/polygon_fill.h"

namespace qv {

namespace {

// Pieces of `text` between the separators, empty pieces included.
std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(sep, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

std::vector<std::vector<std::pair<double, double>>> ParseZones(const std::string& zone) {
  std::vector<std::vector<std::pair<double, double>>> shapes;
  for (std::string_view shape : Split(zone, 'S')) {
    if (shape.empty()) continue;
    std::vector<std::pair<double, double>> pts;
    for (std::string_view point : Split(shape, ';')) {
      const size_t comma = point.find(',');
      if (comma == std::string_view::npos) continue;
      pts.emplace_back(Val(point.substr(0, comma)), Val(point.substr(comma + 1)));
    }
    shapes.push_back(std::move(pts));
  }
  return shapes;
}

void DrawZonesFilled(const std::string& zone, Plane<int32_t>& surface, int32_t colour) {
  if (zone.empty()) return;
  const double w = surface.Width(), h = surface.Height();
  std::vector<std::pair<int, int>> pixels;
  for (const auto& shape : ParseZones(zone)) {
    if (shape.size() <= 1) continue;
    pixels.clear();
    for (const auto& [x, y] : shape) pixels.emplace_back(CLng(x * w), CLng(y * h));
    FillPolygonAlternate(surface, pixels, colour);
  }
}

}  // namespace qv
