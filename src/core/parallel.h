// Work split in two: one part on the calling thread, the other on a helper
// thread kept for the program's life. A part computes each of its values
// exactly as the one loop would, in the same order, so the split never
// changes a result; it only puts the machine's second core to work.
#pragma once

#include <functional>

namespace qv {

// Runs part(0, 2) on the calling thread and part(1, 2) on the helper, and
// returns when both have ended. An exception from either part is rethrown
// here (the caller's own first). On a one-core machine, or when called from
// within a part, the work is not split: part(0, 1) runs on the calling
// thread, the one loop itself.
void RunInTwo(const std::function<void(int part, int parts)>& part);

// Whether RunInTwo may use the helper (yes by default on two cores or
// more); without it, both parts run on the calling thread. Tests compare
// the two ways.
void UseSecondCore(bool use);

// Whether loops built for wider vectors (AVX2) run where the processor has
// them (yes by default). Such a loop does the same operations in the same
// order in each lane, never fusing a multiply and an add, so its values are
// the one loop's; tests compare the two ways.
void UseWideLoops(bool use);
bool WideLoops();

// The share of [first, last] (inclusive) that part `part` of `parts` (1 or
// 2) takes: all of it alone, else the lower half for part 0.
inline void ShareOf(int first, int last, int part, int parts, int& from, int& to) {
  const int mid = parts == 1 ? last + 1 : first + (last - first + 1) / 2;
  from = part == 0 ? first : mid;
  to = part == 0 ? mid - 1 : last;
}

}  // namespace qv
