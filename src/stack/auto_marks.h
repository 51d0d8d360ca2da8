// Marking the guide star (and a rotation star) on every image of the list
// from the pattern of the stars around it, as a patient user would click
// them: the run that follows gets nothing but these marks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/session.h"
#include "stack/frame_score.h"
#include "stack/stacking.h"
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
  bool scored = false;        // the image was processed: its figures below hold
  FrameScore score;           // its stars' width and roundness (matched stars), its sky
};

// Where the star of the marks came from.
enum class StarSource { Reference, Guide, Automatic };

struct AutoMarkReport {
  bool ok = false;      // false: nothing was marked (see message)
  std::string message;  // why, when not ok
  int reference = 0;
  std::string referenceUnread;  // not ok because the reference could not be read: why (else empty)
  StarSource source = StarSource::Automatic;
  std::vector<std::string> notes;  // marks of a project passed over, and why
  std::vector<ImageMark> images;
};

struct AutoMarkOptions {
  bool rotation = false;      // also pick and mark a rotation star
  bool keepUnmarked = false;  // leave images that cannot be marked checked
};

// The marking of the images one at a time, for a walk that marks each
// image as it reaches it: Reference, then Start, then Mark for each checked
// image after the reference, in list order.
class AutoMarker {
 public:
  AutoMarker(Session& s, const AutoMarkOptions& options);
  // Processes the reference image, the first checked one, unless the
  // planes already hold it (`planesHold`), and finds its stars once, both
  // those the match uses and the guide star's candidates. False when no
  // image is checked or its processing failed (Report() says which).
  bool Reference(bool planesHold = false);
  // The reference's stars kept for the guide star's automatic choice.
  const StarField& Candidates() const { return candidates_; }
  // Chooses the star the marks follow and marks the reference with it; the
  // planes must hold the reference. False, with the report's message, when
  // there is no such star or too few stars to recognise the field.
  bool Start();
  // Marks checked image i, which it processes: the planes are left holding it.
  ImageMark Mark(int i);
  // Once every image is marked: unchecks each marked image (the reference
  // apart, which the others are marked from) whose stars are wider than
  // `factor` times the median FWHM of the marked images, as if its marking
  // had failed: its entry is put back as it was before. 0 does nothing.
  void LeaveOutWide(float factor);
  // How the last processing went.
  const Outcome& Processed() const { return processed_; }
  AutoMarkReport& Report() { return report_; }
  const AutoMarkOptions& Options() const { return options_; }

 private:
  Session& s_;
  AutoMarkOptions options_;
  AutoMarkReport report_;
  Outcome processed_ = Outcome::Failure("");
  StarField refField_, candidates_;
  std::vector<Point2> refPoints_;
  Point2 guide_, rotStar_;
  bool rotation_ = false;
  std::vector<std::pair<int, ImageEntry>> before_;  // each image's entry before its marks
};

// A run that marks each image as it reaches it, so that every image is
// read and processed once: the planes the marks processed are the ones the
// run tracks and parks. Start it once the marker's reference is marked
// (Start), with `next` the image after it; the images outside the run's
// range are marked with MarkUpTo.
class MarkingRun : public RunListener {
 public:
  AutoMarker* marker = nullptr;
  int next = 0;      // the first image not yet marked
  int planesOf = 0;  // the image the planes hold, marked and not yet run
  // Ready for a run of `request` once the marker's reference is marked.
  // Images kept checked although they cannot be marked are tracked on what
  // the planes held before them: when the range leaves images after the
  // reference before it, they are all marked here first, so that the run
  // finds the planes as a run after the whole marking does.
  void Begin(Session& s, const RunRequest& request);
  // Marks the checked images up to `last` not marked yet, in list order,
  // until a stop is asked.
  void MarkUpTo(Session& s, int last);
  void Reaching(Session& s, int i) override { MarkUpTo(s, i); }
  Outcome Select(Session& s, int i) override;
  // An image was marked.
  virtual void Marked(const ImageMark& /*m*/) {}
};

// Marks every checked image after the first checked one (the reference)
// with the star the user placed there, reference first, then guide star,
// or else the one the automatic choice picks; that star is written into
// both pairs of the reference image. An image that cannot be marked is
// unticked, and so is one whose stars are too wide (the options' MaxFwhm):
// with that option `onImage` hears of the images once all are marked. `onImage` is told of each image as it is done. A
// stop request ends the walk after the current image. The
// planes are left holding the last image processed.
AutoMarkReport AutoMarks(Session& s, const AutoMarkOptions& options,
                         const std::function<void(const ImageMark&)>& onImage = {});

// The first checked image of the list (beyond the list when none is).
int FirstChecked(const Session& s);

// The largest value one plane of image i can hold after processing.
int32_t FullScaleOf(const Session& s, int i);

}  // namespace qv
