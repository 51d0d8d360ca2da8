// Guide-star tracking: template correlation, the box reader and the
// centroid of a star. The kernels read views of the three colour planes,
// whose sum at a pixel is its intensity; the session routines run them on
// the current image.
#pragma once

#include <cstdint>

#include "core/plane_view.h"
#include "core/progress.h"
#include "core/session.h"

namespace qv {

// Copies the n x n intensities whose top-left pixel is (x0, y0) into box,
// fills the holes, and returns the mean of the box; 0 when no pixel of the
// box lies inside the image. A pixel that `mask` marks (non-zero) is a hole;
// an empty mask marks none. The planes and a mask that is not empty must
// have one size.
double ReadBox(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b,
               ConstPlaneView<uint8_t> mask, int x0, int y0, int n, Plane<int32_t>& box);

// Slides the template over the search area around (x, y); takeRef first
// captures a new template there. Returns the quality (0 when nothing was
// found) and sets GuideX, GuideY and, on a capture, RefPeak.
double GuideSearch(Session& s, int x, int y, int takeRef);

// The search with its effects on the main window: Quality and the guide
// marker. A GuideBox of 128 or more means no guide star is used.
void FindGuide(Session& s, int16_t x, int16_t y, bool takeRef);

// Intensity-weighted centroid of the pixels above 0.9 of the brightest in
// the 25 x 25 window around (x, y), clipped to the planes. A window without
// a positive intensity is a run-time error.
void StarCentroid(ConstPlaneView<int32_t> r, ConstPlaneView<int32_t> g, ConstPlaneView<int32_t> b, int x, int y,
                  double& cx, double& cy);
// The same on the current image.
void StarCentroid(Session& s, int16_t x, int16_t y, double& cx, double& cy);

// A new guide box side (32, 64, or 128 and more for none): the template of
// the old size is dropped, so searching stays off until a new reference is
// taken, and a search runs at the current guide position.
void SetGuideBox(Session& s, int box);
// The guide tracking of list image i after it has been processed.
void TrackGuide(Session& s, int i);

// The correlation surface C(dx, dy) for dx, dy in 0..box over the template
// t ((box+1)^2) and the search area a ((2 box + 1)^2), dy outer: its first
// largest value above 0 and where, the sum of all values and their count.
// Calls `yield` after each row of offsets and returns false when it says
// stop.
struct Correlation {
  double best = 0;
  int bestDx = 0, bestDy = 0;
  double sum = 0;
  long count = 0;
};
bool Correlate(ConstPlaneView<int32_t> t, ConstPlaneView<int32_t> a, int box, Correlation& out,
               const YieldPoint& yield);

}  // namespace qv
