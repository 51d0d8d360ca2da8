#include "editor/rendering.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/numeric.h"

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

uint8_t CurveByte(const CurveTable& table, double v) {
  // Clamping before the conversion keeps huge gains from overflowing; a
  // value that is not a number has no place on the curve and counts as 0.
  if (!(v >= 0)) return table[0];
  if (v >= 32767) return table[32767];
  return table[static_cast<size_t>(RoundHalfEven(v))];
}

const std::array<int32_t, 12>& ColourScalePalette() {
  static const std::array<int32_t, 12> palette = [] {
    std::array<int32_t, 12> p{};
    p[0] = Pack(90, 150, 205);
    p[11] = Pack(255, 255, 255);
    auto channel = [](double v) { return static_cast<int>(CByte(std::min(255.0, std::max(100.0, v)))); };
    for (int e = 1; e <= 10; ++e)
      p[static_cast<size_t>(e)] = Pack(channel(128 * (e - 5.5)), channel(220 * (4.5 - std::fabs(e - 5.5))),
                                       channel(128 * (5.5 - e)));
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

Plane<double> LocalMean(const Plane<float>& sum, const Plane<float>& weight, int radius) {
  Plane<double> out;
  if (sum.Empty()) return out;
  const int u1 = sum.UBound1(), u2 = sum.UBound2(), w = u1 + 1;
  out.Redim(u1, u2);
  Plane<double> value(u1, u2);
  Plane<uint8_t> has(u1, u2);
  for (size_t k = 0; k < sum.Size(); ++k) {
    const float wt = weight.Data()[k];
    if (wt > 0) {
      value.Data()[k] = sum.Data()[k] / wt;
      has.Data()[k] = 1;
    }
  }
  // Column sums of the window's rows first, then the window's columns: two
  // short passes instead of one per window pixel. For data values the sums
  // are exact in double precision, so the order does not show in the mean.
  std::vector<double> colSum(static_cast<size_t>(w));
  std::vector<int> colCount(static_cast<size_t>(w));
  for (int y = 0; y <= u2; ++y) {
    const int ya = std::max(0, y - radius), yb = std::min(u2, y + radius);
    std::fill(colSum.begin(), colSum.end(), 0.0);
    std::fill(colCount.begin(), colCount.end(), 0);
    for (int yy = ya; yy <= yb; ++yy) {
      const double* v = value.Row(yy);
      const uint8_t* h = has.Row(yy);
      for (int x = 0; x < w; ++x) {
        colSum[static_cast<size_t>(x)] += v[x];
        colCount[static_cast<size_t>(x)] += h[x];
      }
    }
    double* o = out.Row(y);
    for (int x = 0; x <= u1; ++x) {
      double t = 0;
      int n = 0;
      for (int xx = std::max(0, x - radius); xx <= std::min(u1, x + radius); ++xx) {
        t += colSum[static_cast<size_t>(xx)];
        n += colCount[static_cast<size_t>(xx)];
      }
      o[x] = n > 0 ? t / n : 0;
    }
  }
  return out;
}

void RenderRows(const DestPlanes& dest, const RenderSettings& rs, Plane<int32_t>& out, int y0, int y1) {
  const CurveTable& curve = *rs.curve;
  double threshold[3][3];
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c)
      threshold[k][c] = rs.black[c] - (rs.white[c] - rs.black[c]) * rs.detail[k] / 20;
  bool smooth = false, sharpen = false;
  for (int k = 0; k < 3; ++k) {
    smooth |= rs.detail[k] < 0;
    sharpen |= rs.detail[k] > 0;
  }
  // The colour scale depends on the grey level only: one colour per level.
  std::array<int32_t, 256> scale{};
  if (rs.mode == kColourScale)
    for (int g = 0; g < 256; ++g) scale[static_cast<size_t>(g)] = ColourScale(g, std::clamp(0.7 + g * rs.slope, 0.1, 1.0));

  const int u1 = out.UBound1();
  for (int y = y0; y <= y1; ++y) {
    const float* sum[3];
    const float* wt[3];
    for (int c = 0; c < 3; ++c) {
      sum[c] = dest.sum[c]->Row(y);
      wt[c] = dest.weight[c]->Row(y);
    }
    int32_t* row = out.Row(y);
    for (int x = 0; x <= u1; ++x) {
      double v[3];
      for (int c = 0; c < 3; ++c) v[c] = wt[c][x] > 0 ? static_cast<double>(sum[c][x] / wt[c][x]) : 0.0;
      if (smooth)
        for (int k = 0; k < 3; ++k)
          if (rs.detail[k] < 0)
            for (int c = 0; c < 3; ++c)
              if (v[c] < threshold[k][c]) v[c] = (*rs.mean[k][c])(x, y);
      if (sharpen)
        for (int k = 0; k < 3; ++k)
          if (rs.detail[k] > 0)
            for (int c = 0; c < 3; ++c) v[c] = v[c] + (v[c] - (*rs.mean[k][c])(x, y)) * rs.detail[k];
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

}  // namespace qv
