#include "stack/reject.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/median.h"
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
  // Eight at a time: a call to memset for a pixel's twenty flags would
  // cost more than the flags.
  constexpr uint64_t kAllKept = 0x0101010101010101ULL;
  size_t i0 = 0;
  for (; i0 + 8 <= n; i0 += 8) std::memcpy(kept + i0, &kAllKept, 8);
  for (; i0 < n; ++i0) kept[i0] = 1;
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
    const double location = SampleMedian(values);
    deviations.clear();
    for (const int32_t v : values) deviations.push_back(std::fabs(v - location));
    bg.location[c] = location;
    // A flat frame has no spread: it then scales nothing.
    const double scale = 1.4826 * SampleMedian(deviations);
    bg.scale[c] = scale > 0 ? scale : 1;
  }
  return bg;
}

uint64_t& HeldLayerBytes() {
  static uint64_t bytes = uint64_t{256} << 20;
  return bytes;
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
  const int32_t head[5] = {layer.x0, layer.y0, layer.x1, layer.y1, (layer.weighted ? 1 : 0) | (layer.grey ? 2 : 0)};
  return WriteScratchFile(path, {{reinterpret_cast<const uint8_t*>(head), sizeof head}, {layer.bytes}});
}

namespace {

constexpr uint64_t kLayerHead = 5 * sizeof(int32_t);

size_t SampleBytesOf(const ParkedLayer& l) { return LayerSampleBytes(l.weighted, l.grey); }

// The rows of one layer that a band needs, read from its file or pointed
// at in memory.
struct BandRows {
  int from = 0, to = -1;  // rows of the destination held
  std::vector<uint8_t> bytes;
  const uint8_t* data = nullptr;
};

// Rows from..to of a layer; false when its file is gone or short.
bool ReadBand(const std::string& path, const ParkedLayer& l, int from, int to, BandRows& rows) {
  rows.from = std::max(from, l.y0);
  rows.to = std::min(to, l.y1);
  rows.data = nullptr;
  if (rows.from > rows.to) {
    rows.bytes.clear();
    return true;
  }
  const size_t rowBytes = static_cast<size_t>(l.x1 - l.x0 + 1) * SampleBytesOf(l);
  const uint64_t at = static_cast<uint64_t>(rows.from - l.y0) * rowBytes;
  if (l.held) {
    rows.data = l.held->data() + at;
    return true;
  }
  rows.bytes.resize(rowBytes * static_cast<size_t>(rows.to - rows.from + 1));
  try {
    BinaryFile f;
    f.OpenRead(path);
    f.ReadExactly(static_cast<int64_t>(kLayerHead + at), rows.bytes.data(), rows.bytes.size());
    rows.data = rows.bytes.data();
    return true;
  } catch (const RuntimeError&) {
    return false;
  }
}

// One frame's sample at a destination pixel.
struct Sample {
  int32_t v[3];
  double w;
  const Background* bg;
};

// How one layer's row of a band is read.
struct LayerRow {
  const uint8_t* row = nullptr;  // null: the layer has no such row
  int x0 = 0, x1 = -1;
  size_t sampleBytes = 0, valueAt = 0;
  bool grey = false;
  const Background* bg = nullptr;
};

// What one thread needs to judge a pixel's samples.
struct Judging {
  std::vector<double> values, tested, weights, scratch;
  std::vector<uint8_t> kept;
  std::vector<LayerRow> rowOf;
  std::vector<Sample> here;
};

}  // namespace

