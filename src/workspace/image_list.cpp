#include "workspace/image_list.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "core/error_words.h"
#include "core/paths.h"
#include "process/process_pic.h"
#include "stack/frames.h"
#include "stack/run_control.h"
#include "workspace/form1_events.h"
#include "workspace/frame_report.h"
#include "workspace/select_pic.h"

namespace qv {

namespace {

constexpr int32_t kRed = 0xFF0000;
constexpr int32_t kBlue = 0x0000FF;

// Upper bound of the control arrays Image1 and Check9.
int StripUBound(const Form1& f) { return static_cast<int>(f.Check9.size()) - 1; }

}  // namespace

void mnuNew_Click(Form1& f) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  try {
    s.ResizeImageArrays(0);
  } catch (const RuntimeError&) {
  }
  f.Frame2Visible = false;
  f.Picture10Visible = false;
  f.VScroll1Visible = false;
  SelectPic(f, -1, false, false);
  f.Check9.resize(1);
  f.Text7.clear();
  f.Text8.clear();
  // Nothing of the last image stays on show: the caption that named it, its
  // status, its histogram and the level marker read on it. The levels typed
  // in "Niveau", "Auto" and the slider are settings of the window and stay.
  f.Caption = kAppTitle;
  f.Label1.clear();
  f.Label6.clear();
  f.Line1Visible = false;
  f.Picture3Cleared = true;
  f.LastOpening = {};
  ForgetReport(f);
}

namespace {

// What the main window shows while its list is filled: the strip grows an
// element for each entry reached, with its thumbnail and check box, and the
// first entry filled is selected.
class StripFilling : public ListListener {
 public:
  explicit StripFilling(Form1& f) : f_(f) {}
  Outcome Select(Session&, int i) override { return SelectPic(f_, i, false, false); }
  void Cleared(Session&) override { SelectPic(f_, -1, false, false); }
  void Reached(int i) override {
    if (StripUBound(f_) < i) f_.Check9.resize(static_cast<size_t>(i) + 1);
  }
  void Thumbnail(int i, const Outcome& read) override {
    if (read) f_.s.window->Thumbnail(i);
    const ImageEntry& e = f_.s.Entry(i);
    // The report says which files gave no thumbnail, and why.
    if (!read)
      f_.LastOpening.unreadable.push_back({i, FileExists(e.ImgFile), OutcomeWords(read, e.ImgFile, FileTask::Process)});
    StripCheckBox& box = f_.Check9[static_cast<size_t>(i)];
    box.Caption = PathName(e.ImgFile);
    box.Value = e.ImgChecked;
    f_.Picture10Visible = true;
    f_.VScroll1Visible = true;
  }
  void Filled() override {
    f_.VScroll1Min = 1;
    f_.VScroll1Max = CInt(StripUBound(f_));
  }
  void Selected(int) override {
    updatelist(f_);
    f_.Picture1Visible = true;
    f_.Frame2Visible = true;
    f_.HScroll2Value = CInt(f_.HScroll2Max / 2.0);
    f_.VScroll2Value = CInt(f_.VScroll2Max / 2.0);
  }

 private:
  Form1& f_;
};

}  // namespace

void Populate(Form1& f, int k, bool forceChecked) {
  StripFilling strip(f);
  FillList(f.s, k, forceChecked, strip);
}

Outcome SelectPic(Form1& f, int index, bool noLoad, bool vsOnly) {
  Session& s = f.s;
  Outcome processed;
  f.Busy = true;
  if (f.Form6Visible) form6::Form_QueryUnload(f);
  try {
    if (index == -1) {
      s.CurPic = 1;
      f.Picture1Visible = false;
      f.Frame2Visible = false;
      f.Picture10Visible = false;
      f.PanBarsVisible = false;
    } else if (index >= 0 && index <= StripUBound(f)) {
      const ImageEntry& e = s.Entry(index);
      StripCheckBox& box = f.Check9[static_cast<size_t>(index)];
      box.Value = e.ImgChecked;
      box.ForeColor = (e.ImgRegFlags & kNewRef) ? kRed : (e.ImgRegFlags & kNewPos) ? kBlue : 0;
      box.Bold = (e.ImgRegFlags & (kNewRef | kNewPos)) != 0;
      if (!vsOnly) {
        // The strip's scroll bar starts at 1: entry 0, the template, is no
        // image, and selecting it fails here as the bar refuses the value.
        if (index < f.VScroll1Min) Raise(kErrInvalidPropertyValue);
        f.VScroll1Value = static_cast<int16_t>(index);
        f.Shape6Index = static_cast<int16_t>(index);
        if (index != s.CurPic && !f.ClickStatus.empty() && f.StatusText == f.ClickStatus) f.StatusText.clear();
        // An entry that is already current is shown again without being
        // processed again.
        SelectionShown shown(f);
        processed = ProcessAndTrack(s, index, !(noLoad && s.CurPic == index), shown);
      } else {
        f.PanBarsVisible = true;
        s.window->ShowImage();
      }
    }
  } catch (const RuntimeError& err) {
    DebugLine(f, "Erreur " + std::to_string(err.Number()));
  } catch (const std::exception&) {
    DebugLine(f, "Erreur " + std::to_string(kErrOutOfMemory));
  }
  // The closing pause, half a second from here whatever the steps took,
  // lets a window repaint between the images of a run.
  f.Pause(0.5);
  f.Busy = false;
  return processed;
}

void Check9_Click(Form1& f, int index) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  try {
    if (index < 1 || index > StripUBound(f)) return;
    s.Entry(index).ImgChecked = static_cast<uint8_t>(f.Check9[static_cast<size_t>(index)].Value != 0);
  } catch (const RuntimeError&) {
  }
}

}  // namespace qv
