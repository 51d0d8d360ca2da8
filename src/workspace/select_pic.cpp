#include "workspace/select_pic.h"

#include "core/paths.h"
#include "process/process_pic.h"
#include "stack/guide.h"

namespace qv {

namespace {

// A mark label just beside the end of its line.
void LabelAt(ShapeMark& label, const LineMark& line) {
  label.Left = line.X2 + 3;
  label.Top = line.Y2 - 3;
  label.Visible = true;
}

}  // namespace

std::string StatusText(const Session& s) {
  const ImageEntry& e = s.Img.at(static_cast<size_t>(s.CurPic));
  double w = e.ImgNaxis1, h = e.ImgNaxis2;
  if (s.opt.Has(Bin2x2)) {
    w = Int(w / 2);
    h = Int(h / 2);
  }
  const double zoom = s.opt.PicZoom != 0 ? s.opt.PicZoom : 1;
  std::string t = std::to_string(static_cast<int>(w)) + "x" + std::to_string(static_cast<int>(h)) + "\r\n";
  t += "Zoom=" + FormatPercent(1 / zoom, s.locale) + "\r\n";
  t += "Qualité = " + FormatPercent(s.guide.Quality, s.locale) + "\r\n";
  if (s.opt.Has(HotCalc)) t += "Pixels chauds\r\n";
  if (s.cal.UseHotMask) t += "Masque\r\n";
  if (s.opt.Has(Bin2x2)) t += "Fusion 2x2\r\n";
  if (s.cal.UseDark) t += "Dark ";
  if (s.cal.UseFlat) t += "PLU";
  if (s.opt.Has(GradRemove)) t += "\r\nGradient";
  return t;
}

Outcome LoadSelectedImage(Form1& f, int index) {
  Session& s = f.s;
  s.CurPic = static_cast<int16_t>(index);
  f.Preview(index);
  s.DoEvents();
  const Outcome r = ProcessPic(s, index, 1);
  // The windows show no message for a file of values that are not
  // numbers; the debug log says it in words.
  if (!r && r.Text().starts_with(kNotNumbersMessage)) DebugLine(f, r.Text());
  s.DoEvents();
  return r;
}

void ShowSelectedImage(Form1& f, int index) {
  Session& s = f.s;
  ImageEntry& e = s.Entry(index);
  f.Caption = PathName(e.ImgFile) + "  " + std::to_string(index) + "/" + std::to_string(s.ImageCount());
  DebugLine(f, "Sélection de " + f.Caption);
  f.ShowHisto();

  // Without planes there is nothing to measure the marks against.
  if (s.pic.PicR.Empty()) Raise(kErrSubscript);
  const int u1 = s.pic.PicR.UBound1(), u2 = s.pic.PicR.UBound2();
  f.Check5 = (e.ImgRegFlags & 1) ? 1 : 0;
  f.Check2 = (e.ImgRegFlags & 2) ? 1 : 0;
  f.Shape3.Visible = f.Line2.Visible = f.Line3.Visible = f.Line4.Visible = false;
  f.Label9.Visible = f.Label10.Visible = false;
  f.Text4 = std::to_string(CInt(e.ImgShiftX * u1));
  f.Text5 = std::to_string(CInt(e.ImgShiftY * u2));
  f.Text6 = LocaleFromDouble(e.ImgAngle, s.locale);
  f.Check7 = e.ImgRot;
  f.Check8 = e.ImgNewRot;

  TrackGuide(s, index);

  const double zoom = s.opt.PicZoom != 0 ? s.opt.PicZoom : 1;
  if (e.ImgRot) {
    if (e.ImgRotX == 0 && e.ImgRotY == 0 && index > 1) {
      // The rotation star is followed from the previous image.
      e.ImgRotX = s.Img[static_cast<size_t>(index - 1)].ImgRotX;
      e.ImgRotY = s.Img[static_cast<size_t>(index - 1)].ImgRotY;
    }
    f.Line3 = {true, s.guide.RotCentreX / zoom, s.guide.RotCentreY / zoom, e.ImgRotX * u1 / zoom,
               e.ImgRotY * u2 / zoom};
    LabelAt(f.Label9, f.Line3);
  }
  if (e.ImgNewRot) {
    f.Line4 = {true, s.guide.GuideX / zoom, s.guide.GuideY / zoom, e.ImgNewRotX * u1 / zoom, e.ImgNewRotY * u2 / zoom};
    LabelAt(f.Label10, f.Line4);
  }
  f.Label1 = StatusText(s);

  double w = e.ImgNaxis1, h = e.ImgNaxis2;
  if (s.opt.Has(Bin2x2)) {
    w = Int(w / 2);
    h = Int(h / 2);
  }
  if (s.opt.Has(EdgeCut)) {
    const double edge = CInt(s.opt.EdgeSize / zoom);
    f.Shape4 = {true, edge, edge, w / zoom - 2 * edge, h / zoom - 2 * edge};
  } else {
    f.Shape4.Visible = false;
  }
  if (s.opt.Has(CircCrop)) {
    const double r = CInt(s.opt.FovR * h);
    f.Shape5 = {true, (s.opt.FovX * w - r) / zoom, (s.opt.FovY * h - r) / zoom, 2 * r / zoom, 2 * r / zoom};
  } else {
    f.Shape5.Visible = false;
  }
}

}  // namespace qv
