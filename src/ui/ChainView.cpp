#include "ui/ChainView.h"

#include "config/PortStatus.h"
#include "config/unPortCfg.h"
#include "device/LEDController.h"
#include "device/LEDShades.h"
#include "device/StripColours.h"

#include <QFontMetrics>
#include <QHideEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QShowEvent>

#include <algorithm>
#include <array>
#include <chrono>
#include <span>
#include <utility>

namespace vx {

namespace {

constexpr auto kRepaintPeriod = std::chrono::milliseconds(40);  // about 25 pictures a second
constexpr int kMargin = 4;
constexpr int kMinPitch = 3;
constexpr int kMaxPitch = 16;
constexpr int kMinLEDHeight = 5;  // also no lower than a row's "#n" needs
constexpr int kRowGap = 4;
// Room for 80 LEDs and two gaps of one LED each: between the bars, and before the
// positions that belong to no bar.
constexpr int kPitchesPerRow = kLEDsPerBoard + 2;

QColor ShadeColour(std::uint8_t brightness) {
  const TLEDShade shade = LEDShade(brightness);
  return {shade.Red, shade.Green, shade.Blue};
}

}  // namespace

TLEDChainView::TLEDChainView(std::function<TChainViewSource()> source, QWidget* parent)
    : QWidget(parent), source_(std::move(source)) {
  setObjectName(QStringLiteral("pbChain"));
  tmrRepaint_.setInterval(kRepaintPeriod);
  connect(&tmrRepaint_, &QTimer::timeout, this, [this] { Tick(); });
  FitHeight(0);
}

int TLEDChainView::BoardCount(const TChainViewSource& source) const {
  if (source.Port == nullptr || !source.Port->Controller().Connected()) {
    return 0;
  }
  // The frame buffer holds no more boards than this; the link refuses to send more.
  return std::min(source.Port->Controller().LEDBarCtrlCount(), kMaxBoards);
}

QString TLEDChainView::ShownText() const {
  const TChainViewSource source = source_();
  if (source.Port == nullptr) {
    return QStringLiteral("No port selected");
  }
  if (!source.Port->Controller().Connected()) {
    return QString::fromStdString(PortStatusText(PortStatusOf(*source.Port)));
  }
  if (BoardCount(source) == 0) {
    return QStringLiteral("No LED bar controllers on this port");
  }
  return {};
}

TLEDChainView::TGeometry TLEDChainView::Geometry(int boards) const {
  const QFontMetrics metrics = fontMetrics();
  TGeometry g{};
  g.LabelWidth = metrics.horizontalAdvance(QStringLiteral("#888")) + kMargin;
  const int room = width() - 2 * kMargin - g.LabelWidth;
  g.Pitch = std::clamp(room / kPitchesPerRow, kMinPitch, kMaxPitch);
  g.LEDWidth = g.Pitch - std::max(1, g.Pitch / 4);
  const int rowRoom = (height() - 2 * kMargin) / std::max(1, boards);
  const int lowest = MinLEDHeight();
  g.LEDHeight = std::clamp(rowRoom - kRowGap, lowest, std::max(lowest, 3 * g.LEDWidth));
  g.RowPitch = g.LEDHeight + kRowGap;
  return g;
}

QRect TLEDChainView::BoardRect(int board) const {
  const TGeometry g = Geometry(BoardCount(source_()));
  return {0, kMargin + board * g.RowPitch, width(), g.RowPitch};
}

QRect TLEDChainView::LEDRect(int board, int slot) const {
  const TChainViewSource source = source_();
  const int boards = BoardCount(source);
  if (board < 0 || board >= boards || slot < 0 || slot >= kLEDsPerBoard) {
    return {};
  }
  return LEDAt(Geometry(boards), board, slot,
               LEDSlotBar(source.Port->Controller().LEDBarCtrls(board).BarSize(), slot));
}

QRect TLEDChainView::LEDAt(const TGeometry& g, int board, int slot, int bar) {
  const int group = bar < 0 ? 2 : bar;
  return {kMargin + g.LabelWidth + (slot + group) * g.Pitch,
          kMargin + board * g.RowPitch + kRowGap / 2, g.LEDWidth, g.LEDHeight};
}

QSize TLEDChainView::sizeHint() const {
  const int rows = std::max(1, boardsShown_);
  return {2 * kMargin + fontMetrics().horizontalAdvance(QStringLiteral("#888")) + kMargin +
              6 * kPitchesPerRow,
          2 * kMargin + rows * (fontMetrics().height() + kRowGap)};
}

QSize TLEDChainView::minimumSizeHint() const {
  return {2 * kMargin + fontMetrics().horizontalAdvance(QStringLiteral("#888")) + kMargin +
              kMinPitch * kPitchesPerRow,
          minimumHeight()};
}

void TLEDChainView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const TChainViewSource source = source_();
  const int boards = BoardCount(source);
  if (boards == 0) {
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(kMargin, kMargin, -kMargin, -kMargin),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, ShownText());
    return;
  }
  const TLEDBarController& link = source.Port->Controller();
  const std::span<const std::uint8_t> frame = link.LastFrame();
  const TGeometry g = Geometry(boards);
  for (int b = 0; b < boards; ++b) {
    const QRect row(0, kMargin + b * g.RowPitch, width(), g.RowPitch);
    if (!row.intersects(event->rect())) {
      continue;
    }
    const bool marked = b == source.MarkedBoard;
    if (marked) {
      painter.fillRect(row, palette().color(QPalette::Highlight));
    }
    painter.setPen(palette().color(marked ? QPalette::HighlightedText : QPalette::WindowText));
    painter.drawText(QRect(kMargin, row.top(), g.LabelWidth, row.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("#%1").arg(b + 1));
    const TLEDBarCtrl& board = link.LEDBarCtrls(b);
    const std::uint8_t barSize = board.BarSize();
    // A network strip is drawn in the colours that its pixels were sent in.
    const bool strip = link.IsStrip();
    const std::array<bool, 2> reversed = {board.Bars(0).Reversed, board.Bars(1).Reversed};
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(Qt::NoBrush);
    for (int slot = 0; slot < kLEDsPerBoard; ++slot) {
      const int bar = LEDSlotBar(barSize, slot);
      const QRect led = LEDAt(g, b, slot, bar);
      if (bar < 0) {
        // Sent as 0 whatever the settings: an empty outline, not an LED that is off.
        painter.drawRect(led.adjusted(0, 0, -1, -1));
      } else {
        const std::uint8_t value =
            frame[static_cast<std::size_t>(b) * kLEDsPerBoard + static_cast<std::size_t>(slot)];
        if (strip) {
          const TLEDShade sent = StripSlotColour(link.Colour, barSize, slot, reversed, value);
          painter.fillRect(led, QColor(sent.Red, sent.Green, sent.Blue));
        } else {
          painter.fillRect(led, ShadeColour(value));
        }
      }
    }
  }
}

void TLEDChainView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Once the window around has been shown and has selected what to show.
  QTimer::singleShot(0, this, [this] { Tick(); });
  tmrRepaint_.start();
}

void TLEDChainView::hideEvent(QHideEvent* event) {
  tmrRepaint_.stop();
  QWidget::hideEvent(event);
}

void TLEDChainView::Tick() {
  const int boards = BoardCount(source_());
  if (boards != boardsShown_) {
    FitHeight(boards);
  }
  update();
}

int TLEDChainView::MinLEDHeight() const {
  return std::max(kMinLEDHeight, fontMetrics().height() - kRowGap);
}

void TLEDChainView::FitHeight(int boards) {
  // Every board keeps a row of at least the smallest height; a scroll area around the
  // view shows the rest.
  boardsShown_ = boards;
  setMinimumHeight(boards == 0 ? 2 * kMargin + fontMetrics().height()
                               : 2 * kMargin + boards * (MinLEDHeight() + kRowGap));
  updateGeometry();
}

}  // namespace vx
