#include "stack/star_match.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace qv {

namespace {

double MedianOf(std::vector<float>& v) {
  if (v.empty()) return 0;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// Robust deviation of a sample about its median.
double Deviation(std::vector<float>& v) {
  const double m = MedianOf(v);
  for (float& x : v) x = static_cast<float>(std::fabs(x - m));
  return 1.4826 * MedianOf(v);
}

// Where one coordinate falls among the block centres: the lower block and
// the weight of the upper one, beyond the outer centres carried on along
// the line through the last two (a sky gradient goes on to the border).
struct Between {
  int lo, hi;
  double f;
};
std::vector<Between> Weights(int size, int blocks) {
  std::vector<double> centre(static_cast<size_t>(blocks));
  for (int i = 0; i < blocks; ++i) {
    const int a = static_cast<int>(static_cast<int64_t>(i) * size / blocks);
    const int b = static_cast<int>(static_cast<int64_t>(i + 1) * size / blocks);
    centre[static_cast<size_t>(i)] = (a + b - 1) / 2.0;
  }
  std::vector<Between> out(static_cast<size_t>(size));
  for (int x = 0; x < size; ++x) {
    if (blocks == 1) {
      out[static_cast<size_t>(x)] = {0, 0, 0};
      continue;
    }
    int lo = 0;
    while (lo < blocks - 2 && x >= centre[static_cast<size_t>(lo) + 1]) ++lo;
    const double f =
        (x - centre[static_cast<size_t>(lo)]) / (centre[static_cast<size_t>(lo) + 1] - centre[static_cast<size_t>(lo)]);
    out[static_cast<size_t>(x)] = {lo, lo + 1, f};
  }
  return out;
}

// The smooth sky: medians of blocks (so that stars barely count), inside
// the picture cleaned by the median of each block's neighbours (a large
// bright star can fill a block), then interpolated between block centres.
std::vector<float> Background(const std::vector<float>& in, int w, int h) {
  const int block = std::clamp(std::min(w, h) / 8, 8, 64);
  const int nx = std::max(1, w / block), ny = std::max(1, h / block);
  std::vector<float> grid(static_cast<size_t>(nx) * ny), cell;
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      cell.clear();
      const int y0 = static_cast<int>(static_cast<int64_t>(j) * h / ny),
                y1 = static_cast<int>(static_cast<int64_t>(j + 1) * h / ny);
      const int x0 = static_cast<int>(static_cast<int64_t>(i) * w / nx),
                x1 = static_cast<int>(static_cast<int64_t>(i + 1) * w / nx);
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) cell.push_back(in[static_cast<size_t>(y) * w + x]);
      grid[static_cast<size_t>(j) * nx + i] = static_cast<float>(MedianOf(cell));
    }
  // Only a block with all eight neighbours: at the border the neighbours lie
  // on one side, and on a sloping sky their median would be biased.
  std::vector<float> clean = grid;
  for (int j = 1; j < ny - 1; ++j)
    for (int i = 1; i < nx - 1; ++i) {
      cell.clear();
      for (int b = j - 1; b <= j + 1; ++b)
        for (int a = i - 1; a <= i + 1; ++a) cell.push_back(grid[static_cast<size_t>(b) * nx + a]);
      clean[static_cast<size_t>(j) * nx + i] = static_cast<float>(MedianOf(cell));
    }
  const std::vector<Between> wx = Weights(w, nx), wy = Weights(h, ny);
  std::vector<float> bg(in.size());
  auto G = [&](int i, int j) { return static_cast<double>(clean[static_cast<size_t>(j) * nx + i]); };
  for (int y = 0; y < h; ++y) {
    const Between& by = wy[static_cast<size_t>(y)];
    for (int x = 0; x < w; ++x) {
      const Between& bx = wx[static_cast<size_t>(x)];
      const double lo = (1 - bx.f) * G(bx.lo, by.lo) + bx.f * G(bx.hi, by.lo);
      const double hi = (1 - bx.f) * G(bx.lo, by.hi) + bx.f * G(bx.hi, by.hi);
      bg[static_cast<size_t>(y) * w + x] = static_cast<float>((1 - by.f) * lo + by.f * hi);
    }
  }
  return bg;
}

}  // namespace

