#include "editor/form2.h"

namespace qv {

void Form2::ShowPixels(const Plane<int32_t>& pixels, int16_t zoom, bool mirror) {
  Pixels = &pixels;
  Zoom = zoom;
  Mirror = mirror;
  ++shows;
  if (view) view->Refresh(*this);
}

void Form2::SetCaption(const std::string& caption) {
  Caption = caption;
  if (view) view->Refresh(*this);
}

}  // namespace qv
