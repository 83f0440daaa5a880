#pragma once

#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class QHideEvent;
class QPaintEvent;
class QShowEvent;

namespace vx {

class TPortCfg;

// What the chain view shows at a given moment.
struct TChainViewSource {
  const TPortCfg* Port = nullptr;  // none: no port selected
  int MarkedBoard = -1;            // the board of the selected controller row; -1: none
};

// A live picture of one port's chain: every board in a row of its own, its 80 LEDs as the
// link wrote them last (after clamping, inversion and mirroring), each bar's LEDs in a
// group, the positions that belong to no bar apart behind them. A port that is not open
// shows its state in words instead. The view reads the link's last frame in place while
// it paints and repaints about 25 times a second, only while it is visible: hidden, it
// runs no timer and reads nothing.
class TLEDChainView : public QWidget {
  Q_OBJECT

 public:
  // source is asked at every repaint, so the view follows the selection and never holds
  // on to a port that has been deleted.
  explicit TLEDChainView(std::function<TChainViewSource()> source, QWidget* parent = nullptr);

  bool RepaintTimerActive() const { return tmrRepaint_.isActive(); }
  // The text shown instead of LEDs (the port's state, or why there is nothing to draw);
  // empty while LEDs are shown.
  QString ShownText() const;
  // Where the LED at frame position slot (0..79) of board board is drawn, and the row of
  // that board, for the view's present size and the selected port's board count.
  QRect LEDRect(int board, int slot) const;
  QRect BoardRect(int board) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct TGeometry {
    int LabelWidth;  // "#n" before each row
    int Pitch;       // from one LED to the next
    int LEDWidth;
    int LEDHeight;
    int RowPitch;
  };
  TGeometry Geometry(int boards) const;
  // bar: LEDSlotBar of the position.
  static QRect LEDAt(const TGeometry& g, int board, int slot, int bar);
  int MinLEDHeight() const;
  void FitHeight(int boards);
  int BoardCount(const TChainViewSource& source) const;  // 0 unless LEDs are shown
  void Tick();

  std::function<TChainViewSource()> source_;
  QTimer tmrRepaint_;
  int boardsShown_ = 0;  // the board count the minimum height was set for
};

}  // namespace vx
