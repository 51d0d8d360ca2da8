#include "workspace/form1_events.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/error_words.h"
#include "core/paths.h"
#include "core/run_files.h"
#include "display/render.h"
#include "process/image_files.h"
#include "stack/accumulate.h"
#include "stack/auto_marks.h"
#include "stack/guide.h"
#include "stack/run_control.h"
#include "workspace/frame_report.h"
#include "workspace/image_list.h"
#include "workspace/project.h"
#include "workspace/run.h"
#include "workspace/settings.h"

namespace qv {

namespace {

ImageEntry& Current(Form1& f) { return f.s.Entry(f.s.CurPic); }

// The picture's upper bounds, which turn pixels into the fractions that
// image entries hold. Without planes there is nothing to measure against.
int U1(const Session& s) {
  if (s.pic.PicR.Empty()) Raise(kErrSubscript);
  return s.pic.PicR.UBound1();
}
int U2(const Session& s) {
  if (s.pic.PicR.Empty()) Raise(kErrSubscript);
  return s.pic.PicR.UBound2();
}

double Fraction(double pixels, int ubound) {
  if (ubound == 0) Raise(kErrDivisionByZero);
  return pixels / ubound;
}

void ShowHisto(Form1& f) { f.ShowHisto(); }

// Click mode chosen by a plain click's selected button.
int ModeOfOption2(int option2) {
  switch (option2) {
    case 0:
      return kShiftMask;
    case 2:
      return kCtrlMask;
    case 3:
      return kAltMask;
    case 4:
      return kCtrlMask | kAltMask;
    default:
      return 0;
  }
}

// What a click of `mode` at (px, py) did to entry e, for the status bar:
// a click whose box is not ticked is kept but changes nothing, which the
// picture alone does not show.
std::string ClickEffect(const ImageEntry& e, int mode, bool plain, int px, int py) {
  char point[32];
  std::snprintf(point, sizeof point, "(%d, %d)", px, py);
  const std::string at = point;
  auto tick = [](const char* box) {
    return std::string("sans effet sur cette image : cochez « ") + box + " » pour l'appliquer";
  };
  switch (mode) {
    case kShiftMask:
      return "Référence placée en " + at +
             ((e.ImgRegFlags & kNewRef) ? std::string() : ", " + tick("Nouvelle référence (Maj. Click)"));
    case kCtrlMask:
    case kAltMask: {
      const bool rotation = mode == kCtrlMask;
      const char* box = rotation ? "Rotation (CTL click)" : "Nouvelle Rotation (ALT click)";
      const std::string star = rotation ? "l'étoile de rotation" : "la nouvelle étoile de rotation";
      if (rotation ? e.ImgRot : e.ImgNewRot)
        return (rotation ? "Étoile" : "Nouvelle étoile") + std::string(" de rotation placée près de ") + at;
      // A plain click acts in the mode the buttons chose, which a new list
      // keeps from the last: the guide star may be what the user meant.
      if (plain)
        return std::string("Clic sans effet sur cette image : le mode « ") + box +
               " » est choisi et sa case n'est pas cochée ; cochez-la pour placer " + star +
               ", ou choisissez « Nouvelle position (Click) » pour placer l'étoile guide";
      return "Clic " + tick(box);
    }
    case kCtrlMask | kAltMask:
      return "Point de zone ajouté en " + at;
    default:
      if (!(e.ImgRegFlags & kNewPos)) return "Étoile guide notée en " + at + ", " + tick("Nouvelle position (Click)");
      // On a guide-star change the template is taken again at the reference.
      if ((e.ImgRegFlags & kNewRef) && e.RefOrigin != PairOrigin::Placed)
        return "Étoile guide placée en " + at +
               " ; pour « Exécuter », placez aussi la référence sur cette étoile (Maj+clic), ou lancez « Marques "
               "automatiques », qui la suivra";
      return "Étoile guide placée en " + at;
  }
}

}  // namespace

void Picture1_MouseDown(Form1& f, int button, int shift, double x, double y) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  // A statement that fails is skipped and the click goes on with the next:
  // on a picture one column wide the y fraction is still stored, and the
  // marks are shown again whatever failed before.
  int16_t px = 0, py = 0;
  Ignoring([&] { px = CInt(x * s.opt.PicZoom); });
  Ignoring([&] { py = CInt(y * s.opt.PicZoom); });
  if (button == kRightButton) {
    Ignoring([&] {
      const std::string rgb = std::to_string(s.pic.PicR.At(px, py)) + "," + std::to_string(s.pic.PicG.At(px, py)) +
                              "," + std::to_string(s.pic.PicB.At(px, py));
      f.Caption = "(x,y)=(" + std::to_string(px) + "," + std::to_string(py) + ") RGB=(" + rgb + ")";
    });
    return;
  }
  int mode = shift;
  if (mode == 0) mode = ModeOfOption2(f.Option2);
  switch (mode) {
    case kShiftMask:
      Ignoring([&] { Current(f).ImgRefX = Fraction(px, U1(s)); });
      Ignoring([&] { Current(f).ImgRefY = Fraction(py, U2(s)); });
      Ignoring([&] { Current(f).RefOrigin = PairOrigin::Placed; });
      break;
    case kCtrlMask:
    case kAltMask:
      Ignoring([&] {
        ImageEntry& e = Current(f);
        if (!(mode == kCtrlMask ? e.ImgRot : e.ImgNewRot)) return;
        double& rx = mode == kCtrlMask ? e.ImgRotX : e.ImgNewRotX;
        double& ry = mode == kCtrlMask ? e.ImgRotY : e.ImgNewRotY;
        // The centroid goes into the entry's pair, which is then divided
        // into fractions: a centroid that fails leaves the pair as it was
        // for the divisions.
        Ignoring([&] { StarCentroid(s, px, py, rx, ry); });
        Ignoring([&] { rx = Fraction(rx, U1(s)); });
        Ignoring([&] { ry = Fraction(ry, U2(s)); });
      });
      break;
    case kCtrlMask | kAltMask:
      Ignoring([&] { Current(f).ImgZone += Str(Fraction(px, U1(s))) + "," + Str(Fraction(py, U2(s))) + ";"; });
      break;
    default:
      Ignoring([&] { Current(f).ImgGuideX = Fraction(px, U1(s)); });
      Ignoring([&] { Current(f).ImgGuideY = Fraction(py, U2(s)); });
      Ignoring([&] { Current(f).GuideOrigin = PairOrigin::Placed; });
      break;
  }
  Ignoring([&] {
    f.StatusText = ClickEffect(Current(f), mode, shift == 0, px, py);
    f.ClickStatus = f.StatusText;
  });
  if (mode == (kCtrlMask | kAltMask)) {
    // The new point shows at once, over the image as it is, not
    // reprocessed.
    Ignoring([&] { f.ShowZones(true); });
  } else {
    SelectPic(f, s.CurPic, true, false);
  }
}

