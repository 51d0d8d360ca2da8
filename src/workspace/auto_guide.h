// Choosing and setting the guide star of an image from outside the window
// (the command-line tool): what a plain click on the image does.
#pragma once

#include "core/session.h"

namespace qv {

// Sets the guide star of list image i at pixel (x, y) of its processed
// image, as a click does (on an image with a new reference, the click
// places the reference star too). False when the image cannot be processed
// or the point lies outside it.
bool SetGuideStar(Session& s, int i, double x, double y);

// Picks a guide star on list image 1: the star with the best score
// peak x (1 - 0.7 d / dmax) among the local maxima that are
//  - at least 20 noise deviations above the sky (median and median
//    absolute deviation of the intensity),
//  - unsaturated (every plane below 90 % of the data's full scale),
//  - not a lone hot pixel (their four direct neighbours hold at least 30 %
//    of the peak above the sky),
//  - isolated (no other maximum above a quarter of their peak within one
//    guide box), and
//  - at least one guide box plus 2 pixels away from the borders,
// where d is the distance to the image centre and dmax half the diagonal.
// False when no star qualifies.
bool AutoGuideStar(Session& s, double& x, double& y);

}  // namespace qv
