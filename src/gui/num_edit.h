// The numeric edit and its up-down control.
//
// TqnNumEdit shows a whole number in the format "#0" (decimal digits, no
// leading zeros), right-aligned, and accepts only digits. TqnUpDown holds a
// position between its limits, moves it by its step and never wraps past a
// limit; once associated with an edit it shows its position there, takes a
// number typed into the edit (held at the limits), and answers the Up and
// Down keys pressed in the edit.
#pragma once

#include <QLineEdit>
#include <QWidget>

class QToolButton;

namespace qn {

class TqnNumEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TqnNumEdit(QWidget* parent = nullptr);

  void SetValue(int value);
  // The number in the text; nothing when the text holds none.
  bool HasValue() const;
  int Value() const;
  // The longest number that can be typed, in digits.
  void SetMaxDigits(int digits);
};

class TqnUpDown : public QWidget {
  Q_OBJECT

 public:
  explicit TqnUpDown(QWidget* parent = nullptr);

  void SetLimits(int min, int max, int step);
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Step() const { return step_; }
  void Associate(TqnNumEdit* edit);
  TqnNumEdit* Associated() const { return edit_; }

  int Position() const { return position_; }
  // Held at the limits.
  void SetPosition(int position);
  // Moves by steps × step, stopping at a limit.
  void StepBy(int steps);

 signals:
  void positionChanged(int position);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowInEdit();
  void TakeFromEdit();

  int min_ = 0, max_ = 100, step_ = 1;
  int position_ = 0;
  TqnNumEdit* edit_ = nullptr;
  QToolButton* up_;
  QToolButton* down_;
};

}  // namespace qn
