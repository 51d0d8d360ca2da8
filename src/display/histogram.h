// The "Niveau" frame: display levels from the histogram statistics and the
// slider, the typed levels, and the histogram box; the destination window's
// scroll bars.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/numeric.h"

namespace qv {

// Display levels of the current image.
struct DisplayLevels {
  double markBlack = 0, markWhite = 0;  // bin units, where the red marks go
  double black = 0, white = 0;          // data levels given to DrawImage
};

// Levels for slider position p (0..20): s = (p / 20) squared moves them from
// (levelLow, levelHigh) towards (levelMin, levelMax); data levels are 32
// times the bin levels. With `autoLevels` the data levels are written into
// text1 / text2 in the user's number format; otherwise they are read from
// them (the same format), and a text that is not a number keeps the
// computed level, as the statement that reads it fails alone.
DisplayLevels ShowHistoLevels(double levelMin, double levelMax, double levelLow, double levelHigh, int slider,
                              bool autoLevels, std::string& text1, std::string& text2, const NumLocale& locale);

// Coordinates of the histogram box for a histogram with bins 0..ubound:
// x from -1 at the left to ubound + 2 at the right, y from 1.1 at the top
// to -0.2 at the bottom.
struct HistoBox {
  double left = -1, right = 0, top = 1.1, bottom = -0.2;
  int pixelWidth = 0, pixelHeight = 0;
  // Box coordinates to pixels of a pixelWidth x pixelHeight box.
  double PixelX(double x) const { return (x - left) * pixelWidth / (right - left); }
  double PixelY(double y) const { return (y - top) * pixelHeight / (bottom - top); }
};
HistoBox HistoBoxFor(int histoUBound, int pixelWidth, int pixelHeight);

// One bar of the histogram: bin i from -0.15 up to count / histoMax.
struct HistoBar {
  int bin = 0;
  double bottom = -0.15, top = 0;
};
// The bars of every bin whose count is above 0; none when histoMax is below 1.
std::vector<HistoBar> HistoBars(const int32_t* histo, int bins, int32_t histoMax);

// Layout of the destination window's scroll bars.
struct ScrollLayout {
  bool hVisible = false, vVisible = false, cornerVisible = false;
  int visibleWidth = 0, visibleHeight = 0;  // the part of the window the picture shows in
  int hMax = 0, vMax = 0;                   // minimum 0 for both
  int hLargeChange = 0, vLargeChange = 0;
  // Bars and corner box as left, top, width, height in window pixels.
  std::array<int, 4> hRect{}, vRect{}, cornerRect{};
};
// form_scroll: a bar shows on an axis where the picture is larger than the
// visible length, which is the window's inner length less the other bar's
// thickness when the other bar shows.
ScrollLayout FormScroll(int pictureWidth, int pictureHeight, int innerWidth, int innerHeight, int barThickness);
// The picture's left or top edge for a scroll bar value.
inline int ScrolledEdge(int value) { return -value; }

}  // namespace qv
