// The destination window "Etalement destination" as a plain model: the
// picture it shows (the editor's rendered array, its zoom percent and mirror
// flag), its caption and its scroll position. The Qt window mirrors it and
// forwards a mouse press on its picture to the editor's BalWhite.
#pragma once

#include <cstdint>
#include <string>

#include "core/plane.h"
#include "display/histogram.h"
#include "display/render.h"

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
  // Scroll bars: the picture's left edge is -HScroll1, its top edge -VScroll1;
  // their layout comes from form_scroll.
  int32_t HScroll1 = 0, VScroll1 = 0;
  ScrollLayout Scroll;
  // What the bars were last laid out for: the window's inner size, the
  // bars' thickness, the pixel aspect and the size the picture showed at.
  // A picture that comes out at another size (a zoom, a turn, a binning)
  // is laid out again with them, since the window itself did not change.
  struct ScrollArea {
    bool known = false;
    int innerWidth = 0, innerHeight = 0, barThickness = 0;
    bool pixAspect = false;
    double pixRatio = 1;
    int pictureWidth = 0, pictureHeight = 0;
  } LaidOut;
  bool Visible = false;
  // True while the editor computes rows of Pixels off the interface thread:
  // a repaint meanwhile keeps the picture shown last, reading none of them.
  bool Rendering = false;
  Form2View* view = nullptr;

  // Shows a packed pixel array (the call the editor makes after a redraw,
  // and every 100 rows while it renders); a picture of another size than
  // the bars were laid out for lays them out again.
  void ShowPixels(const Plane<int32_t>& pixels, int16_t zoom, bool mirror);
  void SetCaption(const std::string& caption);
  // Where and how large the picture shows, and the pixels it shows (the
  // stretch of the shown array: zoom, pixel aspect, mirror), which is what
  // a JPEG or BMP save writes. Empty before the first ShowPixels.
  PixelsGeometry Geometry(bool pixAspect, double pixRatio) const;
  Plane<int32_t> Shown(bool pixAspect, double pixRatio) const;
  // Lays out the scroll bars for the window's inner size, keeping each
  // bar's value within its new range.
  void form_scroll(int innerWidth, int innerHeight, int barThickness, bool pixAspect, double pixRatio);
  // A new result: the bars shown go to the middle of their range.
  void CentreScrollBars();
  // Number of ShowPixels calls so far (what a progress display counts).
  long shows = 0;
  // Which picture Pixels holds: a new number at each ShowPixels of any
  // destination window, so a view redraws only what changed.
  uint64_t Picture = 0;

 private:
  // form_scroll's layout, without the repaint.
  void LayOut(int innerWidth, int innerHeight, int barThickness, bool pixAspect, double pixRatio);
};

}  // namespace qv
