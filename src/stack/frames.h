// The way of one list image through the engine when it is shown, by a run
// or by the user: read and processed at full resolution, its registration
// values read, its guide star tracked, its rotation star followed. Whoever
// shows the image hears each step through a FrameListener; the window's
// selection shows them, the command-line tool shows nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/session.h"

namespace qv {

// The registration values of an entry in the units the user edits them in.
struct FrameMarks {
  int16_t shiftX = 0, shiftY = 0;  // pixels, whole
  double angle = 0;                // degrees
  // False when there are no planes to turn the shifts into pixels: the
  // values above are not set, and the steps end after the flags are shown.
  bool measured = true;
};

class FrameListener {
 public:
  virtual ~FrameListener() = default;
  // Shows list image i, giving back how its processing went: the engine's
  // way (ProcessAndTrack, this listener hearing it) unless overridden, as
  // the window's selection does around it.
  virtual Outcome Select(Session& s, int i);
  // The image is about to be read.
  virtual void Loading(int /*i*/) {}
  // It was read and processed (or failed to be).
  virtual void Processed(int /*i*/, const Outcome& /*processed*/) {}
  // Its pixels are the current image's: a window shows it. May raise a
  // run-time error, which ends the remaining steps as any other.
  virtual void Shown(int /*i*/) {}
  // Its registration values, as they will be tracked.
  virtual void Marks(int /*i*/, const FrameMarks& /*marks*/) {}
  // Its guide star was tracked and its rotation star followed.
  virtual void Tracked(int /*i*/) {}
  // A run-time error ended the steps early.
  virtual void Failed(int /*error*/) {}

  // The listener that shows nothing.
  static FrameListener& Headless();
};

// The steps of showing list image i once it is the one selected: a yield;
// unless `reload` is false and it is already the current image, it
// becomes current and is processed at full resolution, between two more
// yields; then, if there are planes, its registration values are read, its
// guide star is tracked (an entry without a guide position inherits the
// current one) and, on an image that measures the field's turn, a rotation
// star not yet placed is taken from the image before. The tracking runs
// even when the processing failed, on whatever the planes hold. A run-time
// error ends the steps; `shown` hears it. Gives back how the processing
// went (success when none ran).
Outcome ProcessAndTrack(Session& s, int i, bool reload, FrameListener& shown);

// The registration values of entry e against the current planes; a shift
// beyond the 16-bit range is a run-time error.
FrameMarks MarksOf(const Session& s, const ImageEntry& e);

// Adds files to the list as the open dialog gives them: parts[0] the
// folder and parts[1..] the names (sorted here by character code), or
// parts[0] alone a full path. The folder becomes InitDir; on an empty list
// the first file is entered and its header read before any name is
// filtered; with ColourOnly names holding "L" are left out; with
// GradRemove each new entry takes the zones of the one before. Gives back
// the first new entry, to be filled from (beyond the list when every name
// was left out), or 0 when there was nothing to add.
int AddImages(Session& s, std::vector<std::string> parts);

// What shows the list while it is filled with thumbnails.
class ListListener : public FrameListener {
 public:
  // Before the filling the view is cleared (the window selects no image).
  virtual void Cleared(Session& /*s*/) {}
  // Entry i is reached: the window gives it a place in the strip.
  virtual void Reached(int /*i*/) {}
  // Entry i was processed at the thumbnail step; `read` succeeds when its
  // file could be read, so that its thumbnail is in the planes, and says
  // why not otherwise.
  virtual void Thumbnail(int /*i*/, const Outcome& /*read*/) {}
  // The loop is over, before the selection of the first entry filled.
  virtual void Filled() {}
  // That entry was selected.
  virtual void Selected(int /*k*/) {}

  static ListListener& Headless();
};

// Thumbnail step for the list: about 120 pixels across the first entry's
// processed width.
int ThumbnailStep(const Session& s);

// Fills the list from entry k on, in the running state: the view is
// cleared (the current image becomes entry 1), then each entry is processed
// at the thumbnail step (checked, with `forceChecked`) until the last one
// or a stop request; entry 1 is given NewRef and NewPos, as the first image
// of a list always defines the guide star, and entry k is selected. A
// run-time error abandons the rest. Always leaves the running state.
// Gives back the highest entry reached (k - 1 when none was).
int FillList(Session& s, int k, bool forceChecked, ListListener& shown);
// The same filling for a front end that shows no thumbnails: each entry's
// header is read instead of its thumbnail, which is all the entry keeps of
// its processing, so that a run reads each image once. The selection of
// entry k then leaves the planes as the thumbnails would, unless it could
// not process the entry: then the list is put back as it was and filled the
// long way.
int FillListWithoutThumbnails(Session& s, int k, bool forceChecked, ListListener& shown);

// "Enregistrer toutes les images en TIFF", the engine's part: in the running
// state, each list image whose name has a ".f" and whose TIFF name
// (BatchTiffName) is not taken yet is shown through `shown` (read,
// processed, tracked) and written as TIFF from the current image; `written`
// hears each file written, with the images converted so far and the size of
// the list. A stop request is seen before each image and after each
// conversion. Gives back the number of images converted, written or not;
// `present`, when given, counts the images passed over because their TIFF
// was there.
int SaveListAsTiff(Session& s, FrameListener& shown,
                   const std::function<void(const std::string& tiff, int count, int n)>& written = {},
                   int* present = nullptr);

// The status text under the picture for the current image.
std::string StatusText(const Session& s);

}  // namespace qv
