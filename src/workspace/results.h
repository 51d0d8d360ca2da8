// What a stacking run, the automatic marks and the report of every frame
// give back: plain values, kept by the main window's model and shown by
// its windows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/outcome.h"

namespace qv {

// What the run did with one checked image of its range.
struct FrameResult {
  int image = 0;
  float quality = 0;              // of its guide search
  bool accepted = false;          // its quality reached the minimum (or no guide star is in use)
  Outcome processed, parked;      // its reading and processing; its parking, when accepted
  int tempFile = 0;               // number of its temporary file; 0 when none was begun (another size)
  bool combined = false;          // its temporary file reached the result
  bool onEdge = false;            // the guide search ended on the edge of its area
  double guideX = 0, guideY = 0;  // where its guide star was found, pixels
  double angle = 0;               // the stack's turn at this image, radians
};

// A run: what became of each image it walked, and the final combination's
// outcome (a stopped run fails without a reason).
struct RunResult {
  Outcome outcome = Outcome::Failure("");
  bool stopped = false;
  int first = 0, last = 0;  // the range it walked
  std::vector<FrameResult> frames;
  int Accepted() const;
  int Combined() const;
};

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
