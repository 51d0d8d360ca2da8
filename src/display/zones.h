// Exclusion zones of an image, as described in the image entry's zone text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/plane.h"

namespace qv {

// The shapes of a zone text: shapes separated by "S", points by ";", the two
// coordinates of a point by ","; coordinates are fractions of the picture's
// width and height, read with the leading-number parse. A piece without a
// "," (such as the empty one after the closing ";") is not a point. A number
// beyond the range of a double ("1e999") is an overflow run-time error, as
// that parse raises it, thrown for the caller's error boundary.
std::vector<std::vector<std::pair<double, double>>> ParseZones(const std::string& zone);

// Fills every shape of more than one point with `colour` on `surface`; a
// point is placed at (x x W, y x H) rounded half to even, W and H being the
// surface's width and height. A coordinate that does not fit a 32-bit
// integer is an overflow run-time error (thrown, for the caller's error
// boundary); any other text is harmless.
void DrawZonesFilled(const std::string& zone, Plane<int32_t>& surface, int32_t colour = 0xFFFFFF);

}  // namespace qv
