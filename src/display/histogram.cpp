#include "display/histogram.h"

#include <algorithm>

namespace qv {

DisplayLevels ShowHistoLevels(double levelMin, double levelMax, double levelLow, double levelHigh, int slider,
                              bool autoLevels, std::string& text1, std::string& text2, const NumLocale& locale) {
  DisplayLevels l;
  const double p = slider / 20.0;
  const double s = p * p;
  l.markBlack = levelLow - (levelLow - levelMin) * s;
  l.markWhite = levelHigh + (levelMax - levelHigh) * s;
  l.black = l.markBlack * 32;
  l.white = l.markWhite * 32;
  if (autoLevels) {
    text1 = LocaleFromDouble(l.black, locale);
    text2 = LocaleFromDouble(l.white, locale);
  } else {
    try {
      l.black = LocaleToDouble(text1, locale);
    } catch (const RuntimeError&) {
    }
    try {
      l.white = LocaleToDouble(text2, locale);
    } catch (const RuntimeError&) {
    }
  }
  return l;
}

HistoBox HistoBoxFor(int histoUBound, int pixelWidth, int pixelHeight) {
  HistoBox b;
  b.left = -1;
  b.right = histoUBound + 2;
  b.pixelWidth = pixelWidth;
  b.pixelHeight = pixelHeight;
  return b;
}

std::vector<HistoBar> HistoBars(const int32_t* histo, int bins, int32_t histoMax) {
  std::vector<HistoBar> bars;
  if (histoMax < 1 || !histo) return bars;
  for (int i = 0; i < bins; ++i)
    if (histo[i] > 0) bars.push_back({i, -0.15, static_cast<double>(histo[i]) / histoMax});
  return bars;
}

ScrollLayout FormScroll(int pictureWidth, int pictureHeight, int innerWidth, int innerHeight, int barThickness) {
  ScrollLayout l;
  // One bar can make the other necessary by taking away room: settle both.
  bool h = pictureWidth > innerWidth, v = pictureHeight > innerHeight;
  for (int pass = 0; pass < 2; ++pass) {
    h = pictureWidth > innerWidth - (v ? barThickness : 0);
    v = pictureHeight > innerHeight - (h ? barThickness : 0);
  }
  l.hVisible = h;
  l.vVisible = v;
  l.visibleWidth = std::max(0, innerWidth - (v ? barThickness : 0));
  l.visibleHeight = std::max(0, innerHeight - (h ? barThickness : 0));
  if (h) {
    l.hMax = pictureWidth - l.visibleWidth;
    l.hLargeChange = l.visibleWidth;
    l.hRect = {0, l.visibleHeight, l.visibleWidth, barThickness};
  }
  if (v) {
    l.vMax = pictureHeight - l.visibleHeight;
    l.vLargeChange = l.visibleHeight;
    l.vRect = {l.visibleWidth, 0, barThickness, l.visibleHeight};
  }
  l.cornerVisible = h && v;
  if (l.cornerVisible) l.cornerRect = {l.visibleWidth, l.visibleHeight, barThickness, barThickness};
  return l;
}

}  // namespace qv
