#include "ui/AppIcon.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace vx {

namespace {

constexpr int kBars = 3;
// How much of each bar is lit: a level meter caught mid-swing.
constexpr std::array<double, kBars> kLevels = {0.6, 1.0, 0.35};

const QColor kTile(0x20, 0x26, 0x2e);

// The colour of segment (0 = bottom) of count when lit.
QColor SegmentColour(int segment, int count) {
  const double height = (segment + 1.0) / count;
  if (height > 0.85) {
    return {0xf0, 0x3c, 0x2e};
  }
  if (height > 0.6) {
    return {0xf5, 0xc4, 0x18};
  }
  return {0x3c, 0xd0, 0x4a};
}

QColor Unlit(const QColor& lit) {
  QColor dim = lit.darker(400);
  dim.setAlpha(200);
  return dim;
}

}  // namespace

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);

  const int pad = std::max(1, size / 16);
  const int inner = size - 2 * pad;
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kTile);
  const double radius = size / 8.0;
  painter.drawRoundedRect(QRectF(pad, pad, inner, inner), radius, radius);
  painter.setRenderHint(QPainter::Antialiasing, false);

  const int gap = std::max(1, inner / 10);
  const int barWidth = (inner - (kBars + 1) * gap) / kBars;
  const int segments = size < 32 ? 4 : (size < 64 ? 6 : 8);
  const int segmentGap = std::max(1, size / 40);
  const int segmentHeight = (inner - 2 * gap - (segments - 1) * segmentGap) / segments;
  // Centre the meter on the tile: integer division leaves a few pixels over.
  const int meterWidth = kBars * barWidth + (kBars - 1) * gap;
  const int meterHeight = segments * segmentHeight + (segments - 1) * segmentGap;
  const int left = pad + (inner - meterWidth) / 2;
  const int bottom = pad + (inner + meterHeight) / 2;

  for (int bar = 0; bar < kBars; ++bar) {
    const int lit =
        static_cast<int>(std::lround(kLevels[static_cast<std::size_t>(bar)] * segments));
    const int x = left + bar * (barWidth + gap);
    for (int segment = 0; segment < segments; ++segment) {
      const int y = bottom - (segment + 1) * segmentHeight - segment * segmentGap;
      const QColor colour = SegmentColour(segment, segments);
      painter.fillRect(QRect(x, y, barWidth, segmentHeight),
                       segment < lit ? colour : Unlit(colour));
    }
  }
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (const int size : kAppIconSizes) {
    icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
  }
  return icon;
}

}  // namespace vx