bool CombineLayers(Session& s, const std::vector<ParkedLayer>& layers, const RejectRule& rule,
                   const std::string& caption, std::vector<int>* combined) {
  Destination& d = s.dest;
  const PlaneView<float> sum[3] = {d.DestSumR, d.DestSumG, d.DestSumB};
  const PlaneView<float> weight[3] = {d.DestWeightR, d.DestWeightG, d.DestWeightB};
  const int wd = sum[0].UBound1(), hd = sum[0].UBound2();
  const size_t n = layers.size();
  // The bands hold the rows of every layer parked in a file at once: 256 Mo
  // of them at most (besides the layers held in memory), and
  // never less than the 4 rows between two stop tests.
  constexpr uint64_t kBandBytes = uint64_t{256} << 20;
  uint64_t rowBytes = 1;
  for (const ParkedLayer& l : layers)
    if (!l.held) rowBytes += static_cast<uint64_t>(wd + 1) * SampleBytesOf(l);
  const int bandRows = static_cast<int>(std::clamp<uint64_t>(kBandBytes / rowBytes / 4 * 4, 4, 1 << 20));
  const int bands = (hd + bandRows) / bandRows;
  std::vector<BandRows> rows(n);
  std::vector<uint8_t> whole(n, 1);
  const Background& first = n ? layers[0].background : Background{};
  // Every layer grey and unweighted, and nothing normalised: the common
  // night takes the short way (same sums, to the last bit).
  bool greyEven = !rule.normalise;
  for (const ParkedLayer& l : layers) greyEven = greyEven && l.grey && !l.weighted;
  for (int b = 0; b < bands; ++b) {
    const std::string words = caption + " - bande " + std::to_string(b + 1) + "/" + std::to_string(bands) + " Rejet";
    s.progress.Report(words, 0.5 + 0.5 * b / bands);
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
      j.rowOf.assign(n, LayerRow{});
      for (size_t l = 0; l < n; ++l) {
        const ParkedLayer& pl = layers[l];
        if (y < rows[l].from || y > rows[l].to) continue;
        LayerRow& lr = j.rowOf[l];
        lr.sampleBytes = SampleBytesOf(pl);
        lr.valueAt = pl.weighted ? sizeof(double) : 0;
        lr.grey = pl.grey;
        lr.x0 = pl.x0;
        lr.x1 = pl.x1;
        lr.bg = &pl.background;
        lr.row = rows[l].data +
                 static_cast<size_t>(y - rows[l].from) * static_cast<size_t>(pl.x1 - pl.x0 + 1) * lr.sampleBytes;
      }
      j.here.resize(n);
      j.values.resize(n);
      j.tested.resize(n);
      j.weights.resize(n);
      j.kept.resize(n);
      if (greyEven) {
        // Grey frames weighing 1 each, compared as they are: one value a
        // sample, judged and summed once for the three colours.
        float* const w0 = weight[0].Row(y);
        float* const s0 = sum[0].Row(y);
        for (int x = 0; x <= wd; ++x) {
          size_t count = 0;
          for (const LayerRow& lr : j.rowOf) {
            if (!lr.row || x < lr.x0 || x > lr.x1) continue;
            int32_t v;
            std::memcpy(&v, lr.row + static_cast<size_t>(x - lr.x0) * sizeof v, sizeof v);
            if (v > 0) j.values[count++] = v;
          }
          if (count == 0) continue;
          RejectOutliers(rule, j.values.data(), count, j.kept.data(), j.scratch);
          float wv = w0[x], sv = s0[x];
          for (size_t i = 0; i < count; ++i)
            if (j.kept[i]) {
              wv = static_cast<float>(wv + 1.0);
              sv = static_cast<float>(sv + j.values[i] * 1.0);
            }
          for (int p = 0; p < 3; ++p) {
            weight[p].Row(y)[x] = wv;
            sum[p].Row(y)[x] = sv;
          }
        }
        return;
      }
      for (int x = 0; x <= wd; ++x) {
        // The layers that reach this pixel, in file order.
        size_t m = 0;
        for (const LayerRow& lr : j.rowOf) {
          if (!lr.row || x < lr.x0 || x > lr.x1) continue;
          const uint8_t* at = lr.row + static_cast<size_t>(x - lr.x0) * lr.sampleBytes;
          Sample& sm = j.here[m];
          sm.w = 1;
          if (lr.valueAt) std::memcpy(&sm.w, at, sizeof sm.w);
          if (!(sm.w > 0)) continue;
          std::memcpy(sm.v, at + lr.valueAt, sizeof(int32_t));
          if (lr.grey)
            sm.v[1] = sm.v[2] = sm.v[0];
          else
            std::memcpy(sm.v + 1, at + lr.valueAt + sizeof(int32_t), 2 * sizeof(int32_t));
          sm.bg = lr.bg;
          ++m;
        }
        if (m == 0) continue;
        // Three equal planes (a grey frame in colour) give three equal
        // samples: judged once, kept alike.
        bool alike = !rule.normalise;
        for (size_t i = 0; i < m && alike; ++i)
          alike = j.here[i].v[0] == j.here[i].v[1] && j.here[i].v[0] == j.here[i].v[2];
        size_t count = 0;
        for (int p = 0; p < 3; ++p) {
          // A grey frame's other colours take the first one's judgement.
          if (!alike || p == 0) {
            count = 0;
            for (size_t i = 0; i < m; ++i) {
              const Sample& sm = j.here[i];
              if (sm.v[p] <= 0) continue;
              const double v = sm.v[p];
              j.values[count] = v;
              j.tested[count] =
                  rule.normalise ? (v - sm.bg->location[p]) * first.scale[p] / sm.bg->scale[p] + first.location[p] : v;
              j.weights[count] = sm.w;
              ++count;
            }
            RejectOutliers(rule, j.tested.data(), count, j.kept.data(), j.scratch);
          }
          float& wv = weight[p].Row(y)[x];
          float& sv = sum[p].Row(y)[x];
          const std::vector<double>& added = rule.normaliseOutput ? j.tested : j.values;
          for (size_t i = 0; i < count; ++i)
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
    if (!layers[l].held) std::remove(LayerFileName(s, layers[l].k).c_str());
    if (combined && whole[l]) combined->push_back(layers[l].k);
  }
  return true;
}

}  // namespace qv
