// The final combination: the temporary files resampled into the
// destination accumulator, and the statistics of the result.
#pragma once

#include <cstdint>
#include <vector>

#include "core/outcome.h"
#include "core/plane_view.h"
#include "core/progress.h"
#include "core/session.h"

namespace qv {

// Reads every temporary file back, filters and weights each image and adds
// it to the destination; ok when every file was processed. A stop or an
// empty stack fails without a reason; a run-time error is logged and gives
// its number and words. `combined` receives the numbers of the files that
// reached the destination whole (a missing file is passed over).
Outcome CombineStack(Session& s, bool expand, std::vector<int>* combined = nullptr);

// Median filter of three planes of one size: each pixel's window (mode 1
// 3x3, 2 4x4, 3 5x5, anything else 3x3) gives the median of its values above
// 0, which replaces the pixel when it is at most `limit`. Calls `yield` after
// each row and, when it says stop, ends with the planes unchanged.
void MedianFilter(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, int16_t mode, int32_t limit,
                  const YieldPoint& yield);

// The same on the current planes with opt.MedianLimit; yields to the event
// loop after each row and ends when the run is no longer running.
void MedianFilter(Session& s, int16_t mode);

// Median of values[1..n] (1-based; element 0 unused): the lower middle
// value for an even count, 0 when n <= 0. Leaves values partly sorted.
int32_t MedianOf(int16_t n, std::vector<int32_t>& values);

// The destination histogram and its largest count; false when the result
// is empty (all values equal), which opens no window.
bool MeasureDestination(Session& s);

// The engine's part of the final step: combines the stack (expanded to the
// whole canvas or not), measures the destination and names the result
// (DestFileName). `destination` receives the caption of the destination
// window to open, empty when there is none to show. A failed combination
// ends it with CombineStack's outcome, or without a reason when the result
// is empty; a run-time error of its own is shown in a message box and
// gives its number and text.
Outcome FinalCombination(Session& s, bool expand, std::string& destination, std::vector<int>* combined = nullptr);

// The default base name of the result: the common beginning of the list
// images' file names.
std::string BaseName(const Session& s);

}  // namespace qv
