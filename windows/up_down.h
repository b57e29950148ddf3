// An up-down spinner: two small arrow buttons and a position within a range, without a text of
// its own. The up arrow raises the position by one, the down arrow lowers it by one; at either
// end of the range the position stays (no wrap-around), and Clicked is emitted after every
// press, moved or not. A held arrow repeats.
#pragma once

#include <QWidget>

class QToolButton;

class UpDown : public QWidget {
  Q_OBJECT
 public:
  explicit UpDown(QWidget* parent = nullptr);

  void SetRange(int min, int max);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  // Held within the range.
  void SetPosition(int position);

  // What a press of either arrow does.
  void StepUp();
  void StepDown();

  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

 signals:
  void Clicked(bool up);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* up_ = nullptr;
  QToolButton* down_ = nullptr;
  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
};
