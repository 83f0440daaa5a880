#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace vx {

// Up and down arrows bound to an edit box: an arrow steps the number in the box by one
// within Min..Max and writes it back, which runs the box's change handling. They bound
// only the arrows; what the user types stays as typed.
class TUpDown : public QWidget {
  Q_OBJECT

 public:
  // start: where the arrows start while the box holds no number.
  TUpDown(QLineEdit* associate, int min, int max, int start, QWidget* parent);

  int Min() const { return min_; }
  int Max() const { return max_; }
  // The number in the box; start, or the last position written, when it holds none.
  int Position() const;
  // Writes value into the box as it is (a value outside Min..Max is not clamped).
  void SetPosition(int value);
  void StepBy(int steps);

  QToolButton* btnUp;
  QToolButton* btnDown;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* associate_;
  int min_;
  int max_;
  int position_;
};

}  // namespace vx
