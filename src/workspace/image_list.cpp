#include "workspace/image_list.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "core/paths.h"
#include "process/process_pic.h"
#include "stack/run_control.h"
#include "workspace/form1_events.h"
#include "workspace/select_pic.h"

namespace qv {

namespace {

constexpr int32_t kRed = 0xFF0000;
constexpr int32_t kBlue = 0x0000FF;

// Upper bound of the control arrays Image1 and Check9.
int StripUBound(const Session& s) { return static_cast<int>(s.form1.Check9.size()) - 1; }


}  // namespace

void mnuNew_Click(Session& s) {
  if (!Form1Idle(s)) return;
  try {
    s.ResizeImageArrays(0);
  } catch (const RuntimeError&) {
  }
  s.form1.Frame2Visible = false;
  s.form1.Picture10Visible = false;
  s.form1.VScroll1Visible = false;
  SelectPic(s, -1, false, false);
  s.form1.Check9.resize(1);
  s.form1.Text7.clear();
  s.form1.Text8.clear();
}

int ThumbnailStep(const Session& s) {
  if (s.ImageCount() < 1) Raise(kErrSubscript);
  double w = s.Img[1].ImgNaxis1;
  if (s.opt.Has(Bin2x2)) w = Int(w / 2);
  if (s.opt.Has(PixAspect)) return CInt(w * s.opt.PixRatio / 120);
  return CInt(w / 120);
}

void Populate(Session& s, int k, bool forceChecked) {
  try {
    StartProcess(s);
    s.DoEvents();
    SelectPic(s, -1, false, false);
    const int step = ThumbnailStep(s);
    const int n = s.ImageCount();
    for (int i = k; i <= n; ++i) {
      if (i < 0) Raise(kErrSubscript);
      if (StripUBound(s) < i) s.form1.Check9.resize(static_cast<size_t>(i) + 1);
      s.form1.Caption = std::to_string(i) + "/" + std::to_string(n);
      // A file that cannot be read gets no thumbnail; its entry stays.
      if (ProcessPic(s, i, step) && s.hooks.Thumbnail) s.hooks.Thumbnail(i);
      ImageEntry& e = s.Entry(i);
      StripCheckBox& box = s.form1.Check9[static_cast<size_t>(i)];
      box.Caption = PathName(e.ImgFile);
      if (forceChecked) e.ImgChecked = 1;
      box.Value = e.ImgChecked;
      s.form1.Picture10Visible = true;
      s.form1.VScroll1Visible = true;
      s.DoEvents();
      if (s.RunState != 1) break;
    }
    s.form1.VScroll1Min = 1;
    s.form1.VScroll1Max = CInt(StripUBound(s));
    // The first image of the list always defines the guide star and where
    // it is searched.
    s.Entry(1).ImgRegFlags = kNewRef | kNewPos;
    SelectPic(s, k, false, false);
    if (s.form1.hooks.updatelist) s.form1.hooks.updatelist(s);
    s.form1.Picture1Visible = true;
    s.form1.Frame2Visible = true;
  } catch (const RuntimeError&) {
  } catch (const std::exception&) {
    // Storage for the strip that cannot be had ends the filling like any
    // other run-time error.
  }
  StopProcess(s);
}

void SelectPic(Session& s, int index, bool noLoad, bool vsOnly) {
  s.form1.Busy = true;
  if (s.form1.Form6Visible) form6::Form_QueryUnload(s);
  const double started = s.platform.clock ? s.platform.clock->SecondsSinceMidnight() : 0;
  try {
    if (index == -1) {
      s.CurPic = 1;
      s.form1.Picture1Visible = false;
      s.form1.Frame2Visible = false;
      s.form1.Picture10Visible = false;
    } else if (index >= 0 && index <= StripUBound(s)) {
      const ImageEntry& e = s.Entry(index);
      StripCheckBox& box = s.form1.Check9[static_cast<size_t>(index)];
      box.Value = e.ImgChecked;
      box.ForeColor = (e.ImgRegFlags & kNewRef) ? kRed : (e.ImgRegFlags & kNewPos) ? kBlue : 0;
      box.Bold = (e.ImgRegFlags & (kNewRef | kNewPos)) != 0;
      if (!vsOnly) {
        s.form1.VScroll1Value = static_cast<int16_t>(index);
        s.DoEvents();
        // An entry that is already current is shown again without being
        // processed again.
        ShowSelectedImage(s, index, !(noLoad && s.CurPic == index));
      }
      if (s.hooks.ShowImage) s.hooks.ShowImage();
    }
  } catch (const RuntimeError& err) {
    DebugLine(s, "Erreur " + std::to_string(err.Number()));
  } catch (const std::exception&) {
    DebugLine(s, "Erreur " + std::to_string(kErrOutOfMemory));
  }
  // The closing pause lets a window repaint between the images of a run.
  if (s.hooks.Pause) {
    const double now = s.platform.clock ? s.platform.clock->SecondsSinceMidnight() : started;
    s.hooks.Pause(std::max(0.0, 0.5 - std::fabs(now - started)));
  }
  s.form1.Busy = false;
}

void Check9_Click(Session& s, int index) {
  if (!Form1Idle(s)) return;
  try {
    if (index < 1 || index > StripUBound(s)) return;
    s.Entry(index).ImgChecked = static_cast<uint8_t>(s.form1.Check9[static_cast<size_t>(index)].Value != 0);
  } catch (const RuntimeError&) {
  }
}

}  // namespace qv
