#include "workspace/form1.h"

#include "stack/guide.h"

#include <algorithm>
#include <cmath>

#include "core/paths.h"
#include "core/session.h"
#include "workspace/settings.h"

namespace qv {

Form1::Form1(Session& session) : s(session) {
  s.messages = this;
  s.guideDisplay = this;
  s.window = this;
}

Form1::~Form1() {
  if (s.messages == this) s.messages = &Messages::None();
  if (s.guideDisplay == this) s.guideDisplay = &GuideDisplay::None();
  if (s.window == this) s.window = &MainWindowView::None();
}

void Form1::ShowCaption(const std::string& text) {
  Caption = text;
  Outer().ShowCaption(text);
}

void Form1::ShowDebugLine(const std::string& line) {
  if (mnuDebug) DebugLog.push_back(line);
  Outer().ShowDebugLine(line);
}

void Form1::GuideThumbnails(const Plane<int32_t>& tmpl, const Plane<int32_t>& match) {
  Picture4 = tmpl;
  Picture5 = match;
  Outer().GuideThumbnails(tmpl, match);
}

namespace {
double Zoom(const Session& s) { return s.opt.PicZoom > 0 ? s.opt.PicZoom : 1; }

// A control the user changed while a run went on (not while the window was
// busy starting up) is named once in the run's summary.
void IgnoredDuringRun(Form1& f, const std::string& control) {
  auto& ignored = f.IgnoredDuringRun;
  if (!f.Busy && f.s.RunState != kIdle && std::find(ignored.begin(), ignored.end(), control) == ignored.end())
    ignored.push_back(control);
}
}  // namespace

void Form1::GuideBoxShown(bool shown) {
  if (!shown) {
    Shape2.Visible = false;
    Shape3.Visible = false;
  } else {
    const double zoom = Zoom(s);
    Shape2.Left = (s.guide.GuideX - s.guide.GuideBox / 2.0) / zoom;
    Shape2.Top = (s.guide.GuideY - s.guide.GuideBox / 2.0) / zoom;
    Shape2.Width = Shape2.Height = s.guide.GuideBox / zoom;
    Shape2.Visible = true;
  }
  Outer().GuideBoxShown(shown);
}

void Form1::GuideChangeBegins() {
  // The old guide box stays marked, with a line from it to the new star.
  Shape3 = Shape2;
  Shape3.Visible = true;
  Line2.X1 = s.guide.GuideX / Zoom(s);
  Line2.Y1 = s.guide.GuideY / Zoom(s);
  Outer().GuideChangeBegins();
}

void Form1::GuideChangeEnds() {
  Line2.X2 = s.guide.GuideX / Zoom(s);
  Line2.Y2 = s.guide.GuideY / Zoom(s);
  Line2.Visible = true;
  Outer().GuideChangeEnds();
}

void Text3_Change(Form1& f) {
  Session& s = f.s;
  // Like every handler of the window, idle while it is busy: the text set
  // at start-up only shows the stored value and must not clamp it.
  if (f.Busy || s.RunState != kIdle) return IgnoredDuringRun(f, "« Qualité minimale »");
  try {
    const double v = LocaleToDouble(f.Text3, s.locale);
    s.opt.MinQual = ToSingle(MaxOf(0, MinOf(100, v)) / 100);
  } catch (const RuntimeError&) {
    // Half-typed or empty text: the minimum quality keeps its last value
    // until the box holds a number again.
  }
}

void SetText3(Form1& f, const std::string& text) {
  f.Text3 = text;
  Text3_Change(f);
}

void Option1_Click(Form1& f, int index) {
  Session& s = f.s;
  if (!Form1Idle(f)) return IgnoredDuringRun(f, "« Référence »");
  const int box = CInt(std::ldexp(1.0, index + 5));
  f.Picture4.Erase();
  f.Picture5.Erase();
  SetGuideBox(s, box);
}

bool mnuExit_Click(Form1& f) {
  if (Form1Idle(f)) return true;
  IgnoredDuringRun(f, "« Terminer »");
  return false;
}

void SelectOption1(Form1& f, int index) {
  if (index < 0 || index > 2) Raise(kErrNoSuchControl);
  f.Option1 = static_cast<int16_t>(index);
  Option1_Click(f, index);
}

void HScroll1_Change(Form1& f) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  // The histogram keeps the setting equal to the slider it is drawn with;
  // without an image nothing is drawn and the setting stays.
  if (s.pic.HistoMax >= 1) s.opt.Hsens = f.HScroll1;
  f.ShowHisto();
}

void SetHScroll1(Form1& f, int value) {
  if (value < 0 || value > 20) Raise(kErrInvalidPropertyValue);
  f.HScroll1 = static_cast<int16_t>(value);
  HScroll1_Change(f);
}

void updatelist(Form1& f) {
  f.UpdateList();
  Ignoring([&] { HScroll1_Change(f); });
}

void Form_Resize(Form1& f) { updatelist(f); }

void Check3_Click(Form1& f) {
  if (Form1Idle(f)) f.ShowHisto();
}

void SetCheck3(Form1& f, int16_t value) {
  f.Check3 = value;
  Check3_Click(f);
}

bool Form1Idle(const Form1& f) { return !f.Busy && f.s.RunState == kIdle; }

void DebugLine(Form1& f, const std::string& line) { f.ShowDebugLine(line); }

}  // namespace qv
