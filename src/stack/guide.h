// Guide-star tracking: template correlation, the box reader and the
// centroid of a star.
#pragma once

#include <cstdint>

#include "core/session.h"

namespace qv {

// Copies the n x n intensities (PicR + PicG + PicB) whose top-left pixel is
// (x0, y0) into box, fills the holes, and returns the mean of the box; 0
// when no pixel of the box lies inside the image.
double ReadBox(Session& s, int x0, int y0, int n, Plane<int32_t>& box);

// Slides the template over the search area around (x, y); takeRef first
// captures a new template there. Returns the quality (0 when nothing was
// found) and sets GuideX, GuideY and, on a capture, RefPeak.
double GuideSearch(Session& s, int x, int y, int takeRef);

// The search with its effects on the main window: Quality and the guide
// marker. A GuideBox of 128 or more means no guide star is used.
void FindGuide(Session& s, int16_t x, int16_t y, bool takeRef);

// Intensity-weighted centroid of the brightest pixels around (x, y).
// A window without a positive intensity is a run-time error.
void StarCentroid(Session& s, int16_t x, int16_t y, double& cx, double& cy);

// A new guide box side (32, 64, or 128 and more for none): the template of
// the old size is dropped, so searching stays off until a new reference is
// taken, and a search runs at the current guide position.
void SetGuideBox(Session& s, int box);
// The guide tracking of list image i after it has been processed.
void TrackGuide(Session& s, int i);

// The correlation surface itself, exposed for tests and benchmarks:
// C(dx, dy) for dx, dy in 0..box over the template t ((box+1)^2) and the
// search area a ((2 box + 1)^2). Returns false when a stop was requested.
struct Correlation {
  double best = 0;
  int bestDx = 0, bestDy = 0;
  double sum = 0;
  long count = 0;
};
bool Correlate(Session& s, const Plane<int32_t>& t, const Plane<int32_t>& a, int box, Correlation& out);

}  // namespace qv
