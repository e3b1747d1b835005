// The login dialog.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/text.h"
#include "gui/frm_fb_login.h"
#include "gui_test_support.h"

using namespace qn;

TEST(GuiFrmFBLogin, EmptyValuesAreOfferedAsTheStandardCredentials) {
  std::string user, password;
  DialogScript script;
  script.Expect([](QWidget* d) {
    EXPECT_EQ(d->objectName(), "frmFBLogin");
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Ввод пароля"));
    EXPECT_EQ(Child<QLabel>(d, "lblPrompt")->text(),
              QStringLiteral("Введите имя пользователя и пароль для соединения с сервером Firebird SQL"));
    EXPECT_EQ(Child<QLineEdit>(d, "edtUser")->text(), "SYSDBA");
    EXPECT_EQ(Child<QLineEdit>(d, "edtPwd")->text(), "quillfern");
    EXPECT_EQ(Child<QLineEdit>(d, "edtPwd")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Child<QPushButton>(d, "btnOk")->isDefault());
    Click(d, "btnOk");
  });
  EXPECT_TRUE(TfrmFBLogin::Ask(nullptr, user, password));
  EXPECT_EQ(user, "SYSDBA");
  EXPECT_EQ(password, "quillfern");
}

TEST(GuiFrmFBLogin, OkGivesBackWhatWasTyped) {
  std::string user = "admin", password = "old";
  DialogScript script;
  script.Expect([](QWidget* d) {
    auto* edtUser = Child<QLineEdit>(d, "edtUser");
    EXPECT_EQ(edtUser->text(), "admin") << "given values are shown as they are";
    edtUser->clear();
    TypeText(edtUser, QStringLiteral("Пётр"));
    auto* edtPwd = Child<QLineEdit>(d, "edtPwd");
    edtPwd->clear();
    TypeText(edtPwd, QStringLiteral("пароль1"));
    Click(d, "btnOk");
  });
  EXPECT_TRUE(TfrmFBLogin::Ask(nullptr, user, password));
  EXPECT_EQ(user, Win1251("Пётр"));
  EXPECT_EQ(password, Win1251("пароль1"));
}

TEST(GuiFrmFBLogin, CancelLeavesTheValues) {
  std::string user, password = "kept";
  DialogScript script;
  script.Expect([](QWidget* d) {
    Child<QLineEdit>(d, "edtUser")->setText("other");
    Click(d, "btnCancel");
  });
  EXPECT_FALSE(TfrmFBLogin::Ask(nullptr, user, password));
  EXPECT_EQ(user, "");
  EXPECT_EQ(password, "kept");
}
