// Colour decoding of raw one-shot-colour readouts: the single plane, copied
// into PicR, PicG and PicB, becomes a colour image.
#pragma once

#include <cstdint>

#include "core/plane_view.h"
#include "core/session.h"

namespace qv {

// Colour codes of the filter cell: 1 red, 2 green, 3 blue.
enum CfaColour : int { CfaRed = 1, CfaGreen = 2, CfaBlue = 3 };

// Layout number 0..3 of the 2 x 2 filter cell for the header flags
// (ImgFlags): odd x and odd y sub-frame origins shift the cell by a column
// and a row, the ssdsi camera family by one more row.
int CfaLayout(int flags);

// Keeps in each plane only the sites of its colour and fills the others, in
// place, from their 3 x 3 neighbourhood. The layout is applied to the
// views' own coordinates: a view's (0, 0) is taken as the cell's origin.
void DecodeCfa(PlaneView<int32_t> r, PlaneView<int32_t> g, PlaneView<int32_t> b, int16_t flags);

// The same on the current image (PicR, PicG and PicB, each a copy of the
// readout).
void DecodeCfa(Session& s, int16_t flags);

}  // namespace qv
