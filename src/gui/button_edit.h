// TqnButtonEdit: a one-line text field with one image button at its right
// end. A click on the button (or Alt+Down in the field) runs the callback.
#pragma once

#include <QLineEdit>
#include <functional>

class QAction;

namespace qn {

class TqnButtonEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TqnButtonEdit(QWidget* parent = nullptr);

  void SetOnButtonClick(std::function<void()> onClick) { onClick_ = std::move(onClick); }
  // The button, for a tool tip or a click from code.
  QAction* Button() const { return button_; }
  void ClickButton();

 signals:
  void buttonClicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QAction* button_;
  std::function<void()> onClick_;
};

}  // namespace qn
