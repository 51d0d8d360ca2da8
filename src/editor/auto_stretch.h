// "Étirement auto": black and white levels per channel and one contrast
// curve chosen from the destination's own values, so that any stack opens
// on a visible sky without the user hunting for its levels.
#pragma once

#include <array>

#include "editor/rendering.h"

namespace qv {

// What the rule measures on the covered pixels (weight above 0) of one
// channel, in data levels.
struct ChannelStatistics {
  bool covered = false;  // false: the channel has no covered pixel
  double median = 0;     // the background: most of a sky picture is sky
  double noise = 0;      // 1.4826 x the median absolute deviation
  double high = 0;       // the quantile kStretchWhiteQuantile
};

// The levels and the curve the rule chooses.
struct StretchLevels {
  // Per channel; a channel without covered pixels is not set (false).
  std::array<bool, 3> set{false, false, false};
  std::array<double, 3> black{0, 0, 0}, white{65535, 65535, 65535};
  // Position on the curve box, 0 .. 1 (the curve's exponent is twice it).
  double curve = 0.5;
};

// The background lies this many noise deviations above black.
constexpr double kStretchNoiseMultiple = 2.8;
// The byte the background median renders at, out of 255.
constexpr double kStretchBackgroundByte = 35;
// Above this share of covered pixels the picture may saturate.
constexpr double kStretchWhiteQuantile = 0.9995;

// Median, noise and high quantile of sum / weight over the covered pixels
// of one channel, read to an eighth of a level (values outside 0 .. 65535
// count at the nearest end). Memory does not grow with the picture.
ChannelStatistics MeasureChannel(const Plane<float>& sum, const Plane<float>& weight);

// The rule, from the three channels' statistics:
//  - black a few noise deviations below the background median, white at
//    the high quantile, so that stars keep their cores;
//  - one curve for the three channels whose exponent brings the background
//    median to kStretchBackgroundByte; the white is widened so that the
//    curve reaches 255 only above the high quantile, and the blacks are
//    lowered where needed so that every channel's background sits at the
//    same fraction of its range, which renders the sky grey;
//  - integer levels within the editor's limits (black 0 .. 65534, white
//    above black up to 65535).
StretchLevels ChooseStretch(const std::array<ChannelStatistics, 3>& channels);

// Both steps over the destination planes.
StretchLevels AutoStretchLevels(const DestPlanes& dest);

}  // namespace qv
