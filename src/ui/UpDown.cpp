#include "ui/UpDown.h"

#include <QLineEdit>
#include <QToolButton>

#include <algorithm>

namespace vx {

TUpDown::TUpDown(QLineEdit* associate, int min, int max, int start, QWidget* parent)
    : QWidget(parent),
      btnUp(new QToolButton(this)),
      btnDown(new QToolButton(this)),
      associate_(associate),
      min_(min),
      max_(max),
      position_(start) {
  for (QToolButton* button : {btnUp, btnDown}) {
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
  }
  btnUp->setArrowType(Qt::UpArrow);
  btnDown->setArrowType(Qt::DownArrow);
  connect(btnUp, &QToolButton::clicked, this, [this] { StepBy(1); });
  connect(btnDown, &QToolButton::clicked, this, [this] { StepBy(-1); });
}

int TUpDown::Position() const {
  bool ok = false;
  const int value = associate_->text().trimmed().toInt(&ok);
  return ok ? value : position_;
}

void TUpDown::SetPosition(int value) {
  position_ = value;
  associate_->setText(QString::number(value));
}

void TUpDown::StepBy(int steps) {
  const long long next = static_cast<long long>(Position()) + steps;
  SetPosition(static_cast<int>(std::clamp<long long>(next, min_, max_)));
}

void TUpDown::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int half = height() / 2;
  btnUp->setGeometry(0, 0, width(), half);
  btnDown->setGeometry(0, half, width(), height() - half);
}

}  // namespace vx