StarField DetectStars(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, int32_t fullScale,
                      double sigmas, size_t maxStars) {
  StarField field;
  const int w = r.Width(), h = r.Height();
  if (r.Empty() || w < 8 || h < 8 || !g.HasSize(w, h) || !b.HasSize(w, h)) return field;
  field.width = w;
  field.height = h;
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<float> in(n);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      in[static_cast<size_t>(y) * w + x] = static_cast<float>(static_cast<double>(r(x, y)) + g(x, y) + b(x, y));
  const std::vector<float> bg = Background(in, w, h);
  std::vector<float> d(n), sm(n, 0.f);
  for (size_t k = 0; k < n; ++k) d[k] = in[k] - bg[k];
  // A 3 x 3 mean finds faint stars in noise and ignores lone pixels' spikes.
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      double s = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) s += d[static_cast<size_t>(y + j) * w + x + i];
      sm[static_cast<size_t>(y) * w + x] = static_cast<float>(s / 9);
    }
  std::vector<float> sample, sampleSm, bgSample;
  const size_t stride = std::max<size_t>(1, n / 200000);
  for (size_t k = 0; k < n; k += stride) {
    sample.push_back(d[k]);
    sampleSm.push_back(sm[k]);
    bgSample.push_back(bg[k]);
  }
  // Quantised 8-bit data can show no spread at all on a flat sky.
  field.sky.noise = std::max(0.5, Deviation(sample));
  field.sky.level = MedianOf(bgSample);
  const double noiseSm = std::max(0.2, Deviation(sampleSm));
  const double threshold = sigmas * noiseSm;

  auto D = [&](int x, int y) { return static_cast<double>(d[static_cast<size_t>(y) * w + x]); };
  auto S = [&](int x, int y) { return sm[static_cast<size_t>(y) * w + x]; };
  struct Candidate {
    int x, y;
    float s;
  };
  std::vector<Candidate> cand;
  for (int y = 2; y < h - 2; ++y)
    for (int x = 2; x < w - 2; ++x) {
      const float v = S(x, y);
      if (v < threshold) continue;
      bool isMax = true;
      for (int j = -2; j <= 2 && isMax; ++j)
        for (int i = -2; i <= 2 && isMax; ++i) {
          if (!i && !j) continue;
          const float o = S(x + i, y + j);
          // Equal values (a clipped core) leave the first in scan order.
          if (o > v || (o == v && (j < 0 || (j == 0 && i < 0)))) isMax = false;
        }
      if (isMax) cand.push_back({x, y, v});
    }
  const size_t keep = std::max<size_t>(maxStars * 4, 200);
  if (cand.size() > keep) {
    std::partial_sort(cand.begin(), cand.begin() + static_cast<long>(keep), cand.end(),
                      [](const Candidate& a, const Candidate& c) {
                        return a.s != c.s ? a.s > c.s : (a.y != c.y ? a.y < c.y : a.x < c.x);
                      });
    cand.resize(keep);
  }

  const Plane<int32_t>* planes[3] = {&r, &g, &b};
  std::vector<StarSpot> stars;
  for (const Candidate& c : cand) {
    StarSpot st;
    st.px = c.x;
    st.py = c.y;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i)
        if (D(c.x + i, c.y + j) > D(st.px, st.py)) {
          st.px = c.x + i;
          st.py = c.y + j;
        }
    st.peak = D(st.px, st.py);
    if (st.peak <= 0) continue;
    double sx = 0, sy = 0, sw = 0;
    for (int y = std::max(0, st.py - 3); y <= std::min(h - 1, st.py + 3); ++y)
      for (int x = std::max(0, st.px - 3); x <= std::min(w - 1, st.px + 3); ++x) {
        const double v = D(x, y);
        if (v <= 0) continue;
        sx += x * v;
        sy += y * v;
        sw += v;
      }
    st.x = sx / sw;
    st.y = sy / sw;
    st.flux = sw;
    // A lone pixel: its neighbours hold almost nothing of its light.
    double second = -1e300;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i) {
        const int x = std::clamp(st.px + i, 0, w - 1), y = std::clamp(st.py + j, 0, h - 1);
        if ((i || j) && D(x, y) > second) second = D(x, y);
      }
    st.hot = second < 0.1 * st.peak;
    // Clipped at the plane's full scale, or a flat top of equal values.
    const double top = in[static_cast<size_t>(st.py) * w + st.px];
    int flat = 0;
    for (int j = -2; j <= 2; ++j)
      for (int i = -2; i <= 2; ++i) {
        const int x = std::clamp(st.px + i, 0, w - 1), y = std::clamp(st.py + j, 0, h - 1);
        if (in[static_cast<size_t>(y) * w + x] >= top - std::max(1.0, 0.005 * top)) ++flat;
        if (std::abs(i) <= 1 && std::abs(j) <= 1)
          for (const auto* p : planes)
            if ((*p)(x, y) >= 0.98 * fullScale) st.saturated = true;
      }
    if (flat >= 3 && st.peak >= 50 * field.sky.noise) st.saturated = true;
    stars.push_back(st);
  }
  std::sort(stars.begin(), stars.end(), [](const StarSpot& a, const StarSpot& c) {
    return a.flux != c.flux ? a.flux > c.flux : (a.py != c.py ? a.py < c.py : a.px < c.px);
  });
  // Bumps in the halo of a bright star are not stars of their own.
  std::vector<StarSpot> kept;
  for (const StarSpot& st : stars) {
    bool halo = false;
    for (const StarSpot& k : kept) {
      const double reach = std::clamp(1.5 * std::sqrt(k.flux / k.peak), 3.0, 20.0);
      if (std::hypot(st.x - k.x, st.y - k.y) < reach && st.peak < 0.3 * k.peak) {
        halo = true;
        break;
      }
    }
    if (!halo) kept.push_back(st);
    if (kept.size() >= maxStars) break;
  }
  field.stars = std::move(kept);
  return field;
}

