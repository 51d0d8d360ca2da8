// The editor's operations on data: binning and the quarter turn of the
// destination planes, the white-balance measurement, and the reworking of
// the rendered picture (saturated stars hidden, black holes filled). Pure
// functions over planes; the window model drives them.
#pragma once

#include <cstdint>

#include "core/plane.h"
#include "core/plane_view.h"
#include "editor/rendering.h"

namespace qv {

// Block sums of n x n pixels of a plane, or of a rectangle of one: the result
// has upper bounds Int(U1 / n) and Int(U2 / n); the last column or row of
// blocks may be partial. With n below 1 the result is a copy.
Plane<float> BinPlane(ConstPlaneView<float> in, int n);

// A quarter turn clockwise on screen of a plane, or of a rectangle of one:
// new(x, y) = old(y, U2 - x), the two dimensions exchanged.
Plane<float> RotatePlane(ConstPlaneView<float> in);

// Background and signal levels of each channel of a clicked region.
struct BalanceLevels {
  double background[3] = {0, 0, 0};
  double signal[3] = {0, 0, 0};
};

// Measures the square (x - 50, y - 50) .. (x + 49, y + 49) clipped to the
// destination: per channel, the values sum / weight (rounded to integers) of
// the pixels with weight above 0, their mean m, then the mean of the values
// at most m (background) and of those above m (signal). A level that has no
// value to average keeps what `levels` held.
void MeasureBalance(const DestPlanes& dest, int x, int y, BalanceLevels& levels);

// Hides saturated pixels of the rendered picture (any channel at 255) and,
// for a radius r above 1, the bright halo around them. Returns false when
// it stopped early because a fifth or more of the picture is saturated.
bool HideSaturated(Plane<int32_t>& pic, int r);

// One filling pass (four checkerboard sweeps) over the rendered picture;
// returns the number of holes (pixels with a channel at 0) it visited.
int64_t FillPass(Plane<int32_t>& pic);

}  // namespace qv
