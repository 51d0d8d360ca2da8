#include "editor/editing.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "core/numeric.h"
#include "core/paths.h"
#include "core/session.h"
#include "display/render.h"
#include "editor/auto_stretch.h"

namespace qv {

namespace {

// The rendering shows its progress after every block of this many rows.
constexpr int kRowsPerShow = 100;

// The levels an operation sets are whole numbers, as the window's fields
// show them.
double Whole(int32_t v) { return static_cast<double>(v); }

}  // namespace

RenderListener& RenderListener::Quiet() {
  static RenderListener quiet;
  return quiet;
}

DestPlanes DestinationPlanes(const Session& s) {
  DestPlanes d;
  d.sum[0] = &s.dest.DestSumR;
  d.sum[1] = &s.dest.DestSumG;
  d.sum[2] = &s.dest.DestSumB;
  d.weight[0] = &s.dest.DestWeightR;
  d.weight[1] = &s.dest.DestWeightG;
  d.weight[2] = &s.dest.DestWeightB;
  return d;
}

bool DestinationReady(const Session& s) {
  const DestPlanes d = DestinationPlanes(s);
  const int w = d.sum[0]->Width(), h = d.sum[0]->Height();
  if (d.sum[0]->Empty()) return false;
  for (int c = 0; c < 3; ++c)
    if (!d.sum[c]->HasSize(w, h) || !d.weight[c]->HasSize(w, h)) return false;
  return true;
}

HistogramRange DestinationHistogramRange(const Session& s) {
  HistogramRange r;
  const auto& h = s.dest.DestHisto;
  const int32_t top = static_cast<int32_t>(h.size()) - 1;
  for (int32_t i = 1; i <= top; ++i)
    if (h[static_cast<size_t>(i)] >= 1) {
      r.low = i;
      break;
    }
  for (int32_t i = top; i >= 0; --i)
    if (h[static_cast<size_t>(i)] >= 1) {
      r.high = i;
      break;
    }
  return r;
}

void ResetSettings(EditorSettings& settings) {
  settings.black = {0, 0, 0};
  settings.white = {kWhiteLevel, kWhiteLevel, kWhiteLevel};
  settings.curvePosition = -1;
  settings.detail = {0, 0, 0};
  settings.detailActive = false;
  settings.mode = kColour;
  settings.slope = 50;
  settings.cleanRadius = 1;
}

void SettleLevels(EditorSettings& settings) {
  for (size_t c = 0; c < 3; ++c) {
    settings.black[c] = MaxOf(0, MinOf(65534, settings.black[c]));
    settings.white[c] = MinOf(65535, settings.white[c]);
    if (settings.white[c] != settings.black[c]) settings.gain[c] = 32767 / (settings.white[c] - settings.black[c]);
  }
}

double CurveBoxPosition(const EditorSettings& settings) {
  return settings.curvePosition < 0 ? (kCurveBoxWidth - 1) * 0.5 : settings.curvePosition;
}

void BuildCurve(CurveTable& table, const EditorSettings& settings) {
  BuildCurve(table, CurveBoxPosition(settings), kCurveBoxWidth, settings.hideMax);
}

bool RenderDestination(const Session& s, EditorSettings& settings, DetailMeans& means, const CurveTable& curve,
                       Plane<int32_t>& picture, RenderListener& listener) {
  SettleLevels(settings);
  if (!DestinationReady(s)) return true;
  const DestPlanes d = DestinationPlanes(s);

  // What the rows read is taken now: a handler that runs while the
  // listener yields may change the settings, and the render is then
  // abandoned before it reads them again.
  RenderSettings rs;
  std::array<int, 3> detail = settings.detail;
  if (!settings.detailActive) detail = {0, 0, 0};
  // The means still to build, started afresh where none were begun on
  // these planes. A start takes a plane of doubles per channel, hundreds of
  // megabytes for a large result: it is taken with the first band, off the
  // interface thread, so that a slider's first move does not hold the
  // window still while that memory is cleared.
  std::vector<RunningMeans*> building;
  struct Starting {
    RunningMeans* means;
    size_t k, c;
  };
  std::vector<Starting> starting;
  for (size_t k = 0; k < 3; ++k) {
    if (detail[k] == 0 || means.Valid(k)) continue;
    for (size_t c = 0; c < 3; ++c) {
      RunningMeans& m = means.running[k][c];
      if (m.sum != d.sum[c] || m.weight != d.weight[c] || m.out != &means.planes[k][c] ||
          !means.planes[k][c].HasSize(d.sum[0]->Width(), d.sum[0]->Height()))
        starting.push_back({&m, k, c});
      building.push_back(&m);
    }
  }
  for (size_t k = 0; k < 3; ++k) {
    rs.detail[k] = detail[k];
    if (detail[k] != 0)
      for (size_t c = 0; c < 3; ++c) rs.mean[k][c] = &means.planes[k][c];
  }
  for (size_t c = 0; c < 3; ++c) {
    rs.black[c] = settings.black[c];
    rs.white[c] = settings.white[c];
    rs.gain[c] = settings.gain[c];
  }
  rs.slope = settings.slope / 5000.0;
  rs.mode = std::clamp(settings.mode, 0, 2);
  rs.curve = &curve;
  const EditorSettings hiding = settings;

  // Every row is drawn again: a picture of the same size keeps its storage
  // and, until a band reaches them, the rows it showed.
  if (!picture.HasSize(d.sum[0]->Width(), d.sum[0]->Height())) picture.Redim(d.sum[0]->UBound1(), d.sum[0]->UBound2());
  const int u2 = picture.UBound2();
  for (int y0 = 0; y0 <= u2; y0 += kRowsPerShow) {
    const int y1 = std::min(u2, y0 + kRowsPerShow - 1);
    // A band's means reach its last row before its rows are drawn; the
    // means done mark their progress themselves, so an abandoned render
    // leaves them for the next to go on from.
    const bool drawn = listener.Compute([&] {
      for (const Starting& m : starting)
        m.means->Start(*d.sum[m.c], *d.weight[m.c], static_cast<int>(m.k) + 1, means.planes[m.k][m.c]);
      starting.clear();
      if (!building.empty()) AdvanceMeans(building.data(), static_cast<int>(building.size()), y1);
      RenderRows(d, rs, picture, y0, y1);
    });
    // Nothing read above may still hold once a handler has run: one may
    // even have binned or turned the planes.
    if (!drawn) return false;
    if (y1 - y0 + 1 == kRowsPerShow && !listener.SoFar(picture)) return false;
  }
  if (hiding.hideMax) return HideSaturatedStars(picture, hiding, listener, s.platform.clock);
  return true;
}

bool RenderDestination(const Session& s, EditorSettings& settings, Plane<int32_t>& picture, RenderListener& listener) {
  // The table is 32 KB; the heap keeps it off the stack.
  const auto curve = std::make_unique<CurveTable>();
  BuildCurve(*curve, settings);
  DetailMeans means;
  return RenderDestination(s, settings, means, *curve, picture, listener);
}

Plane<int32_t> ShownPicture(const Plane<int32_t>& picture, const EditorSettings& settings, bool pixAspect,
                            double pixRatio) {
  if (picture.Empty()) return Plane<int32_t>();
  return ShowPixels(picture, ShowPixelsGeometry(picture.Width(), picture.Height(), pixAspect, pixRatio,
                                                static_cast<int16_t>(settings.zoomPercent), settings.mirror));
}

bool HideSaturatedStars(Plane<int32_t>& picture, const EditorSettings& settings, RenderListener& listener,
                        Clock* clock) {
  if (!HideSaturated(picture, settings.cleanRadius)) return true;
  if (settings.fill) return FillHoles(picture, listener, clock);
  return true;
}

bool FillHoles(Plane<int32_t>& picture, RenderListener& listener, Clock* clock) {
  const double start = clock ? clock->SecondsSinceMidnight() : 0;
  int64_t previous = 0;
  for (;;) {
    if (!listener.SoFar(picture)) return false;
    const int64_t holes = FillPass(picture);
    if (holes == previous) break;
    previous = holes;
    // Seconds since midnight: the absolute difference also bounds a fill
    // that runs across midnight.
    if (clock && std::fabs(clock->SecondsSinceMidnight() - start) >= 20) break;
  }
  return true;
}

bool BinDestination(Session& s, int n, EditorSettings& settings) {
  if (n < 1 || !DestinationReady(s)) return false;
  for (Plane<float>* p : {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB, &s.dest.DestWeightR,
                          &s.dest.DestWeightG, &s.dest.DestWeightB})
    *p = BinPlane(*p, n);
  ResetSettings(settings);
  return true;
}

bool TurnDestination(Session& s, EditorSettings& settings) {
  if (!DestinationReady(s)) return false;
  for (Plane<float>* p : {&s.dest.DestSumR, &s.dest.DestSumG, &s.dest.DestSumB, &s.dest.DestWeightR,
                          &s.dest.DestWeightG, &s.dest.DestWeightB})
    *p = RotatePlane(*p);
  ResetSettings(settings);
  return true;
}

bool ClickedPixel(const EditorSettings& settings, float x, float y, int32_t& px, int32_t& py) {
  // Without a zoom the picture is shown unscaled: its displayed pixels are
  // the destination's own.
  const int zoom = settings.zoomPercent <= 0 ? 100 : settings.zoomPercent;
  bool taken = false;
  Ignoring([&] {
    const int32_t ix = CLng(static_cast<double>(x) * 100 / zoom), iy = CLng(static_cast<double>(y) * 100 / zoom);
    px = ix;
    py = iy;
    taken = true;
  });
  return taken;
}

SettingsChanged BalanceLevelsFor(const BalanceLevels& measured, double strength, HistogramRange range,
                                 EditorSettings& settings) {
  SettingsChanged changed;
  double span = measured.signal[0] - measured.background[0];
  for (size_t c = 1; c < 3; ++c) span = std::max(span, measured.signal[c] - measured.background[c]);
  // Without any spread the levels all sit on the background.
  double k = 0;
  if (span != 0) k = strength * strength * (range.high - range.low) / span;
  for (size_t c = 0; c < 3; ++c) {
    const double bg = measured.background[c], sig = measured.signal[c];
    // A level beyond the whole numbers of the fields is not written.
    Ignoring([&] {
      settings.black[c] = Whole(CLng(bg));
      changed.black[c] = true;
    });
    Ignoring([&] {
      settings.white[c] = Whole(CLng(bg + (sig - bg) * k));
      changed.white[c] = true;
    });
  }
  return changed;
}

SettingsChanged BalanceWhiteAt(const Session& s, float x, float y, HistogramRange range, BalanceLevels& measured,
                               EditorSettings& settings) {
  int32_t px = 0, py = 0;
  if (!DestinationReady(s) || !ClickedPixel(settings, x, y, px, py)) return SettingsChanged{};
  MeasureBalance(DestinationPlanes(s), px, py, measured);
  const SettingsChanged changed = BalanceLevelsFor(measured, 1, range, settings);
  SettleLevels(settings);
  return changed;
}

SettingsChanged AutoStretchSettings(const Session& s, EditorSettings& settings) {
  SettingsChanged changed;
  if (!DestinationReady(s)) return changed;
  const StretchLevels levels = AutoStretchLevels(DestinationPlanes(s));
  for (size_t c = 0; c < 3; ++c) {
    if (!levels.set[c]) continue;
    // Whole levels, so that the fields read the same in every number format.
    settings.black[c] = Whole(static_cast<int32_t>(levels.black[c]));
    settings.white[c] = Whole(static_cast<int32_t>(levels.white[c]));
    changed.black[c] = changed.white[c] = true;
    changed.curve = true;
  }
  if (changed.curve) settings.curvePosition = levels.curve * (kCurveBoxWidth - 1);
  return changed;
}

}  // namespace qv
