#include "editor/rendering.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/numeric.h"
#include "core/parallel.h"

namespace qv {

namespace {

constexpr int32_t Pack(int r, int g, int b) { return (r << 16) | (g << 8) | b; }

}  // namespace

void BuildCurve(CurveTable& table, double p, double boxWidth, bool hideMax) {
  const double lo = hideMax ? 1 : 0, hi = hideMax ? 254 : 255;
  table[0] = static_cast<uint8_t>(lo);
  table[32767] = static_cast<uint8_t>(hi);
  const double f = p / (boxWidth - 1);
  for (int i = 1; i <= 32766; ++i) {
    const double x = i / 32767.0;
    const double y = std::pow(x, 2 * f);
    table[static_cast<size_t>(i)] = CByte(std::min(hi, std::max(lo, RoundHalfEven(y * 255))));
  }
}

const std::array<int32_t, 12>& ColourScalePalette() {
  static const std::array<int32_t, 12> palette = [] {
    std::array<int32_t, 12> p{};
    p[0] = Pack(90, 150, 205);
    p[11] = Pack(255, 255, 255);
    auto channel = [](double v) { return static_cast<int>(CByte(std::min(255.0, std::max(100.0, v)))); };
    for (int e = 1; e <= 10; ++e)
      p[static_cast<size_t>(e)] =
          Pack(channel(128 * (e - 5.5)), channel(220 * (4.5 - std::fabs(e - 5.5))), channel(128 * (5.5 - e)));
    return p;
  }();
  return palette;
}

int32_t ColourScale(double g, double b) {
  const auto& pal = ColourScalePalette();
  const double x = std::clamp(g * 0.043137 + 1, 0.0, 11.0);
  const int i = static_cast<int>(Int(x));
  const double f = x - i;
  const int j = std::clamp(i + 1, 1, 11);
  b = std::clamp(b, 0.0, 1.0);
  int out[3];
  for (int c = 0; c < 3; ++c) {
    const int shift = 16 - 8 * c;
    const double a = (pal[static_cast<size_t>(i)] >> shift) & 0xFF, z = (pal[static_cast<size_t>(j)] >> shift) & 0xFF;
    out[c] = static_cast<int>(RoundHalfEven(((1 - f) * a + f * z) * b));
  }
  return Pack(out[0], out[1], out[2]);
}

namespace {

// The column sums of rows r0 .. y over the columns x0 .. x1. Data values are
// float quotients of at least about 1, so every partial sum of a window (at
// most 49 values below 65536) is exact in double precision, and sliding
// gives the very sums a direct count gives; for other values the sums are
// still those of the one order a column has always been walked in.
void ColumnSums(RunningMeans& m, int r0, int y, int x0, int x1) {
  const int u2 = m.sum->UBound2(), w = m.sum->Width(), radius = m.radius;
  double* colSum = m.colSum.data();
  int32_t* colCount = m.colCount.data();
  auto addRow = [&](int row, bool add) {
    const float* s = m.sum->Row(row);
    const float* wt = m.weight->Row(row);
    for (int x = x0; x <= x1; ++x) {
      if (!(wt[x] > 0)) continue;
      const double v = s[x] / wt[x];
      if (add)
        colSum[x] += v, ++colCount[x];
      else
        colSum[x] -= v, --colCount[x];
    }
  };
  for (int row = r0; row <= y; ++row) {
    if (row == 0)
      for (int first = 0; first <= std::min(u2, radius - 1); ++first) addRow(first, true);
    if (row + radius <= u2) addRow(row + radius, true);
    if (row - radius - 1 >= 0) addRow(row - radius - 1, false);
    double* o = m.out->Row(row);
    int32_t* n = m.bandCount.data() + static_cast<size_t>(row - r0) * static_cast<size_t>(w);
    for (int x = x0; x <= x1; ++x) o[x] = colSum[x], n[x] = colCount[x];
  }
}

// The means of rows from .. to, whose rows hold their column sums (the
// band starting at r0), each row slid along in place from a copy.
void RowMeans(RunningMeans& m, int r0, int from, int to, std::vector<double>& copy) {
  const int u1 = m.sum->UBound1(), w = u1 + 1, radius = m.radius;
  copy.resize(static_cast<size_t>(w));
  double* t0 = copy.data();
  for (int row = from; row <= to; ++row) {
    double* o = m.out->Row(row);
    std::copy(o, o + w, t0);
    const int32_t* c = m.bandCount.data() + static_cast<size_t>(row - r0) * static_cast<size_t>(w);
    double t = 0;
    int n = 0;
    for (int x = 0; x <= std::min(u1, radius - 1); ++x) t += t0[x], n += c[x];
    for (int x = 0; x <= u1; ++x) {
      if (x + radius <= u1) t += t0[x + radius], n += c[x + radius];
      if (x - radius - 1 >= 0) t -= t0[x - radius - 1], n -= c[x - radius - 1];
      o[x] = n > 0 ? t / n : 0;
    }
  }
}

}  // namespace

void RunningMeans::Start(const Plane<float>& s, const Plane<float>& w, int r, Plane<double>& o) {
  sum = &s;
  weight = &w;
  out = &o;
  radius = r;
  rows = 0;
  o.Redim(s.UBound1(), s.UBound2());
  colSum.assign(static_cast<size_t>(s.Width()), 0.0);
  colCount.assign(static_cast<size_t>(s.Width()), 0);
}

void AdvanceMeans(RunningMeans* const* means, int count, int y) {
  // Every means advances from its own first row not done.
  for (int i = 0; i < count; ++i) {
    RunningMeans& m = *means[i];
    const int last = std::min(y, m.out->UBound2());
    if (last >= m.rows)
      m.bandCount.resize(static_cast<size_t>(last - m.rows + 1) * static_cast<size_t>(m.sum->Width()));
  }
  // A column's sums depend on that column alone: the columns are shared.
  RunInTwo([&](int part, int parts) {
    for (int i = 0; i < count; ++i) {
      RunningMeans& m = *means[i];
      const int last = std::min(y, m.out->UBound2());
      if (last < m.rows) continue;
      int x0 = 0, x1 = 0;
      ShareOf(0, m.sum->UBound1(), part, parts, x0, x1);
      if (x0 <= x1) ColumnSums(m, m.rows, last, x0, x1);
    }
  });
  // A row's means depend on its own column sums alone: the rows are shared.
  RunInTwo([&](int part, int parts) {
    std::vector<double> copy;
    for (int i = 0; i < count; ++i) {
      RunningMeans& m = *means[i];
      const int last = std::min(y, m.out->UBound2());
      if (last < m.rows) continue;
      int from = 0, to = 0;
      ShareOf(m.rows, last, part, parts, from, to);
      RowMeans(m, m.rows, from, to, copy);
    }
  });
  for (int i = 0; i < count; ++i) {
    RunningMeans& m = *means[i];
    m.rows = std::max(m.rows, std::min(y, m.out->UBound2()) + 1);
  }
}

namespace {

void RenderShare(const DestPlanes& dest, const RenderSettings& rs, Plane<int32_t>& out, int y0, int y1) {
  const CurveTable& curve = *rs.curve;
  double threshold[3][3];
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c) threshold[k][c] = rs.black[c] - (rs.white[c] - rs.black[c]) * rs.detail[k] / 20;
  bool smooth = false, sharpen = false;
  for (int k = 0; k < 3; ++k) {
    smooth |= rs.detail[k] < 0;
    sharpen |= rs.detail[k] > 0;
  }
  // The colour scale depends on the grey level only: one colour per level.
  std::array<int32_t, 256> scale{};
  if (rs.mode == kColourScale)
    for (int g = 0; g < 256; ++g)
      scale[static_cast<size_t>(g)] = ColourScale(g, std::clamp(0.7 + g * rs.slope, 0.1, 1.0));

