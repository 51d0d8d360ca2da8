#include "stack/star_match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "core/parallel.h"

// The detection's loops over every pixel are built twice: for every
// processor, and for AVX2 (wider vectors, and no fused multiply-add, which
// AVX2 alone does not bring), run where WideLoops() says so. The loop body
// is one inline function, compiled into both.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QV_LOOP inline __attribute__((always_inline))
#define QV_WIDE __attribute__((target("avx2")))
#define QV_TWO_BUILDS(type, name, params, args)              \
  QV_WIDE type name##Wide params { return name##Loop args; } \
  type name params { return WideLoops() ? name##Wide args : name##Loop args; }
#else
#define QV_LOOP inline
#define QV_TWO_BUILDS(type, name, params, args) \
  type name params { return name##Loop args; }
#endif

namespace qv {

namespace {

// Floats in an order of unsigned keys: the same order as the values (with
// -0 before +0), so that a value's rank can be found digit by digit.
QV_LOOP uint32_t OrderKey(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

QV_LOOP float FromOrderKey(uint32_t k) {
  const uint32_t b = (k & 0x80000000u) ? (k & 0x7FFFFFFFu) : ~k;
  float f;
  std::memcpy(&f, &b, sizeof f);
  return f;
}

// The value of rank `rank` (0-based) among keys: the value nth_element
// would leave at that rank, by counting instead of a partial sort. Each
// round counts the keys in at most 2048 bins spanning their range, keeps
// the keys of the bin that holds the rank, and ends when a bin is one key
// wide; a sky's values span a narrow range, so the first round keeps few.
// The keys are reordered.
QV_LOOP float KeyOfRankLoop(std::vector<uint32_t>& keys, size_t n, size_t rank, std::vector<uint32_t>& spare) {
  // Two tables counted in turn: keys of one bin in a row (a sky's usual
  // case) would otherwise wait each on the last one's increment.
  std::array<uint32_t, 2048> count, count2;
  uint32_t* cur = keys.data();
  if (spare.size() < n) spare.resize(n);
  uint32_t* other = spare.data();
  for (;;) {
    uint32_t lo = cur[0], hi = cur[0];
    for (size_t i = 1; i < n; ++i) {
      lo = std::min(lo, cur[i]);
      hi = std::max(hi, cur[i]);
    }
    if (lo == hi) return FromOrderKey(lo);
    int shift = 0;
    while (((hi - lo) >> shift) >= count.size()) ++shift;
    const size_t bins = ((hi - lo) >> shift) + 1;
    std::fill(count.begin(), count.begin() + static_cast<long>(bins), 0u);
    std::fill(count2.begin(), count2.begin() + static_cast<long>(bins), 0u);
    size_t j = 0;
    for (; j + 1 < n; j += 2) {
      ++count[(cur[j] - lo) >> shift];
      ++count2[(cur[j + 1] - lo) >> shift];
    }
    if (j < n) ++count[(cur[j] - lo) >> shift];
    for (size_t b = 0; b < bins; ++b) count[b] += count2[b];
    uint32_t d = 0;
    while (rank >= count[d]) rank -= count[d++];
    if (shift == 0) return FromOrderKey(lo + d);
    // Only the keys of this bin can hold the rank.
    // Without a branch: every key is written, and the next one writes over
    // it unless it was of the bin (which bin is a coin toss on noise).
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
      other[m] = cur[i];
      m += ((cur[i] - lo) >> shift) == d;
    }
    std::swap(cur, other);
    n = m;
  }
}
QV_TWO_BUILDS(float, KeyOfRank, (std::vector<uint32_t> & keys, size_t n, size_t rank, std::vector<uint32_t>& spare),
              (keys, n, rank, spare))

// The median as the detection takes it: the upper middle value. Its
// buffers and the samples' are kept from one frame to the next, since fresh
// memory costs more than the counting.
class Medians {
 public:
  double Of(const std::vector<float>& v) {
    if (v.empty()) return 0;
    std::vector<uint32_t>& keys = Keys(v.size());
    for (size_t i = 0; i < v.size(); ++i) keys[i] = OrderKey(v[i]);
    return KeyOfRank(keys, v.size(), v.size() / 2, spare_);
  }
  // Robust deviation of a sample about its median.
  double Deviation(std::vector<float>& v) {
    const double m = Of(v);
    for (float& x : v) x = static_cast<float>(std::fabs(x - m));
    return 1.4826 * Of(v);
  }
  // At least n keys; only the growth is cleared.
  std::vector<uint32_t>& Keys(size_t n) {
    if (keys_.size() < n) keys_.resize(n);
    return keys_;
  }
  std::vector<uint32_t>& Spare() { return spare_; }
  std::vector<float> sample, sampleSm, bgSample;

 private:
  std::vector<uint32_t> keys_, spare_;
};

double MedianOfFew(std::vector<float>& v) {
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
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

// The rows one thread of the detection works on: the two interpolated sky
// lines of the current band of rows, and rings of rows of the picture less
// its sky, of the sky (three each) and of their 3 x 3 mean (five).
struct Rows {
  explicit Rows(int w) : W(static_cast<size_t>(w)), lo(W), hi(W), d(3 * W), bg(3 * W), sm(5 * W) {}
  size_t W;
  std::vector<double> lo, hi;
  int bandLo = -1, bandHi = -1;
  std::vector<float> d, bg, sm;
  float* D(int y) { return d.data() + static_cast<size_t>(y % 3) * W; }
  float* Bg(int y) { return bg.data() + static_cast<size_t>(y % 3) * W; }
  float* Sm(int y) { return sm.data() + static_cast<size_t>(y % 5) * W; }
};

// A pixel of the picture the detection looks at: its three planes' sum.
// Every pass takes it through this one expression, so all see the same float.
QV_LOOP float PictureValue(int32_t r, int32_t g, int32_t b) {
  return static_cast<float>(static_cast<double>(r) + g + b);
}

// The order keys of n pixels of the picture.
QV_LOOP void PictureKeysLoop(const int32_t* pr, const int32_t* pg, const int32_t* pb, int n, uint32_t* keys) {
  for (int x = 0; x < n; ++x) keys[x] = OrderKey(PictureValue(pr[x], pg[x], pb[x]));
}
QV_TWO_BUILDS(void, PictureKeys, (const int32_t* pr, const int32_t* pg, const int32_t* pb, int n, uint32_t* keys),
              (pr, pg, pb, n, keys))

// One row of the picture less its sky (d) and of the sky (bg), the sky
// between the two interpolated lines lo and hi at fraction fy.
QV_LOOP void SkyRowLoop(const int32_t* pr, const int32_t* pg, const int32_t* pb, const double* lo, const double* hi,
                        double fy, int w, float* d, float* bg) {
  const double gy = 1 - fy;
  for (int x = 0; x < w; ++x) {
    const float in = PictureValue(pr[x], pg[x], pb[x]);
    bg[x] = static_cast<float>(gy * lo[x] + fy * hi[x]);
    d[x] = in - bg[x];
  }
}
QV_TWO_BUILDS(void, SkyRow,
              (const int32_t* pr, const int32_t* pg, const int32_t* pb, const double* lo, const double* hi, double fy,
               int w, float* d, float* bg),
              (pr, pg, pb, lo, hi, fy, w, d, bg))

// The picture the detection looks at, the sky under it and their
// difference, computed a row or a pixel at a time from the three planes
// (never whole-picture copies: on a camera-sized frame those cost more in
// fresh memory than the arithmetic). A pixel's values are the same doubles
// and floats whichever way they are asked for.
class Sky {
 public:
  Sky(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b)
      : r_(r), g_(g), b_(b), w_(r.Width()), h_(r.Height()) {
    Grid();
    wx_ = Weights(w_, nx_);
    wy_ = Weights(h_, ny_);
  }

  float In(int x, int y) const { return PictureValue(r_(x, y), g_(x, y), b_(x, y)); }

  // The smooth sky: medians of blocks (so that stars barely count), inside
  // the picture cleaned by the median of each block's neighbours (a large
  // bright star can fill a block), then interpolated between block centres.
  float Background(int x, int y) const {
    const Between& bx = wx_[static_cast<size_t>(x)];
    const Between& by = wy_[static_cast<size_t>(y)];
    const double lo = (1 - bx.f) * G(bx.lo, by.lo) + bx.f * G(bx.hi, by.lo);
    const double hi = (1 - bx.f) * G(bx.lo, by.hi) + bx.f * G(bx.hi, by.hi);
    return static_cast<float>((1 - by.f) * lo + by.f * hi);
  }

  float D(int x, int y) const { return In(x, y) - Background(x, y); }

  // Row y of the picture less its sky, and of the sky, into the rings.
  void Row(int y, Rows& rows) const {
    const Between& by = wy_[static_cast<size_t>(y)];
    if (by.lo != rows.bandLo || by.hi != rows.bandHi) {
      // The rows between two block centres share their two interpolated lines.
      rows.bandLo = by.lo;
      rows.bandHi = by.hi;
      for (int x = 0; x < w_; ++x) {
        const Between& bx = wx_[static_cast<size_t>(x)];
        rows.lo[static_cast<size_t>(x)] = (1 - bx.f) * G(bx.lo, by.lo) + bx.f * G(bx.hi, by.lo);
        rows.hi[static_cast<size_t>(x)] = (1 - bx.f) * G(bx.lo, by.hi) + bx.f * G(bx.hi, by.hi);
      }
    }
    SkyRow(r_.Row(y), g_.Row(y), b_.Row(y), rows.lo.data(), rows.hi.data(), by.f, w_, rows.D(y), rows.Bg(y));
  }

 private:
  double G(int i, int j) const { return static_cast<double>(clean_[static_cast<size_t>(j) * nx_ + i]); }

  void Grid() {
    const int block = std::clamp(std::min(w_, h_) / 8, 8, 64);
    nx_ = std::max(1, w_ / block);
    ny_ = std::max(1, h_ / block);
    std::vector<float> grid(static_cast<size_t>(nx_) * ny_), cell;
    // Each half of the block rows on its own core, with its own buffers.
    // A band of blocks is read row by row across the picture, each row
    // handing its pieces to the blocks' own keys in the order a block's
    // rows come: whole rows stream through memory where a block's short
    // pieces of many rows would not.
    RunInTwo([&](int part, int parts) {
      thread_local Medians medians;
      thread_local std::vector<std::vector<uint32_t>> band;
      if (band.size() < static_cast<size_t>(nx_)) band.resize(static_cast<size_t>(nx_));
      std::vector<int> xs(static_cast<size_t>(nx_) + 1);
      for (int i = 0; i <= nx_; ++i) xs[static_cast<size_t>(i)] = static_cast<int>(static_cast<int64_t>(i) * w_ / nx_);
      int j0, j1;
      ShareOf(0, ny_ - 1, part, parts, j0, j1);
      for (int j = j0; j <= j1; ++j) {
        const int y0 = static_cast<int>(static_cast<int64_t>(j) * h_ / ny_),
                  y1 = static_cast<int>(static_cast<int64_t>(j + 1) * h_ / ny_);
        auto cells = [&](int i) {
          return static_cast<size_t>(y1 - y0) * (xs[static_cast<size_t>(i) + 1] - xs[static_cast<size_t>(i)]);
        };
        for (int i = 0; i < nx_; ++i)
          if (band[static_cast<size_t>(i)].size() < cells(i)) band[static_cast<size_t>(i)].resize(cells(i));
        for (int y = y0; y < y1; ++y) {
          const int32_t *pr = r_.Row(y), *pg = g_.Row(y), *pb = b_.Row(y);
          for (int i = 0; i < nx_; ++i) {
            const int x0 = xs[static_cast<size_t>(i)], x1 = xs[static_cast<size_t>(i) + 1];
            PictureKeys(pr + x0, pg + x0, pb + x0, x1 - x0,
                        band[static_cast<size_t>(i)].data() + static_cast<size_t>(y - y0) * (x1 - x0));
          }
        }
        for (int i = 0; i < nx_; ++i) {
          const size_t n = cells(i);
          grid[static_cast<size_t>(j) * nx_ + i] =
              n ? KeyOfRank(band[static_cast<size_t>(i)], n, n / 2, medians.Spare()) : 0.f;
        }
      }
    });
    // Only a block with all eight neighbours: at the border the neighbours lie
    // on one side, and on a sloping sky their median would be biased.
    clean_ = grid;
    for (int j = 1; j < ny_ - 1; ++j)
      for (int i = 1; i < nx_ - 1; ++i) {
        cell.clear();
        for (int b = j - 1; b <= j + 1; ++b)
          for (int a = i - 1; a <= i + 1; ++a) cell.push_back(grid[static_cast<size_t>(b) * nx_ + a]);
        clean_[static_cast<size_t>(j) * nx_ + i] = static_cast<float>(MedianOfFew(cell));
      }
  }

  const Plane<int32_t>&r_, &g_, &b_;
  int w_, h_, nx_ = 1, ny_ = 1;
  std::vector<float> clean_;
  std::vector<Between> wx_, wy_;
};

// The 3 x 3 mean of the picture less its sky at (x, y), from its three rows
// around y; zero on the picture's border.
QV_LOOP float Smoothed(const float* up, const float* mid, const float* down, int x) {
  // Row by row, left to right: the order of the additions is the value.
  double s = 0;
  s += up[x - 1], s += up[x], s += up[x + 1];
  s += mid[x - 1], s += mid[x], s += mid[x + 1];
  s += down[x - 1], s += down[x], s += down[x + 1];
  return static_cast<float>(s / 9);
}

// The 3 x 3 means of a row inside the picture's border.
QV_LOOP void SmoothedRowLoop(const float* up, const float* mid, const float* down, int w, float* out) {
  for (int x = 1; x < w - 1; ++x) out[x] = Smoothed(up, mid, down, x);
}
QV_TWO_BUILDS(void, SmoothedRow, (const float* up, const float* mid, const float* down, int w, float* out),
              (up, mid, down, w, out))

struct Candidate {
  int x, y;
  float s;
};

}  // namespace

std::vector<StarField> DetectStarsKeeping(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b,
                                          int32_t fullScale, double sigmas, const std::vector<size_t>& caps) {
  std::vector<StarField> fields(caps.size());
  StarField field;
  const int w = r.Width(), h = r.Height();
  if (r.Empty() || w < 8 || h < 8 || !g.HasSize(w, h) || !b.HasSize(w, h) || caps.empty()) return fields;
  field.width = w;
  field.height = h;
  const size_t n = static_cast<size_t>(w) * h;
  const Sky sky(r, g, b);
  const size_t W = static_cast<size_t>(w);

  // The noise, from an even sample of the whole picture; each half of the
  // rows samples its own, the lower half's first, as one pass would.
  // The samples of each half live in its thread's buffers, kept from one
  // frame to the next.
  struct Samples {
    std::vector<float> d, sm, bg;
  };
  const Samples* halves[2] = {nullptr, nullptr};
  const size_t stride = std::max<size_t>(1, n / 200000);
  RunInTwo([&](int part, int parts) {
    int y0, y1;
    ShareOf(0, h - 1, part, parts, y0, y1);
    thread_local Samples out;
    out.d.clear();
    out.sm.clear();
    out.bg.clear();
    halves[part] = &out;
    Rows rows(w);
    if (y0 > 0) sky.Row(y0 - 1, rows);
    sky.Row(y0, rows);
    for (int y = y0; y <= y1; ++y) {
      if (y + 1 < h) sky.Row(y + 1, rows);
      const size_t rowStart = static_cast<size_t>(y) * W;
      for (size_t k = (rowStart + stride - 1) / stride * stride; k < rowStart + W; k += stride) {
        const int x = static_cast<int>(k - rowStart);
        out.d.push_back(rows.D(y)[x]);
        out.bg.push_back(rows.Bg(y)[x]);
        const bool border = x == 0 || x == w - 1 || y == 0 || y == h - 1;
        out.sm.push_back(border ? 0.f : Smoothed(rows.D(y - 1), rows.D(y), rows.D(y + 1), x));
      }
    }
  });
  thread_local Medians medians;
  std::vector<float>&sample = medians.sample, &sampleSm = medians.sampleSm, &bgSample = medians.bgSample;
  sample.clear();
  sampleSm.clear();
  bgSample.clear();
  for (const Samples* half : halves) {
    if (!half) continue;
    sample.insert(sample.end(), half->d.begin(), half->d.end());
    sampleSm.insert(sampleSm.end(), half->sm.begin(), half->sm.end());
    bgSample.insert(bgSample.end(), half->bg.begin(), half->bg.end());
  }
  // Quantised 8-bit data can show no spread at all on a flat sky.
  field.sky.noise = std::max(0.5, medians.Deviation(sample));
  field.sky.level = medians.Of(bgSample);
  const double noiseSm = std::max(0.2, medians.Deviation(sampleSm));
  const double threshold = sigmas * noiseSm;

  // The 3 x 3 mean finds faint stars in noise and ignores lone pixels'
  // spikes; a candidate is its highest point over 5 x 5. Each half of the
  // candidate rows is scanned on its own core, in scan order.
  std::vector<Candidate> found[2];
  RunInTwo([&](int part, int parts) {
    int c0, c1;
    ShareOf(2, h - 3, part, parts, c0, c1);
    if (c0 > c1) return;
    std::vector<Candidate>& cand = found[part];
    Rows rows(w);
    auto smoothRow = [&](int y) {
      float* out = rows.Sm(y);
      std::fill(out, out + W, 0.f);
      if (y == 0 || y == h - 1) return;
      SmoothedRow(rows.D(y - 1), rows.D(y), rows.D(y + 1), w, out);
    };
    // The mean rows c0 - 2 .. c0 + 1 before the first candidate row.
    const int first = c0 - 2;
    if (first > 0) sky.Row(first - 1, rows);
    sky.Row(first, rows);
    for (int y = first; y <= c1 + 2; ++y) {
      if (y + 1 < h) sky.Row(y + 1, rows);
      smoothRow(y);
      const int cy = y - 2;  // the row whose 5 x 5 neighbourhood is now complete
      if (cy < c0) continue;
      const float* centre = rows.Sm(cy);
      for (int x = 2; x < w - 2; ++x) {
        const float v = centre[x];
        if (v < threshold) continue;
        bool isMax = true;
        for (int j = -2; j <= 2 && isMax; ++j) {
          const float* row = rows.Sm(cy + j);
          for (int i = -2; i <= 2 && isMax; ++i) {
            if (!i && !j) continue;
            const float o = row[x + i];
            // Equal values (a clipped core) leave the first in scan order.
            if (o > v || (o == v && (j < 0 || (j == 0 && i < 0)))) isMax = false;
          }
        }
        if (isMax) cand.push_back({x, cy, v});
      }
    }
  });
  std::vector<Candidate> cand = std::move(found[0]);
  cand.insert(cand.end(), found[1].begin(), found[1].end());
  // Each cap keeps the brightest max(4 x cap, 200) candidates by their
  // mean before it measures them. Ranking them all once gives every cap its
  // own candidates as a prefix; a star depends on its candidate alone, and
  // candidates that measure alike give equal stars, so the order they come
  // in changes nothing once the stars are sorted.
  size_t widest = 0;
  for (const size_t cap : caps) widest = std::max(widest, std::max<size_t>(cap * 4, 200));
  auto byMean = [](const Candidate& a, const Candidate& c) {
    return a.s != c.s ? a.s > c.s : (a.y != c.y ? a.y < c.y : a.x < c.x);
  };
  bool ranked = false;
  for (const size_t cap : caps) ranked = ranked || cand.size() > std::max<size_t>(cap * 4, 200);
  if (ranked) {
    const size_t top = std::min(widest, cand.size());
    std::partial_sort(cand.begin(), cand.begin() + static_cast<long>(top), cand.end(), byMean);
    cand.resize(top);
  }

  auto D = [&](int x, int y) { return static_cast<double>(sky.D(x, y)); };
  const Plane<int32_t>* planes[3] = {&r, &g, &b};
  // One candidate's star; false when it has no light above the sky.
  auto spotOf = [&](const Candidate& c, StarSpot& st) {
    st.px = c.x;
    st.py = c.y;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i)
        if (D(c.x + i, c.y + j) > D(st.px, st.py)) {
          st.px = c.x + i;
          st.py = c.y + j;
        }
    st.peak = D(st.px, st.py);
    if (st.peak <= 0) return false;
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
    const double top = sky.In(st.px, st.py);
    int flat = 0;
    for (int j = -2; j <= 2; ++j)
      for (int i = -2; i <= 2; ++i) {
        const int x = std::clamp(st.px + i, 0, w - 1), y = std::clamp(st.py + j, 0, h - 1);
        if (sky.In(x, y) >= top - std::max(1.0, 0.005 * top)) ++flat;
        if (std::abs(i) <= 1 && std::abs(j) <= 1)
          for (const auto* p : planes)
            if ((*p)(x, y) >= 0.98 * fullScale) st.saturated = true;
      }
    if (flat >= 3 && st.peak >= 50 * field.sky.noise) st.saturated = true;
    return true;
  };
  std::vector<StarSpot> spots;
  std::vector<size_t> from;  // the candidate each star comes from
  for (size_t k = 0; k < cand.size(); ++k) {
    StarSpot st;
    if (!spotOf(cand[k], st)) continue;
    spots.push_back(st);
    from.push_back(k);
  }
  for (size_t f = 0; f < caps.size(); ++f) {
    const size_t maxStars = caps[f], keep = std::max<size_t>(maxStars * 4, 200);
    std::vector<StarSpot> stars;
    for (size_t k = 0; k < spots.size(); ++k)
      if (from[k] < keep) stars.push_back(spots[k]);
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
    fields[f] = field;
    fields[f].stars = std::move(kept);
  }
  return fields;
}

StarField DetectStars(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, int32_t fullScale,
                      double sigmas, size_t maxStars) {
  return DetectStarsKeeping(r, g, b, fullScale, sigmas, {maxStars}).front();
}

double UpperMedian(const std::vector<float>& sample) {
  thread_local Medians medians;
  return medians.Of(sample);
}

std::vector<size_t> MatchableStars(const StarField& field, bool skipSaturated, double minSigmas) {
  std::vector<size_t> out;
  for (size_t k = 0; k < field.stars.size(); ++k) {
    const StarSpot& s = field.stars[k];
    if (!s.hot && !(skipSaturated && s.saturated) && s.peak >= minSigmas * field.sky.noise) out.push_back(k);
  }
  return out;
}

std::vector<Point2> MatchablePoints(const StarField& field, bool skipSaturated, double minSigmas) {
  std::vector<Point2> out;
  for (const size_t k : MatchableStars(field, skipSaturated, minSigmas))
    out.push_back({field.stars[k].x, field.stars[k].y});
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
