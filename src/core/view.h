// What the engine shows, as small listeners, one per concern: the messages
// of an operation, the guide star's display, and what only the main window
// does. Engine code takes only the one it needs. Every call does nothing by
// default, which is what a run without windows needs; whatever shows the
// engine (the main-window model, and through it the Qt windows, the
// command-line tool or a test) overrides what it shows.
//
// The other half of a long loop's contract is core/progress.h: the loop
// yields to the event loop, asks whether to go on and reports how far it
// has come.
#pragma once

#include <cstdint>
#include <string>

#include "core/outcome.h"
#include "core/plane.h"

namespace qv {

// What an operation says to the user.
class Messages {
 public:
  virtual ~Messages() = default;
  // The main window's caption during a long operation ("W=... H=... - k/n
  // Ok Sum", the calibration steps).
  virtual void ShowCaption(const std::string& /*text*/) {}
  // A line for the debug window.
  virtual void ShowDebugLine(const std::string& /*line*/) {}
  // A message box with an OK button.
  virtual void MsgBox(const std::string& /*text*/) {}

  // The listener that shows nothing.
  static Messages& None() {
    static Messages none;
    return none;
  }
};

// The guide star's display: the template box and the matched part of the
// search area as grey packed pixels; the guide box mark at the session's
// guide position (or hidden, with the old box of a change); a change of
// guide star begins (the current box becomes the old one) and ends (a line
// from the old star to the new one).
class GuideDisplay {
 public:
  virtual ~GuideDisplay() = default;
  virtual void GuideThumbnails(const Plane<int32_t>& /*tmpl*/, const Plane<int32_t>& /*match*/) {}
  virtual void GuideBoxShown(bool /*shown*/) {}
  virtual void GuideChangeBegins() {}
  virtual void GuideChangeEnds() {}

  static GuideDisplay& None() {
    static GuideDisplay none;
    return none;
  }
};

// What only the main window does: its picture, histogram and strip, the
// result windows it opens, and the pace of a run it shows.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;
  // The thumbnail of list image i was rendered into the main picture.
  virtual void Thumbnail(int /*i*/) {}
  // The current image is to be drawn again (levels, zoom or marks changed).
  virtual void ShowImage() {}
  // List image i is about to be processed for display: until its pixels are
  // ready (or when a stop request leaves them unread), its thumbnail,
  // stretched to the size the image will have at the zoom, stands for it.
  virtual void Preview(int /*i*/) {}
  // The zones of the current image over the picture: with `drawImage` (a
  // zone point added) the image is first drawn again at the levels of
  // "Minimum" and "Maximum"; without (the zone mode chosen) the zones go
  // over the picture as it is shown.
  virtual void ShowZones(bool /*drawImage*/) {}
  // The histogram and the image with the "Niveau" settings.
  virtual void ShowHisto() {}
  // The panels are arranged after the strip was rebuilt.
  virtual void UpdateList() {}
  // A run's walk is over and its combination begins (its progress starts
  // again from nothing).
  virtual void Combining() {}
  // The stack is complete: open the destination and editor windows.
  virtual void OpenDestination(const std::string& /*caption*/) {}
  // A long operation begins: the destination and editor windows of a
  // previous result are no longer shown.
  virtual void UnloadDestination() {}
  // A stacking run is done with list image i: accepted means stacked.
  // `processed` is how its processing went; `stacked` how the parking of
  // an accepted image went (success for a rejected one).
  virtual void RunImage(int /*i*/, bool /*accepted*/, const Outcome& /*processed*/, const Outcome& /*stacked*/) {}
  // The closing pause of a selection, which lets a window repaint between
  // the images of a run; without windows there is nothing to wait for.
  virtual void Pause(double /*seconds*/) {}

  static MainWindowView& None() {
    static MainWindowView none;
    return none;
  }
};

}  // namespace qv
