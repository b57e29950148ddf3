#include "logo.h"

#include <QCoreApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

QPixmap DrawLogo(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  PaintLogo(p, width, height);
  return pixmap;
}

void PaintLogo(QPainter& p, int width, int height) {
  p.setRenderHint(QPainter::Antialiasing);

  // A navy badge with a mains sine wave cut by a trip mark: a protection relay at a glance.
  const QRectF badge(0.5, 0.5, width - 1.0, height - 1.0);
  QLinearGradient fill(badge.topLeft(), badge.bottomLeft());
  fill.setColorAt(0.0, QColor(0x1F, 0x3A, 0x78));
  fill.setColorAt(1.0, QColor(0x0B, 0x1A, 0x3C));
  p.setPen(QPen(QColor(0x0B, 0x1A, 0x3C), 1.0));
  p.setBrush(fill);
  p.drawRoundedRect(badge, 6, 6);

  const double waveLeft = 6, waveRight = width * 0.42, mid = height * 0.5, amp = height * 0.22;
  QPainterPath wave;
  for (int i = 0; i <= 60; ++i) {
    const double t = i / 60.0;
    const double x = waveLeft + t * (waveRight - waveLeft);
    const double y = mid - amp * std::sin(t * 2 * M_PI);
    if (i == 0)
      wave.moveTo(x, y);
    else
      wave.lineTo(x, y);
  }
  p.setPen(QPen(QColor(0x7C, 0xE0, 0x7C), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawPath(wave);
  // The trip mark: a red bar across the wave's crest.
  p.setPen(QPen(QColor(0xE8, 0x3A, 0x2E), 2.4, Qt::SolidLine, Qt::RoundCap));
  const double markX = waveLeft + (waveRight - waveLeft) * 0.25;
  p.drawLine(QPointF(markX - 5, mid - amp - 4), QPointF(markX + 5, mid - amp - 4));

  QFont font("Liberation Sans");
  font.setBold(true);
  font.setPixelSize(static_cast<int>(height * 0.38));
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(waveRight + 2, 0, width - waveRight - 6, height * 0.62),
             Qt::AlignRight | Qt::AlignBottom, "NX480");
  QFont small = font;
  small.setBold(false);
  small.setPixelSize(static_cast<int>(height * 0.2));
  p.setFont(small);
  p.setPen(QColor(0xC8, 0xD4, 0xF0));
  p.drawText(QRectF(waveRight + 2, height * 0.62, width - waveRight - 6, height * 0.32),
             Qt::AlignRight | Qt::AlignTop, QCoreApplication::translate("Logo", "ochrana sítě"));
}
