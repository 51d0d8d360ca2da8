// Gradient removal: flattens the sky background of the current image.
#pragma once

#include <cstdint>

#include "core/session.h"

namespace qv {

// Background grid of a plane with upper bounds (xm, ym): square cells of
// `cell` pixels, cells indexed 0..nx by 0..ny. The two cells beyond the last
// sampled one on each axis are there for the interpolation.
struct GradientGrid {
  int32_t cell = 0;
  int nx = 0, ny = 0;
};
GradientGrid GradientGridFor(int xm, int ym);

// Estimates the background on the grid from the pixels that are neither
// blank nor bright (below the limit set by LevelLow, LevelHigh and
// opt.GradRatio), outside the zones of the image shown (CurPic); fills the
// cells without samples from their neighbours; divides every pixel by the
// interpolated background and shifts the result so that the background sits
// at 1000 (limited to 500..65535). Rebuilds Histo from the corrected pixels
// and sets GradMask to the cells that had samples.
// Yields after each row and each fill pass and ends at once on a stop
// request; a run-time error ends it too. Either way what was corrected stays.
void RemoveGradient(Session& s);

}  // namespace qv
