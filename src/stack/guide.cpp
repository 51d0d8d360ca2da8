#include "stack/guide.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace qv {

namespace {

int32_t Intensity(const ConstPlaneView<int32_t>& r, const ConstPlaneView<int32_t>& g, const ConstPlaneView<int32_t>& b,
                  int x, int y) {
  return CheckedLong(int64_t{r(x, y)} + g(x, y) + b(x, y));
}

// The views of the current image the kernels read, and the hot-pixel mask
// when this image uses it and it has the image's size.
struct CurrentPlanes {
  ConstPlaneView<int32_t> r, g, b;
  ConstPlaneView<uint8_t> mask;
  explicit CurrentPlanes(const Session& s) : r(s.pic.PicR), g(s.pic.PicG), b(s.pic.PicB) {
    if (s.cal.UseHotMask && s.cal.HotMask.HasSize(r.Width(), r.Height())) mask = s.cal.HotMask;
  }
};

// A grey picture of the n x n part of p at (x0, y0), its own minimum
// black and its maximum white.
void GreyPicture(const Plane<int32_t>& p, int x0, int y0, int n, Plane<int32_t>& out) {
  out.Redim(n - 1, n - 1);
  int32_t lo = INT32_MAX, hi = INT32_MIN;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      lo = std::min(lo, p(x0 + i, y0 + j));
      hi = std::max(hi, p(x0 + i, y0 + j));
    }
  const double g = hi > lo ? 255.0 / (static_cast<double>(hi) - lo) : 0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int32_t v = static_cast<int32_t>(RoundHalfEven((static_cast<double>(p(x0 + i, y0 + j)) - lo) * g));
      out(i, j) = v * 65536 + v * 256 + v;
    }
}

}  // namespace

double ReadBox(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b,
               ConstPlaneView<uint8_t> mask, int x0, int y0, int n, Plane<int32_t>& box) {
  RequireSameSize(r, g, b);
  const int W = r.Width(), H = r.Height();
  const bool masked = !mask.Empty();
  if (masked && !mask.SameSize(W, H)) Raise(kErrSubscript);
  box.Redim(n - 1, n - 1);
  long counted = 0;
  for (int j = 0; j < n; ++j) {
    const int y = y0 + j;
    if (y < 0 || y >= H) continue;
    for (int i = 0; i < n; ++i) {
      const int x = x0 + i;
      if (x < 0 || x >= W) continue;
      if (masked && mask(x, y) != 0) continue;
      box(i, j) = Intensity(r, g, b, x, y);
      ++counted;
    }
  }
  if (counted == 0) return 0;
  // Holes are filled in place, so a value spreads along the scan within one
  // pass; n - 1 passes reach every cell from any single valid one.
  for (int pass = 0; pass < n - 1; ++pass) {
    bool metZero = false;
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < n; ++i) {
        if (box(i, j) != 0) continue;
        metZero = true;
        const int32_t nb[4] = {box(std::max(i - 1, 0), j), box(std::min(i + 1, n - 1), j), box(i, std::max(j - 1, 0)),
                               box(i, std::min(j + 1, n - 1))};
        int64_t sum = 0;
        int cnt = 0;
        for (int32_t v : nb)
          if (v > 0) {
            sum += v;
            ++cnt;
          }
        if (cnt > 0) box(i, j) = CLng(static_cast<double>(sum) / cnt);
      }
    }
    if (!metZero) break;
  }
  double total = 0;
  for (size_t k = 0; k < box.Size(); ++k) total += box.Data()[k];
  return total / (static_cast<double>(n) * n);
}

