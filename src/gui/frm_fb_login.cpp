#include "gui/frm_fb_login.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/password_edit.h"
#include "gui/qt_text.h"
#include "settings/register.h"

namespace qn {

namespace {
constexpr int kClientWidth = 232;
constexpr int kClientHeight = 135;
}  // namespace

TfrmFBLogin::TfrmFBLogin(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmFBLogin"));
  setWindowTitle(QStringLiteral("Ввод пароля"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* prompt = new QLabel(QStringLiteral("Введите имя пользователя и пароль для соединения с сервером Firebird SQL"));
  prompt->setObjectName(QStringLiteral("lblPrompt"));
  prompt->setWordWrap(true);
  edtUser_ = new QLineEdit;
  edtUser_->setObjectName(QStringLiteral("edtUser"));
  edtPwd_ = new QLineEdit;
  edtPwd_->setObjectName(QStringLiteral("edtPwd"));
  MakePasswordEdit(edtPwd_);
  auto* lblUser = new QLabel(QStringLiteral("Имя"));
  lblUser->setObjectName(QStringLiteral("lblUser"));
  lblUser->setBuddy(edtUser_);
  auto* lblPwd = new QLabel(QStringLiteral("Пароль"));
  lblPwd->setObjectName(QStringLiteral("lblPwd"));
  lblPwd->setBuddy(edtPwd_);

  btnOk_ = new QPushButton(QStringLiteral("ОК"));
  btnOk_->setObjectName(QStringLiteral("btnOk"));
  btnOk_->setDefault(true);
  btnCancel_ = new QPushButton(QStringLiteral("Отмена"));
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
  prompt->setFixedWidth(std::max(kClientWidth, buttons->sizeHint().width() + m.left() + m.right()) - m.left() -
                        m.right());
  setMinimumHeight(kClientHeight);
}

void TfrmFBLogin::SetCredentials(const std::string& user, const std::string& password) {
  edtUser_->setText(ToQString(user.empty() ? std::string(kDefaultUser) : user));
  edtPwd_->setText(ToQString(password.empty() ? std::string(kDefaultPassword) : password));
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
