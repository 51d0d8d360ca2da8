// What the stars of a frame say about the night it was taken in: how wide
// and how round they are, and the sky behind them. Users sort their frames
// by these figures and leave out those the seeing or the wind spoiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/plane.h"
#include "stack/star_match.h"

namespace qv {

struct FrameScore {
  bool shaped = false;    // some star could be measured: fwhm and roundness hold
  double fwhm = 0;        // pixels, median over the stars measured
  double roundness = 0;   // minor over major axis, median
  size_t measured = 0;    // stars measured
  double background = 0;  // the frame's median, in the units of one plane
  double noise = 0;       // robust deviation about the smooth sky, same units
};

// The Gaussian sigma and roundness of the star near (x, y) on the sum of
// the three planes, from its second moments under a Gaussian window that
// is narrowed until it matches the star (plain moments over a box grow
// with the noise and with the box). False when the star is too near the
// border, too faint, or too wide for the window.
bool StarShape(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, double x, double y,
               double& sigma, double& roundness);

// The frame's figures over the stars of `field` whose indices are given
// (saturated and hot ones are passed over: their cores are not the seeing's).
FrameScore ScoreFrame(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, const StarField& field,
                      const std::vector<size_t>& stars);

}  // namespace qv
