// 2 x 2 fusion: halves the resolution of the planes in place.
#pragma once

#include <cstdint>

#include "core/plane.h"

namespace qv {

// Replaces each plane (0..Xm, 0..Ym) by a plane (0..Xm/2, 0..Ym/2) whose
// pixels are the means, halves to even, of the values above 0 of their
// 2 x 2 block; a block without data gives 0. An empty plane stays empty.
void Fuse2x2(Plane<int32_t>& r, Plane<int32_t>& g, Plane<int32_t>& b);

}  // namespace qv
