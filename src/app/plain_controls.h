// Controls that a run repaints at every frame, painted with plain fills:
// the style's gradients and rounded frames cost more than the rest of the
// window's paint at each image, for a bar and a slider that only move.
#pragma once

#include <QProgressBar>
#include <QProxyStyle>

namespace qvapp {

// A progress bar: a frame, the part done and its text, centred, in the
// palette's text colour over both parts.
class PlainProgressBar : public QProgressBar {
 public:
  using QProgressBar::QProgressBar;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The application's style for everything but scroll bars, which it draws
// with plain fills over the same parts (groove, arrows, slider), so that
// clicks land where they did.
class PlainScrollBarStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget = nullptr) const override;
};

}  // namespace qvapp
