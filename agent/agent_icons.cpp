#include "agent/agent_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvane::agent {
namespace {

enum class Look { Idle, Copying, Scanning, Mirror };

Look LookOf(std::string_view name) {
  if (name == "Corv_2") return Look::Copying;
  if (name == "Corv_3") return Look::Scanning;
  if (name == "Corv_4") return Look::Mirror;
  return Look::Idle;
}

}  // namespace

QImage DrawAgentIcon(std::string_view name) {
  const Look look = LookOf(name);
  QImage image(kIconSize, kIconSize, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);

  // Every state keeps the same base, a safe's door, so that the icon is
  // recognised; the colour and the sign on it tell the state.
  const QColor base = look == Look::Idle      ? QColor(0x2f, 0x5d, 0x9e)
                      : look == Look::Copying ? QColor(0x2e, 0x8b, 0x3e)
                      : look == Look::Scanning ? QColor(0xd9, 0x82, 0x1e)
                                               : QColor(0x7b, 0x3f, 0xa0);
  p.setPen(QPen(base.darker(160), 1.5));
  p.setBrush(base);
  p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);

  p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  switch (look) {
    case Look::Idle:  // the dial of the door
      p.drawEllipse(QPointF(16, 16), 8, 8);
      p.drawLine(QPointF(16, 16), QPointF(16, 10));
      break;
    case Look::Copying: {  // an arrow going into the safe
      p.drawLine(QPointF(7, 16), QPointF(24, 16));
      QPainterPath head;
      head.moveTo(18, 10);
      head.lineTo(25, 16);
      head.lineTo(18, 22);
      p.drawPath(head);
      break;
    }
    case Look::Scanning:  // a magnifying glass
      p.drawEllipse(QPointF(13, 13), 6, 6);
      p.drawLine(QPointF(17.5, 17.5), QPointF(25, 25));
      break;
    case Look::Mirror: {  // two halves facing each other
      p.drawLine(QPointF(16, 6), QPointF(16, 26));
      p.setBrush(Qt::white);
      QPainterPath left;
      left.moveTo(13, 9);
      left.lineTo(6, 16);
      left.lineTo(13, 23);
      left.closeSubpath();
      QPainterPath right;
      right.moveTo(19, 9);
      right.lineTo(26, 16);
      right.lineTo(19, 23);
      right.closeSubpath();
      p.drawPath(left);
      p.drawPath(right);
      break;
    }
  }
  p.end();
  return image;
}

QIcon AgentIcon(std::string_view name) { return QIcon(QPixmap::fromImage(DrawAgentIcon(name))); }

}  // namespace corvane::agent
