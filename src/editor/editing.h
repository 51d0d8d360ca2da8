// The editor's work as engine calls over the session's destination: the
// rendering settings as one value, the rendering of the destination into
// packed pixels with them, and the operations that change the destination
// or the settings (binning, the quarter turn, the white balance of a click,
// the automatic stretch, the hiding of saturated stars and the filling of
// holes). The editor window translates its controls into the value and
// calls these; the command-line tool builds the value itself.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "core/plane.h"
#include "editor/operations.h"
#include "editor/rendering.h"

namespace qv {

class Clock;
class Session;

// The curve box the curve position is measured on, in its pixels: 0 at its
// left edge, kCurveBoxWidth - 1 at its right edge.
constexpr double kCurveBoxWidth = 256;
// The white level "Initialiser" gives every channel.
constexpr int32_t kWhiteLevel = 65535;

// Everything a render reads besides the destination.
struct EditorSettings {
  // Black and white level of each channel (0 red, 1 green, 2 blue), as
  // given: a render limits them (black 0 .. 65534, white at most 65535).
  std::array<double, 3> black{0, 0, 0};
  std::array<double, 3> white{kWhiteLevel, kWhiteLevel, kWhiteLevel};
  // The gain of each channel, 32767 / (white - black), worked out when the
  // levels are settled (SettleLevels). Levels with white equal to black have
  // no gain, and the channel keeps the one it had.
  std::array<double, 3> gain{32767.0 / kWhiteLevel, 32767.0 / kWhiteLevel, 32767.0 / kWhiteLevel};
  // Position of the contrast curve on the curve box; negative: its centre,
  // where the curve is a straight line.
  double curvePosition = -1;
  // Detail of the scales of radius 1, 2 and 3 (-20 .. 20: below 0 smooths
  // the faint areas, above 0 sharpens); they act only while detailActive.
  std::array<int, 3> detail{0, 0, 0};
  bool detailActive = false;
  int mode = kColour;
  // Brightness slope of the colour scale, 0 .. 100 (used divided by 5000).
  int slope = 50;
  // The curve ends at 1 and 254, and saturated stars are hidden.
  bool hideMax = false;
  // The holes left by hidden stars are filled (only with hideMax).
  bool fill = false;
  // Shown mirrored left to right.
  bool mirror = false;
  // Radius of the halo hidden around a saturated star, 0 .. 10.
  int cleanRadius = 1;
  // Zoom of the destination window, in percent; 0 or less: no scaling.
  int zoomPercent = 0;
};

// What an operation set in the settings, so that a window writes back only
// the controls it changed.
struct SettingsChanged {
  std::array<bool, 3> black{false, false, false}, white{false, false, false};
  bool curve = false;
};

// The local means of the detail filter, kept from one render to the next:
// they depend on the destination alone. planes[k][c] is the mean of radius
// k + 1 of channel c; a render computes a radius's rows, band by band, only
// while its slider is in use, and a render abandoned half-way leaves the
// rows it reached for the next one to go on from. A new or reshaped
// destination makes them invalid.
struct DetailMeans {
  std::array<std::array<Plane<double>, 3>, 3> planes;
  std::array<std::array<RunningMeans, 3>, 3> running;
  // Whether the means of radius k + 1 exist for the whole destination.
  bool Valid(size_t k) const { return running[k][0].Done() && running[k][1].Done() && running[k][2].Done(); }
  void Invalidate() {
    for (auto& radius : running)
      for (RunningMeans& m : radius) m = RunningMeans{};
  }
};

// The destination's range of levels: its histogram's lowest bin above 0 and
// its highest bin with a count (both 0 for an empty histogram). The white
// balance spreads the clicked colours over it.
struct HistogramRange {
  int32_t low = 0, high = 0;
};

// What watches a render. It hears the picture as drawn so far, every 100
// rows and before each pass of the hole filling: it shows it and lets the
// event loop run, and false abandons the render (a setting changed
// meanwhile, and the window starts again with the new one). It also runs
// the computing of each band of rows: a window runs it off its own thread
// and keeps serving its events, and false abandons the render as well.
// While a band is computed, nothing it reads (the destination, the means,
// the curve) may change, nor may the picture be read.
class RenderListener {
 public:
  virtual ~RenderListener() = default;
  virtual bool SoFar(const Plane<int32_t>& /*picture*/) { return true; }
  virtual bool Compute(const std::function<void()>& band) {
    band();
    return true;
  }
  // One that shows nothing and never abandons.
  static RenderListener& Quiet();
};

// ---- The destination ----

DestPlanes DestinationPlanes(const Session& s);
// The six planes exist and have the red sum plane's size.
bool DestinationReady(const Session& s);
HistogramRange DestinationHistogramRange(const Session& s);

// ---- The settings ----

// The settings "Initialiser" gives: levels 0 .. 65535, the straight curve,
// no detail, colour, slope 50, radius 1. The mirror, the zoom, hideMax and
// fill are kept, and so are the gains until the levels are next settled.
void ResetSettings(EditorSettings& settings);
// Limits the levels and works out each channel's gain.
void SettleLevels(EditorSettings& settings);
// The curve position on the box, its centre when none was given.
double CurveBoxPosition(const EditorSettings& settings);
// The contrast curve of the settings (position and hideMax).
void BuildCurve(CurveTable& table, const EditorSettings& settings);

// ---- Rendering ----

// Renders the destination into `picture` (the red sum plane's size) with the
// settings, whose levels it settles first, and `curve`, the table
// BuildCurve makes of them; the detail means it needs are built into
// `means`, each band's rows just before the band is drawn, where not valid.
// A picture of the same size keeps its rows until they are drawn again.
// With hideMax it then hides the saturated stars (and fills their holes).
// False when the listener abandoned it; without a destination it does
// nothing.
bool RenderDestination(const Session& s, EditorSettings& settings, DetailMeans& means, const CurveTable& curve,
                       Plane<int32_t>& picture, RenderListener& listener = RenderListener::Quiet());
// The same with a curve and means of its own, for a single render.
bool RenderDestination(const Session& s, EditorSettings& settings, Plane<int32_t>& picture,
                       RenderListener& listener = RenderListener::Quiet());
// The rendered picture as the destination window shows it at the settings'
// zoom and mirror, which is what a JPEG or BMP save writes.
Plane<int32_t> ShownPicture(const Plane<int32_t>& picture, const EditorSettings& settings, bool pixAspect,
                            double pixRatio);

// ---- Operations on the rendered picture ----

// Hides the saturated pixels with the halo of settings.cleanRadius, then,
// with settings.fill, fills the holes. False when the filling was abandoned.
bool HideSaturatedStars(Plane<int32_t>& picture, const EditorSettings& settings, RenderListener& listener,
                        Clock* clock);
// Fills the black holes of the picture, pass after pass, until a pass
// leaves as many holes as the one before or 20 seconds of `clock` have
// gone by. False when the listener abandoned it.
bool FillHoles(Plane<int32_t>& picture, RenderListener& listener, Clock* clock);

// ---- Operations on the destination and the settings ----

// Bins the destination n x n (the last blocks may be partial) and resets
// the settings; false, changing nothing, for n below 1 or without a
// destination. The detail means of the old planes no longer hold.
bool BinDestination(Session& s, int n, EditorSettings& settings);
// Turns the destination a quarter clockwise on screen and resets the
// settings; false, changing nothing, without a destination.
bool TurnDestination(Session& s, EditorSettings& settings);

// The destination pixel under (x, y) of the picture as shown at the
// settings' zoom (no zoom counts as 100 %); false when it lies beyond any
// pixel number (the click is then ignored).
bool ClickedPixel(const EditorSettings& settings, float x, float y, int32_t& px, int32_t& py);
// The levels that balance the measured colours at a strength of 0 .. 1:
// each channel's background renders black and its signal at the same curve
// input, spread over the destination's range of levels. Sets every level
// that can be written as a whole number.
SettingsChanged BalanceLevelsFor(const BalanceLevels& measured, double strength, HistogramRange range,
                                 EditorSettings& settings);
// A white-balance click at (x, y) of the picture as shown: measures the
// region around the pixel under it into `measured` (which keeps, for a
// channel without data, what it held), balances the levels at full
// strength and settles them, as the redraw that follows a click in the
// window does. Nothing changes without a destination or for a click beyond
// any pixel number.
SettingsChanged BalanceWhiteAt(const Session& s, float x, float y, HistogramRange range, BalanceLevels& measured,
                               EditorSettings& settings);
// "Étirement auto": the levels and the curve chosen from the destination's
// values (AutoStretchLevels), for each channel that has data.
SettingsChanged AutoStretchSettings(const Session& s, EditorSettings& settings);

}  // namespace qv
