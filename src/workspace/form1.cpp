#include "workspace/form1.h"

#include "stack/guide.h"

#include <cmath>

#include "core/paths.h"
#include "core/session.h"
#include "workspace/settings.h"

namespace qv {

namespace {

// Run-time errors of the window's controls.
constexpr int kErrNoSuchControl = 340;       // control array element does not exist
constexpr int kErrInvalidPropertyValue = 380;

}  // namespace

void Text3_Change(Session& s) {
  // Like every handler of the window, idle while it is busy: the text set
  // at start-up only shows the stored value and must not clamp it.
  if (s.form1.Busy || s.RunState >= 1) return;
  try {
    const double v = LocaleToDouble(s.form1.Text3, s.locale);
    s.opt.MinQual = ToSingle(MaxOf(0, MinOf(100, v)) / 100);
  } catch (const RuntimeError&) {
    // Half-typed or empty text: the minimum quality keeps its last value
    // until the box holds a number again.
  }
}

void SetText3(Session& s, const std::string& text) {
  s.form1.Text3 = text;
  Text3_Change(s);
}

void Option1_Click(Session& s, int index) {
  if (!Form1Idle(s)) return;
  s.GuideBox = CInt(std::ldexp(1.0, index + 5));
  // A template of the old size would be compared against boxes of the new
  // one: searching stays off until a new reference is taken.
  s.GuideTemplate.Redim(0, 0);
  s.form1.Picture4.Erase();
  s.form1.Picture5.Erase();
  FindGuide(s, CInt(s.GuideX), CInt(s.GuideY), false);
}

void SelectOption1(Session& s, int index) {
  if (index < 0 || index > 2) Raise(kErrNoSuchControl);
  s.form1.Option1 = static_cast<int16_t>(index);
  Option1_Click(s, index);
}

void HScroll1_Change(Session& s) {
  s.opt.Hsens = s.form1.HScroll1;
  if (s.form1.hooks.showHisto) s.form1.hooks.showHisto(s);
}

void SetHScroll1(Session& s, int value) {
  if (value < 0 || value > 20) Raise(kErrInvalidPropertyValue);
  s.form1.HScroll1 = static_cast<int16_t>(value);
  HScroll1_Change(s);
}

void Check3_Click(Session& s) {
  if (s.form1.hooks.showHisto) s.form1.hooks.showHisto(s);
}

void SetCheck3(Session& s, int16_t value) {
  s.form1.Check3 = value;
  Check3_Click(s);
}

bool Form1Idle(const Session& s) { return !s.form1.Busy && s.RunState < 1; }

void DebugLine(Session& s, const std::string& line) {
  if (s.form1.mnuDebug) s.form1.DebugLog.push_back(line);
}

}  // namespace qv
