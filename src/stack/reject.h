// The combination with outlier rejection: a satellite, a plane or a cosmic
// ray in one frame survives an average as a faint trail, but stands far
// from the other frames' values at the same place of the sky. Off by
// default; the plain weighted average is untouched by anything here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/outcome.h"
#include "core/session.h"
#include "stack/combine.h"

namespace qv {

enum RejectModes : int16_t { kRejectNone = 0, kRejectSigma = 1, kRejectWinsorised = 2 };

struct RejectRule {
  int16_t mode = kRejectNone;
  double low = 3, high = 3;  // kappa below and above the centre
  // The test compares backgrounds brought to the first frame's level and
  // spread; with `normaliseOutput` the sums add those values too.
  bool normalise = false, normaliseOutput = false;
};
// The rule the options ask for, kappas held to their bounds.
RejectRule RejectRuleOf(const Options& o);

// The bounds of kappa; a value outside them is taken as the nearest bound.
inline constexpr float kKappaMin = 0.5f, kKappaMax = 10;

// Decides which of the n samples of one destination pixel and colour (the
// values the rejection test reads, in file order) are kept: kept[i] 1 or
// 0. Fewer than 3 samples keep them all. Sigma: the centre is the median
// (the mean of the two middle values for an even count), sigma the
// standard deviation (divided by the count) of the values kept; values
// below centre - low x sigma or above centre + high x sigma are rejected,
// again on what is left, until nothing more goes, fewer than 3 are left,
// or 10 times. Winsorised: the same, but sigma is that of the values kept
// clamped to centre +- 1.5 sigma, clamped again with the new sigma until
// it changes by less than 0.05 %. `scratch` is working storage. Gives the
// number kept.
size_t RejectOutliers(const RejectRule& rule, const double* values, size_t n, uint8_t* kept,
                      std::vector<double>& scratch);

// Where a frame's background lies and how wide it spreads, per colour, for
// the normalisation: the median of its values above 0 and 1.4826 x their
// median absolute deviation.
struct Background {
  double location[3] = {0, 0, 0};
  double scale[3] = {1, 1, 1};
};
Background BackgroundOf(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b);

// A frame's layer parked in its file, and what the band pass needs of it.
struct ParkedLayer {
  int k = 0;
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // its clamped box in the destination
  bool weighted = true, grey = false;    // how its samples are laid out (see Layer)
  Background background;
  // The layer's samples when it is held in memory rather than in its file.
  std::shared_ptr<const std::vector<uint8_t>> held;
};
// The bytes of layers that a combination holds in memory before it parks
// the next ones in files: 256 Mo unless a test sets it (0 parks them all).
uint64_t& HeldLayerBytes();

// Writes a layer: its box and layout, then its samples row by row. A
// failure leaves no file.
Outcome WriteLayerFile(const std::string& path, const Layer& layer);

// The destination built band by band from the layers, in file order:
// rows of every layer read for the band, the samples of each pixel and
// colour (value above 0, weight above 0) judged by the rule, those kept
// added as the plain combination adds them. Caption "T - bande b/B Rejet";
// a stop test after each row whose y is a multiple of 4 (false: stopped).
// `combined` gets the frames whose layer was read whole.
bool CombineLayers(Session& s, const std::vector<ParkedLayer>& layers, const RejectRule& rule,
                   const std::string& caption, std::vector<int>* combined);

// The name of frame k's resampled layer: the temporary files' base with
// its own suffix, deleted and swept with the run's other files.
std::string LayerFileName(const Session& s, int k);

}  // namespace qv
