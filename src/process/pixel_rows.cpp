#include "process/pixel_rows.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

// How many output pixels of a row, read every `step` file pixels at file
// row y, fall inside a plane.
int Reach(ConstPlaneView<int32_t> p, int y, int step) {
  return y < p.Height() && p.Width() > 0 ? (p.Width() - 1) / step + 1 : 0;
}

}  // namespace

void RouteRow(const int32_t* const decoded[3], int planes, int16_t chan, RgbRow out) {
  const size_t bytes = static_cast<size_t>(out.n) * sizeof(int32_t);
  for (int p = 0; p < 3; ++p) {
    const int32_t* from = nullptr;
    if (chan == 0)
      from = decoded[planes == 3 ? p : 0];
    else if (chan & (1 << p))
      from = decoded[0];
    if (from)
      std::memcpy(out.v[p], from, bytes);
    else
      std::memset(out.v[p], 0, bytes);
  }
}

void MaskRow(const uint8_t* mask, int step, RgbRow row, uint8_t* skip) {
  for (int x = 0; x < row.n; ++x) {
    skip[x] = mask[static_cast<size_t>(x) * step] != 0;
    if (skip[x]) row.v[0][x] = row.v[1][x] = row.v[2][x] = 0;
  }
}

void NoteData(RgbRow row, bool has[3]) {
  for (int p = 0; p < 3; ++p)
    if (!has[p]) has[p] = std::any_of(row.v[p], row.v[p] + row.n, [](int32_t v) { return v > 0; });
}

void SubtractDark(RgbRow row, const ConstPlaneView<int32_t> dark[3], int y, int step, RowFault& fault) {
  const int reach[3] = {Reach(dark[0], y, step), Reach(dark[1], y, step), Reach(dark[2], y, step)};
  for (int x = 0; x < fault.end; ++x)
    for (int p = 0; p < 3; ++p) {
      int32_t& v = row.v[p][x];
      if (v <= 0) continue;
      if (x >= reach[p]) return fault.At(x, kErrSubscript);
      const int64_t d = int64_t{v} - dark[p](x * step, y);
      if (d < INT32_MIN || d > INT32_MAX) return fault.At(x, kErrOverflow);
      v = std::max<int32_t>(1, static_cast<int32_t>(d));
    }
}

void ApplyFlat(RgbRow row, const uint8_t* skip, ConstPlaneView<int32_t> flat, double flatMean, int y, int step,
               RowFault& fault) {
  const int reach = Reach(flat, y, step);
  for (int x = 0; x < fault.end; ++x) {
    if (skip && skip[x]) continue;
    if (x >= reach) return fault.At(x, kErrSubscript);
    const int32_t fp = flat(x * step, y);
    if (fp == 0) return fault.At(x, kErrDivisionByZero);
    const double f = flatMean / fp;
    for (int p = 0; p < 3; ++p) {
      int32_t& v = row.v[p][x];
      if (!TryCLng(v * f, v)) return fault.At(x, kErrOverflow);
    }
  }
}

void CountRow(RgbRow row, const uint8_t* skip, std::array<int32_t, kHistoBins>& histo, RowFault& fault) {
  // Neighbouring pixels of a sky mostly share a bin, and with one table
  // each count would wait for the one before it: pixels take four tables
  // in turn, the three others kept empty between rows and added in at the
  // end of each, over the bins the row reached.
  thread_local std::array<std::array<int32_t, kHistoBins>, 3> more{};
  int lo = kHistoBins, hi = -1;
  auto addIn = [&] {
    for (std::array<int32_t, kHistoBins>& t : more)
      for (int b = lo; b <= hi; ++b) {
        histo[static_cast<size_t>(b)] += t[static_cast<size_t>(b)];
        t[static_cast<size_t>(b)] = 0;
      }
  };
  for (int x = 0; x < fault.end; ++x) {
    if (skip && skip[x]) continue;
    const int64_t sum = int64_t{row.v[0][x]} + row.v[1][x] + row.v[2][x];
    if (sum < INT32_MIN || sum > INT32_MAX) {
      addIn();
      return fault.At(x + 1, kErrOverflow);
    }
    const int b = std::clamp(static_cast<int32_t>(sum) / 96, 0, kHistoBins - 1);
    if ((x & 3) == 0) {
      ++histo[static_cast<size_t>(b)];
    } else {
      ++more[static_cast<size_t>((x & 3) - 1)][static_cast<size_t>(b)];
      lo = std::min(lo, b);
      hi = std::max(hi, b);
    }
  }
  addIn();
}

}  // namespace qv
