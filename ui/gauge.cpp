#include "ui/gauge.h"

#include <QPainter>
#include <algorithm>

namespace trundle {

Gauge::Gauge(QWidget* parent) : QProgressBar(parent) {
  setRange(0, 100);
  setValue(0);
  setTextVisible(true);
}

void Gauge::SetPosition(int percent) { setValue(std::clamp(percent, minimum(), maximum())); }

QString Gauge::text() const { return QString::asprintf("%d%%", value()); }

void Gauge::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  const QRect inside = rect().adjusted(1, 1, -1, -1);
  painter.fillRect(inside, Qt::white);
  const int span = maximum() - minimum();
  const int filled = span > 0 ? inside.width() * (value() - minimum()) / span : 0;
  const QRect bar(inside.left(), inside.top(), filled, inside.height());
  painter.fillRect(bar, Qt::black);
  // The figure reads black over the empty part and white over the filled part.
  painter.setPen(Qt::black);
  painter.setClipRect(inside.adjusted(filled, 0, 0, 0));
  painter.drawText(inside, Qt::AlignCenter, text());
  painter.setPen(Qt::white);
  painter.setClipRect(bar);
  painter.drawText(inside, Qt::AlignCenter, text());
  painter.setClipping(false);
  painter.setPen(Qt::black);
  painter.drawRect(frame);
}

}  // namespace trundle
