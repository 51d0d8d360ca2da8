#include "workspace/form1_events.h"

#include <cmath>

#include "stack/accumulate.h"
#include "stack/guide.h"
#include "stack/run.h"
#include "stack/run_control.h"
#include "workspace/image_list.h"
#include "workspace/settings.h"

namespace qv {

namespace {

ImageEntry& Current(Session& s) { return s.Entry(s.CurPic); }

// The picture's upper bounds, which turn pixels into the fractions that
// image entries hold. Without planes there is nothing to measure against.
int U1(const Session& s) {
  if (s.PicR.Empty()) Raise(kErrSubscript);
  return s.PicR.UBound1();
}
int U2(const Session& s) {
  if (s.PicR.Empty()) Raise(kErrSubscript);
  return s.PicR.UBound2();
}

double Fraction(double pixels, int ubound) {
  if (ubound == 0) Raise(kErrDivisionByZero);
  return pixels / ubound;
}

void ShowHisto(Session& s) {
  Form1& f = s.form1;
  if (f.hooks.showHisto) f.hooks.showHisto(s);
}

// Click mode chosen by a plain click's selected button.
int ModeOfOption2(int option2) {
  switch (option2) {
    case 0: return kShiftMask;
    case 2: return kCtrlMask;
    case 3: return kAltMask;
    case 4: return kCtrlMask | kAltMask;
    default: return 0;
  }
}

}  // namespace

void Picture1_MouseDown(Session& s, int button, int shift, double x, double y) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  try {
    const int16_t px = CInt(x * s.opt.PicZoom), py = CInt(y * s.opt.PicZoom);
    if (button == kRightButton) {
      const std::string rgb = std::to_string(s.PicR.At(px, py)) + "," + std::to_string(s.PicG.At(px, py)) + "," +
                              std::to_string(s.PicB.At(px, py));
      f.Caption = "(x,y)=(" + std::to_string(px) + "," + std::to_string(py) + ") RGB=(" + rgb + ")";
      return;
    }
    int mode = shift;
    if (mode == 0) mode = ModeOfOption2(f.Option2);
    ImageEntry& e = Current(s);
    switch (mode) {
      case kShiftMask:
        e.ImgRefX = Fraction(px, U1(s));
        e.ImgRefY = Fraction(py, U2(s));
        break;
      case kCtrlMask:
      case kAltMask:
        if (mode == kCtrlMask ? e.ImgRot : e.ImgNewRot) {
          double cx = 0, cy = 0;
          StarCentroid(s, px, py, cx, cy);
          (mode == kCtrlMask ? e.ImgRotX : e.ImgNewRotX) = Fraction(cx, U1(s));
          (mode == kCtrlMask ? e.ImgRotY : e.ImgNewRotY) = Fraction(cy, U2(s));
        }
        break;
      case kCtrlMask | kAltMask:
        e.ImgZone += Str(Fraction(px, U1(s))) + "," + Str(Fraction(py, U2(s))) + ";";
        break;
      default:
        e.ImgGuideX = Fraction(px, U1(s));
        e.ImgGuideY = Fraction(py, U2(s));
        break;
    }
    if (mode == (kCtrlMask | kAltMask)) {
      // The new point shows over the image as it is, not reprocessed.
      if (s.hooks.ShowImage) s.hooks.ShowImage();
    } else {
      SelectPic(s, s.CurPic, true, false);
    }
  } catch (const RuntimeError&) {
    // A click outside the image or its planes is ignored.
  }
}

void Check5_Click(Session& s) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  if (f.Check5 == 1) {
    Ignoring([&] { Current(s).ImgRegFlags |= kNewRef; });
    SelectOption2(s, 0);
  } else {
    Ignoring([&] { Current(s).ImgRegFlags &= 254; });
  }
}

void Check2_Click(Session& s) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  if (f.Check2 == 1) {
    Ignoring([&] { Current(s).ImgRegFlags |= kNewPos; });
    SelectOption2(s, 1);
  } else {
    Ignoring([&] { Current(s).ImgRegFlags &= 253; });
  }
}

