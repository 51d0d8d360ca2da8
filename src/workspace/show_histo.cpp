#include "workspace/show_histo.h"

#include <algorithm>

#include "display/overlays.h"
#include "display/render.h"
#include "workspace/form1.h"

namespace qv {

void ShowHisto(Form1& f, LevelTexts& texts, int zoomStep, bool showZones, bool showGradient, MainPicture& m) {
  Session& s = f.s;
  m.drawn = false;
  if (s.pic.HistoMax < 1) return;
  m.drawn = true;
  f.Picture3Cleared = false;
  m.bars = HistoBars(s.pic.Histo.data(), kHistoBins, s.pic.HistoMax);
  s.opt.Hsens = f.HScroll1;
  m.levels = ShowHistoLevels(s.pic.LevelMin, s.pic.LevelMax, s.pic.LevelLow, s.pic.LevelHigh, f.HScroll1, f.Check3 != 0,
                             texts.Text1, texts.Text2, s.locale);
  // The size DrawImage gives the array, and the view's of it.
  const int step = std::max(1, zoomStep);
  const Plane<int32_t>& r = s.pic.PicR;
  const PixelsGeometry view = ShowPixelsGeometry(r.UBound1() / step + 1, r.UBound2() / step + 1, s.opt.Has(PixAspect),
                                                 s.opt.PixRatio, 0, false);
  if (r.Empty() || ShowsAsIs(view)) {
    // Shown as it is drawn: no copy of a picture as large as the image.
    DrawImage(r, s.pic.PicG, s.pic.PicB, m.levels.black, m.levels.white, zoomStep, s.opt.Has(Mono), m.shown,
              s.pic.KnownGrey);
    m.pixels.Erase();
  } else {
    DrawImage(r, s.pic.PicG, s.pic.PicB, m.levels.black, m.levels.white, zoomStep, s.opt.Has(Mono), m.pixels,
              s.pic.KnownGrey);
    ShowPixels(m.pixels,
               ShowPixelsGeometry(m.pixels.Width(), m.pixels.Height(), s.opt.Has(PixAspect), s.opt.PixRatio, 0, false),
               m.shown);
  }
  if (showZones && s.CurPic >= 1 && s.CurPic <= s.ImageCount()) DrawZones(m.shown, s.Entry(s.CurPic).ImgZone, false);
  if (showGradient)
    DrawSegments(m.shown, DrawGradientGrid(s.pic.GradMask, s.opt.Has(GradRemove), m.shown.Width(), m.shown.Height()));
}

Plane<int32_t> ZonesPicture(Form1& f, int zoomStep, const Plane<int32_t>& shownNow, bool drawImage) {
  Session& s = f.s;
  if (s.pic.HistoMax < 1 || s.pic.PicR.Empty() || s.CurPic < 1 || s.CurPic > s.ImageCount()) return {};
  // The image is drawn again at the levels the boxes hold (with "Auto" on
  // they hold the computed ones); a box that holds no number fails that
  // drawing as a whole, and the zones go over the picture already shown.
  Plane<int32_t> shown;
  if (drawImage) {
    try {
      const double black = LocaleToDouble(f.Text1, s.locale), white = LocaleToDouble(f.Text2, s.locale);
      const Plane<int32_t> pixels =
          DrawImage(s.pic.PicR, s.pic.PicG, s.pic.PicB, black, white, zoomStep, s.opt.Has(Mono));
      shown = ShowPixels(
          pixels, ShowPixelsGeometry(pixels.Width(), pixels.Height(), s.opt.Has(PixAspect), s.opt.PixRatio, 0, false));
    } catch (const RuntimeError&) {
      drawImage = false;
    }
  }
  if (!drawImage) {
    if (shownNow.Empty()) return {};
    shown = shownNow;
  }
  DrawZones(shown, s.Entry(s.CurPic).ImgZone, false);
  return shown;
}

}  // namespace qv
