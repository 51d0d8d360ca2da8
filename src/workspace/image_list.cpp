#include "workspace/image_list.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "core/paths.h"
#include "process/process_pic.h"
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
  // Nothing of the last image stays on show: its status, its histogram and
  // the level marker read on it. The levels typed in "Niveau", "Auto" and
  // the slider are settings of the window and stay.
  f.Label1.clear();
  f.Label6.clear();
  f.Line1Visible = false;
  f.Picture3Cleared = true;
  ForgetReport(f);
}

int ThumbnailStep(const Session& s) {
  if (s.ImageCount() < 1) Raise(kErrSubscript);
  double w = s.Img[1].ImgNaxis1;
  if (s.opt.Has(Bin2x2)) w = Int(w / 2);
  if (s.opt.Has(PixAspect)) return CInt(w * s.opt.PixRatio / 120);
  return CInt(w / 120);
}

void Populate(Form1& f, int k, bool forceChecked) {
  Session& s = f.s;
  try {
    StartProcess(s);
    s.DoEvents();
    SelectPic(f, -1, false, false);
    const int step = ThumbnailStep(s);
    const int n = s.ImageCount();
    for (int i = k; i <= n; ++i) {
      if (i < 0) Raise(kErrSubscript);
      if (StripUBound(f) < i) f.Check9.resize(static_cast<size_t>(i) + 1);
      s.Report(std::to_string(i) + "/" + std::to_string(n), (i - 1.0) / n);
      // A file that cannot be read gets no thumbnail; its entry stays.
      if (ProcessPic(s, i, step)) s.view->Thumbnail(i);
      ImageEntry& e = s.Entry(i);
      StripCheckBox& box = f.Check9[static_cast<size_t>(i)];
      box.Caption = PathName(e.ImgFile);
      if (forceChecked) e.ImgChecked = 1;
      box.Value = e.ImgChecked;
      f.Picture10Visible = true;
      f.VScroll1Visible = true;
      if (!s.Running()) break;
    }
    f.VScroll1Min = 1;
    f.VScroll1Max = CInt(StripUBound(f));
    // The first image of the list always defines the guide star and where
    // it is searched.
    s.Entry(1).ImgRegFlags = kNewRef | kNewPos;
    SelectPic(f, k, false, false);
    f.UpdateList();
    f.Picture1Visible = true;
    f.Frame2Visible = true;
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
    // Storage for the strip that cannot be had ends the filling like any
    // other run-time error.
  }
  StopProcess(s);
}

Outcome SelectPic(Form1& f, int index, bool noLoad, bool vsOnly) {
  Session& s = f.s;
  Outcome processed;
  f.Busy = true;
  if (f.Form6Visible) form6::Form_QueryUnload(f);
  const double started = s.platform.clock ? s.platform.clock->SecondsSinceMidnight() : 0;
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
        f.VScroll1Value = static_cast<int16_t>(index);
        s.DoEvents();
        // An entry that is already current is shown again without being
        // processed again.
        if (!(noLoad && s.CurPic == index)) processed = LoadSelectedImage(f, index);
        ShowSelectedImage(f, index);
      }
      f.PanBarsVisible = true;
      s.view->ShowImage();
    }
  } catch (const RuntimeError& err) {
    DebugLine(f, "Erreur " + std::to_string(err.Number()));
  } catch (const std::exception&) {
    DebugLine(f, "Erreur " + std::to_string(kErrOutOfMemory));
  }
  // The closing pause lets a window repaint between the images of a run.
  const double now = s.platform.clock ? s.platform.clock->SecondsSinceMidnight() : started;
  f.Pause(std::max(0.0, 0.5 - std::fabs(now - started)));
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
