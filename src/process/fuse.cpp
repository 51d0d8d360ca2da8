#include "process/fuse.h"

#include <utility>

namespace qv {

namespace {

void FusePlane(Plane<int32_t>& p) {
  if (p.Empty()) return;
  const int xm = p.UBound1(), ym = p.UBound2();
  const int xn = xm / 2, yn = ym / 2;
  Plane<int32_t> out(xn, yn);
  for (int j = 0; j <= yn; ++j) {
    // With an odd count of rows the last block has a single source row.
    const int32_t* r0 = p.Row(2 * j);
    const int32_t* r1 = 2 * j + 1 <= ym ? p.Row(2 * j + 1) : nullptr;
    int32_t* o = out.Row(j);
    for (int i = 0; i <= xn; ++i) {
      const int x0 = 2 * i, x1 = 2 * i + 1;
      const bool second = x1 <= xm;
      int64_t sum = 0;
      int count = 0;
      auto add = [&](int32_t v) {
        if (v > 0) {
          sum += v;
          ++count;
        }
      };
      add(r0[x0]);
      if (second) add(r0[x1]);
      if (r1) {
        add(r1[x0]);
        if (second) add(r1[x1]);
      }
      if (count >= 1) o[i] = static_cast<int32_t>(RoundHalfEven(static_cast<double>(sum) / count));
    }
  }
  p = std::move(out);
}

}  // namespace

void Fuse2x2(Plane<int32_t>& r, Plane<int32_t>& g, Plane<int32_t>& b) {
  FusePlane(r);
  FusePlane(g);
  FusePlane(b);
}

}  // namespace qv
