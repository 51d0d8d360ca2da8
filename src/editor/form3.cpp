#include "editor/form3.h"

#include <algorithm>
#include <cmath>

#include "core/numeric.h"
#include "core/paths.h"
#include "core/session.h"
#include "editor/auto_stretch.h"

namespace qv {

namespace {

// The rendering shows its progress after every block of this many rows.
constexpr int kRowsPerShow = 100;

}  // namespace

Form3::Form3(Session& s, Form2& dest) : s_(s), dest_(dest) {}

DestPlanes Form3::Dest() const {
  DestPlanes d;
  d.sum[0] = &s_.dest.DestSumR;
  d.sum[1] = &s_.dest.DestSumG;
  d.sum[2] = &s_.dest.DestSumB;
  d.weight[0] = &s_.dest.DestWeightR;
  d.weight[1] = &s_.dest.DestWeightG;
  d.weight[2] = &s_.dest.DestWeightB;
  return d;
}

bool Form3::DestinationReady() const {
  const DestPlanes d = Dest();
  const int w = d.sum[0]->Width(), h = d.sum[0]->Height();
  if (d.sum[0]->Empty()) return false;
  for (int c = 0; c < 3; ++c)
    if (!d.sum[c]->HasSize(w, h) || !d.weight[c]->HasSize(w, h)) return false;
  return true;
}

int16_t Form3::ZoomPercent() const {
  const double v = Val(Combo1);
  return v >= 1 && v <= 32767 ? static_cast<int16_t>(RoundHalfEven(v)) : 0;
}

void Form3::ReadLevels() {
  // A level that cannot be read keeps the previous redraw's value, as the
  // statement that reads it is skipped.
  for (int c = 0; c < 3; ++c) {
    Ignoring([&] { Black[c] = MaxOf(0, MinOf(65534, LocaleToDouble(Text1[c], s_.locale))); });
    Ignoring([&] { White[c] = MinOf(65535, LocaleToDouble(Text2[c], s_.locale)); });
    Ignoring([&] {
      if (White[c] == Black[c]) Raise(kErrDivisionByZero);
      Gain[c] = 32767 / (White[c] - Black[c]);
    });
  }
}

void Form3::SetHisCurv(double p) {
  if (p == -2)
    p = curvePos_;
  else
    curvePos_ = p;
  if (p < 0) p = (kCurveBoxWidth - 1) * 0.5;
  CurveLineX = p;
  BuildCurve(Curve, p, kCurveBoxWidth, Check5 != 0);
}

void Form3::draw() {
  if (drawing_) {
    // A handler that ran during one of the pass's yields changed what the
    // picture must show: the pass under way starts again when it resumes.
    changedWhileDrawing_ = true;
    return;
  }
  {
    // Cleared however the passes end, even by storage refused: otherwise
    // every later draw would only mark a redraw that no longer runs.
    struct ClearOnExit {
      bool& flag;
      ~ClearOnExit() { flag = false; }
    } clear{drawing_};
    drawing_ = true;
    for (;;) {
      changedWhileDrawing_ = false;
      if (DrawPass()) break;
    }
  }
  // The picture is now a whole render of the current settings.
  std::vector<std::function<void()>> actions;
  actions.swap(whenDrawn_);
  for (const auto& action : actions) action();
}

void Form3::WhenDrawn(std::function<void()> action) {
  if (drawing_)
    whenDrawn_.push_back(std::move(action));
  else
    action();
}

bool Form3::DrawPass() {
  const int16_t zoom = ZoomPercent();
  int detail[3] = {HScroll1, HScroll2, HScroll3};
  // The detail sliders act only while "Actif" is checked.
  if (Check3 == 0) detail[0] = detail[1] = detail[2] = 0;
  ReadLevels();
  SetHisCurv(-2);
  for (int c = 0; c < 3; ++c) {
    Line1X[static_cast<size_t>(c)] = Black[static_cast<size_t>(c)];
    Line2X[static_cast<size_t>(c)] = White[static_cast<size_t>(c)];
  }
  if (!DestinationReady()) return true;
  const DestPlanes d = Dest();

  RenderSettings rs;
  bool rebuild[3] = {false, false, false};
  for (size_t k = 0; k < 3; ++k) rebuild[k] = detail[k] != 0 && DetailValid[k] == 0;
  if (rebuild[0] || rebuild[1] || rebuild[2]) {
    for (size_t c = 0; c < 3; ++c) {
      Plane<double>* planes[3] = {&Detail[0][c], &Detail[1][c], &Detail[2][c]};
      LocalMeans(*d.sum[c], *d.weight[c], rebuild, planes);
    }
    for (size_t k = 0; k < 3; ++k)
      if (rebuild[k]) DetailValid[k] = -1;
  }
  for (int k = 0; k < 3; ++k) {
    rs.detail[k] = detail[k];
    if (detail[k] != 0)
      for (int c = 0; c < 3; ++c) rs.mean[k][c] = &Detail[static_cast<size_t>(k)][static_cast<size_t>(c)];
  }
  for (int c = 0; c < 3; ++c) {
    rs.black[c] = Black[static_cast<size_t>(c)];
    rs.white[c] = White[static_cast<size_t>(c)];
    rs.gain[c] = Gain[static_cast<size_t>(c)];
  }
  rs.slope = HScroll5 / 5000.0;
  rs.mode = std::clamp<int>(Option1, 0, 2);
  rs.curve = &Curve;

  Picture.Redim(d.sum[0]->UBound1(), d.sum[0]->UBound2());
  const int u2 = Picture.UBound2();
  for (int y0 = 0; y0 <= u2; y0 += kRowsPerShow) {
    const int y1 = std::min(u2, y0 + kRowsPerShow - 1);
    RenderRows(d, rs, Picture, y0, y1);
    if (y1 - y0 + 1 == kRowsPerShow) {
      dest_.ShowPixels(Picture, zoom, Check4 != 0);
      s_.progress.Yield();
      // Nothing read above may still hold: a handler may even have binned
      // or turned the planes.
      if (changedWhileDrawing_) return false;
    }
  }
  if (Check5 != 0) CleanEdges();
  if (changedWhileDrawing_) return false;
  dest_.ShowPixels(Picture, zoom, Check4 != 0);
  return true;
}

void Form3::ResetPic() {
  InvalidateDetail();
  Option1 = 0;
  HScroll4Visible = false;
  HScroll4 = 32767;
  HScroll1 = HScroll2 = HScroll3 = 0;
  HScroll5 = 50;
  HScroll6 = 1;
  const std::string black = std::to_string(0), white = std::to_string(kWhiteLevel);
  Text1.fill(black);
  Text2.fill(white);
  Check3 = 0;
  SetHisCurv(-1);
}

void Form3::bin(int16_t n) {
  if (n < 1 || !DestinationReady()) return;
  for (Plane<float>* p : {&s_.dest.DestSumR, &s_.dest.DestSumG, &s_.dest.DestSumB, &s_.dest.DestWeightR,
                          &s_.dest.DestWeightG, &s_.dest.DestWeightB})
    *p = BinPlane(*p, n);
  ResetPic();
}

void Form3::Rotate90() {
  if (!DestinationReady()) return;
  for (Plane<float>* p : {&s_.dest.DestSumR, &s_.dest.DestSumG, &s_.dest.DestSumB, &s_.dest.DestWeightR,
                          &s_.dest.DestWeightG, &s_.dest.DestWeightB})
    *p = RotatePlane(*p);
  ResetPic();
}

void Form3::BalWhite(float x, float y, int16_t& Button) {
  if (!DestinationReady()) return;
  // Without a zoom choice the picture is shown unscaled: its displayed
  // pixels are the destination's own.
  int16_t zoom = ZoomPercent();
  if (zoom <= 0) zoom = 100;
  Ignoring([&] {
    const int32_t ix = CLng(static_cast<double>(x) * 100 / zoom), iy = CLng(static_cast<double>(y) * 100 / zoom);
    if (Button == 2) {
      const DestPlanes d = Dest();
      auto num = [&](const Plane<float>* p) { return LocaleFromSingle(p->At(ix, iy), s_.locale); };
      dest_.SetCaption("(x,y)=(" + std::to_string(ix) + "," + std::to_string(iy) + ") (nR,nG,nB)=(" + num(d.weight[0]) +
                       "," + num(d.weight[1]) + "," + num(d.weight[2]) + ") (R,G,B)=(" + num(d.sum[0]) + "," +
                       num(d.sum[1]) + "," + num(d.sum[2]) + ")");
      return;
    }
    MeasureBalance(Dest(), ix, iy, Balance);
    HScroll4Visible = true;
    HScroll4_Change();
  });
}

void Form3::HScroll4_Change() {
  const double sv = HScroll4 / 32767.0;
  double span = Balance.signal[0] - Balance.background[0];
  for (int c = 1; c < 3; ++c) span = std::max(span, Balance.signal[c] - Balance.background[c]);
  double k = 0;
  Ignoring([&] {
    if (span == 0) Raise(kErrDivisionByZero);
    k = sv * sv * (HistoHigh - HistoLow) / span;
  });
  for (int c = 0; c < 3; ++c) {
    const double bg = Balance.background[c], sig = Balance.signal[c];
    Ignoring([&] { Text1[static_cast<size_t>(c)] = std::to_string(CLng(bg)); });
    Ignoring([&] { Text2[static_cast<size_t>(c)] = std::to_string(CLng(bg + (sig - bg) * k)); });
  }
  draw();
}

void Form3::CleanEdges() {
  if (!HideSaturated(Picture, HScroll6)) return;
  if (Check6 != 0) Fill();
}

void Form3::Fill() {
  Clock* clock = s_.platform.clock;
  const double start = clock ? clock->SecondsSinceMidnight() : 0;
  int64_t previous = 0;
  for (;;) {
    dest_.ShowPixels(Picture, ZoomPercent(), Check4 != 0);
    s_.progress.Yield();
    // A control changed during the yield: the redraw that runs this fill
    // starts again, and this picture is thrown away.
    if (drawing_ && changedWhileDrawing_) return;
    const int64_t holes = FillPass(Picture);
    if (holes == previous) break;
    previous = holes;
    // Seconds since midnight: the absolute difference also bounds a fill
    // that runs across midnight.
    if (clock && std::fabs(clock->SecondsSinceMidnight() - start) >= 20) break;
  }
}

void Form3::AutoStretch() {
  if (!DestinationReady()) return;
  const StretchLevels levels = AutoStretchLevels(Dest());
  bool any = false;
  for (size_t c = 0; c < 3; ++c) {
    if (!levels.set[c]) continue;
    // Whole levels, so the fields read the same in every number format.
    Text1[c] = std::to_string(static_cast<int32_t>(levels.black[c]));
    Text2[c] = std::to_string(static_cast<int32_t>(levels.white[c]));
    any = true;
  }
  if (any) SetHisCurv(levels.curve * (kCurveBoxWidth - 1));
}

void Form3::Form_Load() {
  dest_.Visible = true;
  HistoLow = HistoHigh = 0;
  const auto& h = s_.dest.DestHisto;
  const int32_t top = static_cast<int32_t>(h.size()) - 1;
  for (int32_t i = 1; i <= top; ++i)
    if (h[static_cast<size_t>(i)] >= 1) {
      HistoLow = i;
      break;
    }
  for (int32_t i = top; i >= 0; --i)
    if (h[static_cast<size_t>(i)] >= 1) {
      HistoHigh = i;
      break;
    }
  const double x = HistoHigh >= 256 ? top : 255;
  Picture1ScaleLeft = 0 - 0.02 * x;
  Picture1ScaleWidth = 1.02 * x - Picture1ScaleLeft;
  Picture1ScaleTop = 1;
  Picture1ScaleHeight = -1.05;
  Combo1.clear();
  ResetPic();
  draw();
}

void Form3::Text1_Change(int16_t) { draw(); }
void Form3::Text2_Change(int16_t) { draw(); }
void Form3::Check3_Click() { draw(); }
void Form3::Check4_Click() { draw(); }
void Form3::Check5_Click() { draw(); }
void Form3::Check6_Click() { draw(); }
void Form3::HScroll1_Change() { draw(); }
void Form3::HScroll2_Change() { draw(); }
void Form3::HScroll3_Change() { draw(); }
void Form3::HScroll5_Change() { draw(); }
void Form3::HScroll6_Change() { draw(); }
void Form3::Option1_Click(int16_t Index) {
  Option1 = Index;
  draw();
}
void Form3::Combo1_Click() { draw(); }

void Form3::Picture1_MouseDown(int16_t Button, double x) {
  if (Button != 1) {
    Check1 = {0, 0, 0};
    Check2 = {0, 0, 0};
    return;
  }
  bool any = false;
  for (int c = 0; c < 3; ++c) any |= Check1[static_cast<size_t>(c)] != 0 || Check2[static_cast<size_t>(c)] != 0;
  if (!any) {
    if (x >= Picture1ScaleLeft + Picture1ScaleWidth / 2)
      Check2 = {1, 1, 1};
    else
      Check1 = {1, 1, 1};
  }
  Ignoring([&] {
    const std::string level = std::to_string(CLng(x));
    for (int c = 0; c < 3; ++c) {
      if (Check1[static_cast<size_t>(c)] != 0) Text1[static_cast<size_t>(c)] = level;
      if (Check2[static_cast<size_t>(c)] != 0) Text2[static_cast<size_t>(c)] = level;
    }
  });
  draw();
}

void Form3::Picture2_MouseDown(double x) {
  SetHisCurv(x);
  draw();
}

void Form3::Command3_Click() {
  ResetPic();
  draw();
}
void Form3::Command4_Click() {
  Rotate90();
  draw();
}
void Form3::Command5_Click() {
  bin(2);
  draw();
}
void Form3::Command6_Click() {
  bin(3);
  draw();
}
void Form3::Command7_Click() {
  AutoStretch();
  draw();
}

}  // namespace qv
