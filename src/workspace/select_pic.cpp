#include "workspace/select_pic.h"

#include "core/error_words.h"
#include "core/paths.h"
#include "process/process_pic.h"
#include "stack/guide.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"

namespace qv {

namespace {

// A mark label just beside the end of its line.
void LabelAt(ShapeMark& label, const LineMark& line) {
  label.Left = line.X2 + 3;
  label.Top = line.Y2 - 3;
  label.Visible = true;
}

}  // namespace

SelectionShown::SelectionShown(Form1& f) : f_(f) {}

Outcome SelectionShown::Select(Session&, int i) { return SelectPic(f_, i, false, false); }

void SelectionShown::Loading(int i) { f_.Preview(i); }

void SelectionShown::Processed(int i, const Outcome& processed) {
  // The windows show no message for a file of values that are not
  // numbers; the debug log says it in words.
  if (!processed && processed.Text().starts_with(kNotNumbersMessage)) {
    DebugLine(f_, processed.Text());
    return;
  }
  // A file that could not be read leaves the last picture on screen: the
  // status bar says which file it was and why, outside a run (whose summary
  // counts them), until an image is read again.
  if (f_.s.RunState != kIdle) return;
  static const std::string kUnread = "Image illisible : ", kUnusable = "Image inutilisable : ";
  if (processed) {
    if (f_.StatusText.starts_with(kUnread) || f_.StatusText.starts_with(kUnusable)) f_.StatusText.clear();
    return;
  }
  const std::string words = OutcomeWords(processed, PathName(f_.s.Entry(i).ImgFile), FileTask::Process);
  f_.StatusText = (ReadButUnusable(words) ? kUnusable : kUnread) + words;
}

void SelectionShown::Shown(int i) {
  Session& s = f_.s;
  const ImageEntry& e = s.Entry(i);
  f_.Caption = PathName(e.ImgFile) + "  " + std::to_string(i) + "/" + std::to_string(s.ImageCount());
  DebugLine(f_, "Sélection de " + f_.Caption);
  f_.ShowHisto();
}

void SelectionShown::Marks(int i, const FrameMarks& marks) {
  const ImageEntry& e = f_.s.Entry(i);
  f_.Check5 = (e.ImgRegFlags & kNewRef) ? 1 : 0;
  f_.Check2 = (e.ImgRegFlags & kNewPos) ? 1 : 0;
  f_.Shape3.Visible = f_.Line2.Visible = f_.Line3.Visible = f_.Line4.Visible = false;
  f_.Label9.Visible = f_.Label10.Visible = false;
  if (!marks.measured) return;
  f_.Text4 = std::to_string(marks.shiftX);
  f_.Text5 = std::to_string(marks.shiftY);
  f_.Text6 = LocaleFromDouble(marks.angle, f_.s.locale);
  f_.Check7 = e.ImgRot;
  f_.Check8 = e.ImgNewRot;
}

void SelectionShown::Tracked(int i) {
  Session& s = f_.s;
  const ImageEntry& e = s.Entry(i);
  const int u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
  const double zoom = s.opt.PicZoom != 0 ? s.opt.PicZoom : 1;
  if (e.ImgRot) {
    f_.Line3 = {true, s.guide.RotCentreX / zoom, s.guide.RotCentreY / zoom, e.ImgRotX * u1 / zoom,
                e.ImgRotY * u2 / zoom};
    LabelAt(f_.Label9, f_.Line3);
  }
  if (e.ImgNewRot) {
    f_.Line4 = {true, s.guide.GuideX / zoom, s.guide.GuideY / zoom, e.ImgNewRotX * u1 / zoom, e.ImgNewRotY * u2 / zoom};
    LabelAt(f_.Label10, f_.Line4);
  }
  f_.Label1 = StatusText(s);

  double w = e.ImgNaxis1, h = e.ImgNaxis2;
  if (s.opt.Has(Bin2x2)) {
    w = Int(w / 2);
    h = Int(h / 2);
  }
  if (s.opt.Has(EdgeCut)) {
    const double edge = CInt(s.opt.EdgeSize / zoom);
    f_.Shape4 = {true, edge, edge, w / zoom - 2 * edge, h / zoom - 2 * edge};
  } else {
    f_.Shape4.Visible = false;
  }
  if (s.opt.Has(CircCrop)) {
    const double r = CInt(s.opt.FovR * h);
    f_.Shape5 = {true, (s.opt.FovX * w - r) / zoom, (s.opt.FovY * h - r) / zoom, 2 * r / zoom, 2 * r / zoom};
  } else {
    f_.Shape5.Visible = false;
  }
  f_.PanBarsVisible = true;
  s.window->ShowImage();
}

void SelectionShown::Failed(int error) { DebugLine(f_, "Erreur " + std::to_string(error)); }

}  // namespace qv
