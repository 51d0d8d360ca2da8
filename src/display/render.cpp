#include "display/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vector>

#include "core/numeric.h"

namespace qv {

namespace {

// One channel already scaled and limited to 0..255, as a byte: the nearest
// integer, halves to even (127.5 -> 128, 126.5 -> 126). Adding 1.5 x 2^52
// leaves no fraction bits, so the addition itself rounds (to nearest, ties
// to even, the process's rounding mode) and the integer sits in the low
// bits; this keeps the per-pixel loop free of library calls.
inline int32_t ToByte(double v) {
  const double shifted = v + 6755399441055744.0;
  uint64_t bits;
  std::memcpy(&bits, &shifted, sizeof bits);
  return static_cast<int32_t>(bits & 0xFF);
}

// Written so that the compiler uses the min and max instructions: on noisy
// data, branches would mispredict at every other pixel.
inline double Clamp255(double v) {
#if defined(__SSE2__)
  // maxsd returns its second operand for a NaN, so NaN gives 0 as below.
  return _mm_cvtsd_f64(_mm_min_sd(_mm_max_sd(_mm_set_sd(v), _mm_setzero_pd()), _mm_set_sd(255.0)));
#else
  v = v > 0.0 ? v : 0.0;
  return v < 255.0 ? v : 255.0;
#endif
}

}  // namespace

Plane<int32_t> DrawImage(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double black,
                         double white, int step, bool mono) {
  Plane<int32_t> out;
  DrawImage(r, g, b, black, white, step, mono, out);
  return out;
}

void DrawImage(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double black, double white,
               int step, bool mono, Plane<int32_t>& out) {
  if (r.Empty() || g.Size() < r.Size() || b.Size() < r.Size() || g.Width() < r.Width() || b.Width() < r.Width()) {
    out.Erase();
    return;
  }
  if (step < 1) step = 1;
  const int wd = r.UBound1() / step, hd = r.UBound2() / step;
  // Every element is written below, so an array of the right size is used
  // as it is: clearing or mapping fresh memory costs more than the mapping.
  if (!out.HasSize(wd + 1, hd + 1)) out.Redim(wd, hd);

  double gain = white - black;
  if (gain > 0) gain = 255 / gain;

  for (int y = 0; y <= hd; ++y) {
    const int sy = y * step;
    const int32_t* rr = r.Row(sy);
    const int32_t* gr = g.Row(sy);
    const int32_t* br = b.Row(sy);
    int32_t* o = out.Row(y);
    for (int x = 0; x <= wd; ++x) {
      const int sx = x * step;
      const double rv = (rr[sx] - black) * gain;
      const double gv = (gr[sx] - black) * gain;
      const double bv = (br[sx] - black) * gain;
      if (!mono) {
        o[x] = (ToByte(Clamp255(rv)) << 16) | (ToByte(Clamp255(gv)) << 8) | ToByte(Clamp255(bv));
      } else {
        const int32_t m = ToByte(Clamp255((gv + rv + bv) * 0.33333333));
        o[x] = (m << 16) | (m << 8) | m;
      }
    }
  }
}

PixelsGeometry ShowPixelsGeometry(int w, int h, bool pixAspect, double pixRatio, int zoomPercent, bool mirror) {
  PixelsGeometry g;
  g.w = w;
  g.h = h;
  g.mirror = mirror;
  double dw = w, dh = h;
  if (pixAspect) dw = RoundHalfEven(w * pixRatio);
  if (zoomPercent >= 1) {
    dw = RoundHalfEven(dw * zoomPercent / 100.0);
    dh = RoundHalfEven(h * static_cast<double>(zoomPercent) / 100.0);
  }
  // A view cannot be larger than a 32-bit extent; anything beyond is clipped
  // so that callers never size a surface from an overflowed value.
  g.dw = static_cast<int>(std::clamp(dw, 0.0, 2147483647.0));
  g.dh = static_cast<int>(std::clamp(dh, 0.0, 2147483647.0));
  return g;
}

Plane<int32_t> ShowPixels(const Plane<int32_t>& pixels, const PixelsGeometry& geometry) {
  Plane<int32_t> out;
  const int w = geometry.w, h = geometry.h, dw = geometry.dw, dh = geometry.dh;
  if (w <= 0 || h <= 0 || dw <= 0 || dh <= 0 || pixels.Width() < w || pixels.Height() < h) return out;
  // A view that cannot be built shows nothing rather than failing its caller.
  try {
    out.Redim(dw - 1, dh - 1);
  } catch (const RuntimeError&) {
    return out;
  }
  // Column map first: every row uses the same one.
  std::vector<int> col(static_cast<size_t>(dw));
  for (int x = 0; x < dw; ++x) {
    const int sx = static_cast<int>(static_cast<int64_t>(x) * w / dw);
    col[static_cast<size_t>(x)] = geometry.mirror ? w - 1 - sx : sx;
  }
  for (int y = 0; y < dh; ++y) {
    const int sy = static_cast<int>(static_cast<int64_t>(y) * h / dh);
    const int32_t* src = pixels.Row(sy);
    int32_t* dst = out.Row(y);
    for (int x = 0; x < dw; ++x) dst[x] = src[col[static_cast<size_t>(x)]];
  }
  return out;
}

}  // namespace qv
