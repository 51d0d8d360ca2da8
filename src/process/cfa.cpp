#include "process/cfa.h"

#include <algorithm>

namespace qv {

namespace {

// Codes of the four layouts, in the order (0,0), (1,0), (0,1), (1,1): the
// first row of the cell left to right, then the second row.
constexpr int kLayouts[4][4] = {
    {CfaGreen, CfaBlue, CfaRed, CfaGreen},  // "2312"
    {CfaBlue, CfaGreen, CfaGreen, CfaRed},  // "3221"
    {CfaRed, CfaGreen, CfaGreen, CfaBlue},  // "1223"
    {CfaGreen, CfaRed, CfaBlue, CfaGreen},  // "2132"
};

// Blank every site of the plane that does not carry `colour`.
void Separate(PlaneView<int32_t> p, int layout, int colour) {
  const int w = p.Width(), h = p.Height();
  for (int y = 0; y < h; ++y) {
    int32_t* row = p.Row(y);
    const int* cell = kLayouts[layout] + 2 * (y & 1);
    for (int x = 0; x < w; ++x)
      if (cell[x & 1] != colour) row[x] = 0;
  }
}

// Fill every 0 from the values above 0 of its 3 x 3 window. The fill is in
// place: the row above is already final and the left neighbour has just been
// written, so they take part in the window with their new values.
void FillFromNeighbours(PlaneView<int32_t> p) {
  const int w = p.Width(), h = p.Height();
  for (int y = 0; y < h; ++y) {
    int32_t* rows[3];
    int nrows = 0;
    for (int yy = std::max(0, y - 1); yy <= std::min(h - 1, y + 1); ++yy) rows[nrows++] = p.Row(yy);
    int32_t* row = p.Row(y);
    for (int x = 0; x < w; ++x) {
      if (row[x] != 0) continue;
      const int x0 = std::max(0, x - 1), x1 = std::min(w - 1, x + 1);
      int64_t sum = 0;
      int count = 0;
      for (int r = 0; r < nrows; ++r)
        for (int xx = x0; xx <= x1; ++xx) {
          const int32_t v = rows[r][xx];
          if (v > 0) {
            sum += v;
            ++count;
          }
        }
      if (count >= 1) row[x] = static_cast<int32_t>(RoundHalfEven(static_cast<double>(sum) / count));
    }
  }
}

}  // namespace

int CfaLayout(int flags) {
  int k = flags / 2;  // bit 0 odd x origin, bit 1 odd y origin, bit 2 ssdsi
  if (k & 4) k += 2;
  return ((k % 4) + 4) % 4;
}

void DecodeCfa(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, int16_t flags) {
  const int layout = CfaLayout(flags);
  // Each plane reads only itself, both when it is separated and when it is
  // filled, so the planes can be done one after the other.
  const PlaneView<int32_t> planes[3] = {r, g, b};
  const int colours[3] = {CfaRed, CfaGreen, CfaBlue};
  for (int i = 0; i < 3; ++i) {
    Separate(planes[i], layout, colours[i]);
    FillFromNeighbours(planes[i]);
  }
}

void DecodeCfa(Session& s, int16_t flags) { DecodeCfa(s.pic.PicR, s.pic.PicG, s.pic.PicB, flags); }

}  // namespace qv
