#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace trundle {
namespace {

const QColor kNavy(16, 32, 106);
const QColor kTeal(27, 122, 140);
const QColor kHeader(250, 210, 70);
const QColor kGrid(120, 130, 150);

// A table card: a header row and `rows` rows of three cells.
void DrawTable(QPainter& p, const QRectF& r, int rows) {
  p.setPen(QPen(Qt::black, r.width() / 90));
  p.setBrush(Qt::white);
  p.drawRect(r);
  const double row_h = r.height() / (rows + 1);
  p.fillRect(QRectF(r.left(), r.top(), r.width(), row_h), kHeader);
  p.setPen(QPen(kGrid, r.width() / 150));
  for (int i = 1; i <= rows; ++i)
    p.drawLine(QPointF(r.left(), r.top() + i * row_h), QPointF(r.right(), r.top() + i * row_h));
  for (int c = 1; c < 3; ++c) {
    const double x = r.left() + c * r.width() / 3;
    p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
  }
  p.setPen(QPen(Qt::black, r.width() / 90));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r);
}

// One record: a card with two wheels under it.
void DrawRollingRecord(QPainter& p, QPointF centre, double w) {
  const QRectF card(centre.x() - w / 2, centre.y() - w / 4, w, w / 3);
  p.setPen(QPen(Qt::black, w / 30));
  p.setBrush(Qt::white);
  p.drawRect(card);
  p.fillRect(card.adjusted(w / 30, w / 30, -card.width() * 2 / 3, -w / 30), kHeader);
  const double radius = w / 8;
  for (double x : {card.left() + w / 4, card.right() - w / 4}) {
    const QPointF hub(x, card.bottom() + radius);
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(hub, radius, radius);
    p.setPen(QPen(Qt::white, w / 40));
    p.drawLine(hub - QPointF(radius * 0.7, 0), hub + QPointF(radius * 0.7, 0));
    p.drawLine(hub - QPointF(0, radius * 0.7), hub + QPointF(0, radius * 0.7));
    p.setPen(QPen(Qt::black, w / 30));
  }
}

}  // namespace

QPixmap PanelPicture(QSize size) {
  QPixmap picture(size);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  const double w = size.width();
  const double h = size.height();
  QLinearGradient ground(0, 0, 0, h);
  ground.setColorAt(0, kNavy);
  ground.setColorAt(1, kTeal);
  p.fillRect(picture.rect(), ground);

  const QRectF upper(w * 0.14, h * 0.08, w * 0.72, h * 0.2);
  const QRectF lower(w * 0.14, h * 0.72, w * 0.72, h * 0.2);
  DrawTable(p, upper, 5);
  DrawTable(p, lower, 5);

  // The road the records roll along: a gentle S from one table to the other.
  QPainterPath road(QPointF(w * 0.5, upper.bottom() + h * 0.02));
  road.cubicTo(QPointF(w * 0.05, h * 0.42), QPointF(w * 0.95, h * 0.55),
               QPointF(w * 0.5, lower.top() - h * 0.02));
  p.setPen(QPen(QColor(255, 255, 255, 170), w / 40, Qt::DashLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawPath(road);
  const QPointF tip = road.pointAtPercent(1);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 220));
  p.drawPolygon(QPolygonF({tip + QPointF(-w * 0.07, -h * 0.02), tip + QPointF(w * 0.07, -h * 0.02),
                           tip + QPointF(0, h * 0.015)}));
  for (double at : {0.25, 0.5, 0.75}) DrawRollingRecord(p, road.pointAtPercent(at), w * 0.3);
  return picture;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int side : {16, 32, 48, 64, 128}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(0, 0, 0, side);
    ground.setColorAt(0, kNavy);
    ground.setColorAt(1, kTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(ground);
    p.drawRoundedRect(QRectF(0, 0, side, side), side / 6.0, side / 6.0);
    DrawTable(p, QRectF(side * 0.12, side * 0.12, side * 0.45, side * 0.36), 2);
    DrawRollingRecord(p, QPointF(side * 0.62, side * 0.7), side * 0.5);
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace trundle
