#include "stack/reject.h"

#include <algorithm>
#include <cmath>

#include "core/parallel.h"
#include "io/file.h"
#include "stack/accumulate.h"

namespace qv {

namespace {

// The values kept, sorted, into `sorted`; gives their count.
size_t SortedKept(const double* values, size_t n, const uint8_t* kept, double* sorted) {
  size_t m = 0;
  for (size_t i = 0; i < n; ++i)
    if (kept[i]) sorted[m++] = values[i];
  if (m > 32) {
    std::sort(sorted, sorted + m);
  } else {
    // A few frames: insertion is the quickest sort.
    for (size_t i = 1; i < m; ++i) {
      const double v = sorted[i];
      size_t j = i;
      for (; j > 0 && sorted[j - 1] > v; --j) sorted[j] = sorted[j - 1];
      sorted[j] = v;
    }
  }
  return m;
}

// The standard deviation (divided by the count) of m values clamped to
// lo..hi, summed in the order given.
double Deviation(const double* v, size_t m, double lo, double hi) {
  double sum = 0;
  for (size_t i = 0; i < m; ++i) sum += std::clamp(v[i], lo, hi);
  const double mean = sum / static_cast<double>(m);
  double squares = 0;
  for (size_t i = 0; i < m; ++i) {
    const double d = std::clamp(v[i], lo, hi) - mean;
    squares += d * d;
  }
  return std::sqrt(squares / static_cast<double>(m));
}

}  // namespace

size_t RejectOutliers(const RejectRule& rule, const double* values, size_t n, uint8_t* kept,
                      std::vector<double>& scratch) {
  std::fill(kept, kept + n, uint8_t{1});
  size_t left = n;
  if (rule.mode == kRejectNone) return left;
  if (scratch.size() < n) scratch.resize(n);
  double* const sorted = scratch.data();
  constexpr double kInf = HUGE_VAL;
  for (int round = 0; round < 10 && left >= 3; ++round) {
    const size_t m = SortedKept(values, n, kept, sorted);
    const double centre = m % 2 ? sorted[m / 2] : (sorted[m / 2 - 1] + sorted[m / 2]) * 0.5;
    double sigma = Deviation(sorted, m, -kInf, kInf);
    if (rule.mode == kRejectWinsorised) {
      // The far values pulled in to 1.5 sigma until sigma settles; a
      // hundred rounds bound a sample that keeps moving by rounding alone.
      for (int settle = 0; settle < 100 && sigma > 0; ++settle) {
        const double next = Deviation(sorted, m, centre - 1.5 * sigma, centre + 1.5 * sigma);
        const bool settled = std::fabs(next - sigma) < 0.0005 * sigma;
        sigma = next;
        if (settled) break;
      }
    }
    const double below = centre - rule.low * sigma, above = centre + rule.high * sigma;
    // Nothing beyond the bounds: the sorted ends tell at once.
    if (!(sorted[0] < below) && !(sorted[m - 1] > above)) break;
    for (size_t i = 0; i < n; ++i)
      if (kept[i] && (values[i] < below || values[i] > above)) {
        kept[i] = 0;
        --left;
      }
  }
  return left;
}

Background BackgroundOf(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b) {
  Background bg;
  const Plane<int32_t>* planes[3] = {&r, &g, &b};
  std::vector<int32_t> values;
  std::vector<double> deviations;
  for (int c = 0; c < 3; ++c) {
    values.clear();
    const Plane<int32_t>& p = *planes[c];
    for (size_t k = 0; k < p.Size(); ++k)
      if (p.Data()[k] > 0) values.push_back(p.Data()[k]);
    if (values.empty()) continue;
    auto middle = [](auto& v) {
      const size_t m = v.size();
      std::nth_element(v.begin(), v.begin() + static_cast<long>(m / 2), v.end());
      const double upper = static_cast<double>(v[m / 2]);
      if (m % 2) return upper;
      const double lower = static_cast<double>(*std::max_element(v.begin(), v.begin() + static_cast<long>(m / 2)));
      return (lower + upper) * 0.5;
    };
    const double location = middle(values);
    deviations.clear();
    for (const int32_t v : values) deviations.push_back(std::fabs(v - location));
    bg.location[c] = location;
    // A flat frame has no spread: it then scales nothing.
    const double scale = 1.4826 * middle(deviations);
    bg.scale[c] = scale > 0 ? scale : 1;
  }
  return bg;
}

std::string LayerFileName(const Session& s, int k) { return s.stack.TempBase + std::to_string(k) + ".rej"; }

}  // namespace qv

