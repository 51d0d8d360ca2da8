// Marking the guide star (and a rotation star) on every image of the list
// from the pattern of the stars around it, as a patient user would click
// them: the run that follows gets nothing but these marks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/session.h"
#include "stack/star_match.h"

namespace qv {

// What happened to one image.
struct ImageMark {
  int image = 0;
  bool marked = false;
  bool reference = false;  // the image the others are matched against
  std::string reason;      // why it is not marked (empty when marked)
  double x = 0, y = 0;     // the guide mark, pixels of the processed image
  size_t stars = 0;        // stars found on the image
  size_t agreeing = 0;     // of them, matched with the reference image
  double rms = 0;          // pixels, residual of the match
  double angle = 0;        // degrees, the field's turn against the reference
  bool rotationMarked = false;
  double rotX = 0, rotY = 0;  // the rotation star, pixels
};

// Where the star of the marks came from.
enum class StarSource { Reference, Guide, Automatic };

struct AutoMarkReport {
  bool ok = false;      // false: nothing was marked (see message)
  std::string message;  // why, when not ok
  int reference = 0;
  StarSource source = StarSource::Automatic;
  std::vector<std::string> notes;  // marks of a project passed over, and why
  std::vector<ImageMark> images;
};

struct AutoMarkOptions {
  bool rotation = false;      // also pick and mark a rotation star
  bool keepUnmarked = false;  // leave images that cannot be marked checked
};

// Marks every checked image after the first checked one (the reference)
// with the star the user placed there, reference first, then guide star,
// or else the one the automatic choice picks; that star is written into
// both pairs of the reference image. An image that cannot be marked is
// unticked. `onImage` is told of each image as it is done. A
// stop request ends the walk after the current image. The
// planes are left holding the last image processed.
AutoMarkReport AutoMarks(Session& s, const AutoMarkOptions& options,
                         const std::function<void(const ImageMark&)>& onImage = {});

// The largest value one plane of image i can hold after processing.
int32_t FullScaleOf(const Session& s, int i);

}  // namespace qv
