#include "process/defects.h"

#include <algorithm>
#include <cstdint>

namespace qv {

namespace {

constexpr int kMaxFillPasses = 10;

// Marks in `marks` (bit `bit`) the interior pixels of `p` that stand out
// from all four diagonal neighbours by more than the threshold.
void MarkHot(const Plane<int32_t>& p, int xm, int ym, double scale, int32_t thr, uint8_t bit, Plane<uint8_t>& marks) {
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

// The cleaning steps work on three planes of one size.
void CheckSameSize(const Session& s) {
  const int w = s.pic.PicR.Width(), h = s.pic.PicR.Height();
  if (s.pic.PicG.Width() != w || s.pic.PicG.Height() != h || s.pic.PicB.Width() != w || s.pic.PicB.Height() != h)
    Raise(kErrSubscript);
}

}  // namespace

void RemoveHotPixels(Session& s) {
  s.opt.CalcThr = static_cast<int32_t>(RoundHalfEven(std::max(50.0, std::min<double>(s.opt.CalcThr, 10000))));
  const int32_t thr = s.opt.CalcThr;
  const int xm = s.pic.PicR.UBound1(), ym = s.pic.PicR.UBound2();
  if (xm < 0 || ym < 0) return;
  CheckSameSize(s);
  // m x scale reaches 15 for a neighbourhood as bright as the brightest mean
  // level of the image (LevelMax bins of 32 units).
  const double scale = s.pic.LevelMax > 0 ? 15 / (s.pic.LevelMax * 32) : 0;

  Plane<uint8_t> marks(xm, ym);
  Plane<int32_t>* planes[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
  // Detection reads only the planes and blanking happens after it, so each
  // plane can be examined on its own.
  for (int i = 0; i < 3; ++i) MarkHot(*planes[i], xm, ym, scale, thr, static_cast<uint8_t>(1 << i), marks);

  const int r = s.opt.CalcSize - 1;
  if (r < 0) return;  // an empty window blanks nothing
  const bool onlyMarked = s.opt.Has(CalcFill);
  for (int y = r; y <= ym - r; ++y) {
    const uint8_t* mrow = marks.Row(y);
    for (int x = r; x <= xm - r; ++x) {
      const uint8_t m = mrow[x];
      if (m == 0) continue;
      // Without filling the pixel is dropped from every plane; with it only
      // the planes where it was found hot are blanked, to be filled later.
      const uint8_t bits = onlyMarked ? m : 7;
      for (int i = 0; i < 3; ++i) {
        if (!(bits & (1 << i))) continue;
        for (int yy = y - r; yy <= y + r; ++yy) std::fill_n(planes[i]->Row(yy) + (x - r), 2 * r + 1, 0);
      }
    }
  }
}

void FillEmpty(Session& s) {
  const int xm = s.pic.PicR.UBound1(), ym = s.pic.PicR.UBound2();
  if (xm < 0 || ym < 0) return;
  CheckSameSize(s);
  Plane<int32_t>* planes[3] = {&s.pic.PicR, &s.pic.PicG, &s.pic.PicB};
  const bool has[3] = {s.pic.HasR, s.pic.HasG, s.pic.HasB};
  // Sub-grids by (x parity, y parity), in the order of the passes.
  constexpr int kOrder[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};

  bool blankFound = true;
  for (int pass = 0; pass < kMaxFillPasses && blankFound; ++pass) {
    blankFound = false;
    for (const auto& grid : kOrder) {
      for (int y = grid[1]; y <= ym; y += 2) {
        int32_t* rows[3][3];  // per plane: above, this row, below
        for (int i = 0; i < 3; ++i) {
          rows[i][0] = planes[i]->Row(y > 0 ? y - 1 : y);
          rows[i][1] = planes[i]->Row(y);
          rows[i][2] = planes[i]->Row(y < ym ? y + 1 : y);
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
        s.DoEvents();
      }
    }
  }
}

}  // namespace qv