std::vector<Point2> MatchablePoints(const StarField& field, bool skipSaturated, double minSigmas) {
  std::vector<Point2> out;
  for (const StarSpot& s : field.stars)
    if (!s.hot && !(skipSaturated && s.saturated) && s.peak >= minSigmas * field.sky.noise) out.push_back({s.x, s.y});
  return out;
}

Point2 Similarity::Inverse(Point2 p) const {
  const double d = a * a + b * b;
  const double x = p.x - tx, y = p.y - ty;
  return {(a * x + b * y) / d, (-b * x + a * y) / d};
}

double Similarity::Scale() const { return std::hypot(a, b); }

double Similarity::AngleDegrees() const { return std::atan2(b, a) * 180 / M_PI; }

bool FitSimilarity(const std::vector<Point2>& from, const std::vector<Point2>& to, Similarity& t) {
  const size_t n = from.size();
  if (n < 2 || to.size() != n) return false;
  double mx = 0, my = 0, mu = 0, mv = 0;
  for (size_t k = 0; k < n; ++k) {
    mx += from[k].x;
    my += from[k].y;
    mu += to[k].x;
    mv += to[k].y;
  }
  mx /= n;
  my /= n;
  mu /= n;
  mv /= n;
  double sxx = 0, sa = 0, sb = 0;
  for (size_t k = 0; k < n; ++k) {
    const double x = from[k].x - mx, y = from[k].y - my, u = to[k].x - mu, v = to[k].y - mv;
    sxx += x * x + y * y;
    sa += x * u + y * v;
    sb += x * v - y * u;
  }
  if (!(sxx > 1e-9)) return false;
  t.a = sa / sxx;
  t.b = sb / sxx;
  t.tx = mu - (t.a * mx - t.b * my);
  t.ty = mv - (t.b * mx + t.a * my);
  return std::isfinite(t.a) && std::isfinite(t.b) && std::isfinite(t.tx) && std::isfinite(t.ty);
}

namespace {

// A triangle of stars by the ratios of its sides, shortest / longest and
// middle / longest; vertex k is the one opposite side k (shortest first),
// and the turning sense tells a triangle from its mirror image.
struct Triangle {
  float u, v;
  std::array<uint16_t, 3> vertex;
  bool clockwise;
};

std::vector<Triangle> Triangles(const std::vector<Point2>& p, size_t count) {
  std::vector<Triangle> out;
  const size_t n = std::min(count, p.size());
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j)
      for (size_t k = j + 1; k < n; ++k) {
        // side s is opposite vertex idx[s]
        std::array<std::pair<double, size_t>, 3> side = {std::pair{std::hypot(p[j].x - p[k].x, p[j].y - p[k].y), i},
                                                         std::pair{std::hypot(p[i].x - p[k].x, p[i].y - p[k].y), j},
                                                         std::pair{std::hypot(p[i].x - p[j].x, p[i].y - p[j].y), k}};
        std::sort(side.begin(), side.end());
        const double a = side[0].first, b = side[1].first, c = side[2].first;
        // Tiny triangles carry more centroid error than shape; nearly equal
        // sides leave the order of their vertices to chance.
        if (c < 8 || (b - a) < 0.03 * c || (c - b) < 0.03 * c) continue;
        const Point2 &A = p[side[0].second], &B = p[side[1].second], &C = p[side[2].second];
        const double cross = (B.x - A.x) * (C.y - A.y) - (B.y - A.y) * (C.x - A.x);
        out.push_back({static_cast<float>(a / c),
                       static_cast<float>(b / c),
                       {static_cast<uint16_t>(side[0].second), static_cast<uint16_t>(side[1].second),
                        static_cast<uint16_t>(side[2].second)},
                       cross < 0});
      }
  return out;
}