void Check5_Click(Form1& f) {
  if (!Form1Idle(f)) return;
  if (f.Check5 == 1) {
    Ignoring([&] { Current(f).ImgRegFlags |= kNewRef; });
    SelectOption2(f, 0);
  } else {
    Ignoring([&] { Current(f).ImgRegFlags &= 254; });
  }
}

void Check2_Click(Form1& f) {
  if (!Form1Idle(f)) return;
  if (f.Check2 == 1) {
    Ignoring([&] { Current(f).ImgRegFlags |= kNewPos; });
    SelectOption2(f, 1);
  } else {
    Ignoring([&] { Current(f).ImgRegFlags &= 253; });
  }
}

namespace {

// A rotation box ticked before its star is placed draws its line to the
// picture's corner: the status line says what the box waits for.
void AskForRotationStar(Form1& f, bool ticked, double x, double y, const char* star, const char* click) {
  if (ticked && x == 0 && y == 0)
    f.StatusText = std::string("Cliquez sur ") + star + " de cette image (" + click +
                   ") : jusque-là, son trait va au coin de l'image";
}

}  // namespace

// The rotation boxes are guarded by the busy flag only: they may be used
// while nothing else runs, whatever the run state says.
void Check7_Click(Form1& f) {
  Session& s = f.s;
  if (f.Busy) return;
  Ignoring([&] { Current(f).ImgRot = static_cast<uint8_t>(f.Check7); });
  if (f.Check7 == 1) SelectOption2(f, 2);
  SelectPic(f, s.CurPic, false, false);
  Ignoring([&] {
    const ImageEntry& e = Current(f);
    AskForRotationStar(f, e.ImgRot, e.ImgRotX, e.ImgRotY, "l'étoile de rotation", "clic, ou Ctrl+clic");
  });
}

