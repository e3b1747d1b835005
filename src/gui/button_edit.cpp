#include "gui/button_edit.h"

#include <QAction>
#include <QKeyEvent>
#include <QStyle>

namespace qn {

TqnButtonEdit::TqnButtonEdit(QWidget* parent) : QLineEdit(parent) {
  button_ = addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
  button_->setObjectName(QStringLiteral("actButton"));
  connect(button_, &QAction::triggered, this, &TqnButtonEdit::ClickButton);
}

void TqnButtonEdit::ClickButton() {
  emit buttonClicked();
  if (onClick_) onClick_();
}

void TqnButtonEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) {
    ClickButton();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace qn
