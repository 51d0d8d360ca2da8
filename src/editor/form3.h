// The editor window "Modification de l'image" as a plain model: its
// controls, the rendered picture and the handlers. The handlers translate
// the controls into the editor's settings and call the engine (editing.h);
// what is left here is what a window keeps: the restart of a redraw that a
// control interrupts, the histogram selectors and the boxes' coordinates.
// The Qt window mirrors the controls, forwards each event to the handler of
// the same name, and draws the histogram and curve boxes from the values
// kept here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/plane.h"
#include "editor/editing.h"
#include "editor/form2.h"
#include "editor/operations.h"
#include "editor/rendering.h"

namespace qv {

class Session;

class Form3 {
 public:
  // The editor renders the session's destination accumulator into `dest`.
  Form3(Session& s, Form2& dest);

  // Width of the contrast curve box Picture2, in its own units (pixels).
  static constexpr double kCurveBoxWidth = qv::kCurveBoxWidth;
  static constexpr double kCurveBoxHeight = 128;
  // The white level ResetPic writes into Text2(c).
  static constexpr int32_t kWhiteLevel = qv::kWhiteLevel;

  // ---- Controls ----
  // Black and white level of each channel (0 red, 1 green, 2 blue), as text
  // in the user's number format.
  std::array<std::string, 3> Text1{"0", "0", "0"};
  std::array<std::string, 3> Text2{"65535", "65535", "65535"};
  // Selectors for histogram clicks: black level, white level (0 or 1).
  std::array<int16_t, 3> Check1{}, Check2{};
  int16_t Check3 = 0;  // "Actif" ("Détails")
  int16_t Check4 = 0;  // "Inverser Horiz."
  int16_t Check5 = 0;  // "Cacher le niveau max."
  int16_t Check6 = 0;  // "Remplissage"
  // Detail of the scales of radius 1, 2 and 3: -20 .. 20.
  int16_t HScroll1 = 0, HScroll2 = 0, HScroll3 = 0;
  // White-balance strength, 0 .. 32767, hidden until a white-balance click.
  int16_t HScroll4 = 32767;
  bool HScroll4Visible = false;
  int16_t HScroll5 = 50;  // brightness slope of the colour scale, 0 .. 100
  int16_t HScroll6 = 1;   // radius of the saturated-star hiding, 0 .. 10
  // "Couleur", "Monochrome", "Échelle de couleur".
  int16_t Option1 = 0;
  // Zoom (%): "25" .. "200", empty while nothing is selected.
  std::string Combo1;

  // ---- What the boxes show ----
  // Histogram box Picture1: x from ScaleLeft to ScaleLeft + ScaleWidth, y
  // from 1 at the top to -0.05 at the bottom; clicks are read in these units.
  double Picture1ScaleLeft = 0, Picture1ScaleWidth = 1;
  // The box's middle, half its highest level: exact, where the left edge
  // plus half the width would round past it.
  double Picture1Middle = 0.5;
  double Picture1ScaleTop = 1, Picture1ScaleHeight = -1.05;
  // The level marks Line1(c) (black) and Line2(c) (white), in those units.
  std::array<double, 3> Line1X{}, Line2X{};
  // The red line of the curve box, in its units.
  double CurveLineX = 0;
  // The curve table built by SetHisCurv.
  CurveTable Curve{};

  // ---- State ----
  // The rendered picture, red x 65536 + green x 256 + blue, row 0 at the top.
  Plane<int32_t> Picture;
  // Lowest bin above 0 and highest bin of the destination histogram with a
  // count, found when the window loads (both 0 for an empty histogram).
  int32_t HistoLow = 0, HistoHigh = 0;
  // The white-balance levels of the last click.
  BalanceLevels Balance;
  // The settings of the last redraw, its levels settled.
  const EditorSettings& LastSettings() const { return settings_; }
  // The detail caches: the local means of the destination.
  const DetailMeans& Detail() const { return means_; }