// The rotation boxes are guarded by the busy flag only: they may be used
// while nothing else runs, whatever the run state says.
void Check7_Click(Session& s) {
  Form1& f = s.form1;
  if (f.Busy) return;
  Ignoring([&] { Current(s).ImgRot = static_cast<uint8_t>(f.Check7); });
  if (f.Check7 == 1) SelectOption2(s, 2);
  SelectPic(s, s.CurPic, false, false);
}

void Check8_Click(Session& s) {
  Form1& f = s.form1;
  if (f.Busy) return;
  Ignoring([&] { Current(s).ImgNewRot = static_cast<uint8_t>(f.Check8); });
  if (f.Check8 == 1) SelectOption2(s, 3);
  SelectPic(s, s.CurPic, false, false);
}

void Text4_Change(Session& s) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  Ignoring([&] { Current(s).ImgShiftX = Fraction(Val(f.Text4), U1(s)); });
}

void Text5_Change(Session& s) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  Ignoring([&] { Current(s).ImgShiftY = Fraction(Val(f.Text5), U2(s)); });
}

void Text6_Change(Session& s) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  Ignoring([&] { Current(s).ImgAngle = Val(f.Text6); });
}

void Option2_Click(Session& s, int index) {
  Form1& f = s.form1;
  if (index == 4) {
    f.Form6Visible = true;
    if (s.hooks.ShowImage) s.hooks.ShowImage();
  } else if (f.Form6Visible) {
    form6::Form_QueryUnload(s);
  }
}

void SelectOption2(Session& s, int index) {
  Form1& f = s.form1;
  if (index < 0 || index > 4) return;
  f.Option2 = static_cast<int16_t>(index);
  Option2_Click(s, index);
}

void Form_KeyDown(Session& s, int keyCode, int /*shift*/, bool focusOnStrip) {
  if (keyCode == kKeyEscape && s.RunState == 1) s.RunState = 2;
  if (!Form1Idle(s) || focusOnStrip) return;
  if (keyCode == kKeyUp) SelectPic(s, s.CurPic - 1, false, false);
  if (keyCode == kKeyDown) SelectPic(s, s.CurPic + 1, false, false);
}

void mnuZoom_Click(Session& s, int index, SettingsStore& store) {
  Form1& f = s.form1;
  if (!Form1Idle(s) || index < 0 || index > 3) return;
  f.mnuZoom = {};
  f.mnuZoom[static_cast<size_t>(index)] = true;
  const int16_t z = static_cast<int16_t>(1 << index);
  if (z == s.opt.PicZoom) return;
  f.HScroll2Value = CInt(f.HScroll2Max / 2.0);
  f.VScroll2Value = CInt(f.VScroll2Max / 2.0);
  s.opt.PicZoom = z;
  SelectPic(s, s.CurPic, false, false);
  store.Write(kSettingsSection, "PicZoom", LocaleFromDouble(z, s.locale));
}

void mnuExplSource_Click(Session& s, Desktop& desktop) {
  if (Form1Idle(s)) desktop.OpenFolder(s.opt.InitDir);
}

void mnuExplOutput_Click(Session& s, Desktop& desktop) {
  if (Form1Idle(s)) desktop.OpenFolder(s.opt.OutDir);
}

void mnubar11_Click(Session& s) {
  Form1& f = s.form1;
  f.mnubar11 = !f.mnubar11;
  f.Text7Visible = f.mnubar11;
}

void mnuGrad_Click(Session& s) {
  Form1& f = s.form1;
  f.mnuGrad = !f.mnuGrad;
  ShowHisto(s);
}

void mnuZone_Click(Session& s) {
  Form1& f = s.form1;
  f.mnuZone = !f.mnuZone;
  ShowHisto(s);
}

void mnuDebug_Click(Session& s, Desktop& desktop) {
  Form1& f = s.form1;
  f.mnuDebug = !f.mnuDebug;
  if (!f.mnuDebug) return;
  const ScreenRect screen = desktop.Screen(), free = desktop.AvailableArea();
  const int w = static_cast<int>(Int(screen.Width / 4.0));
  // The bottom of the free area stands where a task bar's top edge would.
  const int bottom = free.Top + free.Height;
  int h = bottom - screen.Top;
  if (!(bottom > screen.Top + 300 && bottom <= screen.Top + screen.Height)) h = CInt(screen.Height * 0.9);
  f.Form1Rect = {screen.Left, screen.Top, 3 * w, h};
  f.Form4Rect = {screen.Left + 3 * w, screen.Top, w, h};
}

