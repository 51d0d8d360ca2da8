#include "editor/form2.h"

#include <algorithm>
#include <atomic>

#include "editor/editing.h"

namespace qv {

void Form2::ShowPixels(const Plane<int32_t>& pixels, int16_t zoom, bool mirror) {
  Pixels = &pixels;
  Zoom = zoom;
  Mirror = mirror;
  ++shows;
  // Numbered across every window's pictures, so that a view never takes a
  // new picture for one it made before.
  static std::atomic<uint64_t> made{0};
  Picture = ++made;
  if (LaidOut.known) {
    const PixelsGeometry g = Geometry(LaidOut.pixAspect, LaidOut.pixRatio);
    if (g.dw != LaidOut.pictureWidth || g.dh != LaidOut.pictureHeight)
      LayOut(LaidOut.innerWidth, LaidOut.innerHeight, LaidOut.barThickness, LaidOut.pixAspect, LaidOut.pixRatio);
  }
  if (view) view->Refresh(*this);
}

void Form2::SetCaption(const std::string& caption) {
  Caption = caption;
  if (view) view->Refresh(*this);
}

PixelsGeometry Form2::Geometry(bool pixAspect, double pixRatio) const {
  if (!Pixels || Pixels->Empty()) return PixelsGeometry{};
  return ShowPixelsGeometry(Pixels->Width(), Pixels->Height(), pixAspect, pixRatio, Zoom, Mirror);
}

Plane<int32_t> Form2::Shown(bool pixAspect, double pixRatio) const {
  if (!Pixels) return Plane<int32_t>();
  // The engine's own call, so that the window's saves and the tool's
  // exports cannot part.
  EditorSettings shown;
  shown.zoomPercent = Zoom;
  shown.mirror = Mirror;
  return ShownPicture(*Pixels, shown, pixAspect, pixRatio);
}

void Form2::form_scroll(int innerWidth, int innerHeight, int barThickness, bool pixAspect, double pixRatio) {
  LayOut(innerWidth, innerHeight, barThickness, pixAspect, pixRatio);
  if (view) view->Refresh(*this);
}

void Form2::LayOut(int innerWidth, int innerHeight, int barThickness, bool pixAspect, double pixRatio) {
  const PixelsGeometry g = Geometry(pixAspect, pixRatio);
  Scroll = FormScroll(g.dw, g.dh, innerWidth, innerHeight, barThickness);
  HScroll1 = Scroll.hVisible ? std::clamp(HScroll1, 0, Scroll.hMax) : 0;
  VScroll1 = Scroll.vVisible ? std::clamp(VScroll1, 0, Scroll.vMax) : 0;
  LaidOut = {true, innerWidth, innerHeight, barThickness, pixAspect, pixRatio, g.dw, g.dh};
}

void Form2::CentreScrollBars() {
  HScroll1 = Scroll.hVisible ? CInt(Scroll.hMax / 2.0) : 0;
  VScroll1 = Scroll.vVisible ? CInt(Scroll.vMax / 2.0) : 0;
  if (view) view->Refresh(*this);
}

}  // namespace qv
