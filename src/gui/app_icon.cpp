#include "gui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qn {

namespace {

// Three stacked discs in blue with a dark outline, like a disk of data.
QPixmap DrawCylinder(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal margin = size / 8.0;
  const qreal w = size - 2 * margin;
  const qreal capH = size / 4.0;
  const qreal top = margin / 2;
  const qreal bottom = size - margin / 2 - capH;
  QPen pen(QColor(20, 40, 90));
  pen.setWidthF(size / 24.0 + 0.5);
  p.setPen(pen);
  QLinearGradient body(margin, 0, margin + w, 0);
  body.setColorAt(0, QColor(40, 90, 180));
  body.setColorAt(0.45, QColor(120, 170, 240));
  body.setColorAt(1, QColor(30, 70, 150));
  p.setBrush(body);
  // The body: the side walls and the bottom half-ellipse.
  QPainterPath side;
  side.moveTo(margin, top + capH / 2);
  side.lineTo(margin, bottom + capH / 2);
  side.arcTo(QRectF(margin, bottom, w, capH), 180, 180);
  side.lineTo(margin + w, top + capH / 2);
  side.closeSubpath();
  p.drawPath(side);
  // The ring lines between the discs.
  p.setBrush(Qt::NoBrush);
  const qreal step = (bottom - top) / 3;
  for (int i = 1; i < 3; ++i) p.drawArc(QRectF(margin, top + i * step, w, capH), 180 * 16, 180 * 16);
  // The lid.
  p.setBrush(QColor(170, 205, 250));
  p.drawEllipse(QRectF(margin, top, w, capH));
  return pixmap;
}

}  // namespace

// Drawn on each call: a static pixmap would outlive the application object.
QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addPixmap(DrawCylinder(size));
  return icon;
}

}  // namespace qn
