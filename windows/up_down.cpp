#include "up_down.h"

#include <QToolButton>

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
  auto makeArrow = [this](Qt::ArrowType arrow, const char* name) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // Like the arrows of a spin box, they do not take the focus from the box beside them.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
  };
  up_ = makeArrow(Qt::UpArrow, "Up");
  down_ = makeArrow(Qt::DownArrow, "Down");
  connect(up_, &QToolButton::clicked, this, [this] { StepUp(); });
  connect(down_, &QToolButton::clicked, this, [this] { StepDown(); });
}

void UpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = max < min ? min : max;
  SetPosition(position_);
}

void UpDown::SetPosition(int position) {
  position_ = position < min_ ? min_ : position > max_ ? max_ : position;
}

void UpDown::StepUp() {
  SetPosition(position_ + 1);
  emit Clicked(true);
}

void UpDown::StepDown() {
  SetPosition(position_ - 1);
  emit Clicked(false);
}

void UpDown::resizeEvent(QResizeEvent*) {
  const int upper = height() / 2;
  up_->setGeometry(0, 0, width(), upper);
  down_->setGeometry(0, upper, width(), height() - upper);
}