bool Correlate(ConstPlaneView<int32_t> t, ConstPlaneView<int32_t> a, int box, Correlation& out,
               const YieldPoint& yield) {
  out = Correlation{};
  const int n = box + 1, aw = 2 * box + 1;
  if (box < 0 || !t.SameSize(n, n) || !a.SameSize(aw, aw)) Raise(kErrSubscript);
  // Every product and every partial sum is an integer; while they stay
  // below 2^53 a double holds them exactly, so any summation order gives the
  // same value as the plain loop over i and j.
  int64_t tMax = 0, aMax = 0;
  std::vector<double> td(static_cast<size_t>(n) * n), ad(static_cast<size_t>(aw) * aw);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      tMax = std::max<int64_t>(tMax, std::llabs(t(i, j)));
      td[static_cast<size_t>(j) * n + i] = t(i, j);
    }
  for (int j = 0; j < aw; ++j)
    for (int i = 0; i < aw; ++i) {
      aMax = std::max<int64_t>(aMax, std::llabs(a(i, j)));
      ad[static_cast<size_t>(j) * aw + i] = a(i, j);
    }
  const long double bound = static_cast<long double>(tMax) * aMax * n * n;
  const bool exact = bound < 9007199254740992.0L;  // 2^53

  for (int dy = 0; dy <= box; ++dy) {
    for (int dx = 0; dx <= box; ++dx) {
      double c = 0;
      if (exact) {
        for (int j = 0; j < n; ++j) {
          const double* tr = td.data() + static_cast<size_t>(j) * n;
          const double* ar = ad.data() + static_cast<size_t>(j + dy) * aw + dx;
          // Four partial sums let the compiler keep several products in flight.
          double p0 = 0, p1 = 0, p2 = 0, p3 = 0;
          int i = 0;
          for (; i + 4 <= n; i += 4) {
            p0 += tr[i] * ar[i];
            p1 += tr[i + 1] * ar[i + 1];
            p2 += tr[i + 2] * ar[i + 2];
            p3 += tr[i + 3] * ar[i + 3];
          }
          for (; i < n; ++i) p0 += tr[i] * ar[i];
          c += (p0 + p1) + (p2 + p3);
        }
      } else {
        // Values too large for exact sums: keep the plain order.
        for (int j = 0; j < n; ++j)
          for (int i = 0; i < n; ++i) c += static_cast<double>(t(i, j)) * a(i + dx, j + dy);
      }
      if (c > out.best) {
        out.best = c;
        out.bestDx = dx;
        out.bestDy = dy;
      }
      out.sum += c;
      ++out.count;
    }
    if (!GoOn(yield)) return false;
  }
  return true;
}

double GuideSearch(Session& s, int x, int y, int takeRef) {
  s.guide.GuideOnEdge = false;
  const int box = s.guide.GuideBox;
  if (box < 1) return 0;
  // The thumbnails are cleared first: a search that finds nothing leaves
  // none of the last image's on show.
  s.guideDisplay->GuideThumbnails({}, {});
  const int half = CInt(box / 2.0);
  const CurrentPlanes pic(s);
  if (takeRef == 1) {
    const double level = ReadBox(pic.r, pic.g, pic.b, pic.mask, x - half, y - half, box + 1, s.guide.GuideTemplate);
    for (size_t k = 0; k < s.guide.GuideTemplate.Size(); ++k) {
      int32_t& v = s.guide.GuideTemplate.Data()[k];
      if (v > 0) v = CLng(v - level);
    }
  }
  if (s.guide.GuideTemplate.UBound1() != box) return 0;
  Plane<int32_t> area;
  const double level = ReadBox(pic.r, pic.g, pic.b, pic.mask, x - box, y - box, 2 * box + 1, area);
  if (!(level > 0)) return 0;
  Correlation c;
  // The search only looks at the stop request after each row of offsets;
  // it does not let the event loop run.
  if (!Correlate(s.guide.GuideTemplate, area, box, c, [&s] { return !s.progress.StopRequestedWithoutYield(); }))
    return 0;
  const double mean = c.sum / c.count;
  const double peak = c.best - mean;
  s.guide.GuideOnEdge = c.bestDx == 0 || c.bestDx == box || c.bestDy == 0 || c.bestDy == box;
  s.guide.GuideX = CInt(x - box + half + c.bestDx);
  s.guide.GuideY = CInt(y - box + half + c.bestDy);
  if (takeRef == 1) s.guide.RefPeak = peak;
  double quality = 0;
  if (s.guide.RefPeak > 0) quality = std::max(0.0, std::min(1.0, peak / s.guide.RefPeak));
  Plane<int32_t> tmpl, match;
  GreyPicture(s.guide.GuideTemplate, 0, 0, box + 1, tmpl);
  GreyPicture(area, c.bestDx, c.bestDy, box + 1, match);
  s.guideDisplay->GuideThumbnails(tmpl, match);
  return quality;
}