void Check8_Click(Form1& f) {
  Session& s = f.s;
  if (f.Busy) return;
  Ignoring([&] { Current(f).ImgNewRot = static_cast<uint8_t>(f.Check8); });
  if (f.Check8 == 1) SelectOption2(f, 3);
  SelectPic(f, s.CurPic, false, false);
  Ignoring([&] {
    const ImageEntry& e = Current(f);
    AskForRotationStar(f, e.ImgNewRot, e.ImgNewRotX, e.ImgNewRotY, "la nouvelle étoile de rotation",
                       "clic, ou Alt+clic");
  });
}

namespace {

// A number typed in a shift or angle box, read as Val reads it ("-12abc"
// -> -12, "x" -> 0, "2,5" -> 2). Where the user's decimal sign is a comma
// the boxes show "2,5", and a user there types it so: either mark is then
// the decimal point (nobody groups the thousands of an angle or a shift).
double TypedNumber(std::string text, const NumLocale& locale) {
  if (locale.decimal == ',') std::replace(text.begin(), text.end(), ',', '.');
  return Val(text);
}

}  // namespace

void Text4_Change(Form1& f) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  Ignoring([&] { Current(f).ImgShiftX = Fraction(TypedNumber(f.Text4, s.locale), U1(s)); });
}

void Text5_Change(Form1& f) {
  Session& s = f.s;
  if (!Form1Idle(f)) return;
  Ignoring([&] { Current(f).ImgShiftY = Fraction(TypedNumber(f.Text5, s.locale), U2(s)); });
}

void Text6_Change(Form1& f) {
  if (!Form1Idle(f)) return;
  Ignoring([&] { Current(f).ImgAngle = TypedNumber(f.Text6, f.s.locale); });
}

void Option2_Click(Form1& f, int index) {
  if (index == 4) {
    f.Form6Visible = true;
    f.ShowZones(false);
  } else if (f.Form6Visible) {
    form6::Form_QueryUnload(f);
  }
}

void SelectOption2(Form1& f, int index) {
  if (index < 0 || index > 4) return;
  f.Option2 = static_cast<int16_t>(index);
  Option2_Click(f, index);
}

void Form_KeyDown(Form1& f, int keyCode, int /*shift*/, bool focusOnStrip) {
  Session& s = f.s;
  if (keyCode == kKeyEscape && s.RunState == kRunning) s.RunState = kStopRequested;
  if (!Form1Idle(f) || focusOnStrip) return;
  if (keyCode == kKeyUp) SelectPic(f, s.CurPic - 1, false, false);
  if (keyCode == kKeyDown) SelectPic(f, s.CurPic + 1, false, false);
}

void mnuZoom_Click(Form1& f, int index, SettingsStore& store) {
  Session& s = f.s;
  if (!Form1Idle(f) || index < 0 || index > 3) return;
  f.mnuZoom = {};
  f.mnuZoom[static_cast<size_t>(index)] = true;
  const int16_t z = static_cast<int16_t>(1 << index);
  if (z == s.opt.PicZoom) return;
  f.HScroll2Value = CInt(f.HScroll2Max / 2.0);
  f.VScroll2Value = CInt(f.VScroll2Max / 2.0);
  s.opt.PicZoom = z;
  SelectPic(f, s.CurPic, false, false);
  OptionPlace place = PlaceOf(f);
  WriteOptions(store, StoreWriter::ZoomMenu, place, s.locale);
}

namespace {

// A folder that no file browser took: the menu did nothing, which the line
// says with the folder.
void ExploreFolder(Form1& f, Desktop& desktop, const std::string& folder) {
  if (!Form1Idle(f) || desktop.OpenFolder(folder)) return;
  f.StatusText = folder.empty() ? "Aucun répertoire à ouvrir"
                                : "Répertoire non ouvert (aucun gestionnaire de fichiers ne l'a pris) : " + folder;
}

}  // namespace

