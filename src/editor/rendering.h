// The editor's rendering kernels: from the destination accumulator (sum and
// weight planes) to a packed pixel array, with the contrast curve, the
// detail filter at three scales and the three colour modes. Pure functions
// over planes, so the window model, the command-line tool and the tests
// render the same pixels.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/numeric.h"
#include "core/plane.h"

namespace qv {

// The three colour planes of the destination: value = sum / weight where the
// weight is above 0. All six planes have the red sum plane's extent.
struct DestPlanes {
  const Plane<float>* sum[3] = {nullptr, nullptr, nullptr};
  const Plane<float>* weight[3] = {nullptr, nullptr, nullptr};
};

// The contrast curve: 32768 output bytes, shared by the three channels.
using CurveTable = std::array<uint8_t, 32768>;

// Fills the curve for the position p (0 .. boxWidth - 1 of the curve box):
// a power law x^(2 p / (boxWidth - 1)), so the box's left edge gives
// exponent 0, its centre a straight line and its right edge exponent 2.
// With hideMax the ends are 1 and 254 instead of 0 and 255, so no rendered
// channel reaches saturation.
void BuildCurve(CurveTable& table, double p, double boxWidth, bool hideMax);

// The curve's byte for a scaled value: v rounded half to even and clamped
// to 0 .. 32767 before the look-up. Clamping before the conversion keeps
// huge gains from overflowing; a value that is not a number has no place on
// the curve and counts as 0. Inline and without branches: the redraw asks
// it three times a pixel.
inline uint8_t CurveByte(const CurveTable& table, double v) {
  const double clamped = v >= 0 ? (v < 32767 ? v : 32767.0) : 0.0;
  return table[static_cast<size_t>(RoundHalfEven(clamped))];
}

// The twelve colours of the colour scale, 0xRRGGBB.
const std::array<int32_t, 12>& ColourScalePalette();
// The colour of level g (0 .. 255) at brightness b (clamped to 0 .. 1).
int32_t ColourScale(double g, double b);

// The local means of one channel: per pixel, the mean of sum / weight over
// the pixels with weight > 0 of the square of radius 1, 2 or 3 around it,
// clipped to the plane (0 where the square holds no such pixel), computed
// down the plane a band of rows at a time: a running sum per column slides down the rows,
// then a running sum along each row. The column sums carry from one band to
// the next, and each column's and each row's sums are added in the one
// order, so the means are the same doubles however the rows are banded and
// whichever core computes them.
struct RunningMeans {
  const Plane<float>* sum = nullptr;
  const Plane<float>* weight = nullptr;
  Plane<double>* out = nullptr;
  int radius = 1;
  int rows = 0;  // rows of `out` done, from the top
  std::vector<double> colSum;
  std::vector<int32_t> colCount;
  std::vector<int32_t> bandCount;  // the column counts of the band's rows
  // Starts over: `out` takes the sum plane's extent, no row is done.
  void Start(const Plane<float>& sum, const Plane<float>& weight, int radius, Plane<double>& out);
  bool Done() const { return out && rows == out->Height(); }
};

// Computes rows means[i]->rows .. y of each of the `count` means (those
// done that far are left as they are): the columns' running sums split
// between both cores, then the rows.
void AdvanceMeans(RunningMeans* const* means, int count, int y);

// Colour modes of the editor: colour, monochrome or a colour scale.
enum RenderMode : int { kColour = 0, kMonochrome = 1, kColourScale = 2 };

// Everything a redraw reads besides the planes.
struct RenderSettings {
  double black[3] = {0, 0, 0};
  double white[3] = {65535, 65535, 65535};
  double gain[3] = {0, 0, 0};
  int detail[3] = {0, 0, 0};  // sliders of radius 1, 2, 3: < 0 smooths, > 0 sharpens
  double slope = 0.01;        // brightness slope of the colour scale
  int mode = kColour;
  const CurveTable* curve = nullptr;
  // mean[k][c]: local mean of radius k + 1 of channel c; needed where
  // detail[k] is not 0.
  const Plane<double>* mean[3][3] = {};
};

// Renders rows y0 .. y1 of `out`, which has the sum planes' extent, the
// rows shared between both cores.
void RenderRows(const DestPlanes& dest, const RenderSettings& rs, Plane<int32_t>& out, int y0, int y1);

}  // namespace qv
