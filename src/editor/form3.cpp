#include "editor/form3.h"

#include <algorithm>
#include <cmath>

#include "core/numeric.h"
#include "core/session.h"

namespace qv {

namespace {

// The fields hold the levels the operations set as whole numbers.
std::string LevelText(double level) { return std::to_string(static_cast<int32_t>(level)); }

}  // namespace

// Shows the picture as drawn so far in the destination window and lets the
// event loop run; computes each band of rows off the interface thread while
// the event loop runs. A control changed meanwhile, or the window closed,
// abandons the redraw.
class Form3::Shower : public RenderListener {
 public:
  Shower(Form3& f, int16_t zoom, bool mirror) : f_(f), zoom_(zoom), mirror_(mirror) {}
  bool SoFar(const Plane<int32_t>& picture) override {
    f_.dest_.ShowPixels(picture, zoom_, mirror_);
    f_.s_.progress.Yield();
    return GoOn();
  }
  bool Compute(const std::function<void()>& band) override {
    // The window keeps what it showed while the band's rows are written.
    struct Busy {
      Form2& dest;
      explicit Busy(Form2& d) : dest(d) { dest.Rendering = true; }
      ~Busy() { dest.Rendering = false; }
    } busy(f_.dest_);
    f_.s_.progress.RunAside(band);
    return GoOn();
  }

 private:
  bool GoOn() const { return !(f_.drawing_ && (f_.changedWhileDrawing_ || f_.stopDrawing_)); }
  Form3& f_;
  int16_t zoom_;
  bool mirror_;
};

Form3::Form3(Session& s, Form2& dest) : s_(s), dest_(dest) {}

int16_t Form3::ZoomPercent() const {
  const double v = Val(Combo1);
  return v >= 1 && v <= 32767 ? static_cast<int16_t>(RoundHalfEven(v)) : 0;
}

void Form3::ReadControls(EditorSettings& settings) const {
  settings.curvePosition = curvePos_;
  settings.detail = {HScroll1, HScroll2, HScroll3};
  settings.detailActive = Check3 != 0;
  settings.mode = Option1;
  settings.slope = HScroll5;
  settings.hideMax = Check5 != 0;
  settings.fill = Check6 != 0;
  settings.mirror = Check4 != 0;
  settings.cleanRadius = HScroll6;
  settings.zoomPercent = ZoomPercent();
}

void Form3::ReadLevels(EditorSettings& settings) const {
  for (size_t c = 0; c < 3; ++c) {
    Ignoring([&] { settings.black[c] = LocaleToDouble(Text1[c], s_.locale); });
    Ignoring([&] { settings.white[c] = LocaleToDouble(Text2[c], s_.locale); });
  }
}

void Form3::ShowLevels(const EditorSettings& settings, const SettingsChanged& changed) {
  for (size_t c = 0; c < 3; ++c) {
    if (changed.black[c]) Text1[c] = LevelText(settings.black[c]);
    if (changed.white[c]) Text2[c] = LevelText(settings.white[c]);
  }
}

void Form3::SetHisCurv(double p) {
  if (p != -2) curvePos_ = p;
  EditorSettings curve;
  curve.curvePosition = curvePos_;
  curve.hideMax = Check5 != 0;
  CurveLineX = CurveBoxPosition(curve);
  BuildCurve(Curve, curve);
}

void Form3::draw() {
  if (drawing_) {
    // A handler that ran during one of the pass's yields or while a band
    // was computed changed what the picture must show: the pass under way
    // starts again when it resumes. Asked for again after a stop (a run
    // begun during a band unloads the result, then opens its own), the
    // picture is wanted after all.
    changedWhileDrawing_ = true;
    stopDrawing_ = false;
    return;
  }
  // The controls as the handler left them show before the passes yield.
  if (ControlsSet) ControlsSet();
  stopDrawing_ = false;
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
      if (DrawPass() || stopDrawing_) break;
    }
  }
  std::vector<std::function<void()>> actions;
  actions.swap(whenDrawn_);
  // A redraw stopped half-way leaves no whole render to save or copy.
  if (stopDrawing_) return;
  // The picture is now a whole render of the current settings.
  for (const auto& action : actions) action();
}

void Form3::Form_Unload() {
  if (drawing_) stopDrawing_ = true;
}

void Form3::AwaitRows() { s_.progress.AwaitAside(); }

void Form3::WhenDrawn(std::function<void()> action) {
  if (drawing_)
    whenDrawn_.push_back(std::move(action));
  else
    action();
}

bool Form3::DrawPass() {
  ReadControls(settings_);
  ReadLevels(settings_);
  SettleLevels(settings_);
  SetHisCurv(-2);
  for (size_t c = 0; c < 3; ++c) {
    Line1X[c] = settings_.black[c];
    Line2X[c] = settings_.white[c];
  }
  if (!DestinationReady(s_)) return true;
  const int16_t zoom = static_cast<int16_t>(settings_.zoomPercent);
  const bool mirror = settings_.mirror;
  Shower shower(*this, zoom, mirror);
  // The band's rows read a curve of their own: a click on the curve box
  // while they are computed rebuilds Curve.
  if (!drawCurve_) drawCurve_ = std::make_unique<CurveTable>();
  *drawCurve_ = Curve;
  if (!RenderDestination(s_, settings_, means_, *drawCurve_, Picture, shower)) return false;
  dest_.ShowPixels(Picture, zoom, mirror);
  return true;
}

