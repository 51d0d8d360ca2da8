#include "stack/frame_combine.h"

#include <algorithm>
#include <cmath>

#include "core/numeric.h"

namespace qv {

int32_t MedianHalfEven(std::vector<int32_t>& v) {
  if (v.empty()) return 0;
  const size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  const int64_t upper = v[mid];
  if (v.size() % 2 == 1) return static_cast<int32_t>(upper);
  // The lower middle is the largest value left of the upper one.
  const int64_t lower = *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
  return static_cast<int32_t>(RoundHalfEven(static_cast<double>(lower + upper) / 2.0));
}

void MedianOfFrames(const std::vector<const int32_t*>& frames, size_t n, int32_t* out) {
  std::vector<int32_t> column(frames.size());
  for (size_t i = 0; i < n; ++i) {
    for (size_t k = 0; k < frames.size(); ++k) column[k] = frames[k][i];
    out[i] = MedianHalfEven(column);
  }
}

void ScaledMeanOfFrames(const std::vector<const int32_t*>& frames, const std::vector<double>& scales, size_t n,
                        int32_t* out) {
  const double count = static_cast<double>(frames.size());
  for (size_t i = 0; i < n; ++i) {
    double sum = 0;
    for (size_t k = 0; k < frames.size(); ++k) sum += frames[k][i] * scales[k];
    const double mean = frames.empty() ? 0.0 : RoundHalfEven(sum / count);
    out[i] = static_cast<int32_t>(std::clamp(mean, -2147483648.0, 2147483647.0));
  }
}

}  // namespace qv