void mnuExplSource_Click(Form1& f, Desktop& desktop) { ExploreFolder(f, desktop, f.s.opt.InitDir); }

void mnuExplOutput_Click(Form1& f, Desktop& desktop) { ExploreFolder(f, desktop, f.s.opt.OutDir); }

void mnubar11_Click(Form1& f) {
  f.mnubar11 = !f.mnubar11;
  f.Text7Visible = f.mnubar11;
}

void mnuGrad_Click(Form1& f) {
  f.mnuGrad = !f.mnuGrad;
  ShowHisto(f);
}

void mnuZone_Click(Form1& f) {
  f.mnuZone = !f.mnuZone;
  ShowHisto(f);
}

void mnuDebug_Click(Form1& f, Desktop& desktop) {
  f.mnuDebug = !f.mnuDebug;
  if (!f.mnuDebug) {
    form4::Form_QueryUnload(f);
    return;
  }
  const ScreenRect screen = desktop.Screen(), free = desktop.AvailableArea();
  const int w = static_cast<int>(Int(screen.Width / 4.0));
  const int screenBottom = screen.Top + screen.Height, freeBottom = free.Top + free.Height;
  // A task bar at the bottom is what makes the free area end above the
  // screen's bottom edge; its top edge is where both windows end. Without
  // one (or with a free area that ends too high to be left by a task bar)
  // they take 90% of the screen's height.
  const bool taskBar = freeBottom < screenBottom && freeBottom > screen.Top + 300;
  int h = taskBar ? freeBottom - screen.Top : CInt(screen.Height * 0.9);
  // Both stay within the free area: below a panel at the top, above one at
  // the bottom.
  const int top = std::max(screen.Top, free.Top);
  h = std::max(1, std::min(h, freeBottom - top));
  f.Form1Rect = {screen.Left, top, 3 * w, h};
  f.Form4Rect = {screen.Left + 3 * w, top, w, h};
}

void Picture3_MouseDown(Form1& f, double x) {
  if (!Form1Idle(f)) return;
  f.Line1X = x;
  f.Line1Visible = true;
  Ignoring([&] { f.Label6 = std::to_string(CLng(Int(x * 32))); });
}

void mnu_Click(Form1& f, int index, Desktop& desktop, const std::function<void()>& options) {
  switch (index) {
    case 3:
      if (options) options();
      break;
    case 4:
      if (f.s.RunState != kIdle) break;
      // Asked before the run starts, so that a No leaves everything as it was.
      if (!TempSpaceAgreed(f, desktop)) {
        f.StatusText = "Exécution annulée : place insuffisante pour les fichiers temporaires";
        break;
      }
      // What the status bar said of the last run is not about this one.
      f.StatusText = "Exécution en cours";
      f.CloseStoppedRun = false;
      f.LastRun = RunStack(f);
      f.HasRun = true;
      ++f.RunsEnded;
      RefreshReport(f);
      f.StatusText = f.Report.StatusLine();
      if (!f.IgnoredDuringRun.empty()) {
        std::string controls;
        for (const std::string& c : f.IgnoredDuringRun) controls += (controls.empty() ? "" : ", ") + c;
        f.StatusText += " ; changé pendant l'exécution, sans effet : " + controls + " (choisissez de nouveau)";
        f.IgnoredDuringRun.clear();
      }
      if (f.CloseStoppedRun) f.StatusText += " ; fermez de nouveau la fenêtre pour quitter";
      f.CloseStoppedRun = false;
      // A run that left out a checked image says which ones, and why.
      if (f.Report.AnyLeftOut()) f.mnuReport = true;
      break;
    case 5:
      RequestStop(f.s);
      break;
    default:
      break;
  }
}

