// The median of a sample, as the frame figures and the rejection's
// backgrounds take it.
#pragma once

#include <algorithm>
#include <vector>

namespace qv {

// The middle of a sample, which it reorders: the mean of the two middle
// values for an even count, 0 for none.
template <class T>
double SampleMedian(std::vector<T>& v) {
  if (v.empty()) return 0;
  const size_t n = v.size(), h = n / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<long>(h), v.end());
  const double upper = static_cast<double>(v[h]);
  if (n % 2) return upper;
  const double lower = static_cast<double>(*std::max_element(v.begin(), v.begin() + static_cast<long>(h)));
  return (lower + upper) * 0.5;
}

}  // namespace qv