void Form3::ResetPic() {
  EditorSettings reset = settings_;
  ResetSettings(reset);
  ShowReset(reset);
}

void Form3::ShowReset(const EditorSettings& reset) {
  InvalidateDetail();
  Option1 = static_cast<int16_t>(reset.mode);
  HScroll4Visible = false;
  HScroll4 = 32767;
  HScroll1 = static_cast<int16_t>(reset.detail[0]);
  HScroll2 = static_cast<int16_t>(reset.detail[1]);
  HScroll3 = static_cast<int16_t>(reset.detail[2]);
  HScroll5 = static_cast<int16_t>(reset.slope);
  HScroll6 = static_cast<int16_t>(reset.cleanRadius);
  for (size_t c = 0; c < 3; ++c) {
    Text1[c] = LevelText(reset.black[c]);
    Text2[c] = LevelText(reset.white[c]);
  }
  Check3 = reset.detailActive ? 1 : 0;
  SetHisCurv(reset.curvePosition);
}

void Form3::InvalidateDetail() {
  AwaitRows();
  means_.Invalidate();
}

void Form3::bin(int16_t n) {
  // The planes change: no band may be reading them.
  AwaitRows();
  EditorSettings binned = settings_;
  if (BinDestination(s_, n, binned)) ShowReset(binned);
}

void Form3::Rotate90() {
  AwaitRows();
  EditorSettings turned = settings_;
  if (TurnDestination(s_, turned)) ShowReset(turned);
}

void Form3::BalWhite(float x, float y, int16_t& Button) {
  if (!DestinationReady(s_)) return;
  EditorSettings shown;
  shown.zoomPercent = ZoomPercent();
  int32_t ix = 0, iy = 0;
  if (!ClickedPixel(shown, x, y, ix, iy)) return;
  Ignoring([&] {
    if (Button == 2) {
      const DestPlanes d = DestinationPlanes(s_);
      auto num = [&](const Plane<float>* p) { return LocaleFromSingle(p->At(ix, iy), s_.locale); };
      dest_.SetCaption("(x,y)=(" + std::to_string(ix) + "," + std::to_string(iy) + ") (nR,nG,nB)=(" + num(d.weight[0]) +
                       "," + num(d.weight[1]) + "," + num(d.weight[2]) + ") (R,G,B)=(" + num(d.sum[0]) + "," +
                       num(d.sum[1]) + "," + num(d.sum[2]) + ")");
      return;
    }
    MeasureBalance(DestinationPlanes(s_), ix, iy, Balance);
    HScroll4Visible = true;
    HScroll4_Change();
  });
}

void Form3::HScroll4_Change() {
  EditorSettings balanced = settings_;
  ShowLevels(balanced, BalanceLevelsFor(Balance, HScroll4 / 32767.0, HistogramRange{HistoLow, HistoHigh}, balanced));
  draw();
}

void Form3::CleanEdges() {
  EditorSettings hiding = settings_;
  ReadControls(hiding);
  Shower shower(*this, static_cast<int16_t>(hiding.zoomPercent), hiding.mirror);
  HideSaturatedStars(Picture, hiding, shower, s_.platform.clock);
}

void Form3::Fill() {
  Shower shower(*this, ZoomPercent(), Check4 != 0);
  FillHoles(Picture, shower, s_.platform.clock);
}

void Form3::AutoStretch() {
  EditorSettings stretched = settings_;
  const SettingsChanged changed = AutoStretchSettings(s_, stretched);
  ShowLevels(stretched, changed);
  if (changed.curve) SetHisCurv(stretched.curvePosition);
}

void Form3::Form_Load() {
  // The window was put away when the run began: it loads with its controls
  // as they were designed, not as the last result left them.
  Text1 = {"0", "0", "0"};
  Text2 = {"65535", "65535", "65535"};
  Check1 = Check2 = {};
  Check3 = Check4 = Check5 = Check6 = 0;
  HScroll1 = HScroll2 = HScroll3 = 0;
  HScroll4 = 32767;
  HScroll4Visible = false;
  HScroll5 = 50;
  HScroll6 = 1;
  Option1 = 0;
  dest_.Visible = true;
  const HistogramRange range = DestinationHistogramRange(s_);
  HistoLow = range.low;
  HistoHigh = range.high;
  const int32_t top = static_cast<int32_t>(s_.dest.DestHisto.size()) - 1;
  const double x = HistoHigh >= 256 ? top : 255;
  Picture1ScaleLeft = 0 - 0.02 * x;
  Picture1ScaleWidth = 1.02 * x - Picture1ScaleLeft;
  Picture1Middle = x / 2;
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
    if (x >= Picture1Middle)
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
