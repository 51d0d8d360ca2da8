// The final combination: the temporary files resampled into the
// destination accumulator, and the statistics of the result.
#pragma once

#include <cstdint>
#include <vector>

#include "core/outcome.h"
#include "core/plane_view.h"
#include "core/progress.h"
#include "core/session.h"

namespace qv {

// Reads every temporary file back, filters and weights each image and adds
// it to the destination; ok when every file was processed. A stop or an
// empty stack fails without a reason; a run-time error is logged and gives
// its number and words. `combined` receives the numbers of the files that
// reached the destination whole (a missing file is passed over).
Outcome CombineStack(Session& s, bool expand, std::vector<int>* combined = nullptr);

// How much a source pixel weighs in the destination: the circular field
// (CircCrop: centre and radius in source pixels, the factor outside it),
// the progressive blending (ProgBlend: a tent that is 1 at the image centre
// and falls towards the borders) and the edge cut (pixels left out at every
// border of the source).
struct Weighting {
  bool circle = false, blend = false;
  double cx = 0, cy = 0, r = 0;
  double outside = 0;
  int edge = 0;
};

// The weighting the options give to images of upper bounds (w1, h1): the
// circle is placed by FovX, FovY and FovR relative to them (the radius to
// the height, plus one), its outer factor is FovF, the edge EdgeSize.
Weighting WeightingOf(const Options& o, int32_t w1, int32_t h1);

// Where a parked image lands: its box in destination coordinates, before
// it is clamped to the destination, and the angle it is turned by.
struct Placement {
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
  double angle = 0;
};

// Adds the image of three source planes of one size into the destination's
// sums and weights (six planes of one size), sampling the nearest source
// pixel of every destination pixel of the clamped box. A pixel of a colour
// adds its value times its weight to that colour's sum and its weight to
// the weight, when the weight is above 0 and the value is. Calls `yield`
// after each destination row whose y is a multiple of 4, and returns false
// when it says stop (the rows added so far stay). Only the first `colours`
// colours are added (a grey frame's others would add the same).
bool ResampleImage(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b,
                   const PlaneView<float> (&sum)[3], const PlaneView<float> (&weight)[3], const Weighting& weighting,
                   const Placement& placement, const YieldPoint& yield, int colours = 3);

// A frame resampled into the destination, over its clamped box: rows
// y0..y1, columns x0..x1, each pixel the weight its source pixel has there
// (0: none reaches it) and that pixel's three values. A frame whose every
// weight is 1 keeps none (a pixel it does not reach holds values 0, which
// no combination counts), and a grey frame (three equal planes) keeps one
// value for the three: most nights' layers take 4 bytes a pixel, not 20.
// Bytes of one pixel's sample in a layer of that layout.
constexpr size_t LayerSampleBytes(bool weighted, bool grey) {
  return (weighted ? sizeof(double) : 0) + (grey ? 1 : 3) * sizeof(int32_t);
}
struct Layer {
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  bool weighted = true, grey = false;
  std::vector<uint8_t> bytes;
  size_t SampleBytes() const { return LayerSampleBytes(weighted, grey); }
  size_t Width() const { return x1 >= x0 ? static_cast<size_t>(x1 - x0 + 1) : 0; }
  size_t Height() const { return y1 >= y0 ? static_cast<size_t>(y1 - y0 + 1) : 0; }
};

// Three planes of one size that hold the same values: a grey picture.
bool GreyPlanes(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b);

// The samples ResampleImage would add, kept instead in a layer over the
// clamped box of a destination of upper bounds (wd, hd); the same stops.
bool ResampleToLayer(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b, int wd, int hd,
                     const Weighting& weighting, const Placement& placement, const YieldPoint& yield, Layer& layer);

// The fifth smallest of nine values (the values are reordered).
int32_t MiddleOfNine(int32_t* values);

// Median filter of three planes of one size: each pixel's window (mode 1
// 3x3, 2 4x4, 3 5x5, anything else 3x3) gives the median of its values above
// 0, which replaces the pixel when it is at most `limit`. Calls `yield` after
// each row and, when it says stop, ends with the planes unchanged.
void MedianFilter(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, int16_t mode, int32_t limit,
                  const YieldPoint& yield);

// The same on the current planes with opt.MedianLimit; yields to the event
// loop after each row and ends when the run is no longer running.
void MedianFilter(Session& s, int16_t mode);

// Median of values[1..n] (1-based; element 0 unused): the lower middle
// value for an even count, 0 when n <= 0. Leaves values partly sorted.
int32_t MedianOf(int16_t n, std::vector<int32_t>& values);

// The destination histogram and its largest count; false when the result
// is empty (all values equal), which opens no window.
bool MeasureDestination(Session& s);

// The engine's part of the final step: combines the stack (expanded to the
// whole canvas or not), measures the destination and names the result
// (DestFileName). `destination` receives the caption of the destination
// window to open, empty when there is none to show. A failed combination
// ends it with CombineStack's outcome, or without a reason when the result
// is empty; a run-time error of its own is shown in a message box and
// gives its number and text.
Outcome FinalCombination(Session& s, bool expand, std::string& destination, std::vector<int>* combined = nullptr);

// The default base name of the result: the common beginning of the list
// images' file names.
std::string BaseName(const Session& s);

}  // namespace qv
