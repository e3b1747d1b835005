// TqnInfinity: the busy indicator of long operations. A block runs to and
// fro along a groove while the control is visible; it says that work goes
// on, not how much is left. The animation runs only while it is shown.
#pragma once

#include <QWidget>

class QTimer;

namespace qn {

class TqnInfinity : public QWidget {
  Q_OBJECT

 public:
  explicit TqnInfinity(QWidget* parent = nullptr);

  bool Animating() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Advance();

  QTimer* timer_;
  int phase_ = 0;  // 0 .. 2*kSteps-1: forth, then back
};

}  // namespace qn
