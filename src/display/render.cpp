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

// One channel of one pixel, scaled by the levels, as a byte.
inline int32_t ChannelByte(int32_t v, double black, double gain) { return ToByte(Clamp255((v - black) * gain)); }

// Samples of the working scale, 0..65535: the values a colour picture
// takes a table of (a grey one sums three doubles, as fast as the table),
// computed by ChannelByte itself so that a byte from the table is the byte
// computed. Pictures of more than kTabulateFrom output pixels amortise the
// table (65536 values against three per pixel).
constexpr int32_t kTabulated = 65536;
constexpr int64_t kTabulateFrom = 1 << 17;

}  // namespace

Plane<int32_t> DrawImage(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double black,
                         double white, int step, bool mono) {
  Plane<int32_t> out;
  DrawImage(r, g, b, black, white, step, mono, out);
  return out;
}

namespace {

// Every step-th row of the three planes, handed to `row` with the row of
// `out` it draws.
template <class Row>
void EachRow(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, int step, Plane<int32_t>& out,
             const Row& row) {
  for (int y = 0; y <= out.UBound2(); ++y) {
    const int sy = y * step;
    row(r.Row(sy), g.Row(sy), b.Row(sy), out.Row(y));
  }
}

// Every step-th pixel of every step-th row of the three planes, packed by
// `pixel` into the rows of `out`.
template <class Pixel>
void DrawRows(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, int step, Plane<int32_t>& out,
              const Pixel& pixel) {
  const int last = out.UBound1();
  EachRow(r, g, b, step, out, [&](const int32_t* rr, const int32_t* gr, const int32_t* br, int32_t* o) {
    for (int x = 0, sx = 0; x <= last; ++x, sx += step) o[x] = pixel(rr[sx], gr[sx], br[sx]);
  });
}

}  // namespace

void DrawImage(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double black, double white,
               int step, bool mono, Plane<int32_t>& out, bool knownGrey) {
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

  auto grey = [&](int32_t rs, int32_t gs, int32_t bs) {
    const double rv = (rs - black) * gain;
    const double gv = (gs - black) * gain;
    const double bv = (bs - black) * gain;
    const int32_t m = ToByte(Clamp255((gv + rv + bv) * 0.33333333));
    return (m << 16) | (m << 8) | m;
  };
  if (static_cast<int64_t>(wd + 1) * (hd + 1) >= kTabulateFrom) {
    // A picture of a camera's size: tables of the working scale rather than
    // the arithmetic, which a million pixels would repeat for the same few
    // thousand values. Each table entry is computed by the pixel's own
    // expression. A grey camera's frame carries the same value in its
    // three planes: such a run of pixels takes its packed pixel from one
    // table, in colour as in grey; other pixels take a byte per channel
    // (colour) or are computed (grey, which mixes the channels). A colour
    // frame, known by its first row, is not compared.
    const size_t rowBytes = static_cast<size_t>(r.Width()) * sizeof(int32_t);
    const bool greyFrame =
        knownGrey || (std::memcmp(r.Row(0), g.Row(0), rowBytes) == 0 && std::memcmp(r.Row(0), b.Row(0), rowBytes) == 0);
    std::vector<uint8_t> bytes(mono ? 0 : kTabulated);
    std::vector<int32_t> packed(greyFrame ? kTabulated : 0);
    for (int32_t v = 0; v < (mono && !greyFrame ? 0 : kTabulated); ++v) {
      const int32_t c = mono ? 0 : ChannelByte(v, black, gain);
      if (!mono) bytes[static_cast<size_t>(v)] = static_cast<uint8_t>(c);
      if (greyFrame) packed[static_cast<size_t>(v)] = mono ? grey(v, v, v) : (c << 16) | (c << 8) | c;
    }
    auto byte = [&](int32_t v) {
      return static_cast<uint32_t>(v) < static_cast<uint32_t>(kTabulated) ? int32_t{bytes[static_cast<size_t>(v)]}
                                                                          : ChannelByte(v, black, gain);
    };
    auto colour = [&](int32_t rs, int32_t gs, int32_t bs) { return (byte(rs) << 16) | (byte(gs) << 8) | byte(bs); };
    if (!greyFrame) {
      if (mono)
        DrawRows(r, g, b, step, out, grey);
      else
        DrawRows(r, g, b, step, out, colour);
      return;
    }
    // Runs short enough for their three planes to stay in the cache
    // between the comparison and the drawing.
    constexpr int kRun = 256;
    const int last = out.UBound1();
    EachRow(r, g, b, step, out, [&](const int32_t* rr, const int32_t* gr, const int32_t* br, int32_t* o) {
      for (int x0 = 0; x0 <= last; x0 += kRun) {
        const int x1 = std::min(last, x0 + kRun - 1);
        const size_t span = static_cast<size_t>((x1 - x0) * step + 1) * sizeof(int32_t);
        const int s0 = x0 * step;
        // Planes known to be alike are not read twice more to be compared.
        if (knownGrey || (std::memcmp(rr + s0, gr + s0, span) == 0 && std::memcmp(rr + s0, br + s0, span) == 0)) {
          for (int x = x0, sx = s0; x <= x1; ++x, sx += step) {
            const int32_t v = rr[sx];
            o[x] = static_cast<uint32_t>(v) < static_cast<uint32_t>(kTabulated) ? packed[static_cast<size_t>(v)]
                   : mono                                                       ? grey(v, v, v)
                                                                                : colour(v, v, v);
          }
        } else if (mono) {
          for (int x = x0, sx = s0; x <= x1; ++x, sx += step) o[x] = grey(rr[sx], gr[sx], br[sx]);
        } else {
          for (int x = x0, sx = s0; x <= x1; ++x, sx += step) o[x] = colour(rr[sx], gr[sx], br[sx]);
        }
      }
    });
    return;
  }

  DrawRows(r, g, b, step, out, [&](int32_t rs, int32_t gs, int32_t bs) {
    if (mono) return grey(rs, gs, bs);
    const double rv = (rs - black) * gain;
    const double gv = (gs - black) * gain;
    const double bv = (bs - black) * gain;
    return (ToByte(Clamp255(rv)) << 16) | (ToByte(Clamp255(gv)) << 8) | ToByte(Clamp255(bv));
  });
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
  ShowPixels(pixels, geometry, out);
  return out;
}

bool ShowsAsIs(const PixelsGeometry& geometry) {
  return geometry.dw == geometry.w && geometry.dh == geometry.h && !geometry.mirror;
}

void ShowPixels(const Plane<int32_t>& pixels, const PixelsGeometry& geometry, Plane<int32_t>& out) {
  const int w = geometry.w, h = geometry.h, dw = geometry.dw, dh = geometry.dh;
  if (w <= 0 || h <= 0 || dw <= 0 || dh <= 0 || pixels.Width() < w || pixels.Height() < h) {
    out.Erase();
    return;
  }
  // A view that cannot be built shows nothing rather than failing its
  // caller. Every element is written below, so storage of the right size
  // is used as it is.
  if (!out.HasSize(dw, dh)) {
    try {
      out.Redim(dw - 1, dh - 1);
    } catch (const RuntimeError&) {
      out.Erase();
      return;
    }
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
}

}  // namespace qv
