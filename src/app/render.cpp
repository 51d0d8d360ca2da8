#include "app/render.h"

#include <algorithm>

#include "core/options.h"

namespace qvapp {

qv::Plane<int32_t> DrawImagePixels(const qv::Session& s, double black, double white, int step) {
  qv::Plane<int32_t> out;
  if (s.PicR.Empty() || !s.PicG.HasSize(s.PicR.Width(), s.PicR.Height()) ||
      !s.PicB.HasSize(s.PicR.Width(), s.PicR.Height()))
    return out;
  if (step < 1) step = 1;
  const int wd = s.PicR.UBound1() / step, hd = s.PicR.UBound2() / step;
  out.Redim(wd, hd);
  double g = white - black;
  if (g > 0) g = 255 / g;
  const bool mono = s.opt.Has(qv::Mono);
  auto byte = [](double v) { return static_cast<int32_t>(qv::RoundHalfEven(std::clamp(v, 0.0, 255.0))); };
  for (int y = 0; y <= hd; ++y) {
    for (int x = 0; x <= wd; ++x) {
      double r = (s.PicR(x * step, y * step) - black) * g;
      double gv = (s.PicG(x * step, y * step) - black) * g;
      double b = (s.PicB(x * step, y * step) - black) * g;
      if (mono) r = gv = b = (gv + r + b) * 0.33333333;
      out(x, y) = byte(r) << 16 | byte(gv) << 8 | byte(b);
    }
  }
  return out;
}

Levels HistoLevels(const qv::Session& s, int slider) {
  const double f = (slider / 20.0) * (slider / 20.0);
  return {(s.LevelLow - (s.LevelLow - s.LevelMin) * f) * 32, (s.LevelHigh + (s.LevelMax - s.LevelHigh) * f) * 32};
}

Levels ThumbnailLevels(const qv::Session& s, int slider) {
  return {(s.LevelLow - (s.LevelLow - s.LevelMin) * slider / 20) * 32,
          ((s.LevelMax - s.LevelHigh) * slider / 20 + s.LevelHigh) * 32};
}

}  // namespace qvapp
