// The main window's handlers for the picture, the registration frame, the
// keyboard, the workspace menus and quitting; the zone dialog (Form6) and
// the debug log (Form4) handlers. Each does what the window's control does
// on the model; a window forwards its events here and mirrors the result.
#pragma once

#include <functional>
#include <string>

#include "core/session.h"
#include "platform/desktop.h"
#include "platform/settings_store.h"
#include "stack/auto_marks.h"
#include "workspace/project.h"

namespace qv {

// Mouse buttons and modifier bits as the handlers receive them.
inline constexpr int kLeftButton = 1, kRightButton = 2;
inline constexpr int kShiftMask = 1, kCtrlMask = 2, kAltMask = 4;
inline constexpr int kKeyEscape = 27, kKeyUp = 38, kKeyDown = 40;

// A press on the main picture at (x, y) in its displayed pixels. The right
// button shows the pixel's values in the caption; the left one sets the mark
// that the modifiers (or the selected click mode) choose.
void Picture1_MouseDown(Form1& f, int button, int shift, double x, double y);

// Registration check boxes: each handler reads the box's value from Form1.
void Check2_Click(Form1& f);
void Check5_Click(Form1& f);
void Check7_Click(Form1& f);
void Check8_Click(Form1& f);
// Shift fields (pixels) and extra angle (degrees), read from Form1.
void Text4_Change(Form1& f);
void Text5_Change(Form1& f);
void Text6_Change(Form1& f);

// Click-mode buttons: 4 opens the zone dialog, any other closes it.
void Option2_Click(Form1& f, int index);
void SelectOption2(Form1& f, int index);

// A key pressed in the main window: Escape asks a run to stop; Up and Down
// select the previous or next image unless the strip's scroll bar has the
// focus.
void Form_KeyDown(Form1& f, int keyCode, int shift, bool focusOnStrip);

// Zoom item 0..3 (100% .. 12.5%): a new step re-selects the image and is
// saved as PicZoom.
void mnuZoom_Click(Form1& f, int index, SettingsStore& store);
void mnuExplSource_Click(Form1& f, Desktop& desktop);
void mnuExplOutput_Click(Form1& f, Desktop& desktop);
void mnubar11_Click(Form1& f);
void mnuGrad_Click(Form1& f);
void mnuZone_Click(Form1& f);
// Toggles the debug log; when it opens, the main window takes the left
// three quarters of the screen and the log the last quarter, both as high
// as the top of a task bar at the bottom, or 90% of the screen without
// one, and within the free area of the screen. The rectangles are the
// windows' outer frames.
void mnuDebug_Click(Form1& f, Desktop& desktop);
// A press on the histogram box at x in bin units: the level marker.
void Picture3_MouseDown(Form1& f, double x);

// The commands of the menu bar array: 3 "&Options" (through `options`, which
// shows the dialog), 4 "E&xécuter" (`desktop` asks whether to run when
// the temporary folder lacks room), 5 "&Stop".
void mnu_Click(Form1& f, int index, Desktop& desktop, const std::function<void()>& options);

// The main window is asked to close. Returns true when the closing is
// cancelled: during a run (which is asked to stop) or when the user does
// not confirm. Otherwise the quit settings are saved and the temporary
// stacking files deleted.
bool Form_QueryUnload(Form1& f, Desktop& desktop, SettingsStore& store);

// The program is ended from outside (SIGTERM, SIGHUP, Ctrl+C in its
// terminal), whatever it is doing: nothing is asked. The temporary stacking
// files go as at a confirmed quit, and so does the staging folder of a
// master being built and the run's lock. The keys written at quit are not
// written: nobody confirmed the values on the main window, and a run may
// have been half-way.
void EndWithoutAsking(Form1& f);

// The zone dialog "Zone".
namespace form6 {
// "Initialisation": the current image's zones are removed.
void Command1_Click(Form1& f);
// "Appliquer aux images suivantes": the following images take its zones.
void Command2_Click(Form1& f);
// "Nouvelle sélection": the next points start a new shape.
void Command3_Click(Form1& f);
// The dialog closes (also when an image is selected).
void Form_QueryUnload(Form1& f);
}  // namespace form6

// The debug log window is closed by the user: its menu is unchecked.
namespace form4 {
void Form_QueryUnload(Form1& f);
}  // namespace form4

}  // namespace qv

namespace qv {

// A thumbnail of the strip is clicked: its image is selected.
void Image1_Click(Form1& f, int index);
// The strip's scroll bar moved: the strip shows that thumbnail.
void VScroll1_Change(Form1& f);
// The program's argument: a name ending in "txt" (any case) is opened as a
// project, any other as a one-image list without guide star. One pair of
// surrounding double quotes is removed first.
void OpenCommandLine(Form1& f, const std::string& commandLine);

}  // namespace qv

namespace qv {

// The thumbnail of the image just processed for the strip: the planes at
// the strip's levels (the slider moves them linearly, by Hsens / 20, from
// the low and high levels towards the extreme ones), every pixel, with the
// pixel aspect.
Plane<int32_t> ThumbnailPicture(const Session& s);

}  // namespace qv

namespace qv {

// "Marques automatiques" (with `rotation`, "... et étoile de rotation"): the
// guide star of every checked image is marked from the first one's, in the
// running state (so "&Stop" ends it); the images that cannot be marked are
// unticked and named, with the reason, in the closing message, which also
// says which star the marks followed. The reference image is shown after.
void mnuAutoMarks_Click(Form1& f, bool rotation);
// The closing message of the marks.
std::string AutoMarksText(const Session& s, const AutoMarkReport& report);
// The same after a stop: how far the marks went, and that the images after
// keep what they had.
std::string StoppedMarksText(const AutoMarkReport& report);

}  // namespace qv
