// Choosing and setting the guide star of an image from outside the window
// (the command-line tool): what a plain click on the image does.
#pragma once

#include <string>

#include "core/outcome.h"
#include "core/session.h"
#include "stack/star_match.h"

namespace qv {

// Sets the guide star of list image i at pixel (x, y) of its processed
// image, as a click does (on an image with a new reference, the click
// places the reference star too). False when the image cannot be processed
// or the point lies outside it.
bool SetGuideStar(Session& s, int i, double x, double y);

// Picks a guide star among the stars found on an image (sky and noise
// measured locally, so an uneven sky does not matter): the one with the
// best score peak x (1 - 0.7 d / dmax) among those that are
//  - at least 15 noise deviations above the sky,
//  - unclipped (no plane near the data's full scale, no flat top),
//  - not a lone hot pixel,
//  - alone in the guide box (no other star above a quarter of their peak
//    within one box side; in a crowded field, half their peak, then their
//    own peak), and
//  - with their template box inside the image,
// where d is the distance to the image centre and dmax half the diagonal.
// Fails when no star qualifies, saying what ruled the stars out.
Outcome ChooseGuideStar(const StarField& field, int guideBox, double& x, double& y);

// The stars the choice above looks at, on the image in the planes.
StarField GuideCandidates(const Session& s, int image);

// "l'image k est illisible", with what its reading met when that says more.
std::string UnreadableImageWords(int image, const Outcome& read);

// The choice above on list image `image`, which is processed first.
Outcome AutoGuideStar(Session& s, double& x, double& y, int image = 1);

}  // namespace qv
