#include "toolkit/qt/qt_drawn_icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <cmath>
#include <functional>

namespace toolkit::qt {

namespace {

using Draw = std::function<void(QPainter&, const QColor&)>;

// Draws on a 16-unit square, at 16 and 32 pixels, in the text colour.
QIcon paint(const Draw& draw) {
  const QColor ink = QApplication::palette().color(QPalette::WindowText);
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter, ink);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void smile(QPainter& p, const QColor& ink) {
  p.setPen(QPen(ink, 1.3));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setBrush(ink);
  p.setPen(Qt::NoPen);
  p.drawEllipse(QRectF(5, 5, 2, 2.4));
  p.drawEllipse(QRectF(9, 5, 2, 2.4));
  p.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(4.5, 5, 7, 6.5), 200 * 16, 140 * 16);
}

void ellipsis(QPainter& p, const QColor& ink) {
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  for (double x : {2.5, 7.0, 11.5})
    p.drawEllipse(QRectF(x, 6.8, 2.4, 2.4));
}

void gear(QPainter& p, const QColor& ink) {
  QPainterPath teeth;
  const double pi = std::acos(-1.0);
  for (int i = 0; i < 8; ++i) {
    const double a = i * pi / 4;
    QPainterPath tooth;
    tooth.addRect(QRectF(-1.5, -7.2, 3, 3));
    QTransform turn;
    turn.translate(8, 8);
    turn.rotateRadians(a);
    teeth.addPath(turn.map(tooth));
  }
  QPainterPath ring;
  ring.addEllipse(QPointF(8, 8), 5.3, 5.3);
  QPainterPath hole;
  hole.addEllipse(QPointF(8, 8), 2.2, 2.2);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.drawPath(teeth.united(ring).subtracted(hole));
}

void info(QPainter& p, const QColor& ink) {
  p.setPen(QPen(ink, 1.3));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  p.drawEllipse(QRectF(7, 3.8, 2, 2));
  p.drawRect(QRectF(7.1, 6.8, 1.8, 5.5));
}

void pin(QPainter& p, const QColor& ink, bool filled) {
  // A push pin leaning right: head, collar and needle.
  p.translate(8, 8);
  p.rotate(35);
  p.translate(-8, -8);
  QPainterPath head;
  head.moveTo(5, 1.5);
  head.lineTo(11, 1.5);
  head.lineTo(10, 3);
  head.lineTo(10, 7);
  head.lineTo(12, 9.5);
  head.lineTo(4, 9.5);
  head.lineTo(6, 7);
  head.lineTo(6, 3);
  head.closeSubpath();
  p.setPen(QPen(ink, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(filled ? QBrush(ink) : QBrush(Qt::NoBrush));
  p.drawPath(head);
  p.drawLine(QPointF(8, 9.5), QPointF(8, 15));
}

}  // namespace

QIcon drawnIcon(std::string_view name) {
  if (name == "face-smile") return paint(smile);
  if (name == "view-more") return paint(ellipsis);
  if (name == "emblem-system" || name == "preferences-system") return paint(gear);
  if (name == "help-about") return paint(info);
  if (name == "pin") return paint([](QPainter& p, const QColor& ink) { pin(p, ink, false); });
  if (name == "pin.fill") return paint([](QPainter& p, const QColor& ink) { pin(p, ink, true); });
  return {};
}

}  // namespace toolkit::qt
