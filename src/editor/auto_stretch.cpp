#include "editor/auto_stretch.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace qv {

namespace {

// Levels are read to an eighth: fine enough for the noise of a deep stack,
// and the counts take 2 MB whatever the size of the picture.
constexpr int kBinsPerLevel = 8;
constexpr int kBins = 65536 * kBinsPerLevel;

// The fraction of the range from which the curve of exponent e comes
// within half a byte of 255 (255 x^e >= 254). The byte itself rounds to
// 255 only at 254.5: the half byte between keeps the whole levels and the
// curve's own rounding from tipping the high quantile over.
double SaturationFraction(double e) { return std::pow(254.0 / 255, 1 / e); }

class LevelCounts {
 public:
  LevelCounts() : counts_(kBins, 0) {}
  void Add(double v) {
    const double at = std::floor(v * kBinsPerLevel);
    ++counts_[static_cast<size_t>(std::clamp(at, 0.0, double(kBins - 1)))];
    ++total_;
  }
  int64_t Total() const { return total_; }
  // The value of rank q x (total - 1), spread evenly within its bin.
  double Quantile(double q) const {
    const double rank = q * static_cast<double>(total_ - 1);
    int64_t below = 0;
    for (size_t bin = 0; bin < counts_.size(); ++bin) {
      const int64_t n = counts_[bin];
      if (n > 0 && static_cast<double>(below + n) > rank)
        return (static_cast<double>(bin) + (rank - static_cast<double>(below) + 0.5) / static_cast<double>(n)) /
               kBinsPerLevel;
      below += n;
    }
    return 65535;
  }

 private:
  std::vector<uint32_t> counts_;
  int64_t total_ = 0;
};

// Calls f(value) for each covered pixel with a finite value, computed as
// the rendering computes it.
template <class F>
void ForEachCovered(const Plane<float>& sum, const Plane<float>& weight, F f) {
  if (sum.Empty() || !weight.HasSize(sum.Width(), sum.Height())) return;
  for (int y = 0; y <= sum.UBound2(); ++y) {
    const float* s = sum.Row(y);
    const float* w = weight.Row(y);
    for (int x = 0; x <= sum.UBound1(); ++x)
      if (w[x] > 0) {
        const double v = static_cast<double>(s[x] / w[x]);
        if (std::isfinite(v)) f(v);
      }
  }
}

}  // namespace

ChannelStatistics MeasureChannel(const Plane<float>& sum, const Plane<float>& weight) {
  ChannelStatistics st;
  LevelCounts values;
  ForEachCovered(sum, weight, [&](double v) { values.Add(v); });
  if (values.Total() == 0) return st;
  st.covered = true;
  st.median = values.Quantile(0.5);
  st.high = values.Quantile(kStretchWhiteQuantile);
  // Deviations are counted on the same scale, so the median deviation
  // is read to an eighth of a level as well.
  LevelCounts deviations;
  ForEachCovered(sum, weight, [&](double v) { deviations.Add(std::fabs(v - st.median)); });
  st.noise = 1.4826 * deviations.Quantile(0.5);
  return st;
}

StretchLevels ChooseStretch(const std::array<ChannelStatistics, 3>& channels) {
  StretchLevels out;
  const double target = kStretchBackgroundByte / 255;
  // Per channel: the background, the high quantile, the black the noise
  // allows, and the levels chosen.
  std::array<double, 3> median{}, high{}, noiseBlack{}, black{}, white{};
  // Channels whose background lies above their black level: only they can
  // say where the curve must lift it.
  std::array<bool, 3> lifted{false, false, false};
  for (size_t c = 0; c < 3; ++c) {
    const ChannelStatistics& st = channels[c];
    if (!st.covered) continue;
    out.set[c] = true;
    median[c] = std::clamp(st.median, 0.0, 65535.0);
    high[c] = std::max(std::clamp(st.high, 0.0, 65535.0), median[c] + 1);
    double b = median[c] - kStretchNoiseMultiple * st.noise;
    // A flat channel has no noise to go by: one level below its background.
    if (b >= median[c]) b = median[c] - 1;
    noiseBlack[c] = std::max(0.0, b);
    lifted[c] = median[c] > noiseBlack[c];
  }
  auto exponent = [&](double x) { return std::clamp(std::log(target) / std::log(x), 2.0 / 255, 2.0); };

  // The background's fraction of the range decides the curve, and the
  // curve decides how far above the high quantile the white must go for
  // the curve to saturate only beyond it. A few rounds settle the two.
  // `common` is the fraction every channel's background is brought to: the
  // largest the channels have, unless a channel whose black is already at
  // 0 cannot reach it without its white coming down onto its stars.
  double e = 1, common = 0;
  for (int round = 0; round < 4; ++round) {
    const double top = SaturationFraction(e);
    double largest = 0, reachable = 1;
    bool any = false;
    for (size_t c = 0; c < 3; ++c) {
      if (!lifted[c]) continue;
      any = true;
      const double w = noiseBlack[c] + (high[c] - noiseBlack[c]) / top;
      largest = std::max(largest, (median[c] - noiseBlack[c]) / (w - noiseBlack[c]));
      reachable = std::min(reachable, median[c] * top / high[c]);
    }
    if (!any) break;
    common = std::min(largest, reachable);
    e = exponent(common);
  }

  // Every channel's background at the same fraction of its range renders
  // the sky grey. A channel below it lowers its black, and its white with
  // it so that the high quantile stays where the curve is still below 255;
  // a channel above it raises its white. Neither clips more than the noise
  // and the high quantile allowed.
  const double top = SaturationFraction(e);
  for (size_t c = 0; c < 3; ++c) {
    if (!out.set[c]) continue;
    black[c] = noiseBlack[c];
    white[c] = black[c] + (high[c] - black[c]) / top;
    if (!lifted[c] || common <= 0) continue;
    if ((median[c] - black[c]) / (white[c] - black[c]) < common) {
      const double r = common / top;
      black[c] = std::clamp((median[c] - r * high[c]) / (1 - r), 0.0, noiseBlack[c]);
      white[c] = black[c] + (high[c] - black[c]) / top;
    } else {
      white[c] = black[c] + (median[c] - black[c]) / common;
    }
  }

  // Whole levels the editor's fields take, within its limits (rounded
  // outwards, which only keeps more of the data); the curve is then fitted
  // to the levels as they will be read.
  double logSum = 0;
  int logCount = 0;
  for (size_t c = 0; c < 3; ++c) {
    if (!out.set[c]) continue;
    out.black[c] = std::clamp(std::floor(black[c]), 0.0, 65534.0);
    out.white[c] = std::clamp(std::ceil(white[c]), out.black[c] + 1, 65535.0);
    const double x = (median[c] - out.black[c]) / (out.white[c] - out.black[c]);
    if (lifted[c] && x > 0 && x < 1) {
      logSum += std::log(x);
      ++logCount;
    }
  }
  out.curve = logCount > 0 ? exponent(std::exp(logSum / logCount)) / 2 : 0.5;
  return out;
}

StretchLevels AutoStretchLevels(const DestPlanes& dest) {
  std::array<ChannelStatistics, 3> channels;
  for (size_t c = 0; c < 3; ++c)
    if (dest.sum[c] && dest.weight[c]) channels[c] = MeasureChannel(*dest.sum[c], *dest.weight[c]);
  return ChooseStretch(channels);
}

}  // namespace qv
