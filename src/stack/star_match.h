// Finding stars on a picture and recognising the same stars on another
// picture of the field, however far it moved or turned: the ground the
// automatic registration marks stand on. Pure functions of their inputs,
// deterministic, and bounded in time by the number of stars kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/plane.h"

namespace qv {

// A star found on a picture. Positions are pixel indices of the planes
// (centroid of the light above the sky); peak and flux are above the sky.
struct StarSpot {
  double x = 0, y = 0;
  int px = 0, py = 0;      // the brightest pixel
  double peak = 0;         // above the local sky
  double flux = 0;         // sum above the sky in a 7 x 7 window
  bool saturated = false;  // a clipped or flattened core
  bool hot = false;        // a lone bright pixel: hot pixel or cosmic ray
};

// The sky under the stars: a smooth background and the noise about it.
struct SkyEstimate {
  double level = 0;  // median of the background
  double noise = 1;  // robust deviation of one pixel about the background
};

struct StarField {
  std::vector<StarSpot> stars;  // brightest flux first
  SkyEstimate sky;
  int width = 0, height = 0;
};

// Finds the stars of the intensity r + g + b (three planes of one size).
// `fullScale` is the largest value one plane can hold (2040 for 8-bit data);
// `sigmas` the detection threshold in noise deviations; at most `maxStars`
// are kept, brightest first.
StarField DetectStars(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b, int32_t fullScale,
                      double sigmas = 5, size_t maxStars = 400);
// The fields DetectStars gives for each of `caps` (its maxStars), found at
// once: the sky, the noise and the scan are shared, and each field is the
// one a call with that cap gives.
std::vector<StarField> DetectStarsKeeping(const Plane<int32_t>& r, const Plane<int32_t>& g, const Plane<int32_t>& b,
                                          int32_t fullScale, double sigmas, const std::vector<size_t>& caps);

// The upper middle value of a sample (element n / 2 of it sorted), as the
// detection takes its medians: by counting, not sorting.
double UpperMedian(const std::vector<float>& sample);

struct Point2 {
  double x = 0, y = 0;
};

// x' = a x - b y + tx, y' = b x + a y + ty: a turn, a scale and a shift.
struct Similarity {
  double a = 1, b = 0, tx = 0, ty = 0;
  Point2 Apply(Point2 p) const { return {a * p.x - b * p.y + tx, b * p.x + a * p.y + ty}; }
  Point2 Inverse(Point2 p) const;
  double Scale() const;
  double AngleDegrees() const;
};

// Least-squares similarity taking `from` onto `to` (same length, at least 2).
bool FitSimilarity(const std::vector<Point2>& from, const std::vector<Point2>& to, Similarity& t);

struct MatchOptions {
  size_t patternStars = 25;               // brightest stars of each side forming triangles
  size_t checkStars = 60;                 // brightest stars of each side that count as agreement
  double tolerance = 2;                   // pixels between a mapped star and its partner
  double minScale = 0.9, maxScale = 1.1;  // one camera: the scale barely changes
  size_t minAgreeing = 6;                 // fewer stars agreeing is no match
  double ambiguity = 0.7;                 // a second, different answer this close is ambiguous
};

enum class MatchOutcome { Matched, TooFewStars, NoMatch, Ambiguous };

struct StarMatch {
  MatchOutcome outcome = MatchOutcome::NoMatch;
  Similarity transform;                          // reference -> frame
  size_t agreeing = 0;                           // stars of the reference found where the transform puts them
  size_t runnerUp = 0;                           // agreement of the best different answer
  double rms = 0;                                // pixels, over the agreeing stars
  std::vector<std::pair<size_t, size_t>> pairs;  // reference index, frame index
};

// Recognises the reference stars (brightest first) among the frame's by the
// shapes of the triangles they form, which neither a shift nor a turn
// changes; missing and extra stars only remove or add triangles.
StarMatch MatchStars(const std::vector<Point2>& reference, const std::vector<Point2>& frame,
                     const MatchOptions& options = {});

// The positions of stars that a match can use: neither hot pixels nor
// (when `skipSaturated`) clipped cores, and bright enough (`minSigmas`
// noise deviations at the peak) for their centres to be sure; brightest first.
std::vector<Point2> MatchablePoints(const StarField& field, bool skipSaturated = false, double minSigmas = 8);
// The indices in `field.stars` of those points, in the same order.
std::vector<size_t> MatchableStars(const StarField& field, bool skipSaturated = false, double minSigmas = 8);

}  // namespace qv
