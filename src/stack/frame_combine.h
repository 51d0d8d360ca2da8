// Per-pixel combination of several frames of one size, the arithmetic of
// calibration masters made from many exposures. Pure functions over rows of
// samples, so that a caller can feed them a band of rows at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv {

// The median of `v` (reordered in place): for an even count, the mean of
// the two middle values rounded half to even. 0 for an empty list.
int32_t MedianHalfEven(std::vector<int32_t>& v);

// out[i] = the median over the frames of frames[k][i], for i < n.
void MedianOfFrames(const std::vector<const int32_t*>& frames, size_t n, int32_t* out);

// out[i] = the mean over the frames of frames[k][i] x scales[k], rounded
// half to even, for i < n. `scales` has one factor per frame.
void ScaledMeanOfFrames(const std::vector<const int32_t*>& frames, const std::vector<double>& scales, size_t n,
                        int32_t* out);

}  // namespace qv
