// Defect cleaning: hot pixels found by calculation are blanked (set to 0),
// and blank pixels are filled from their neighbours. The kernels work on any
// three planes (or rectangles of planes) of one size; the session routines
// run them on the current image.
#pragma once

#include <cstdint>

#include "core/plane_view.h"
#include "core/progress.h"
#include "core/session.h"

namespace qv {

struct HotPixelSettings {
  int32_t threshold = 50;      // the least excess over every diagonal neighbour
  int16_t size = 1;            // hot pixels are blanked with a square of radius size - 1
  bool onlyHotPlanes = false;  // blank only the planes where the pixel was found hot
  double levelMax = 0;         // LevelMax of the image (bins of 32 units): the brightness scale
};

// Finds the interior pixels brighter than all four diagonal neighbours by
// more than a threshold that grows with the darkest diagonal's brightness,
// and blanks them with their square (never closer than its radius to the
// edge). The planes must have one size.
void RemoveHotPixels(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, const HotPixelSettings& o);

// Replaces blank pixels by the mean of their non-blank direct neighbours, in
// passes over four interleaved sub-grids, at most 10 passes. Only the planes
// whose `has` flag is set are filled. Calls `yield` after each sub-grid row
// and ends when it says stop. The planes must have one size.
void FillEmpty(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, const bool has[3],
               const YieldPoint& yield);

// On the current image, with the options: clamps opt.CalcThr to 50..10000
// and keeps the clamped value.
void RemoveHotPixels(Session& s);

// On the current image, for the planes with data (HasR, HasG, HasB);
// yields to the event loop after each sub-grid row.
void FillEmpty(Session& s);

}  // namespace qv
