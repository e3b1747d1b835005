#include "gui/frm_fb_login.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/dialog_rules.h"
#include "app/window_texts.h"
#include "gui/password_edit.h"
#include "gui/qt_text.h"

namespace qn {

namespace {
QString Text(TqnText text) { return ToQString(UiText(text)); }
}  // namespace

TfrmFBLogin::TfrmFBLogin(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmFBLogin"));
  setWindowTitle(Text(TqnText::LoginCaption));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* prompt = new QLabel(Text(TqnText::LoginPrompt));
  prompt->setObjectName(QStringLiteral("lblPrompt"));
  prompt->setWordWrap(true);
  edtUser_ = new QLineEdit;
  edtUser_->setObjectName(QStringLiteral("edtUser"));
  edtPwd_ = new QLineEdit;
  edtPwd_->setObjectName(QStringLiteral("edtPwd"));
  MakePasswordEdit(edtPwd_);
  auto* lblUser = new QLabel(Text(TqnText::LoginUser));
  lblUser->setObjectName(QStringLiteral("lblUser"));
  lblUser->setBuddy(edtUser_);
  auto* lblPwd = new QLabel(Text(TqnText::LoginPassword));
  lblPwd->setObjectName(QStringLiteral("lblPwd"));
  lblPwd->setBuddy(edtPwd_);

  btnOk_ = new QPushButton(Text(TqnText::AnswerOk));
  btnOk_->setObjectName(QStringLiteral("btnOk"));
  btnOk_->setDefault(true);
  btnCancel_ = new QPushButton(Text(TqnText::AnswerCancel));
  btnCancel_->setObjectName(QStringLiteral("btnCancel"));
  btnCancel_->setAutoDefault(false);
  connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QGridLayout;
  fields->addWidget(lblUser, 0, 0);
  fields->addWidget(edtUser_, 0, 1);
  fields->addWidget(lblPwd, 1, 0);
  fields->addWidget(edtPwd_, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk_);
  buttons->addWidget(btnCancel_);
  auto* layout = new QVBoxLayout(this);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->addWidget(prompt);
  layout->addLayout(fields);
  layout->addStretch();
  layout->addLayout(buttons);
  // The prompt wraps within the designed width, or a little more when the
  // buttons need it.
  const QMargins m = layout->contentsMargins();
  prompt->setFixedWidth(std::max(kLoginClientWidth, buttons->sizeHint().width() + m.left() + m.right()) - m.left() -
                        m.right());
  setMinimumHeight(kLoginClientHeight);
}

void TfrmFBLogin::SetCredentials(std::string user, std::string password) {
  LoginDefaults(user, password);
  edtUser_->setText(ToQString(user));
  edtPwd_->setText(ToQString(password));
}

std::string TfrmFBLogin::User() const { return FromQString(edtUser_->text()); }
std::string TfrmFBLogin::Password() const { return FromQString(edtPwd_->text()); }

bool TfrmFBLogin::Ask(QWidget* parent, std::string& user, std::string& password) {
  bool confirmed = false;
  {
    TfrmFBLogin dialog(parent);
    dialog.SetCredentials(user, password);
    confirmed = dialog.exec() == QDialog::Accepted;
    if (confirmed) {
      user = dialog.User();
      password = dialog.Password();
    }
  }
  // Let the windows beneath redraw before the caller's long work begins.
  QCoreApplication::processEvents();
  return confirmed;
}

}  // namespace qn
