// Gradient removal: flattens the sky background of the current image.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/plane_view.h"
#include "core/progress.h"
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

struct GradientSettings {
  double levelLow = 0, levelHigh = 0;  // LevelLow, LevelHigh of the image (bins of 32 units)
  int16_t ratio = 0;                   // GradRatio: where between them the bright-pixel cut lies
  std::string zones;                   // zone polygons (ImgZone) left out of the estimate
};

// Estimates the background on the grid from the pixels that are neither
// blank nor bright (below the limit set by the levels and the ratio),
// outside the zones; fills the cells without samples from their neighbours;
// divides every pixel by the interpolated background and shifts the result
// so that the background sits at 1000 (limited to 500..65535). Rebuilds
// `histo` from the corrected pixels and sets `gradMask` to the cells that
// had samples. The green and blue planes must be at least as large as the
// red one. Calls `yield` after each row and each fill pass and ends at once
// when it says stop; a run-time error ends it too. Either way what was
// corrected stays.
void RemoveGradient(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, const GradientSettings& o,
                    Plane<uint8_t>& gradMask, std::array<int32_t, kHistoBins>& histo, const YieldPoint& yield);

// The same on the current image, with opt.GradRatio and the zones of the
// image shown (CurPic); yields to the event loop at each of those points and
// ends on a stop request.
void RemoveGradient(Session& s);

}  // namespace qv
