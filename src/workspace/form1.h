// Control state of the main window, as a plain model: the Qt window only
// mirrors these values and forwards its events to the handlers. The model
// holds a reference to the session it works on and, while it exists, is each
// of the session's listeners: what the engine shows lands in these controls
// first, then goes on to the window that mirrors them (`outer`).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/plane.h"
#include "core/session.h"
#include "core/view.h"
#include "platform/desktop.h"
#include "workspace/results.h"

namespace qv {

// A check box under a thumbnail of the strip.
struct StripCheckBox {
  std::string Caption;
  int16_t Value = 0;
  // Text colour 0xRRGGBB and weight: they show the registration flags.
  int32_t ForeColor = 0;
  bool Bold = false;
  bool operator==(const StripCheckBox&) const = default;
};

// A mark drawn over the main picture, in display pixels.
struct ShapeMark {
  bool Visible = false;
  double Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const ShapeMark&) const = default;
};
struct LineMark {
  bool Visible = false;
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
  bool operator==(const LineMark&) const = default;
};

// The window that mirrors the main-window model hears all it hears: the Qt
// window, the command-line tool's printer, a test's spy.
struct Form1Window : Messages, GuideDisplay, MainWindowView {
  // The window that shows nothing.
  static Form1Window& None() {
    static Form1Window none;
    return none;
  }
};

struct Form1 : Messages, GuideDisplay, MainWindowView {
  explicit Form1(Session& session);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  Session& s;
  // The window that mirrors this model; null without one.
  Form1Window* outer = nullptr;

  std::string Caption = "Quelvista";
  // Guard flag: set while the window is loading or rebuilding its list.
  bool Busy = false;
  // The current project file (saved at quit as the Project key).
  std::string Project;
  // "Qualité minimale (%)": MinQual x 100.
  std::string Text3;
  // "Etendre la mosaïque" (0 or 1).
  int16_t Check6 = 0;
  // Black and white levels of the frame "Niveau" ("Minimum", "Maximum").
  std::string Text1, Text2 = "65535";
  // "Auto" of the frame "Niveau" (0 or 1).
  int16_t Check3 = 0;
  // Slider of the frame "Niveau", 0..20.
  int16_t HScroll1 = 0;
  // Guide box: 0 "32 x 32", 1 "64 x 64", 2 "Aucun".
  int16_t Option1 = 0;
  // First and last image of a partial run.
  std::string Text7, Text8;

  // The thumbnail strip: Check9(i) under thumbnail Image1(i); both control
  // arrays have the same elements, and element 0 is the hidden template.
  std::vector<StripCheckBox> Check9 = std::vector<StripCheckBox>(1);
  // Scroll bar of the strip.
  int16_t VScroll1Min = 1, VScroll1Max = 1, VScroll1Value = 1;
  // The thumbnail the selection frame Shape6 surrounds: the last image
  // selected, not wherever the strip's bar was moved since.
  int16_t Shape6Index = 0;
  bool Picture1Visible = false;   // the main picture
  bool Frame2Visible = false;     // registration controls
  bool Picture10Visible = false;  // the strip
  bool VScroll1Visible = false;
  // The pan scroll bars of the picture (HScroll2, VScroll2) and the box in
  // their corner (Picture6): shown with an image, hidden without one.
  bool PanBarsVisible = false;
  // The histogram box (Picture3) was emptied ("&Nouveau"); the next drawn
  // histogram fills it again.
  bool Picture3Cleared = false;

  // Menu "Fenêtre de débogage" checked, and the lines of the debug window.
  bool mnuDebug = false;
  std::vector<std::string> DebugLog;

  // Registration frame (Frame2): "Nouvelle position (Click)", "Nouvelle
  // référence (Maj. Click)", "Rotation (CTL click)", "Nouvelle Rotation (ALT
  // click)", the shifts in pixels and the extra angle.
  int16_t Check2 = 0, Check5 = 0, Check7 = 0, Check8 = 0;
  std::string Text4, Text5, Text6;
  // Status text of the shown image, and the run's progress label.
  std::string Label1, Label6;
  // The subset boxes are shown (menu "Sous-ensemble").
  bool Text7Visible = false;
  // Border cut (Shape4) and circular crop (Shape5) overlays; rotation-star
  // lines Line3 ("R", Label9) and Line4 ("NR", Label10).
  ShapeMark Shape4, Shape5;
  LineMark Line3, Line4;
  ShapeMark Label9, Label10;

  // Guide-star marks: Shape2 the guide box, Shape3 the old box of a
  // guide-star change, Line2 from the old star to the new one.
  ShapeMark Shape2, Shape3;
  LineMark Line2;
  // Guide thumbnails: the template (Picture4) and the matched part of the
  // search area (Picture5), as grey packed pixels.
  Plane<int32_t> Picture4, Picture5;

