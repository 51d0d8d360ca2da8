#include "process/gradient.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "display/zones.h"

namespace qv {

namespace {

constexpr double kBackground = 1000;
constexpr double kFloor = 500;
constexpr double kCeiling = 65535;

// Z pixels are packed 0x00RRGGBB; a zone is drawn in white.
inline bool RedOf(int32_t packed) { return ((packed >> 16) & 0xFF) != 0; }

// Cells masked out by the zones, (nx+1) x (ny+1) flags.
Plane<uint8_t> ExcludedCells(const std::string& zones, const GradientGrid& g) {
  Plane<uint8_t> excluded(g.nx, g.ny);
  if (zones.empty()) return excluded;
  // One pixel of the drawing surface per cell.
  Plane<int32_t> z(g.nx, g.ny);
  DrawZonesFilled(zones, z, 0xFFFFFF);
  for (int gy = 0; gy <= g.ny; ++gy)
    for (int gx = 0; gx <= g.nx; ++gx) excluded(gx, gy) = RedOf(z(gx, gy)) ? 1 : 0;
  return excluded;
}

// The three planes of the image being corrected, read over the bounds of the
// red one.
struct Planes {
  PlaneView<int32_t> p[3];
  int xm, ym;
};

// Returns false when a stop was requested during the sampling.
bool Sample(const Planes& im, const GradientGrid& g, const Plane<uint8_t>& excluded, double lim, Plane<int64_t>& sum,
            Plane<int32_t>& count, const YieldPoint& yield) {
  const int xm = im.xm, ym = im.ym;
  const int c = g.cell;
  for (int y = 0; y <= ym; ++y) {
    const int gy = y / c;
    const uint8_t* ex = excluded.Row(gy);
    int64_t* srow = sum.Row(gy);
    int32_t* nrow = count.Row(gy);
    // Walk the row cell by cell. The samples are whole numbers whose cell
    // total stays far below 2^53, so adding them as integers gives exactly
    // the sums that adding them one by one in floating point would give.
    for (int gx = 0, x0 = 0; x0 <= xm; ++gx, x0 += c) {
      if (ex[gx]) continue;
      const int x1 = std::min(xm, x0 + c - 1);
      int64_t cellSum = 0;
      int32_t cellCount = 0;
      for (const PlaneView<int32_t>& p : im.p) {
        const int32_t* row = p.Row(y);
        for (int x = x0; x <= x1; ++x) {
          const int32_t v = row[x];
          if (v > 1 && v < lim) {
            cellSum += v;
            ++cellCount;
          }
        }
      }
      srow[gx] += cellSum;
      nrow[gx] += cellCount;
    }
    if (!GoOn(yield)) return false;
  }
  return true;
}

// Spreads the cell means into the cells without samples, one ring of cells
// per pass: each pass reads only the values of the previous one. Returns
// false when a stop was requested.
bool FillEmptyCells(const GradientGrid& g, Plane<double>& grid, const YieldPoint& yield) {
  Plane<double> next = grid;
  for (;;) {
    long empty = 0;
    for (int gy = 0; gy <= g.ny; ++gy) {
      for (int gx = 0; gx <= g.nx; ++gx) {
        if (grid(gx, gy) != 0) continue;
        ++empty;
        double total = 0;
        int n = 0;
        for (int yy = std::max(0, gy - 1); yy <= std::min(g.ny, gy + 1); ++yy)
          for (int xx = std::max(0, gx - 1); xx <= std::min(g.nx, gx + 1); ++xx)
            if (grid(xx, yy) > 0) {
              total += grid(xx, yy);
              ++n;
            }
        if (n > 0) next(gx, gy) = total / n;
      }
    }
    if (!GoOn(yield)) return false;
    if (empty == 0) return true;
    grid = next;
  }
}

void Correct(const Planes& im, const GradientGrid& g, const Plane<double>& grid, double mean,
             std::array<int32_t, kHistoBins>& histo, const YieldPoint& yield) {
  const int xm = im.xm, ym = im.ym;
  const double c = g.cell;
  const double shift = mean - kBackground;

  // Grid value g serves as the background at cell position g - 0.5.
  std::vector<int> gxOf(static_cast<size_t>(xm) + 1);
  std::vector<double> fxOf(gxOf.size());
  for (int x = 0; x <= xm; ++x) {
    const double u = x / c + 0.5;
    gxOf[static_cast<size_t>(x)] = static_cast<int>(std::floor(u));
    fxOf[static_cast<size_t>(x)] = u - gxOf[static_cast<size_t>(x)];
  }
  // Per row, the grid interpolated along y at every grid column; the
  // background is then the interpolation of that along x, the very terms of
  // the full bilinear formula.
  std::vector<double> alongY(static_cast<size_t>(g.nx) + 1);

  for (int y = 0; y <= ym; ++y) {
    const double u = y / c + 0.5;
    const int gy = static_cast<int>(std::floor(u));
    const double fy = u - gy;
    const double* s0 = grid.Row(gy);
    const double* s1 = grid.Row(gy + 1);
    for (int k = 0; k <= g.nx; ++k) alongY[static_cast<size_t>(k)] = (1 - fy) * s0[k] + fy * s1[k];
    int32_t* rows[3] = {im.p[0].Row(y), im.p[1].Row(y), im.p[2].Row(y)};
    for (int x = 0; x <= xm; ++x) {
      const int gx = gxOf[static_cast<size_t>(x)];
      const double fx = fxOf[static_cast<size_t>(x)];
      const double b = (1 - fx) * alongY[static_cast<size_t>(gx)] + fx * alongY[static_cast<size_t>(gx) + 1];
      if (!(b > 0)) continue;
      const double k = mean / b;
      int64_t total = 0;
      int n = 0;
      for (int32_t* row : rows) {
        const int32_t v = row[x];
        if (v <= 0) continue;
        const int32_t nv = static_cast<int32_t>(RoundHalfEven(std::max(kFloor, std::min(kCeiling, v * k - shift))));
        row[x] = nv;
        total += nv;
        ++n;
      }
      if (n > 0) {
        const int64_t level = static_cast<int64_t>(RoundHalfEven(static_cast<double>(total) / n));
        histo[static_cast<size_t>(std::clamp<int64_t>(level / 32, 0, kHistoBins - 1))]++;
      }
    }
    if (!GoOn(yield)) return;
  }
}

void RemoveGradientBody(const Planes& im, const GradientSettings& o, Plane<uint8_t>& gradMask,
                        std::array<int32_t, kHistoBins>& histo, const YieldPoint& yield) {
  const int xm = im.xm, ym = im.ym;
  // The three planes are read over the bounds of the red one.
  for (int i = 1; i < 3; ++i)
    if (im.p[i].Width() < xm + 1 || im.p[i].Height() < ym + 1) Raise(kErrSubscript);

  const GradientGrid g = GradientGridFor(xm, ym);
  const double lo = (o.levelLow - 1) * 32, hi = (o.levelHigh + 1) * 32;
  const double lim = lo + (hi - lo) * o.ratio / 10;

  Plane<int64_t> sum(g.nx, g.ny);
  Plane<int32_t> count(g.nx, g.ny);
  gradMask.Redim(g.nx, g.ny);
  const Plane<uint8_t> excluded = ExcludedCells(o.zones, g);
  if (!Sample(im, g, excluded, lim, sum, count, yield)) return;

  Plane<double> grid(g.nx, g.ny);
  double total = 0;
  long cells = 0;
  for (int gy = 0; gy <= g.ny; ++gy)
    for (int gx = 0; gx <= g.nx; ++gx) {
      const int32_t n = count(gx, gy);
      if (n <= 0) continue;
      gradMask(gx, gy) = 1;
      grid(gx, gy) = static_cast<double>(sum(gx, gy)) / n;
      total += grid(gx, gy);
      ++cells;
    }
  if (cells == 0) return;
  const double mean = total / cells;

  if (!FillEmptyCells(g, grid, yield)) return;
  histo.fill(0);
  Correct(im, g, grid, mean, histo, yield);
}

}  // namespace

GradientGrid GradientGridFor(int xm, int ym) {
  GradientGrid g;
  g.cell = static_cast<int32_t>(RoundHalfEven(std::max(4.0, (static_cast<double>(xm) + ym) / 100)));
  g.nx = static_cast<int>(std::floor(static_cast<double>(xm) / g.cell)) + 2;
  g.ny = static_cast<int>(std::floor(static_cast<double>(ym) / g.cell)) + 2;
  return g;
}

void RemoveGradient(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, const GradientSettings& o,
                    Plane<uint8_t>& gradMask, std::array<int32_t, kHistoBins>& histo, const YieldPoint& yield) {
  try {
    RemoveGradientBody({{r, g, b}, r.UBound1(), r.UBound2()}, o, gradMask, histo, yield);
  } catch (const RuntimeError&) {
    // What was corrected before the error stays corrected.
  } catch (const std::bad_alloc&) {
  }
}

void RemoveGradient(Session& s) {
  GradientSettings o{s.pic.LevelLow, s.pic.LevelHigh, s.opt.GradRatio, {}};
  const int cur = s.CurPic;
  if (cur >= 0 && cur < static_cast<int>(s.Img.size())) o.zones = s.Img[static_cast<size_t>(cur)].ImgZone;
  RemoveGradient(s.pic.PicR, s.pic.PicG, s.pic.PicB, o, s.pic.GradMask, s.pic.Histo, s.progress.UntilStopRequested());
}

}  // namespace qv
