#include "workspace/show_histo.h"

#include "display/overlays.h"
#include "display/render.h"
#include "workspace/form1.h"

namespace qv {

MainPicture ShowHisto(Session& s, LevelTexts& texts, int zoomStep, bool showZones, bool showGradient) {
  MainPicture m;
  if (s.HistoMax < 1) return m;
  m.drawn = true;
  m.bars = HistoBars(s.Histo.data(), kHistoBins, s.HistoMax);
  s.opt.Hsens = s.form1.HScroll1;
  m.levels = ShowHistoLevels(s.LevelMin, s.LevelMax, s.LevelLow, s.LevelHigh, s.form1.HScroll1,
                             s.form1.Check3 != 0, texts.Text1, texts.Text2, s.locale);
  DrawImage(s.PicR, s.PicG, s.PicB, m.levels.black, m.levels.white, zoomStep, s.opt.Has(Mono), m.pixels);
  m.shown = ShowPixels(m.pixels, ShowPixelsGeometry(m.pixels.Width(), m.pixels.Height(), s.opt.Has(PixAspect),
                                                    s.opt.PixRatio, 0, false));
  if (showZones && s.CurPic >= 1 && s.CurPic <= s.ImageCount()) DrawZones(m.shown, s.Entry(s.CurPic).ImgZone, false);
  if (showGradient)
    DrawSegments(m.shown, DrawGradientGrid(s.GradMask, s.opt.Has(GradRemove), m.shown.Width(), m.shown.Height()));
  return m;
}

}  // namespace qv