void FindGuide(Session& s, int16_t x, int16_t y, bool takeRef) {
  s.guide.GuideOnEdge = false;
  if (s.guide.GuideBox >= 128) {
    s.guideDisplay->GuideBoxShown(false);
    return;
  }
  if (s.guide.GuideBox == 0) s.guide.GuideBox = 32;
  s.guide.Quality = static_cast<float>(GuideSearch(s, x, y, takeRef ? 1 : 0));
  s.guideDisplay->GuideBoxShown(true);
}

void StarCentroid(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b, int x, int y,
                  double& cx, double& cy) {
  RequireSameSize(r, g, b);
  const int x0 = std::max(0, x - 12), x1 = std::min(r.UBound1(), x + 12);
  const int y0 = std::max(0, y - 12), y1 = std::min(r.UBound2(), y + 12);
  int32_t max = 0;
  for (int yy = y0; yy <= y1; ++yy)
    for (int xx = x0; xx <= x1; ++xx) max = std::max(max, Intensity(r, g, b, xx, yy));
  double sx = 0, sy = 0, sw = 0;
  for (int yy = y0; yy <= y1; ++yy)
    for (int xx = x0; xx <= x1; ++xx) {
      const int32_t v = Intensity(r, g, b, xx, yy);
      if (v > 0.9 * max) {
        sx += static_cast<double>(xx) * v;
        sy += static_cast<double>(yy) * v;
        sw += v;
      }
    }
  // No bright pixel: 0 / 0 has no value.
  if (sw == 0) Raise(kErrOverflow);
  cx = sx / sw;
  cy = sy / sw;
}

void StarCentroid(Session& s, int16_t x, int16_t y, double& cx, double& cy) {
  StarCentroid(s.pic.PicR, s.pic.PicG, s.pic.PicB, x, y, cx, cy);
}

void SetGuideBox(Session& s, int box) {
  s.guide.GuideBox = static_cast<int16_t>(box);
  s.guide.GuideTemplate.Redim(0, 0);
  FindGuide(s, CInt(s.guide.GuideX), CInt(s.guide.GuideY), false);
}

void TrackGuide(Session& s, int i) {
  ImageEntry& e = s.Entry(i);
  const int U1 = s.pic.PicR.UBound1(), U2 = s.pic.PicR.UBound2();
  if (e.ImgGuideX == 0 && e.ImgGuideY == 0) {
    e.ImgGuideX = s.guide.GuideX / U1;
    e.ImgGuideY = s.guide.GuideY / U2;
  }
  if (e.ImgRegFlags & 2)
    FindGuide(s, CInt(U1 * e.ImgGuideX), CInt(U2 * e.ImgGuideY), false);
  else
    FindGuide(s, CInt(s.guide.GuideX), CInt(s.guide.GuideY), false);
  s.guide.RotCentreX = s.guide.GuideX;
  s.guide.RotCentreY = s.guide.GuideY;
  if (e.ImgRegFlags & 1) {
    int k = 1;
    while (k <= s.ImageCount() && s.Img[static_cast<size_t>(k)].ImgChecked == 0) ++k;
    if (i == k) {
      FindGuide(s, CInt(U1 * e.ImgGuideX), CInt(U2 * e.ImgGuideY), true);
      s.guide.AnchorX = s.guide.GuideX;
      s.guide.AnchorY = s.guide.GuideY;
      s.guide.RotCentreX = s.guide.GuideX;
      s.guide.RotCentreY = s.guide.GuideY;
    }
    if (e.ImgRefX == 0 && e.ImgRefY == 0) {
      e.ImgRefX = s.guide.GuideX / U1;
      e.ImgRefY = s.guide.GuideY / U2;
    }
    // The old guide box stays marked, with a line from it to the new star.
    s.guideDisplay->GuideChangeBegins();
    s.guide.AnchorX -= s.guide.GuideX;
    s.guide.AnchorY -= s.guide.GuideY;
    FindGuide(s, CInt(U1 * e.ImgRefX), CInt(U2 * e.ImgRefY), true);
    s.guide.AnchorX += s.guide.GuideX;
    s.guide.AnchorY += s.guide.GuideY;
    s.guideDisplay->GuideChangeEnds();
  }
}

}  // namespace qv