bool Form_QueryUnload(Form1& f, Desktop& desktop, SettingsStore& store) {
  Session& s = f.s;
  if (s.RunState != kIdle) {
    RequestStop(s);
    f.CloseStoppedRun = true;
    return true;
  }
  if (!desktop.AskYesNo("Confimer quitter")) return true;
  Ignoring([&] { SaveSettingsAtQuit(f, store); });
  Ignoring([&] { DeleteTempFiles(s); });
  f.Form6Visible = false;
  f.mnuDebug = false;
  return false;
}

void EndWithoutAsking(Form1& f) {
  Ignoring([&] { DeleteTempFiles(f.s); });
  RemoveOwnRunFiles();
}

namespace form6 {

void Command1_Click(Form1& f) {
  Ignoring([&] { Current(f).ImgZone.clear(); });
  ShowHisto(f);
}

void Command2_Click(Form1& f) {
  Session& s = f.s;
  int copied = 0;
  bool none = false;
  Ignoring([&] {
    const std::string zone = Current(f).ImgZone;
    none = zone.empty();
    for (int i = s.CurPic + 1; i <= s.ImageCount(); ++i, ++copied) s.Entry(i).ImgZone = zone;
  });
  // Nothing on the picture changes: the status bar says what was done.
  const std::string following =
      copied == 1 ? std::string("l'image suivante") : "les " + std::to_string(copied) + " images suivantes";
  if (copied > 0)
    f.StatusText = none ? "Zones effacées sur " + following
                        : "Zones de l'image " + std::to_string(s.CurPic) + " copiées sur " + following;
}

void Command3_Click(Form1& f) {
  Ignoring([&] {
    std::string& zone = Current(f).ImgZone;
    if (!zone.empty() && zone.back() != 'S') zone += 'S';
  });
}

void Form_QueryUnload(Form1& f) {
  f.Form6Visible = false;
  if (f.Option2 == 4) f.Option2 = 1;
}

}  // namespace form6

namespace form4 {

// The window goes, and its list with it: opened again, it starts empty.
void Form_QueryUnload(Form1& f) {
  f.mnuDebug = false;
  f.DebugLog.clear();
}

}  // namespace form4

void Image1_Click(Form1& f, int index) {
  if (Form1Idle(f)) SelectPic(f, index, false, false);
}

void VScroll1_Change(Form1& f) {
  if (Form1Idle(f)) SelectPic(f, f.VScroll1Value, true, true);
}

void OpenCommandLine(Form1& f, const std::string& commandLine) {
  Session& s = f.s;
  std::string arg = commandLine;
  if (!arg.empty() && arg.front() == '"') arg = arg.size() >= 2 ? arg.substr(1, arg.size() - 2) : std::string();
  if (arg.size() >= 3 && LCase(arg.substr(arg.size() - 3)) == "txt") {
    LoadProject(f, arg);
    return;
  }
  Ignoring([&] { s.ResizeImageArrays(0); });
  Ignoring([&] { s.ResizeImageArrays(1); });
  Ignoring([&] {
    s.Img[1] = ImageEntry{};
    s.Img[1].ImgFile = arg;
  });
  Ignoring([&] { ReadHeader(s, 1); });
  Ignoring([&] { SelectOption1(f, 2); });
  f.LastOpening = {};
  Populate(f, 1, true);
  f.Picture1Visible = true;
  f.Frame2Visible = true;
  ForgetReport(f);
  if (!f.LastOpening.Empty()) f.StatusText = OpeningNote(f.LastOpening, "de la ligne de commande");
}

Plane<int32_t> ThumbnailPicture(const Session& s) {
  const double black = (s.pic.LevelLow - (s.pic.LevelLow - s.pic.LevelMin) * s.opt.Hsens / 20) * 32;
  const double white = ((s.pic.LevelMax - s.pic.LevelHigh) * s.opt.Hsens / 20 + s.pic.LevelHigh) * 32;
  const Plane<int32_t> pixels = DrawImage(s.pic.PicR, s.pic.PicG, s.pic.PicB, black, white, 1, s.opt.Has(Mono));
  return ShowPixels(
      pixels, ShowPixelsGeometry(pixels.Width(), pixels.Height(), s.opt.Has(PixAspect), s.opt.PixRatio, 0, false));
}

