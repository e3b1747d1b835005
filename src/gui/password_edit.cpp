#include "gui/password_edit.h"

#include <QLineEdit>
#include <QProxyStyle>

namespace qn {

namespace {

class TqnStarStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

void MakePasswordEdit(QLineEdit* edit) {
  auto* style = new TqnStarStyle;
  style->setParent(edit);
  edit->setStyle(style);
  edit->setEchoMode(QLineEdit::Password);
}

}  // namespace qn
