#include "editor/operations.h"

#include <algorithm>
#include <vector>

#include "core/numeric.h"

namespace qv {

Plane<float> BinPlane(ConstPlaneView<float> in, int n) {
  Plane<float> out;
  if (in.Empty()) return out;
  const int u1 = in.UBound1(), u2 = in.UBound2();
  if (n < 1) {
    out.Redim(u1, u2);
    for (int y = 0; y <= u2; ++y) std::copy_n(in.Row(y), u1 + 1, out.Row(y));
    return out;
  }
  out.Redim(u1 / n, u2 / n);
  for (int y = 0; y <= u2; ++y) {
    const float* src = in.Row(y);
    float* dst = out.Row(y / n);
    for (int x = 0; x <= u1; ++x) dst[x / n] = dst[x / n] + src[x];
  }
  return out;
}

Plane<float> RotatePlane(ConstPlaneView<float> in) {
  Plane<float> out;
  if (in.Empty()) return out;
  const int u1 = in.UBound1(), u2 = in.UBound2();
  out.Redim(u2, u1);
  for (int y = 0; y <= u1; ++y) {
    float* dst = out.Row(y);
    for (int x = 0; x <= u2; ++x) dst[x] = in(y, u2 - x);
  }
  return out;
}

void MeasureBalance(const DestPlanes& dest, int x, int y, BalanceLevels& levels) {
  const Plane<float>& ref = *dest.sum[0];
  // In 64 bits: a click far outside the picture must not wrap around.
  const int xa = static_cast<int>(std::max<int64_t>(0, int64_t{x} - 50));
  const int xb = static_cast<int>(std::min<int64_t>(ref.UBound1(), int64_t{x} + 49));
  const int ya = static_cast<int>(std::max<int64_t>(0, int64_t{y} - 50));
  const int yb = static_cast<int>(std::min<int64_t>(ref.UBound2(), int64_t{y} + 49));
  std::vector<int32_t> values;
  values.reserve(10000);
  for (int c = 0; c < 3; ++c) {
    values.clear();
    for (int yy = ya; yy <= yb; ++yy)
      for (int xx = xa; xx <= xb; ++xx) {
        const float w = (*dest.weight[c])(xx, yy);
        if (w > 0) values.push_back(CLng((*dest.sum[c])(xx, yy) / w));
      }
    if (values.empty()) continue;
    double total = 0;
    for (int32_t v : values) total += v;
    const double m = total / static_cast<double>(values.size());
    double low = 0, high = 0;
    int64_t nLow = 0, nHigh = 0;
    for (int32_t v : values) {
      if (v <= m)
        low += v, ++nLow;
      else
        high += v, ++nHigh;
    }
    if (nLow > 0) levels.background[c] = low / static_cast<double>(nLow);
    if (nHigh > 0) levels.signal[c] = high / static_cast<double>(nHigh);
  }
}

bool HideSaturated(Plane<int32_t>& pic, int r) {
  if (pic.Empty()) return true;
  const int u1 = pic.UBound1(), u2 = pic.UBound2();
  Plane<uint8_t> mask(u1, u2);
  int64_t saturated = 0;
  for (size_t k = 0; k < pic.Size(); ++k) {
    int32_t& p = pic.Data()[k];
    const int red = (p >> 16) & 0xFF, green = (p >> 8) & 0xFF, blue = p & 0xFF;
    if (red < 255 && green < 255 && blue < 255) {
      mask.Data()[k] = CByte((red + green + blue) * 0.33333333);
    } else {
      mask.Data()[k] = 255;
      ++saturated;
      p = 0;
    }
  }
  if (static_cast<double>(saturated) >= 0.2 * static_cast<double>(pic.Size())) return false;
  if (r > 1) {
    for (int y = 0; y <= u2; ++y)
      for (int x = 0; x <= u1; ++x) {
        if (mask(x, y) != 255) continue;
        int64_t total = 0, n = 0;
        for (int j = -r; j <= r; ++j)
          for (int i = -r; i <= r; ++i) {
            if (i * i + j * j != r * r) continue;
            const int xx = x + i, yy = y + j;
            if (xx < 0 || yy < 0 || xx > u1 || yy > u2) continue;
            const uint8_t m = mask(xx, yy);
            if (m >= 1 && m <= 254) total += m, ++n;
          }
        if (n == 0) continue;
        const int a = CLng(static_cast<double>(total) / static_cast<double>(n));
        for (int j = -r + 1; j <= r - 1; ++j)
          for (int i = -r + 1; i <= r - 1; ++i) {
            if (i * i + j * j >= r * r) continue;
            const int xx = x + i, yy = y + j;
            if (xx < 0 || yy < 0 || xx > u1 || yy > u2) continue;
            const uint8_t m = mask(xx, yy);
            if (m < 255 && m > a) pic(xx, yy) = 0;
          }
      }
  }
  return true;
}

int64_t FillPass(Plane<int32_t>& pic) {
  if (pic.Empty()) return 0;
  const int u1 = pic.UBound1(), u2 = pic.UBound2();
  int64_t holes = 0;
  for (int k = 0; k < 4; ++k) {
    // The diagonal neighbours of a visited pixel all belong to the opposite
    // phase, so the order of the visits within a sweep does not matter.
    for (int y = k / 2; y <= u2; y += 2)
      for (int x = k % 2; x <= u1; x += 2) {
        int32_t& p = pic(x, y);
        if ((p & 0xFF0000) != 0 && (p & 0xFF00) != 0 && (p & 0xFF) != 0) continue;
        ++holes;
        int out = 0;
        for (int c = 0; c < 3; ++c) {
          const int shift = 16 - 8 * c;
          int total = 0, n = 0;
          for (int dy = -1; dy <= 1; dy += 2)
            for (int dx = -1; dx <= 1; dx += 2) {
              const int xx = x + dx, yy = y + dy;
              if (xx < 0 || yy < 0 || xx > u1 || yy > u2) continue;
              const int v = (pic(xx, yy) >> shift) & 0xFF;
              if (v > 1) total += v, ++n;
            }
          int v = (p >> shift) & 0xFF;
          if (n > 0) v = std::max(2, static_cast<int>(RoundHalfEven(static_cast<double>(total) / n)));
          out |= v << shift;
        }
        p = out;
      }
  }
  return holes;
}

}  // namespace qv