std::string AutoMarksText(const Session& s, const AutoMarkReport& report) {
  const int n = s.ImageCount();
  auto name = [&](int i) { return i >= 1 && i <= n ? PathName(s.Img[static_cast<size_t>(i)].ImgFile) : std::string(); };
  // The images left unmarked, each with why; the reason names the file by
  // its whole path, which its line already begins with by name.
  std::string missing;
  for (const ImageMark& m : report.images) {
    if (m.marked || m.reference) continue;
    const std::string path = m.image >= 1 && m.image <= n ? s.Img[static_cast<size_t>(m.image)].ImgFile : "";
    missing += "\r\n" + name(m.image) + " : " + WithoutPath(m.reason, path);
  }
  if (!report.ok) {
    std::string text = "Marques automatiques impossibles : " + report.message;
    for (const std::string& note : report.notes) text += "\r\n(" + note + ")";
    if (!missing.empty()) text += "\r\nIllisibles (décochées) :" + missing;
    return text;
  }
  std::string text;
  const auto ref =
      std::find_if(report.images.begin(), report.images.end(), [](const ImageMark& m) { return m.reference; });
  if (ref != report.images.end()) {
    text = "Étoile suivie : (" + std::to_string(CLng(ref->x)) + ", " + std::to_string(CLng(ref->y)) + ") sur " +
           name(ref->image) +
           (report.source == StarSource::Reference ? ", la référence marquée"
            : report.source == StarSource::Guide   ? ", l'étoile guide marquée"
                                                   : ", choisie automatiquement") +
           "\r\n";
  }
  // With a rotation star, where it is and on how many images it was found:
  // the images without it do not measure the field's turn.
  auto rotated = [](const ImageMark& m) { return m.rotationMarked; };
  if (const auto r = std::find_if(report.images.begin(), report.images.end(), rotated); r != report.images.end()) {
    const auto rotating = std::count_if(r, report.images.end(), rotated);
    text += "Étoile de rotation : (" + std::to_string(CLng(r->rotX)) + ", " + std::to_string(CLng(r->rotY)) + ") sur " +
            name(r->image) + ", marquée sur " + std::to_string(rotating) + " image" + (rotating > 1 ? "s" : "") +
            "\r\n";
  }
  for (const std::string& note : report.notes) text += "(" + note + ")\r\n";
  const auto marked = std::count_if(report.images.begin(), report.images.end(),
                                    [](const ImageMark& m) { return m.marked || m.reference; });
  text += "Images marquées : " + std::to_string(marked) + " sur " + std::to_string(report.images.size());
  // The marks look only at ticked images: an earlier run's unticked ones
  // stay out unless the user ticks them again.
  const int left = n - static_cast<int>(report.images.size());
  if (!report.images.empty() && left > 0)
    text += "\r\n(" + std::to_string(left) +
            (left > 1 ? " images décochées laissées de côté" : " image décochée laissée de côté") +
            " : cochez-les pour les marquer)";
  if (!missing.empty()) text += "\r\nNon marquées (décochées) :" + missing;
  // A veiled or blurred first image still matches the others and becomes
  // the run's reference, every frame scoring against its faint stars: its
  // star count, against the others', is the one sign the user gets.
  std::vector<size_t> others;
  for (const ImageMark& m : report.images)
    if (!m.reference && m.stars > 0) others.push_back(m.stars);
  if (ref != report.images.end() && others.size() >= 2) {
    std::nth_element(others.begin(), others.begin() + others.size() / 2, others.end());
    const size_t median = others[others.size() / 2];
    if (ref->stars * 2 < median)
      text += "\r\n(l'image de référence " + name(ref->image) + " n'a que " + std::to_string(ref->stars) +
              " étoiles, contre " + std::to_string(median) +
              " en médiane pour les autres : voilée ou floue ? Décochez-la et relancez les marques : la première "
              "image cochée devient la référence)";
  }
  return text;
}

std::string StoppedMarksText(const AutoMarkReport& report) {
  std::string text = "Marques automatiques arrêtées";
  if (!report.ok || report.images.empty()) return text;
  const auto marked = std::count_if(report.images.begin(), report.images.end(),
                                    [](const ImageMark& m) { return m.marked || m.reference; });
  return text + " : " + Counted(static_cast<int>(marked), "image marquée", "images marquées") + " sur " +
         std::to_string(report.images.size()) +
         " examinées ; les suivantes gardent leurs marques d'avant\r\n(relancez les marques pour les marquer toutes)";
}

