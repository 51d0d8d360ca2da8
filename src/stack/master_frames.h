// One calibration master made from many frames: darks or hot-pixel frames
// combined by their per-pixel median, flats by a scaled mean. Each frame is
// read once through the pipeline with every option off (its raw values) and
// staged on disk; the combination then walks the frames a band of rows at a
// time, so a few hundred camera frames never sit in memory together. The
// command-line tool and the main window both build their masters here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/numeric.h"
#include "core/progress.h"

namespace qv {

enum class MasterKind { Dark, Flat, Mask };

// What to build.
struct MasterRequest {
  MasterKind kind = MasterKind::Dark;
  // The frames, in the order given (a folder already stands for its images).
  std::vector<std::string> frames;
  // Flat only: a dark or bias taken off every frame before it is scaled.
  std::string bias;
  // The FITS file written; an existing one is replaced.
  std::string out;
  // The number conventions the frames are read with.
  NumLocale locale = NumLocale::Dot();
};

struct RefusedFrame {
  std::string file, reason;
};

// How a build is followed and stopped.
struct MasterWatch {
  // Called between frames, between bands and wherever reading a frame
  // yields: lets the event loop run and says whether to go on. Empty: never
  // stops.
  YieldPoint goOn;
  // What the build is doing and the fraction done (0..1).
  std::function<void(const std::string& caption, double done)> report;
  // A frame left out, when it is left out.
  std::function<void(const RefusedFrame&)> refused;
};

struct MasterResult {
  enum Status {
    Written,  // the master was written to `out`
    Stopped,  // goOn said stop: nothing was written
    NoFrame,  // every frame was refused: nothing was written
    Failed,   // `why` says what went wrong: nothing was written
  };
  Status status = Failed;
  std::string why;
  int used = 0, width = 0, height = 0, planes = 0;
  // The median level of the master, in the file's 0..65535 units.
  int32_t median = 0;
  // A flat with a dark taken off: the pixels where that dark reaches a
  // quarter of the flat's median level (of the same plane). A dark so
  // strong (the lights' long dark rather than one of the flats' own
  // exposure, or an offset) digs a hole in the flat at each of its hot
  // pixels, and the lights divided by it there come out as bright dots.
  int64_t darkHoles = 0;
  std::vector<RefusedFrame> refused;
};

// The folder's images (FITS, TIFF, BMP, JPEG, by the file kind of their
// names) in name order; empty when it holds none or cannot be read.
std::vector<std::string> ImagesInFolder(const std::string& folder);

// Builds the master the request asks for and writes it as a 16-bit FITS
// file (one plane when the frames have one). A frame that cannot be read,
// that differs in size from the first one kept, or (flat) whose median is
// not above 0 is refused and the build goes on without it. The staging
// files are removed whatever the end.
MasterResult BuildMasterFromFrames(const MasterRequest& request, const MasterWatch& watch = {});

// What to tell the user about a flat's dark holes; empty when there are none.
std::string DarkHolesWarning(const MasterResult& result);

}  // namespace qv
