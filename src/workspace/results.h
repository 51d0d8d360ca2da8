// What the automatic marks and the report of every frame give back, beside
// what a run gives back (stack/stacking.h): plain values, kept by the main
// window's model and shown by its windows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "stack/stacking.h"

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

// One image of the list.
struct ReportRow {
  int image = 0;
  std::string name;  // file name without its folder
  bool checked = false;
  std::string quality;      // "87,3 %"; empty when the run did not measure it
  std::string stacked;      // "oui", "non", or empty before any run
  std::string why;          // why it is not stacked
  std::string remarks;      // beside the decision: unreadable, guide star on the edge, not marked
  std::string guide;        // "(x, y)", pixels of the processed image
  std::string angle;        // degrees
  std::string stars;        // "found / matched" for the images the marks looked at
  bool notStacked = false;  // checked, and the run left it out of the result
};

struct FrameReport {
  std::vector<ReportRow> rows;
  std::string total;  // "N images combinées sur M acceptées", after a run
  // A checked image of the last run did not reach the result.
  bool AnyLeftOut() const;
};

}  // namespace qv