// Frame stars sorted by x, for the nearest partner of a mapped point.
class Partners {
 public:
  explicit Partners(const std::vector<Point2>& p, size_t count) {
    for (size_t k = 0; k < std::min(count, p.size()); ++k) byX_.push_back({p[k].x, p[k].y, k});
    std::sort(byX_.begin(), byX_.end(),
              [](const Entry& a, const Entry& b) { return a.x < b.x || (a.x == b.x && a.k < b.k); });
  }
  // Index of the nearest star within tol, or -1.
  long Nearest(Point2 q, double tol) const {
    auto it = std::lower_bound(byX_.begin(), byX_.end(), q.x - tol, [](const Entry& e, double x) { return e.x < x; });
    long best = -1;
    double bestD = tol * tol;
    for (; it != byX_.end() && it->x <= q.x + tol; ++it) {
      const double dd = (it->x - q.x) * (it->x - q.x) + (it->y - q.y) * (it->y - q.y);
      if (dd <= bestD) {
        if (dd < bestD || best < 0 || static_cast<long>(it->k) < best) best = static_cast<long>(it->k);
        bestD = dd;
      }
    }
    return best;
  }

 private:
  struct Entry {
    double x, y;
    size_t k;
  };
  std::vector<Entry> byX_;
};

size_t Agreeing(const Similarity& t, const std::vector<Point2>& ref, size_t count, const Partners& partners,
                double tol) {
  size_t agree = 0;
  for (size_t k = 0; k < std::min(count, ref.size()); ++k) agree += partners.Nearest(t.Apply(ref[k]), tol) >= 0;
  return agree;
}

}  // namespace

