#include "stack/frame_score.h"

#include <algorithm>
#include <cmath>

#include "core/median.h"

namespace qv {

namespace {

constexpr int kCut = 12;  // the window reaches 12 pixels from the star: up to a FWHM of about 9
constexpr double kFwhmPerSigma = 2.3548;

}  // namespace

bool StarShape(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double x, double y,
               double& sigma, double& roundness) {
  const int w = r.Width(), h = r.Height();
  if (!std::isfinite(x) || !std::isfinite(y) || x < kCut || y < kCut || x > w || y > h) return false;
  const int cx = static_cast<int>(std::lround(x)), cy = static_cast<int>(std::lround(y));
  if (cx < kCut || cy < kCut || cx >= w - kCut || cy >= h - kCut) return false;
  constexpr int side = 2 * kCut + 1;
  double cut[side][side];
  std::vector<double> ring;
  ring.reserve(8 * side);
  for (int j = -kCut; j <= kCut; ++j)
    for (int i = -kCut; i <= kCut; ++i) {
      const double v =
          static_cast<double>(r(cx + i, cy + j)) + static_cast<double>(g(cx + i, cy + j)) + b(cx + i, cy + j);
      cut[j + kCut][i + kCut] = v;
      if (std::max(std::abs(i), std::abs(j)) >= kCut - 1) ring.push_back(v);
    }
  // The sky under the star: the median of the window's outer ring.
  const double sky = SampleMedian(ring);
  for (auto& row : cut)
    for (double& v : row) v -= sky;

  // A Gaussian star seen through a Gaussian window of variance W has the
  // variance 1 / (1/star + 1/W); the window follows the star's centre and
  // is set to the width it measures until the two agree.
  double mx = x - cx, my = y - cy, window = 1.5;
  double ex[side], ey[side];
  double sxx = 0, syy = 0, sxy = 0;
  for (int iter = 0;; ++iter) {
    const double w2 = window * window;
    for (int k = 0; k < side; ++k) {
      ex[k] = std::exp(-(k - kCut - mx) * (k - kCut - mx) / (2 * w2));
      ey[k] = std::exp(-(k - kCut - my) * (k - kCut - my) / (2 * w2));
    }
    double total = 0, sx = 0, sy = 0;
    for (int j = 0; j < side; ++j)
      for (int i = 0; i < side; ++i) {
        const double gv = cut[j][i] * ex[i] * ey[j];
        total += gv;
        sx += gv * (i - kCut);
        sy += gv * (j - kCut);
      }
    if (total <= 0) return false;
    mx = sx / total;
    my = sy / total;
    if (std::fabs(mx) > 2 || std::fabs(my) > 2) return false;
    sxx = syy = sxy = 0;
    for (int j = 0; j < side; ++j)
      for (int i = 0; i < side; ++i) {
        const double gv = cut[j][i] * ex[i] * ey[j], dx = i - kCut - mx, dy = j - kCut - my;
        sxx += gv * dx * dx;
        syy += gv * dy * dy;
        sxy += gv * dx * dy;
      }
    sxx /= total;
    syy /= total;
    sxy /= total;
    const double seen = (sxx + syy) / 2;
    if (seen <= 0 || seen >= w2) return false;
    const double star = std::sqrt(seen * w2 / (w2 - seen));
    if (star > kCut / 2.0) return false;
    // The moments below were taken under this window: it stays the one
    // the axes are freed of.
    if (std::fabs(star - window) < 1e-4 || iter == 49) break;
    window = star;
  }
  // The axes: the moments' principal variances, each freed of the window.
  const double w2 = window * window, half = (sxx + syy) / 2;
  const double spread = std::sqrt((sxx - syy) * (sxx - syy) / 4 + sxy * sxy);
  const double major = half + spread, minor = half - spread;
  if (minor <= 0 || major >= w2) return false;
  const double a = major * w2 / (w2 - major), c = minor * w2 / (w2 - minor);
  // A drawn-out star's width is the mean of its two axes' (the window,
  // round, found their mean variance, which only a round star turns into
  // the mean width).
  sigma = (std::sqrt(a) + std::sqrt(c)) / 2;
  roundness = std::sqrt(c / a);
  return true;
}

FrameScore ScoreFrame(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, const StarField& field,
                      const std::vector<size_t>& stars) {
  FrameScore score;
  const int w = r.Width(), h = r.Height();
  if (r.Empty() || !g.HasSize(w, h) || !b.HasSize(w, h)) return score;
  std::vector<double> sigmas, rounds;
  for (const size_t k : stars) {
    if (k >= field.stars.size()) continue;
    const StarSpot& st = field.stars[k];
    double sigma = 0, round = 0;
    if (st.hot || st.saturated || !StarShape(r, g, b, st.x, st.y, sigma, round)) continue;
    sigmas.push_back(sigma);
    rounds.push_back(round);
  }
  score.measured = sigmas.size();
  if (!sigmas.empty()) {
    score.shaped = true;
    score.fwhm = kFwhmPerSigma * SampleMedian(sigmas);
    score.roundness = SampleMedian(rounds);
  }
  // The frame's median from an even sample of about 50,000 pixels, as the
  // mean of the three planes (a grey frame has three equal planes).
  const size_t n = static_cast<size_t>(w) * h, stride = std::max<size_t>(1, n / 50000);
  std::vector<double> sample;
  sample.reserve(n / stride + 1);
  for (size_t k = 0; k < n; k += stride) {
    const int x = static_cast<int>(k % static_cast<size_t>(w)), y = static_cast<int>(k / static_cast<size_t>(w));
    sample.push_back((static_cast<double>(r(x, y)) + g(x, y) + b(x, y)) / 3);
  }
  score.background = SampleMedian(sample);
  score.noise = field.sky.noise / 3;
  return score;
}

}  // namespace qv