namespace qv {

RejectRule RejectRuleOf(const Options& o) {
  RejectRule rule;
  rule.mode = o.RejectMode == kRejectSigma || o.RejectMode == kRejectWinsorised ? o.RejectMode : int16_t{kRejectNone};
  auto kappa = [](float k) { return static_cast<double>(std::isnan(k) ? 3.0f : std::clamp(k, kKappaMin, kKappaMax)); };
  rule.low = kappa(o.RejectLow);
  rule.high = kappa(o.RejectHigh);
  rule.normalise = o.Normalise != 0;
  rule.normaliseOutput = rule.normalise && o.NormaliseOutput != 0;
  return rule;
}

Outcome WriteLayerFile(const std::string& path, const Layer& layer) {
  const int32_t box[4] = {layer.x0, layer.y0, layer.x1, layer.y1};
  return WriteScratchFile(
      path, {{reinterpret_cast<const uint8_t*>(box), sizeof box},
             {reinterpret_cast<const uint8_t*>(layer.samples.data()), layer.samples.size() * sizeof(LayerSample)}});
}

namespace {

// The rows of one layer that a band needs, read from its file.
struct BandRows {
  int from = 0, to = -1;  // rows of the destination held
  std::vector<LayerSample> samples;
  const LayerSample* At(const ParkedLayer& l, int x, int y) const {
    if (y < from || y > to || x < l.x0 || x > l.x1) return nullptr;
    return &samples[static_cast<size_t>(y - from) * static_cast<size_t>(l.x1 - l.x0 + 1) +
                    static_cast<size_t>(x - l.x0)];
  }
};

// Reads rows from..to of a layer's file; false when the file is gone or short.
bool ReadBand(const std::string& path, const ParkedLayer& l, int from, int to, BandRows& rows) {
  rows.from = std::max(from, l.y0);
  rows.to = std::min(to, l.y1);
  if (rows.from > rows.to) {
    rows.samples.clear();
    return true;
  }
  const size_t width = static_cast<size_t>(l.x1 - l.x0 + 1);
  rows.samples.resize(width * static_cast<size_t>(rows.to - rows.from + 1));
  const uint64_t at = 4 * sizeof(int32_t) + static_cast<uint64_t>(rows.from - l.y0) * width * sizeof(LayerSample);
  try {
    BinaryFile f;
    f.OpenRead(path);
    f.ReadExactly(static_cast<int64_t>(at), rows.samples.data(), rows.samples.size() * sizeof(LayerSample));
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

// What one thread needs to judge a pixel's samples.
struct Judging {
  std::vector<double> values, tested, weights, scratch;
  std::vector<uint8_t> kept;
  std::vector<const LayerSample*> rowOf;
  std::vector<std::pair<const LayerSample*, const Background*>> here;
};

}  // namespace

bool CombineLayers(Session& s, const std::vector<ParkedLayer>& layers, const RejectRule& rule,
                   const std::string& caption, std::vector<int>* combined) {
  Destination& d = s.dest;
  const PlaneView<float> sum[3] = {d.DestSumR, d.DestSumG, d.DestSumB};
  const PlaneView<float> weight[3] = {d.DestWeightR, d.DestWeightG, d.DestWeightB};
  const int wd = sum[0].UBound1(), hd = sum[0].UBound2();
  const size_t n = layers.size();
  // The bands hold every layer's rows at once: 256 Mo of them at most, and
  // never less than the 4 rows between two stop tests.
  constexpr uint64_t kBandBytes = uint64_t{256} << 20;
  const uint64_t rowBytes = std::max<uint64_t>(1, n) * static_cast<uint64_t>(wd + 1) * sizeof(LayerSample);
  const int bandRows = static_cast<int>(std::clamp<uint64_t>(kBandBytes / rowBytes / 4 * 4, 4, 1 << 20));
  const int bands = (hd + bandRows) / bandRows;
  std::vector<BandRows> rows(n);
  std::vector<uint8_t> whole(n, 1);
  const Background& first = n ? layers[0].background : Background{};
  for (int b = 0; b < bands; ++b) {
    const std::string words = caption + " - bande " + std::to_string(b + 1) + "/" + std::to_string(bands) + " Rejet";
    s.progress.Report(words);
    s.messages->ShowDebugLine(words);
    const int from = b * bandRows, to = std::min(hd, from + bandRows - 1);
    for (size_t l = 0; l < n; ++l)
      if (whole[l] && !ReadBand(LayerFileName(s, layers[l].k), layers[l], from, to, rows[l])) {
        // Gone or cut meanwhile: what it brought so far stays, the rest of
        // it is missing, and its frame is not in the result whole.
        whole[l] = 0;
        rows[l] = BandRows{};
      }
    auto judgeRow = [&](int y) {
      thread_local Judging j;
      // Each layer's samples of this row, from its first column.
      j.rowOf.assign(n, nullptr);
      for (size_t l = 0; l < n; ++l)
        if (y >= rows[l].from && y <= rows[l].to)
          j.rowOf[l] = rows[l].samples.data() +
                       static_cast<size_t>(y - rows[l].from) * static_cast<size_t>(layers[l].x1 - layers[l].x0 + 1);
      for (int x = 0; x <= wd; ++x) {
        // The layers that reach this pixel, in file order.
        j.here.clear();
        for (size_t l = 0; l < n; ++l)
          if (j.rowOf[l] && x >= layers[l].x0 && x <= layers[l].x1 && j.rowOf[l][x - layers[l].x0].w > 0)
            j.here.push_back({&j.rowOf[l][x - layers[l].x0], &layers[l].background});
        if (j.here.empty()) continue;
        // Three equal planes (a grey frame in colour) give three equal
        // samples: judged once, kept alike.
        bool alike = !rule.normalise;
        for (size_t i = 0; i < j.here.size() && alike; ++i)
          alike = j.here[i].first->v[0] == j.here[i].first->v[1] && j.here[i].first->v[0] == j.here[i].first->v[2];
        for (int p = 0; p < 3; ++p) {
          // A grey frame's other colours take the first one's judgement.
          if (!alike || p == 0) {
            j.values.clear();
            j.tested.clear();
            j.weights.clear();
            for (const auto& [at, bg] : j.here) {
              if (at->v[p] <= 0) continue;
              const double v = at->v[p];
              j.values.push_back(v);
              j.tested.push_back(
                  rule.normalise ? (v - bg->location[p]) * first.scale[p] / bg->scale[p] + first.location[p] : v);
              j.weights.push_back(at->w);
            }
            j.kept.resize(j.values.size());
            RejectOutliers(rule, j.tested.data(), j.values.size(), j.kept.data(), j.scratch);
          }
          float& wv = weight[p].Row(y)[x];
          float& sv = sum[p].Row(y)[x];
          const std::vector<double>& added = rule.normaliseOutput ? j.tested : j.values;
          for (size_t i = 0; i < j.values.size(); ++i)
            if (j.kept[i]) {
              wv = static_cast<float>(wv + j.weights[i]);
              sv = static_cast<float>(sv + added[i] * j.weights[i]);
            }
        }
      }
    };
    // Rows between two stop tests on both cores, each row on one of them.
    int y = from;
    while (y <= to) {
      const int last = std::min(to, y + (4 - y % 4) % 4);
      const int start = y;
      RunInTwo([&](int part, int parts) {
        int a, z;
        ShareOf(start, last, part, parts, a, z);
        for (int r = a; r <= z; ++r) judgeRow(r);
      });
      if (last % 4 == 0 && !s.progress.StillRunning()) return false;
      y = last + 1;
    }
  }
  for (size_t l = 0; l < n; ++l) {
    std::remove(LayerFileName(s, layers[l].k).c_str());
    if (combined && whole[l]) combined->push_back(layers[l].k);
  }
  return true;
}

}  // namespace qv
