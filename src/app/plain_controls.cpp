#include "app/plain_controls.h"

#include <QPainter>
#include <QStyleOptionSlider>
#include <algorithm>
#include <utility>

namespace qvapp {

void PlainProgressBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  p.fillRect(rect(), pal.color(QPalette::Base));
  const qint64 span = qint64{maximum()} - minimum();
  const qint64 done = std::clamp<qint64>(qint64{value()} - minimum(), 0, std::max<qint64>(span, 0));
  const int inner = std::max(0, width() - 2);
  const int filled = span > 0 ? static_cast<int>(inner * done / span) : 0;
  if (filled > 0) p.fillRect(QRect(1, 1, filled, height() - 2), pal.color(QPalette::Highlight));
  p.setPen(pal.color(QPalette::Mid));
  p.drawRect(frame);
  if (isTextVisible()) {
    p.setPen(pal.color(QPalette::Text));
    p.drawText(rect(), Qt::AlignCenter, text());
  }
}

void PlainScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                             QPainter* painter, const QWidget* widget) const {
  const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
  if (control != CC_ScrollBar || !bar) {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    return;
  }
  const QPalette& pal = bar->palette;
  const bool enabled = bar->state & State_Enabled;
  painter->fillRect(bar->rect, pal.color(QPalette::Window).darker(106));
  auto pressed = [&](SubControl part) { return (bar->activeSubControls & part) && (bar->state & State_Sunken); };
  const bool vertical = bar->orientation == Qt::Vertical;
  const std::pair<SubControl, PrimitiveElement> arrows[2] = {
      {SC_ScrollBarSubLine, vertical ? PE_IndicatorArrowUp : PE_IndicatorArrowLeft},
      {SC_ScrollBarAddLine, vertical ? PE_IndicatorArrowDown : PE_IndicatorArrowRight}};
  for (const auto& [part, arrow] : arrows) {
    const QRect r = subControlRect(CC_ScrollBar, bar, part, widget);
    if (r.isEmpty()) continue;
    painter->fillRect(r, pressed(part) ? pal.color(QPalette::Mid) : pal.color(QPalette::Button));
    QStyleOption o = *bar;
    o.rect = r.adjusted(2, 2, -2, -2);
    o.state = enabled ? State_Enabled : State_None;
    drawPrimitive(arrow, &o, painter, widget);
  }
  const QRect slider = subControlRect(CC_ScrollBar, bar, SC_ScrollBarSlider, widget);
  if (enabled && bar->maximum > bar->minimum && !slider.isEmpty()) {
    painter->fillRect(slider, pressed(SC_ScrollBarSlider) ? pal.color(QPalette::Mid) : pal.color(QPalette::Button));
    painter->setPen(pal.color(QPalette::Mid));
    painter->drawRect(slider.adjusted(0, 0, -1, -1));
  }
}

}  // namespace qvapp