void mnuAutoMarks_Click(Form1& f, bool rotation) {
  if (!Form1Idle(f)) return;
  Session& s = f.s;
  AutoMarkOptions options;
  options.rotation = rotation;
  // The marks process images, not the stack: the last result stays open.
  StartProcessKeepingResult(s);
  const std::string caption = f.Caption;
  f.StatusText = "Marques automatiques en cours";
  const int n = s.ImageCount();
  AutoMarkReport report;
  // The marks look at the checked images alone.
  int examined = 0;
  const auto toExamine =
      std::count_if(s.Img.begin() + 1, s.Img.end(), [](const ImageEntry& e) { return e.ImgChecked; });
  auto untickedInStrip = [&](int i) {
    if (static_cast<size_t>(i) < f.Check9.size()) f.Check9[static_cast<size_t>(i)].Value = s.Entry(i).ImgChecked;
  };
  // A first ticked image that cannot be read is unticked, as the marks
  // untick the unreadable ones further on, and the next ticked image
  // becomes the reference: a folder's stray files then cost no retries.
  std::vector<ImageMark> unreadable;
  std::string blocked;
  for (;;) {
    // A pass that fails with an error leaves no report of its own: the last
    // pass's must not be taken for it.
    report = AutoMarkReport{};
    Ignoring([&] {
      report = AutoMarks(s, options, [&](const ImageMark& m) {
        // The caption counts the images, the progress bar shows how far a
        // long night has come.
        s.progress.Report("Marques automatiques " + std::to_string(m.image) + "/" + std::to_string(n),
                          toExamine > 0 ? std::min(1.0, static_cast<double>(++examined) / toExamine) : -1);
        // An image the marks could not follow, or left out for its wide
        // stars, is unticked in the strip too.
        if (!m.marked) untickedInStrip(m.image);
      });
    });
    const int k = report.reference;
    if (report.ok || report.referenceUnread.empty() || s.RunState == kStopRequested || k < 1 || k > n) break;
    // Every image is measured against the size of list image 1: without
    // it, none can be read, and only a list without that file helps.
    if (s.Img[1].ImgNaxis1 < 2 || s.Img[1].ImgNaxis2 < 2) {
      blocked =
          "l'image 1 donne sa taille aux autres : illisible, elle les rend toutes illisibles ; « Nouveau », puis "
          "ajoutez les images sans elle";
      break;
    }
    s.Entry(k).ImgChecked = 0;
    untickedInStrip(k);
    // Listed as the images the marks could not read further on are.
    ImageMark skipped;
    skipped.image = k;
    skipped.reason = report.referenceUnread;
    unreadable.push_back(skipped);
    ++examined;
  }
  report.images.insert(report.images.begin(), unreadable.begin(), unreadable.end());
  if (!blocked.empty()) report.notes.push_back(blocked);
  const bool stopped = s.RunState == kStopRequested;
  StopProcess(s);
  f.Caption = caption;  // the marks' count goes; the image shown is named again below
  // The marks change what a run would do: the last run no longer applies.
  f.LastMarks = report;
  f.HasMarks = true;
  f.HasRun = false;
  RefreshReport(f);
  const std::string text = stopped ? StoppedMarksText(report) : AutoMarksText(s, report);
  // The status bar says it too, on one line, in place of the last run's
  // summary, which no longer applies.
  std::string line = text;
  for (size_t at; (at = line.find("\r\n")) != std::string::npos;)
    line.replace(at, 2, at > 0 && line[at - 1] == ':' ? " " : " ; ");
  f.StatusText = line;
  // The reference image shows with its guide box on the star the marks
  // follow, after a stop too: the marks it made stand. It is shown before
  // the report, behind it: shown after, its loading kept the window busy
  // for a moment once the report was closed, and a command given then
  // (Ctrl+S) was lost.
  if (report.ok) SelectPic(f, report.reference, false, false);
  f.MsgBox(text);
}

}  // namespace qv