  // ---- Public operations ----
  // Renders the destination into Picture and shows it, every 100 rows as
  // it goes. Each band of rows is computed off the interface thread while
  // the event loop runs (the platform's RunAside). A control that changes
  // meanwhile, or while it yields, restarts it from the first row with the
  // new settings, so the picture it leaves is always one whole render of
  // the settings as they are when it ends.
  void draw();
  uint8_t Argb(double v) const { return CurveByte(Curve, v); }
  void ResetPic();
  void bin(int16_t n);
  void Rotate90();
  // x, y in the destination window's displayed pixels; Button 2 (right)
  // shows the clicked pixel's sums and weights in its caption.
  void BalWhite(float x, float y, int16_t& Button);
  // p in the curve box's units; -2 uses the stored position, a negative
  // position means the centre (a straight line).
  void SetHisCurv(double p);
  void CleanEdges();
  void Fill();
  // "Étirement auto": each channel's levels and the curve chosen from the
  // destination's values (AutoStretchLevels); nothing else changes.
  void AutoStretch();
  // Told when a redraw begins: the window shows the controls as the
  // handler set them (levels, sliders) while the redraw yields.
  std::function<void()> ControlsSet;
  // True while draw runs (it yields, so handlers can run inside it).
  bool Drawing() const { return drawing_; }
  // Waits for the band of rows being computed off the interface thread, if
  // any: a handler that runs meanwhile calls it before it changes the
  // destination, the detail caches or the picture.
  void AwaitRows();
  // Runs `action` on a finished render of the current settings: at once
  // when no redraw is under way, otherwise when the redraw ends, after
  // its restarts. What saves or copies the picture goes through here.
  void WhenDrawn(std::function<void()> action);

  // ---- Events ----
  // The window opens after a combination: histogram range and box
  // coordinates, no zoom selected, ResetPic, then the first redraw.
  void Form_Load();
  // The window closes with its result (or the program ends): a redraw
  // under way stops once its band is computed, without starting again
  // unless a redraw is asked for meanwhile, and what waited for it (a
  // save, a copy) is dropped.
  void Form_Unload();
  void Text1_Change(int16_t Index);
  void Text2_Change(int16_t Index);
  void Check3_Click();
  void Check4_Click();
  void Check5_Click();
  void Check6_Click();
  void HScroll1_Change();
  void HScroll2_Change();
  void HScroll3_Change();
  void HScroll4_Change();
  void HScroll5_Change();
  void HScroll6_Change();
  void Option1_Click(int16_t Index);
  void Combo1_Click();
  // A press on the histogram box at x (in its level units).
  void Picture1_MouseDown(int16_t Button, double x);
  // A click on the curve box at x (in its units).
  void Picture2_MouseDown(double x);
  void Command3_Click();  // "Initialiser"
  void Command4_Click();  // "Tourner"
  void Command5_Click();  // "2 x 2"
  void Command6_Click();  // "3 x 3"
  void Command7_Click();  // "Étirement auto"

  // The zoom percent chosen in Combo1 (0 when none).
  int16_t ZoomPercent() const;
  // A new destination was combined: the detail caches no longer match it.
  void InvalidateDetail();

 private:
  class Shower;
  // The controls as settings, but for the levels.
  void ReadControls(EditorSettings& settings) const;
  // The level fields; a level that cannot be read keeps the value it had.
  void ReadLevels(EditorSettings& settings) const;
  // Writes settings that ResetSettings gave into the controls it resets,
  // and drops the detail caches.
  void ShowReset(const EditorSettings& reset);
  // Writes the levels an operation set into their fields.
  void ShowLevels(const EditorSettings& settings, const SettingsChanged& changed);
  // One pass of the rendering; false when a control changed during one of
  // its yields and the pass must start again.
  bool DrawPass();

  Session& s_;
  Form2& dest_;
  EditorSettings settings_;
  DetailMeans means_;
  double curvePos_ = -1;
  bool drawing_ = false;
  bool changedWhileDrawing_ = false;
  bool stopDrawing_ = false;
  // The curve the band's rows read (a copy of Curve).
  std::unique_ptr<CurveTable> drawCurve_;
  std::vector<std::function<void()>> whenDrawn_;
};

}  // namespace qv
