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

// Box means of one radius. Both passes slide: a running column sum down the
// rows, then a running sum along each row. Data values are float quotients
// of at least about 1, so every partial sum of a window (at most 49 values
// below 65536) is exact in double precision, and sliding gives the very
// sums a direct count gives.
void BoxMean(const Plane<float>& sum, const Plane<float>& weight, int radius, Plane<double>& out) {
  const int u1 = sum.UBound1(), u2 = sum.UBound2(), w = u1 + 1;
  out.Redim(u1, u2);
  std::vector<double> colSum(static_cast<size_t>(w), 0.0);
  std::vector<int> colCount(static_cast<size_t>(w), 0);
  auto addRow = [&](int y, bool add) {
    const float* s = sum.Row(y);
    const float* wt = weight.Row(y);
    for (int x = 0; x < w; ++x) {
      if (!(wt[x] > 0)) continue;
      const double v = s[x] / wt[x];
      if (add)
        colSum[static_cast<size_t>(x)] += v, ++colCount[static_cast<size_t>(x)];
      else
        colSum[static_cast<size_t>(x)] -= v, --colCount[static_cast<size_t>(x)];
    }
  };
  for (int y = 0; y <= std::min(u2, radius - 1); ++y) addRow(y, true);
  for (int y = 0; y <= u2; ++y) {
    if (y + radius <= u2) addRow(y + radius, true);
    if (y - radius - 1 >= 0) addRow(y - radius - 1, false);
    double t = 0;
    int n = 0;
    for (int x = 0; x <= std::min(u1, radius - 1); ++x)
      t += colSum[static_cast<size_t>(x)], n += colCount[static_cast<size_t>(x)];
    double* o = out.Row(y);
    for (int x = 0; x <= u1; ++x) {
      if (x + radius <= u1)
        t += colSum[static_cast<size_t>(x + radius)], n += colCount[static_cast<size_t>(x + radius)];
      if (x - radius - 1 >= 0)
        t -= colSum[static_cast<size_t>(x - radius - 1)], n -= colCount[static_cast<size_t>(x - radius - 1)];
      o[x] = n > 0 ? t / n : 0;
    }
  }
}

}  // namespace

void LocalMeans(const Plane<float>& sum, const Plane<float>& weight, const bool wanted[3], Plane<double>* out[3]) {
  if (sum.Empty()) return;
  for (int r = 1; r <= 3; ++r)
    if (wanted[r - 1]) BoxMean(sum, weight, r, *out[r - 1]);
}

void RenderRows(const DestPlanes& dest, const RenderSettings& rs, Plane<int32_t>& out, int y0, int y1) {
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

}  // namespace qv
