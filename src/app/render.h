// What the main window draws from the current image: the picture at its
// levels and zoom step, and the levels the "Niveau" frame shows.
#pragma once

#include "core/plane.h"
#include "core/session.h"

namespace qvapp {

// The current image mapped to packed pixels between `black` and `white`,
// every `step`-th pixel of every `step`-th row.
qv::Plane<int32_t> DrawImagePixels(const qv::Session& s, double black, double white, int step);

// Display levels in data units (0..65535) from the statistics of the
// current image and the "Niveau" slider position.
struct Levels {
  double black = 0, white = 0;
};
// The slider as the histogram display uses it: (p / 20)^2 of the way from
// the low/high levels to the extreme ones.
Levels HistoLevels(const qv::Session& s, int slider);
// The slider as thumbnails use it: p / 20 of the way.
Levels ThumbnailLevels(const qv::Session& s, int slider);

}  // namespace qvapp