  // Click mode of a plain click on the picture: 0 new reference, 1 new
  // position, 2 rotation, 3 new rotation, 4 zone selection.
  int16_t Option2 = 1;
  // The zone dialog (Form6) is open; it lives while Option2(4) is selected.
  bool Form6Visible = false;
  // Check marks of the menus "Zoom" (100%, 50%, 25%, 12.5%), "Sous-ensemble",
  // "Zone de gradient" and "Zone de sélection".
  std::array<bool, 4> mnuZoom{};
  bool mnubar11 = false, mnuGrad = false, mnuZone = false;
  // Pan scroll bars of the picture, in percent of its width and height.
  int16_t HScroll2Value = 50, HScroll2Max = 100, VScroll2Value = 50, VScroll2Max = 100;
  // Level marker of the histogram box, in bin units.
  bool Line1Visible = false;
  double Line1X = 0;
  // Where the debug log placed the main window and itself.
  ScreenRect Form1Rect, Form4Rect;
  // The report of every frame (menu "Rapport", checked while its window
  // shows): the last run and the last automatic marks it describes, and
  // its rows.
  bool mnuReport = false;
  int RunsEnded = 0;  // runs of the stack ended since the window opened
  RunResult LastRun;
  bool HasRun = false;
  AutoMarkReport LastMarks;
  bool HasMarks = false;
  FrameReport Report;
  // What opening the last project or the program's argument found wrong
  // with its image files; a new list forgets it.
  OpeningReport LastOpening;
  // The status bar: what a click or a save did where nothing else shows it.
  std::string StatusText;
  // What the last click on the picture said of the image shown: while the
  // status text still says it, it goes when another image is selected,
  // which it does not describe.
  std::string ClickStatus;
  // Controls the user changed during a run, whose handlers waited it out:
  // the run's summary says they did not take, so the box is not believed.
  std::vector<std::string> IgnoredDuringRun;
  // Closing the window during a run stops the run and keeps the window:
  // the run's status line then says to close it again.
  bool CloseStoppedRun = false;

  // What the engine shows: the controls above follow, then `outer`.
  void ShowCaption(const std::string& text) override;
  void ShowDebugLine(const std::string& line) override;
  void GuideThumbnails(const Plane<int32_t>& tmpl, const Plane<int32_t>& match) override;
  void GuideBoxShown(bool shown) override;
  void GuideChangeBegins() override;
  void GuideChangeEnds() override;
  void MsgBox(const std::string& text) override { Outer().MsgBox(text); }
  void Thumbnail(int i) override { Outer().Thumbnail(i); }
  void ShowImage() override { Outer().ShowImage(); }
  void Preview(int i) override { Outer().Preview(i); }
  void ShowZones(bool drawImage) override { Outer().ShowZones(drawImage); }
  void ShowHisto() override { Outer().ShowHisto(); }
  void UpdateList() override { Outer().UpdateList(); }
  void Combining() override { Outer().Combining(); }
  void OpenDestination(const std::string& caption) override { Outer().OpenDestination(caption); }
  void UnloadDestination() override { Outer().UnloadDestination(); }
  void RunImage(int i, bool accepted, const Outcome& processed, const Outcome& stacked) override {
    Outer().RunImage(i, accepted, processed, stacked);
  }
  void Pause(double seconds) override { Outer().Pause(seconds); }

 private:
  Form1Window& Outer() const { return outer ? *outer : Form1Window::None(); }
};

// Handlers of the controls above. Setting a control from code runs its
// handler as a user edit would; the Set* routines do both.

// Text3 "Qualité minimale (%)": MinQual = max(0, min(100, value)) / 100, the
// value read with the user's number conventions; a text that is not a
// number leaves MinQual as it was.
void Text3_Change(Form1& f);
void SetText3(Form1& f, const std::string& text);
// Option1(Index), the guide box: GuideBox = 2^(Index + 5) (32, 64, or 128 for
// "Aucun"), a new empty guide template, then a new search.
void Option1_Click(Form1& f, int index);
// Selects Option1(index); there are three buttons, so another index is a
// run-time error (control array element missing).
void SelectOption1(Form1& f, int index);
// "Terminer": whether the window closes (through its quit question); while
// it is busy or a run goes on it does nothing, and a run's summary names it
// among the commands it ignored.
bool mnuExit_Click(Form1& f);
// HScroll1 of "Niveau": Hsens follows the slider, then the display.
void HScroll1_Change(Form1& f);
// Sets the slider; a value outside its range 0..20 is a run-time error
// (invalid property value) and leaves the slider where it was.
void SetHScroll1(Form1& f, int value);
// The panels arranged again (after a resize or a rebuild of the strip),
// then the slider of "Niveau" given its own value, which draws the
// histogram and the picture again.
void updatelist(Form1& f);
// The window resized: its panels arranged again, as updatelist does.
void Form_Resize(Form1& f);
// Check3 "Auto" of "Niveau": redraws the display.
void Check3_Click(Form1& f);
void SetCheck3(Form1& f, int16_t value);
// Adds a line to the debug window while its menu is checked.
void DebugLine(Form1& f, const std::string& line);
// The main window reacts to the user only while it is neither busy nor
// running an operation.
bool Form1Idle(const Form1& f);

}  // namespace qv
