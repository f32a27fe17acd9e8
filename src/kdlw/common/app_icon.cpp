#include "kdlw/common/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace kdlw {

// The same drawing as resources/kdlw.svg, on a 64-unit grid.
QPixmap AppIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  QPainterPath body;
  body.moveTo(6, 4);
  body.lineTo(52, 4);
  body.lineTo(60, 12);
  body.lineTo(60, 58);
  body.quadTo(60, 60, 58, 60);
  body.lineTo(6, 60);
  body.quadTo(4, 60, 4, 58);
  body.lineTo(4, 6);
  body.quadTo(4, 4, 6, 4);
  p.setPen(QPen(QColor(0x17, 0x2a, 0x52), 1.5));
  p.setBrush(QColor(0x2b, 0x4a, 0x8b));
  p.drawPath(body);

  p.setPen(QPen(QColor(0x7d, 0x83, 0x8c), 1));
  p.setBrush(QColor(0xc8, 0xcc, 0xd2));
  p.drawRect(QRectF(18, 4, 28, 20));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x3a, 0x3f, 0x47));
  p.drawRect(QRectF(36, 8, 6, 12));

  p.setPen(QPen(QColor(0x9a, 0xa0, 0xa8), 1));
  p.setBrush(QColor(0xf7, 0xf7, 0xf2));
  p.drawRoundedRect(QRectF(12, 32, 40, 26), 2, 2);
  p.setPen(QPen(QColor(0xc2, 0x3b, 0x3b), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 40), QPointF(48, 40));
  p.drawLine(QPointF(16, 46), QPointF(48, 46));
  p.drawLine(QPointF(16, 52), QPointF(40, 52));
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(AppIconPixmap(size));
  return icon;
}

}  // namespace kdlw
