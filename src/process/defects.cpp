#include "process/defects.h"

#include <algorithm>
#include <cstdint>

namespace qv {

namespace {

constexpr int kMaxFillPasses = 10;

// Marks in `marks` (bit `bit`) the interior pixels of `p` that stand out
// from all four diagonal neighbours by more than the threshold.
void MarkHot(ConstPlaneView<int32_t> p, int xm, int ym, double scale, int32_t thr, uint8_t bit, Plane<uint8_t>& marks) {
  for (int y = 1; y <= ym - 1; ++y) {
    const int32_t* up = p.Row(y - 1);
    const int32_t* row = p.Row(y);
    const int32_t* down = p.Row(y + 1);
    uint8_t* mrow = marks.Row(y);
    for (int x = 1; x <= xm - 1; ++x) {
      const int64_t v = row[x];
      if (v <= 0) continue;
      const int64_t a = up[x - 1], b = up[x + 1], c = down[x - 1], d = down[x + 1];
      // The threshold is never below thr, so a pixel that does not beat its
      // brightest diagonal by thr cannot be hot: skip the threshold.
      if (v - std::max(std::max(a, b), std::max(c, d)) <= thr) continue;
      const double ms = static_cast<double>(std::min(std::min(a, b), std::min(c, d))) * scale;
      const double t = RoundHalfEven(thr * (1 + ms * ms));
      if (v - a > t && v - b > t && v - c > t && v - d > t) mrow[x] |= bit;
    }
  }
}

// Mean, halves to even, of the values above 0 among the four direct
// neighbours of x in `row`, with `up` and `down` the rows above and below
// (the row itself at the border); 0 when none holds data. At the border a
// neighbour falls back on the pixel itself, which is blank and so does not
// count.
inline int32_t NeighbourMean(const int32_t* up, const int32_t* row, const int32_t* down, int x, int xm) {
  const int32_t n[4] = {row[x > 0 ? x - 1 : x], row[x < xm ? x + 1 : x], up[x], down[x]};
  int64_t sum = 0;
  int count = 0;
  for (int32_t v : n)
    if (v > 0) {
      sum += v;
      ++count;
    }
  return count ? static_cast<int32_t>(RoundHalfEven(static_cast<double>(sum) / count)) : 0;
}

}  // namespace

void RemoveHotPixels(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, const HotPixelSettings& o) {
  const int xm = r.UBound1(), ym = r.UBound2();
  if (xm < 0 || ym < 0) return;
  RequireSameSize(r, g, b);
  // m x scale reaches 15 for a neighbourhood as bright as the brightest mean
  // level of the image (LevelMax bins of 32 units).
  const double scale = o.levelMax > 0 ? 15 / (o.levelMax * 32) : 0;

  Plane<uint8_t> marks(xm, ym);
  const PlaneView<int32_t> planes[3] = {r, g, b};
  // Detection reads only the planes and blanking happens after it, so each
  // plane can be examined on its own.
  for (int i = 0; i < 3; ++i) MarkHot(planes[i], xm, ym, scale, o.threshold, static_cast<uint8_t>(1 << i), marks);

  const int radius = o.size - 1;
  if (radius < 0) return;  // an empty window blanks nothing
  for (int y = radius; y <= ym - radius; ++y) {
    const uint8_t* mrow = marks.Row(y);
    for (int x = radius; x <= xm - radius; ++x) {
      const uint8_t m = mrow[x];
      if (m == 0) continue;
      // Without filling the pixel is dropped from every plane; with it only
      // the planes where it was found hot are blanked, to be filled later.
      const uint8_t bits = o.onlyHotPlanes ? m : 7;
      for (int i = 0; i < 3; ++i) {
        if (!(bits & (1 << i))) continue;
        for (int yy = y - radius; yy <= y + radius; ++yy)
          std::fill_n(planes[i].Row(yy) + (x - radius), 2 * radius + 1, 0);
      }
    }
  }
}

void FillEmpty(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, const bool has[3],
               const YieldPoint& yield) {
  const int xm = r.UBound1(), ym = r.UBound2();
  if (xm < 0 || ym < 0) return;
  RequireSameSize(r, g, b);
  const PlaneView<int32_t> planes[3] = {r, g, b};
  // Sub-grids by (x parity, y parity), in the order of the passes.
  constexpr int kOrder[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};

  bool blankFound = true;
  for (int pass = 0; pass < kMaxFillPasses && blankFound; ++pass) {
    blankFound = false;
    for (const auto& grid : kOrder) {
      for (int y = grid[1]; y <= ym; y += 2) {
        int32_t* rows[3][3];  // per plane: above, this row, below
        for (int i = 0; i < 3; ++i) {
          rows[i][0] = planes[i].Row(y > 0 ? y - 1 : y);
          rows[i][1] = planes[i].Row(y);
          rows[i][2] = planes[i].Row(y < ym ? y + 1 : y);
        }
        for (int x = grid[0]; x <= xm; x += 2) {
          for (int i = 0; i < 3; ++i) {
            if (!has[i]) continue;
            int32_t& v = rows[i][1][x];
            if (v != 0) continue;
            blankFound = true;
            // Pixels filled earlier in the pass already count as data here.
            if (const int32_t mean = NeighbourMean(rows[i][0], rows[i][1], rows[i][2], x, xm)) v = mean;
          }
        }
        if (!GoOn(yield)) return;
      }
    }
  }
}

void RemoveHotPixels(Session& s) {
  s.opt.CalcThr = static_cast<int32_t>(RoundHalfEven(std::max(50.0, std::min<double>(s.opt.CalcThr, 10000))));
  RemoveHotPixels(s.pic.PicR, s.pic.PicG, s.pic.PicB,
                  {s.opt.CalcThr, s.opt.CalcSize, s.opt.Has(CalcFill), s.pic.LevelMax});
}

void FillEmpty(Session& s) {
  const bool has[3] = {s.pic.HasR, s.pic.HasG, s.pic.HasB};
  FillEmpty(s.pic.PicR, s.pic.PicG, s.pic.PicB, has, [&s] {
    s.progress.Yield();
    return true;
  });
}

}  // namespace qv
