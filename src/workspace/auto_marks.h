// Marking the guide star (and a rotation star) on every image of the list
// from the pattern of the stars around it, as a patient user would click
// them: the run that follows gets nothing but these marks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/session.h"
#include "stack/star_match.h"
#include "workspace/form1.h"
#include "workspace/results.h"

namespace qv {

struct AutoMarkOptions {
  bool rotation = false;      // also pick and mark a rotation star
  bool keepUnmarked = false;  // leave images that cannot be marked checked
};

// Marks every checked image after the first checked one (the reference)
// with the star the user placed there, reference first, then guide star,
// or else the one the automatic choice picks; that star is written into
// both pairs of the reference image. An image that cannot be marked is
// unticked in the strip. `onImage` is told of each image as it is done. A
// stop request (RunState 2) ends the walk after the current image. The
// planes are left holding the last image processed.
AutoMarkReport AutoMarks(Form1& f, const AutoMarkOptions& options,
                         const std::function<void(const ImageMark&)>& onImage = {});

// The largest value one plane of image i can hold after processing.
int32_t FullScaleOf(const Session& s, int i);

}  // namespace qv