  const int u1 = out.UBound1();
  for (int y = y0; y <= y1; ++y) {
    const float* sum[3];
    const float* wt[3];
    for (int c = 0; c < 3; ++c) {
      sum[c] = dest.sum[c]->Row(y);
      wt[c] = dest.weight[c]->Row(y);
    }
    const double* mean[3][3] = {};
    for (int k = 0; k < 3; ++k)
      if (rs.detail[k] != 0)
        for (int c = 0; c < 3; ++c) mean[k][c] = rs.mean[k][c]->Row(y);
    int32_t* row = out.Row(y);
    for (int x = 0; x <= u1; ++x) {
      double v[3];
      for (int c = 0; c < 3; ++c) v[c] = wt[c][x] > 0 ? static_cast<double>(sum[c][x] / wt[c][x]) : 0.0;
      if (smooth)
        for (int k = 0; k < 3; ++k)
          if (rs.detail[k] < 0)
            for (int c = 0; c < 3; ++c)
              if (v[c] < threshold[k][c]) v[c] = mean[k][c][x];
      if (sharpen)
        for (int k = 0; k < 3; ++k)
          if (rs.detail[k] > 0)
            for (int c = 0; c < 3; ++c) v[c] = v[c] + (v[c] - mean[k][c][x]) * rs.detail[k];
      for (int c = 0; c < 3; ++c) v[c] = (v[c] - rs.black[c]) * rs.gain[c];
      if (rs.mode == kColour) {
        row[x] = Pack(CurveByte(curve, v[0]), CurveByte(curve, v[1]), CurveByte(curve, v[2]));
      } else {
        const uint8_t g = CurveByte(curve, (v[0] + v[1] + v[2]) * 0.33333333333);
        row[x] = rs.mode == kMonochrome ? Pack(g, g, g) : scale[g];
      }
    }
  }
}

}  // namespace

void RenderRows(const DestPlanes& dest, const RenderSettings& rs, Plane<int32_t>& out, int y0, int y1) {
  // Each pixel depends on its own place alone: the rows are shared.
  RunInTwo([&](int part, int parts) {
    int from = 0, to = 0;
    ShareOf(y0, y1, part, parts, from, to);
    if (from <= to) RenderShare(dest, rs, out, from, to);
  });
}

}  // namespace qv
