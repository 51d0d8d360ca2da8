// What the engine shows, in one interface. The engine calls it while it
// works (captions of a long operation, the guide-star marks) and when a
// result is ready; whatever shows the engine (the main-window model, and
// through it the Qt windows or the command-line tool) overrides what it
// shows. Every call does nothing by default, which is what a run without
// windows needs.
//
// The other half of a long loop's contract is core/progress.h: the loop
// yields to the event loop, tests RunState and reports how far it has come.
#pragma once

#include <cstdint>
#include <string>

#include "core/outcome.h"
#include "core/plane.h"

namespace qv {

class View {
 public:
  virtual ~View() = default;

  // The main window's caption during a long operation ("W=... H=... - k/n
  // Ok Sum", the calibration steps), and the same line for the debug window.
  virtual void ShowCaption(const std::string& /*text*/) {}
  virtual void ShowDebugLine(const std::string& /*line*/) {}

  // The guide star: the template box and the matched part of the search
  // area as grey packed pixels; the guide box mark at the session's guide
  // position (or hidden, with the old box of a change); a change of guide
  // star begins (the current box becomes the old one) and ends (a line from
  // the old star to the new one).
  virtual void GuideThumbnails(const Plane<int32_t>& /*tmpl*/, const Plane<int32_t>& /*match*/) {}
  virtual void GuideBoxShown(bool /*shown*/) {}
  virtual void GuideChangeBegins() {}
  virtual void GuideChangeEnds() {}

  // A message box with an OK button.
  virtual void MsgBox(const std::string& /*text*/) {}
  // The thumbnail of list image i was rendered into the main picture.
  virtual void Thumbnail(int /*i*/) {}
  // The current image is to be drawn again (levels, zoom or marks changed).
  virtual void ShowImage() {}
  // List image i is about to be processed for display: until its pixels are
  // ready (or when a stop request leaves them unread), its thumbnail,
  // stretched to the size the image will have at the zoom, stands for it.
  virtual void Preview(int /*i*/) {}
  // The zones of the current image were edited while it is shown: it is
  // drawn again at the levels of "Minimum" and "Maximum" with its zones
  // over it.
  virtual void ShowZones() {}
  // The histogram and the image with the "Niveau" settings (ShowHisto).
  virtual void ShowHisto() {}
  // The panels are arranged after the strip was rebuilt (updatelist).
  virtual void UpdateList() {}
  // The stack is complete: open the destination and editor windows.
  virtual void OpenDestination(const std::string& /*caption*/) {}
  // A long operation begins (StartProcess): the destination and editor
  // windows of a previous result are no longer shown.
  virtual void UnloadDestination() {}
  // A stacking run is done with list image i: accepted means stacked.
  // `processed` is how its processing went; `stacked` how the parking of
  // an accepted image went (success for a rejected one).
  virtual void RunImage(int /*i*/, bool /*accepted*/, const Outcome& /*processed*/, const Outcome& /*stacked*/) {}
  // SelectPic's closing pause, which lets a window repaint between the
  // images of a run; without windows there is nothing to wait for.
  virtual void Pause(double /*seconds*/) {}

  // The view that shows nothing.
  static View& Headless() {
    static View none;
    return none;
  }
};

}  // namespace qv
