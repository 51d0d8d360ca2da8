// Control state of the main window, as a plain model: the Qt window only
// mirrors these values and forwards its events to the handlers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/plane.h"
#include "platform/desktop.h"

namespace qv {

class Session;

// What the main window does beyond its control state: processing and
// drawing that belong to the guide-star tracking, the display and the
// window itself. An empty hook is skipped, which is what a window without
// pictures (the command-line tool, the tests) needs.
struct Form1Hooks {
  // Redraw the histogram and the image with the "Niveau" settings (ShowHisto).
  std::function<void(Session&)> showHisto;
  // Arrange the panels after the strip was rebuilt (updatelist).
  std::function<void(Session&)> updatelist;
};

// A check box under a thumbnail of the strip.
struct StripCheckBox {
  std::string Caption;
  int16_t Value = 0;
  // Text colour 0xRRGGBB and weight: they show the registration flags.
  int32_t ForeColor = 0;
  bool Bold = false;
};

// A mark drawn over the main picture, in display pixels.
struct ShapeMark {
  bool Visible = false;
  double Left = 0, Top = 0, Width = 0, Height = 0;
};
struct LineMark {
  bool Visible = false;
  double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
};

struct Form1 {
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
  bool Picture1Visible = false;   // the main picture
  bool Frame2Visible = false;     // registration controls
  bool Picture10Visible = false;  // the strip
  bool VScroll1Visible = false;

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

  Form1Hooks hooks;
};

// Handlers of the controls above. Setting a control from code runs its
// handler as a user edit would; the Set* routines do both.

// Text3 "Qualité minimale (%)": MinQual = max(0, min(100, value)) / 100, the
// value read with the user's number conventions; a text that is not a
// number leaves MinQual as it was.
void Text3_Change(Session& s);
void SetText3(Session& s, const std::string& text);
// Option1(Index), the guide box: GuideBox = 2^(Index + 5) (32, 64, or 128 for
// "Aucun"), a new empty guide template, then a new search.
void Option1_Click(Session& s, int index);
// Selects Option1(index); there are three buttons, so another index is a
// run-time error (control array element missing).
void SelectOption1(Session& s, int index);
// HScroll1 of "Niveau": Hsens follows the slider, then the display.
void HScroll1_Change(Session& s);
// Sets the slider; a value outside its range 0..20 is a run-time error
// (invalid property value) and leaves the slider where it was.
void SetHScroll1(Session& s, int value);
// Check3 "Auto" of "Niveau": redraws the display.
void Check3_Click(Session& s);
void SetCheck3(Session& s, int16_t value);
// Adds a line to the debug window while its menu is checked.
void DebugLine(Session& s, const std::string& line);
// The main window reacts to the user only while it is neither busy nor
// running an operation.
bool Form1Idle(const Session& s);

}  // namespace qv