void Picture3_MouseDown(Session& s, double x) {
  Form1& f = s.form1;
  if (!Form1Idle(s)) return;
  f.Line1X = x;
  f.Line1Visible = true;
  Ignoring([&] { f.Label6 = std::to_string(CLng(Int(x * 32))); });
}

void mnu_Click(Session& s, int index, const std::function<void()>& options) {
  switch (index) {
    case 3:
      if (options) options();
      break;
    case 4:
      RunStack(s);
      break;
    case 5:
      RequestStop(s);
      break;
    default:
      break;
  }
}

bool Form_QueryUnload(Session& s, Desktop& desktop, SettingsStore& store) {
  Form1& f = s.form1;
  if (s.RunState >= 1) {
    RequestStop(s);
    return true;
  }
  if (!desktop.AskYesNo("Confimer quitter")) return true;
  Ignoring([&] { SaveSettingsAtQuit(s, store); });
  Ignoring([&] { DeleteTempFiles(s); });
  f.Form6Visible = false;
  f.mnuDebug = false;
  return false;
}

namespace form6 {

void Command1_Click(Session& s) {
  Ignoring([&] { Current(s).ImgZone.clear(); });
  ShowHisto(s);
}

void Command2_Click(Session& s) {
  Ignoring([&] {
    const std::string zone = Current(s).ImgZone;
    for (int i = s.CurPic + 1; i <= s.ImageCount(); ++i) s.Entry(i).ImgZone = zone;
  });
}

void Command3_Click(Session& s) {
  Ignoring([&] {
    std::string& zone = Current(s).ImgZone;
    if (!zone.empty() && zone.back() != 'S') zone += 'S';
  });
}

void Form_QueryUnload(Session& s) {
  Form1& f = s.form1;
  f.Form6Visible = false;
  if (f.Option2 == 4) f.Option2 = 1;
}

}  // namespace form6

namespace form4 {

void Form_QueryUnload(Session& s) { s.form1.mnuDebug = false; }

}  // namespace form4

}  // namespace qv

#include "core/paths.h"
#include "io/fits_reader.h"
#include "workspace/project.h"

namespace qv {

void Image1_Click(Session& s, int index) {
  if (Form1Idle(s)) SelectPic(s, index, false, false);
}

void VScroll1_Change(Session& s) {
  Form1& f = s.form1;
  if (Form1Idle(s)) SelectPic(s, f.VScroll1Value, true, true);
}

void OpenCommandLine(Session& s, const std::string& commandLine) {
  Form1& f = s.form1;
  std::string arg = commandLine;
  if (!arg.empty() && arg.front() == '"') arg = arg.size() >= 2 ? arg.substr(1, arg.size() - 2) : std::string();
  if (arg.size() >= 3 && LCase(arg.substr(arg.size() - 3)) == "txt") {
    LoadProject(s, arg);
    return;
  }
  Ignoring([&] { s.ResizeImageArrays(0); });
  Ignoring([&] { s.ResizeImageArrays(1); });
  Ignoring([&] {
    s.Img[1] = ImageEntry{};
    s.Img[1].ImgFile = arg;
  });
  Ignoring([&] { ReadHeader(s, 1); });
  Ignoring([&] { SelectOption1(s, 2); });
  Populate(s, 1, true);
  f.Picture1Visible = true;
  f.Frame2Visible = true;
}

}  // namespace qv

#include "display/render.h"

namespace qv {

Plane<int32_t> ThumbnailPicture(const Session& s) {
  const double black = (s.LevelLow - (s.LevelLow - s.LevelMin) * s.opt.Hsens / 20) * 32;
  const double white = ((s.LevelMax - s.LevelHigh) * s.opt.Hsens / 20 + s.LevelHigh) * 32;
  const Plane<int32_t> pixels = DrawImage(s.PicR, s.PicG, s.PicB, black, white, 1, s.opt.Has(Mono));
  return ShowPixels(pixels, ShowPixelsGeometry(pixels.Width(), pixels.Height(), s.opt.Has(PixAspect),
                                               s.opt.PixRatio, 0, false));
}

}  // namespace qv
