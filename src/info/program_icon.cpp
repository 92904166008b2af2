#include "info/program_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace kiren {

namespace {

const QColor kCardColor(0x2b, 0x6c, 0xb0);
const QColor kChipColor(0xe8, 0xb9, 0x3a);
const QColor kArcColor(0x1f, 0x2a, 0x38);

// Draws on a 64 x 64 grid; the painter scales it.
void DrawIcon(QPainter& ACanvas) {
  ACanvas.setRenderHint(QPainter::Antialiasing);
  // Card, tilted slightly.
  ACanvas.save();
  ACanvas.translate(26, 42);
  ACanvas.rotate(-12);
  QPainterPath card;
  card.addRoundedRect(QRectF(-24, -15, 48, 30), 4, 4);
  ACanvas.fillPath(card, kCardColor);
  ACanvas.fillRect(QRectF(-24, -9, 48, 5), QColor(255, 255, 255, 170));
  QPainterPath chip;
  chip.addRoundedRect(QRectF(-18, 0, 11, 8), 1.5, 1.5);
  ACanvas.fillPath(chip, kChipColor);
  ACanvas.restore();
  // The reader's field: three arcs in the upper right corner.
  QPen pen(kArcColor, 3, Qt::SolidLine, Qt::RoundCap);
  ACanvas.setPen(pen);
  for (int i = 0; i < 3; ++i) {
    const double r = 6 + 5 * i;
    ACanvas.drawArc(QRectF(44 - r, 20 - r, 2 * r, 2 * r), -10 * 16, 100 * 16);
  }
}

}  // namespace

QPixmap ProgramIconPixmap(int ASize) {
  QPixmap pixmap(ASize, ASize);
  pixmap.fill(Qt::transparent);
  QPainter canvas(&pixmap);
  canvas.scale(ASize / 64.0, ASize / 64.0);
  DrawIcon(canvas);
  return pixmap;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(ProgramIconPixmap(size));
  return icon;
}

}  // namespace kiren
