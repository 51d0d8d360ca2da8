// The destination window "Etalement destination" as a plain model: the
// picture it shows (the editor's rendered array, its zoom percent and mirror
// flag), its caption and its scroll position. The Qt window mirrors it and
// forwards a mouse press on its picture to the editor's BalWhite.
#pragma once

#include <cstdint>
#include <string>

#include "core/plane.h"

namespace qv {

struct Form2;

// What repaints the destination window. Without windows (command-line tool,
// tests) there is none and nothing is drawn.
class Form2View {
 public:
  virtual ~Form2View() = default;
  // The picture, its zoom or mirror, or the caption changed.
  virtual void Refresh(const Form2& form) = 0;
};

struct Form2 {
  std::string Caption = "Etalement destination";
  // The array last given to ShowPixels (owned by the editor, which renders
  // into it), with its zoom percent (0 or less: no scaling) and mirror flag.
  const Plane<int32_t>* Pixels = nullptr;
  int16_t Zoom = 0;
  bool Mirror = false;
  // Scroll bars: the picture's left edge is -HScroll1, its top edge -VScroll1.
  int32_t HScroll1 = 0, VScroll1 = 0;
  bool Visible = false;
  Form2View* view = nullptr;

  // Shows a packed pixel array (the call the editor makes after a redraw,
  // and every 100 rows while it renders).
  void ShowPixels(const Plane<int32_t>& pixels, int16_t zoom, bool mirror);
  void SetCaption(const std::string& caption);
  // Number of ShowPixels calls so far (what a progress display counts).
  long shows = 0;
};

}  // namespace qv
