// The steps of the per-image pixel loop, each over one output row of the
// three colour planes. The loop that drives them (ProcessPic) decodes the
// file's rows, then calls route, mask, note the data, dark, flat and
// histogram in that order, and owns the yields and the stop test.
#pragma once

#include <array>
#include <cstdint>

#include "core/plane_view.h"
#include "core/session.h"

namespace qv {

// One output row of the three colour planes, n values each.
struct RgbRow {
  int32_t* v[3];
  int n;
};

// Where a row first failed. A step that can fail handles only the pixels
// before `end` and, at its first failing pixel, moves `end` there and keeps
// its run-time error; the steps after it then stop short of that pixel. So
// the row fails with the error its first failing pixel meets, as if every
// pixel went through all the steps before the next one did. The pixels from
// `end` on are then dropped (left 0) and those before it kept.
struct RowFault {
  int end = 0;
  int number = 0;  // the run-time error; 0 when none
  void At(int x, int err) {
    end = x;
    number = err;
  }
};

// Spreads the decoded planes (`planes` of them, 1 or 3) over the colours:
// with `chan` 0 the file's planes are the colours and a single plane goes to
// all three; otherwise the single plane goes to the colours whose bits
// (1 red, 2 green, 4 blue) are set and the others get 0.
void RouteRow(const int32_t* const decoded[3], int planes, int16_t chan, RgbRow out);

// Applies the hot-pixel mask, `mask` being the file row it reads every
// `step` bytes: a masked pixel gets 0 in every plane and skip 1, and the
// later steps leave it out; the others get skip 0.
void MaskRow(const uint8_t* mask, int step, RgbRow row, uint8_t* skip);

// Sets has[p] when plane p holds a value above 0 (before the dark).
void NoteData(RgbRow row, bool has[3]);

// Each value above 0 becomes max(1, value - dark), the dark of its plane
// read at the file position (x * step, y): a position outside a dark plane
// is a subscript error, a difference beyond 32 bits an overflow.
void SubtractDark(RgbRow row, const ConstPlaneView<int32_t> dark[3], int y, int step, RowFault& fault);

// The values of each pixel not skipped are multiplied by flatMean / flat,
// the flat read at (x * step, y), and rounded half to even: a position
// outside the flat is a subscript error, a flat of 0 a division by zero, a
// result beyond 32 bits an overflow. `skip` may be null.
void ApplyFlat(RgbRow row, const uint8_t* skip, ConstPlaneView<int32_t> flat, double flatMean, int y, int step,
               RowFault& fault);

// Counts each pixel not skipped in bin (r + g + b) / 96 (the fraction
// dropped, limited to 0..2048); a sum beyond 32 bits is an overflow, and
// the pixel, whose values are final, is kept but not counted. `skip` may be
// null.
void CountRow(RgbRow row, const uint8_t* skip, std::array<int32_t, kHistoBins>& histo, RowFault& fault);

}  // namespace qv
