// ShowHisto: everything that depends on the display levels of the current
// image, computed from the session and the "Niveau" controls.
#pragma once

#include <string>
#include <vector>

#include "core/plane.h"
#include "core/session.h"
#include "display/histogram.h"
#include "workspace/form1.h"

namespace qv {

// What the main window shows after ShowHisto. A window keeps one and
// hands it back for the next image: a run shows image after image of one
// size, and the planes' storage then serves again.
struct MainPicture {
  bool drawn = false;  // false: no image (HistoMax below 1), nothing changed
  DisplayLevels levels;
  std::vector<HistoBar> bars;  // in the coordinates of HistoBoxFor(kHistoBins - 1, ...)
  Plane<int32_t> shown;        // as the picture box shows it, overlays included
  // The packed array of DrawImage where the view stretches it (pixel
  // aspect); otherwise the array is drawn straight into `shown`.
  Plane<int32_t> pixels;
};

// The "Niveau" text boxes, whose text is in the user's number format.
struct LevelTexts {
  std::string Text1;            // "Minimum"
  std::string Text2 = "65535";  // "Maximum"
};

// Stores the slider in Hsens, works out the levels (written to or read from
// `texts` as "Auto" says), renders the current image at the zoom step with
// the pixel aspect, then draws the zones of CurPic when `showZones`
// ("Zone de sélection") and the gradient grid when `showGradient` ("Zone de
// gradient") over the shown picture. Everything is written into `m`.
void ShowHisto(Form1& f, LevelTexts& texts, int zoomStep, bool showZones, bool showGradient, MainPicture& m);

// The current image at the levels of "Minimum" and "Maximum" (read with
// the user's number conventions), at the zoom step with the pixel aspect,
// with the zones of CurPic over it: what a new zone point shows at once.
// When a box holds no number the image is not drawn again and the zones go
// over `shownNow`, the picture on the screen. Empty when there is no image.
// Without `drawImage` the zones go over `shownNow` at once.
Plane<int32_t> ZonesPicture(Form1& f, int zoomStep, const Plane<int32_t>& shownNow, bool drawImage = true);

}  // namespace qv
