// Planes to screen pixels: the packed pixel array of an image, the size at
// which a view shows it, and the pixels the view ends up holding.
#pragma once

#include <cstdint>

#include "core/plane.h"

namespace qv {

// Maps the planes to a packed pixel array (red x 65536 + green x 256 +
// blue, row 0 at the top), reading every step-th pixel of every step-th row
// of `r`'s extent: the array has Int(U1 / step) + 1 by Int(U2 / step) + 1
// elements. A step below 1 counts as 1. The gain is 255 / (white - black)
// when white is above black, else white - black itself, so equal levels
// give black and reversed ones a negative image of the darkest pixels.
// `mono` averages the three scaled channels into one grey. `g` and `b` must
// have at least `r`'s extent; empty planes give an empty array.
Plane<int32_t> DrawImage(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double black,
                         double white, int step, bool mono);
// The same into `out`, whose storage is reused when it has the size already
// (a view redrawing the same image); empty planes leave it empty.
// `knownGrey` says the three planes hold the same values, which the caller
// knows from how they were made: they are then not compared.
void DrawImage(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double black, double white,
               int step, bool mono, Plane<int32_t>& out, bool knownGrey = false);

// Where and how large a view shows a w x h pixel array.
struct PixelsGeometry {
  int w = 0, h = 0;    // the array
  int dw = 0, dh = 0;  // the picture on screen
  bool mirror = false;
};

// The display size of a w x h array: the width times `pixRatio` when
// `pixAspect` is set, then both sides times zoomPercent / 100 when that is
// 1 or more (0 or less means no scaling); each product rounded half to even.
PixelsGeometry ShowPixelsGeometry(int w, int h, bool pixAspect, double pixRatio, int zoomPercent, bool mirror);

// The pixels the view shows: a colour-on-colour stretch of `pixels` to
// dw x dh, where each displayed pixel takes the nearest source pixel at or
// left of / above its position (rows and columns are dropped or repeated,
// never blended); with mirror the columns are taken right to left, so the
// first displayed column is the array's last one. An empty or degenerate
// geometry gives an empty plane.
Plane<int32_t> ShowPixels(const Plane<int32_t>& pixels, const PixelsGeometry& geometry);
// The same into `out`, whose storage is reused when it has the size already
// (a view showing image after image of one size).
void ShowPixels(const Plane<int32_t>& pixels, const PixelsGeometry& geometry, Plane<int32_t>& out);
// True when the view shows the array as it is: no stretch, no mirror.
bool ShowsAsIs(const PixelsGeometry& geometry);

// Packed colour helpers.
constexpr int32_t PackRgb(int red, int green, int blue) { return (red << 16) | (green << 8) | blue; }
constexpr int RedOf(int32_t c) { return (c >> 16) & 0xFF; }
constexpr int GreenOf(int32_t c) { return (c >> 8) & 0xFF; }
constexpr int BlueOf(int32_t c) { return c & 0xFF; }

}  // namespace qv
