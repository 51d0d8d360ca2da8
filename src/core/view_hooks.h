// Calls from the engine into whatever shows it. Every hook may be empty:
// without windows (command-line tool, tests) nothing is drawn.
#pragma once

#include <functional>
#include <string>

namespace qv {

struct ViewHooks {
  // A message box with an OK button.
  std::function<void(const std::string& text)> MsgBox;
  // The thumbnail of list image i was rendered into the main picture.
  std::function<void(int i)> Thumbnail;
  // The current image is to be drawn again (levels, zoom or marks changed).
  std::function<void()> ShowImage;
  // The stack is complete: open the destination and editor windows.
  std::function<void(const std::string& caption)> OpenDestination;
  // A stacking run is done with list image i: accepted means stacked.
  std::function<void(int i, bool accepted)> RunImage;
  // SelectPic's closing pause, which lets a window repaint between the
  // images of a run; without windows there is nothing to wait for.
  std::function<void(double seconds)> Pause;
};

}  // namespace qv