StarMatch MatchStars(const std::vector<Point2>& reference, const std::vector<Point2>& frame, const MatchOptions& o) {
  StarMatch m;
  const size_t nRef = std::min(o.checkStars, reference.size()), nFrame = std::min(o.checkStars, frame.size());
  size_t need = std::max<size_t>(4, std::min(o.minAgreeing, nRef / 2));
  if (reference.size() < 3 || frame.size() < 3 || nFrame < need) {
    m.outcome = MatchOutcome::TooFewStars;
    return m;
  }
  // In a crowded field some stars agree by chance under any transform: the
  // three of the triangle plus those that happen to fall near a frame star.
  // A match must stand well clear of that.
  double minX = frame[0].x, maxX = minX, minY = frame[0].y, maxY = minY;
  for (size_t k = 0; k < nFrame; ++k) {
    minX = std::min(minX, frame[k].x);
    maxX = std::max(maxX, frame[k].x);
    minY = std::min(minY, frame[k].y);
    maxY = std::max(maxY, frame[k].y);
  }
  const double area = std::max(1.0, (maxX - minX) * (maxY - minY));
  const double chance = nRef * std::min(1.0, nFrame * M_PI * o.tolerance * o.tolerance / area);
  need = std::max(need, static_cast<size_t>(std::ceil(3 + chance + 4 * std::sqrt(chance))));
  const std::vector<Triangle> refTri = Triangles(reference, o.patternStars);
  const std::vector<Triangle> frameTri = Triangles(frame, o.patternStars);
  // The frame's triangles in cells of the shape plane, one tolerance wide.
  const double eps = 0.015;
  const int cells = static_cast<int>(1 / eps) + 1;
  std::vector<std::vector<uint32_t>> grid(static_cast<size_t>(cells) * cells);
  auto cellOf = [&](float x) { return std::clamp(static_cast<int>(x / eps), 0, cells - 1); };
  for (size_t k = 0; k < frameTri.size(); ++k)
    grid[static_cast<size_t>(cellOf(frameTri[k].v)) * cells + cellOf(frameTri[k].u)].push_back(
        static_cast<uint32_t>(k));

  const Partners partners(frame, o.checkStars);
  struct Hypothesis {
    Similarity t;
    size_t agree;
  };
  std::vector<Hypothesis> seen;
  Hypothesis best{{}, 0};
  const size_t enough = std::max(2 * need, static_cast<size_t>(0.7 * std::min(nRef, nFrame)));
  constexpr size_t kMinTrials = 2000, kMaxTrials = 50000;
  for (const Triangle& rt : refTri) {
    const int cu = cellOf(rt.u), cv = cellOf(rt.v);
    for (int jv = std::max(0, cv - 1); jv <= std::min(cells - 1, cv + 1); ++jv)
      for (int ju = std::max(0, cu - 1); ju <= std::min(cells - 1, cu + 1); ++ju)
        for (uint32_t fk : grid[static_cast<size_t>(jv) * cells + ju]) {
          const Triangle& ft = frameTri[fk];
          if (ft.clockwise != rt.clockwise || std::fabs(ft.u - rt.u) > eps || std::fabs(ft.v - rt.v) > eps) continue;
          std::vector<Point2> from, to;
          for (int s = 0; s < 3; ++s) {
            from.push_back(reference[rt.vertex[s]]);
            to.push_back(frame[ft.vertex[s]]);
          }
          Similarity t;
          if (!FitSimilarity(from, to, t) || t.Scale() < o.minScale || t.Scale() > o.maxScale) continue;
          const size_t agree = Agreeing(t, reference, o.checkStars, partners, o.tolerance);
          if (agree < 3) continue;
          seen.push_back({t, agree});
          if (agree > best.agree) best = seen.back();
          // A field that agrees almost star for star needs no more trials;
          // the trials made so far still judge whether it is ambiguous.
          if (best.agree >= enough && seen.size() >= kMinTrials) goto decided;
          if (seen.size() >= kMaxTrials) goto decided;
        }
  }
decided:
  if (best.agree < need) {
    m.outcome = MatchOutcome::NoMatch;
    m.agreeing = best.agree;
    return m;
  }
  // Refine on every agreeing pair, twice: the first fit came from three stars.
  Similarity t = best.t;
  for (int pass = 0; pass < 3; ++pass) {
    std::vector<Point2> from, to;
    m.pairs.clear();
    for (size_t k = 0; k < nRef; ++k) {
      const long f = partners.Nearest(t.Apply(reference[k]), o.tolerance);
      if (f < 0) continue;
      from.push_back(reference[k]);
      to.push_back(frame[static_cast<size_t>(f)]);
      m.pairs.emplace_back(k, static_cast<size_t>(f));
    }
    Similarity next;
    if (from.size() < 2 || !FitSimilarity(from, to, next)) break;
    t = next;
  }
  m.transform = t;
  double ss = 0;
  size_t agree = 0;
  for (size_t k = 0; k < nRef; ++k) {
    const Point2 q = t.Apply(reference[k]);
    const long f = partners.Nearest(q, o.tolerance);
    if (f < 0) continue;
    ++agree;
    ss += std::pow(frame[static_cast<size_t>(f)].x - q.x, 2) + std::pow(frame[static_cast<size_t>(f)].y - q.y, 2);
  }
  m.agreeing = agree;
  m.rms = agree ? std::sqrt(ss / agree) : 0;
  // The best answer that pairs the stars otherwise: a field that repeats
  // itself, or chance agreement, leaves the choice open. An answer that
  // pairs most of its stars as the chosen one does is the same answer,
  // seen through a less exact triangle.
  std::vector<long> partnerOf(nRef, -1);
  for (size_t k = 0; k < nRef; ++k) partnerOf[k] = partners.Nearest(t.Apply(reference[k]), o.tolerance);
  for (const Hypothesis& h : seen) {
    if (h.agree <= m.runnerUp || h.agree < 3 + chance) continue;
    size_t shared = 0;
    for (size_t k = 0; k < nRef; ++k) {
      const long f = partners.Nearest(h.t.Apply(reference[k]), o.tolerance);
      shared += f >= 0 && f == partnerOf[k];
    }
    if (2 * shared < h.agree) m.runnerUp = h.agree;
  }
  if (agree < need)
    m.outcome = MatchOutcome::NoMatch;
  else if (m.runnerUp > 3 + chance && m.runnerUp - chance >= o.ambiguity * (agree - chance))
    m.outcome = MatchOutcome::Ambiguous;
  else
    m.outcome = MatchOutcome::Matched;
  return m;
}

}  // namespace qv
