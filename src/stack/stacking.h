// A stacking run, the engine's call: for each checked image of a range, it
// is shown (read, processed, tracked), accepted by its quality, shifted and
// parked; a run that is not stopped ends with the final combination. Every
// front end makes this one call with its own listener: the main window
// shows each frame and the result, the command-line tool prints them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/session.h"
#include "stack/frames.h"

namespace qv {

// What a run is asked to do: the subset of the list (0: from the first, to
// the last image) and whether the result spans the whole mosaic.
struct RunRequest {
  int first = 0, last = 0;
  bool expand = false;
};

// What the run did with one checked image of its range.
struct FrameResult {
  int image = 0;
  float quality = 0;                // of its guide search
  bool accepted = false;            // its quality reached the minimum (or no guide star is in use)
  Outcome processed, parked;        // its reading and processing; its parking, when accepted
  int tempFile = 0;                 // number of its temporary file; 0 when none was begun (another size)
  bool combined = false;            // its temporary file reached the result
  bool onEdge = false;              // the guide search ended on the edge of its area
  double guideX = 0, guideY = 0;    // where its guide star was found, pixels
  double anchorX = 0, anchorY = 0;  // where the guide star lands in the destination
  double angle = 0;                 // the stack's turn at this image, radians
  int planesOf = 0;                 // the current image when it was done: a failed reading leaves another's planes
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
  // The accepted frames that are not in a result the run did make (none
  // when it was stopped or its combination failed): the result holds fewer
  // frames than the run accepted.
  std::vector<const FrameResult*> Missing() const;
};

// "n " and the words that follow a count, singular for 0 and 1:
// Counted(3, "image combinée", "images combinées").
std::string Counted(int n, const char* singular, const char* plural);
// "N images combinées sur M acceptées", each count with its own agreement.
std::string CombinedOfAccepted(int combined, int accepted);

// Why an accepted frame is missing from the result, in words: its
// temporary file was not written, and why ("disque plein"); it had another
// size than the first; its file could not be read back.
std::string WhyMissing(const FrameResult& frame);

// What shows a run. Its frames are shown through the FrameListener half.
class RunListener : public FrameListener {
 public:
  // The range to walk, asked once the run has started (the window reads
  // its subset boxes then).
  virtual RunRequest Range(const RunRequest& asked) { return asked; }
  // Whether the result spans the mosaic, asked when the walk is over (the
  // window's box may have changed meanwhile).
  virtual bool Expand(bool asked) { return asked; }
  // The run is about to take checked image i: a walk that marks each image
  // as it goes marks it here, and may untick it, which passes it over.
  virtual void Reaching(Session& /*s*/, int /*i*/) {}
  // The run is done with a frame; `accepted` counts the frames accepted so far.
  virtual void FrameDone(const FrameResult& /*frame*/, int /*accepted*/) {}
  // Whether FrameDone may come once the next frame has been selected. Then
  // each frame's temporary file is written on a thread of its own while the
  // next frame is read and processed, and the frame is told once its file
  // is whole or gone: still in order, before the next frame is parked, and
  // before the combination.
  virtual bool TakesFramesLate() const { return false; }
  // The walk is over and the combination of the parked frames begins:
  // the progress reported from now on is the combination's, from nothing.
  virtual void Combining() {}
  // The combination is ready to be shown under `caption`.
  virtual void ResultReady(const std::string& /*caption*/) {}

  static RunListener& Headless();
};

// The range of a run (0: the whole list), limited to 1..n with last not
// below first.
void RunRange(const Session& s, const RunRequest& r, int& first, int& last);

// The room a run's temporary files will take, against the room left in the
// temporary folder. Each checked image of the range parks a file of 24 +
// 12 x W x H bytes, W and H from its header, halved under "Fusion 2x2";
// with rejection, its layer of 16 + 24 x W x H bytes outlasts it.
struct TempSpace {
  std::string folder;   // the temporary folder, as the user is told it
  uint64_t needed = 0;  // bytes
  uint64_t free = 0;    // bytes this user may still write there
  bool known = false;   // the free space could be asked
  bool Enough() const { return !known || needed <= free; }
  // In Mo (2^20 bytes, as df -m counts): what is needed rounded up, what is
  // free rounded down, so that "enough" is never overstated.
  uint64_t NeededMo() const { return (needed + kMo - 1) / kMo; }
  uint64_t FreeMo() const { return free / kMo; }
  static constexpr uint64_t kMo = uint64_t{1} << 20;
};
TempSpace TempSpaceForRun(const Session& s, const RunRequest& r);

// The run. Does nothing while another operation runs (RunState not 0).
RunResult StackRun(Session& s, const RunRequest& request, RunListener& shown);

// A bound of a run's range as the user typed it, read with the user's
// conventions; 0 when there is none.
int RangeBoundFromText(const Session& s, const std::string& text);

}  // namespace qv
