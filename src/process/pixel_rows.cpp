#include "process/pixel_rows.h"

#include <algorithm>
#include <cstring>
#include <vector>

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
  const int end = fault.end;
  const int32_t* const r = row.v[0];
  const int32_t* const g = row.v[1];
  const int32_t* const b = row.v[2];
  // First each pixel's bin; a skipped pixel takes a spare bin past the
  // last, which is never added in.
  thread_local std::vector<uint16_t> bins;
  if (bins.size() < static_cast<size_t>(end) + 4) bins.resize(static_cast<size_t>(end) + 4);
  uint16_t* const bin = bins.data();
  constexpr int64_t kTop = int64_t{kHistoBins - 1} * 96;
  // A camera's values lie far below 2^29: then no sum of three leaves 32
  // bits, and the bins are computed in 32 bits, several pixels at a time.
  uint32_t high = 0;
  for (int x = 0; x < end; ++x)
    high |= static_cast<uint32_t>(r[x]) | static_cast<uint32_t>(g[x]) | static_cast<uint32_t>(b[x]);
  if ((high >> 29) == 0) {
    for (int x = 0; x < end; ++x) {
      const uint32_t sum = static_cast<uint32_t>(r[x]) + static_cast<uint32_t>(g[x]) + static_cast<uint32_t>(b[x]);
      bin[x] = static_cast<uint16_t>(std::min(sum, static_cast<uint32_t>(kTop)) / 96u);
    }
    if (skip)
      for (int x = 0; x < end; ++x) bin[x] = skip[x] ? uint16_t{kHistoBins} : bin[x];
  } else {
    bool overflow = false;
    for (int x = 0; x < end; ++x) {
      const int64_t sum = int64_t{r[x]} + g[x] + b[x];
      const bool counted = !(skip && skip[x]);
      overflow |= counted & (static_cast<uint64_t>(sum - INT32_MIN) > uint64_t{UINT32_MAX});
      // The sum divided by 96, the fraction dropped, limited to 0..2048.
      const int b96 = static_cast<int>(std::clamp<int64_t>(sum, 0, kTop) / 96);
      bin[x] = static_cast<uint16_t>(counted ? b96 : kHistoBins);
    }
    if (overflow) {
      // The pixels before the first sum beyond 32 bits are counted; that
      // pixel's values are final but it is not counted.
      int x = 0;
      for (;; ++x) {
        const int64_t sum = int64_t{r[x]} + g[x] + b[x];
        if (!(skip && skip[x]) && (sum < INT32_MIN || sum > INT32_MAX)) break;
      }
      for (int i = 0; i < x; ++i)
        if (bin[i] < kHistoBins) ++histo[bin[i]];
      return fault.At(x + 1, kErrOverflow);
    }
  }
  int lo = kHistoBins, hi = 0;
  for (int x = 0; x < end; ++x) {
    lo = std::min<int>(lo, bin[x]);
    hi = std::max<int>(hi, bin[x]);
  }
  // Neighbouring pixels of a sky mostly share a bin, and with one table
  // each count would wait for the one before it: pixels take four tables
  // in turn, kept empty between rows and added in at the end of each, over
  // the bins the row reached.
  thread_local std::array<std::array<int32_t, kHistoBins + 1>, 4> tables{};
  int32_t* const t0 = tables[0].data();
  int32_t* const t1 = tables[1].data();
  int32_t* const t2 = tables[2].data();
  int32_t* const t3 = tables[3].data();
  int x = 0;
  for (; x + 4 <= end; x += 4) {
    ++t0[bin[x]];
    ++t1[bin[x + 1]];
    ++t2[bin[x + 2]];
    ++t3[bin[x + 3]];
  }
  for (; x < end; ++x) ++t0[bin[x]];
  for (std::array<int32_t, kHistoBins + 1>& t : tables) {
    for (int k = lo; k <= std::min(hi, kHistoBins - 1); ++k) histo[static_cast<size_t>(k)] += t[static_cast<size_t>(k)];
    std::fill(t.begin() + lo, t.begin() + std::max(lo, hi + 1), 0);
  }
}

}  // namespace qv
