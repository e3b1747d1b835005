// The properties dialog: what it shows for an entry and what the entry
// holds after "ОК".
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTest>

#include "base/text.h"
#include "gui/button_edit.h"
#include "gui/frm_data.h"
#include "gui/num_edit.h"
#include "gui_test_support.h"
#include "settings/entry_form.h"

using namespace qn;

namespace {

// An entry of a register, shown in the dialog.
struct Shown {
  std::unique_ptr<TqnNode> root = NewSettings();
  TqnNode* entry;
  TfrmData dialog;

  explicit Shown(const std::function<void(TqnNode&)>& change = {}, bool creation = false) {
    entry = AddTestEntry(*root, 12, Win1251("Склад"), "localhost:/srv/db/sklad.fdb");
    if (change) change(*entry);
    dialog.SetForm(LoadEntryForm(*entry, creation, "SERVER"));
  }
  // "ОК": the form goes back into the entry, as the core stores it.
  void Store() { StoreEntryForm(dialog.Form(), *entry); }
  std::string Backup(const char* name) const { return entry->FindNode("backup")->FindNode(name)->Text(); }
  template <class T>
  T* Get(const char* name) {
    return Child<T>(&dialog, name);
  }
};

}  // namespace

TEST(GuiFrmData, ShowsTheEntry) {
  Shown s;
  EXPECT_EQ(s.dialog.objectName(), "frmData");
  EXPECT_EQ(s.dialog.windowTitle(), QStringLiteral("База данных"));
  EXPECT_EQ(s.Get<QLineEdit>("edtConnAddr")->text(), "12@SERVER");
  EXPECT_TRUE(s.Get<QLineEdit>("edtConnAddr")->isReadOnly());
  EXPECT_EQ(s.Get<TqnButtonEdit>("edtPath")->text(), "localhost:/srv/db/sklad.fdb");
  EXPECT_EQ(s.Get<QLineEdit>("edtCaption")->text(), QStringLiteral("Склад"));
  EXPECT_EQ(s.Get<TqnButtonEdit>("edtBackupPath")->text(), "/srv/backup/12");
  EXPECT_EQ(s.Get<QLineEdit>("edtBackupTime")->text(), "06:30");
  EXPECT_EQ(s.Get<QLineEdit>("edtBackupInterval")->text(), "60");
  EXPECT_EQ(s.Get<QLineEdit>("edtUser")->text(), "SYSDBA");
  EXPECT_EQ(s.Get<QLineEdit>("edtName")->text(), "db0012");
  EXPECT_TRUE(s.Get<QLineEdit>("edtName")->isReadOnly());
  EXPECT_TRUE(s.Get<QCheckBox>("chkSendPwd")->isChecked()) << "no hidepwd: the password is sent";
  EXPECT_TRUE(s.Get<QCheckBox>("chkCreate")->isHidden()) << "only in creation mode";
  EXPECT_TRUE(s.Get<QPushButton>("btnOk")->isDefault());
}

TEST(GuiFrmData, PagesAndTextsAreTheSystemsOwn) {
  Shown s;
  auto* pages = s.Get<QTabWidget>("pgcData");
  ASSERT_EQ(pages->count(), 4);
  EXPECT_EQ(pages->tabText(0), QStringLiteral("Соединение"));
  EXPECT_EQ(pages->tabText(1), QStringLiteral("Архивация"));
  EXPECT_EQ(pages->tabText(2), QStringLiteral("Копии"));
  EXPECT_EQ(pages->tabText(3), QStringLiteral("Дополнительно"));
  EXPECT_EQ(s.Get<QCheckBox>("chkAutoBackup")->text(), QStringLiteral("Автоматически создавать резервные  копии"));
  EXPECT_EQ(s.Get<QCheckBox>("chkDay0")->text(), QStringLiteral("Понедельник"));
  EXPECT_EQ(s.Get<QCheckBox>("chkDay6")->text(), QStringLiteral("Воскресенье"));
  EXPECT_EQ(s.Get<QLabel>("lblCaption")->text(), QStringLiteral("Комментарий (не обязательно)"));
  EXPECT_EQ(s.Get<QLabel>("lblBackupInterval")->text(), QStringLiteral("резервных копий, каждые"));
  EXPECT_EQ(s.Get<QPushButton>("btnOk")->text(), QStringLiteral("ОК"));
  EXPECT_EQ(s.Get<QPushButton>("btnCancel")->text(), QStringLiteral("Отмена"));
}

TEST(GuiFrmData, TheCopiesPageShowsEachDestinationWithItsTickAndGivesTheTicksBack) {
  Shown s;
  EXPECT_FALSE(s.Get<QLabel>("lblNoDestinations")->isHidden())
      << "no destination: the page says where they are described";
  TqnEntryForm form = s.dialog.Form();
  form.copies = {{"nas", "nas - /mnt/nas", false}, {"cloud", Win1251("cloud - нет в настройках"), true}};
  s.dialog.SetForm(form);
  auto* list = s.Get<QListWidget>("lstCopies");
  ASSERT_EQ(list->count(), 2);
  EXPECT_TRUE(s.Get<QLabel>("lblNoDestinations")->isHidden());
  EXPECT_EQ(list->item(1)->text(), QStringLiteral("cloud - нет в настройках"));
  EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
  list->item(0)->setCheckState(Qt::Checked);
  list->item(1)->setCheckState(Qt::Unchecked);
  const TqnEntryForm back = s.dialog.Form();
  EXPECT_TRUE(back.copies[0].ticked);
  EXPECT_FALSE(back.copies[1].ticked);
}

TEST(GuiFrmData, WeekdaysOfTheWrongLengthOpenAsMondayToFridayAndAreStoredSo) {
  Shown s([](TqnNode& e) { e.FindNode("backup")->FindNode("weekdays")->SetText("10"); });
  for (int i = 0; i < 7; ++i) {
    std::string name = "chkDay" + std::to_string(i);
    EXPECT_EQ(s.Get<QCheckBox>(name.c_str())->isChecked(), i < 5) << name;
  }
  s.Store();
  EXPECT_EQ(s.Backup("weekdays"), "1111100");
}

TEST(GuiFrmData, TickedDaysAreStoredMondayFirst) {
  Shown s([](TqnNode& e) { e.FindNode("backup")->FindNode("weekdays")->SetText("0000000"); });
  s.Get<QCheckBox>("chkDay1")->setChecked(true);
  s.Get<QCheckBox>("chkDay6")->setChecked(true);
  s.Store();
  EXPECT_EQ(s.Backup("weekdays"), "0100001");
}

TEST(GuiFrmData, TheBackupTimeShowsAsHoursAndMinutesAndIsTypedInPlaces) {
  Shown s([](TqnNode& e) { e.FindNode("backup")->FindNode("time")->SetText("1439"); });
  auto* time = s.Get<QLineEdit>("edtBackupTime");
  EXPECT_EQ(time->text(), "23:59");
  EXPECT_EQ(time->maxLength(), 5);
  s.Store();
  EXPECT_EQ(s.Backup("time"), "1439");

  time->setFocus();
  time->setCursorPosition(0);
  QTest::keyClicks(time, "07x15");
  EXPECT_EQ(time->text(), "07:15") << "digits only, the colon stays";
  s.Store();
  EXPECT_EQ(s.Backup("time"), "435");

  time->clear();
  s.Store();
  EXPECT_EQ(s.Backup("time"), "0") << "unfilled places count as no number";
}

TEST(GuiFrmData, UntickingSendPasswordStoresHidepwd) {
  Shown s;
  s.Get<QCheckBox>("chkSendPwd")->setChecked(false);
  s.Store();
  EXPECT_EQ(s.entry->FindNode("hidepwd")->Text(), "1");
  s.Get<QCheckBox>("chkSendPwd")->setChecked(true);
  s.Store();
  EXPECT_EQ(s.entry->FindNode("hidepwd")->Text(), "0");
}

TEST(GuiFrmData, TheDefaultsButtonSetsTheStandardCredentials) {
  Shown s([](TqnNode& e) {
    e.FindNode("user")->SetText("ivan");
    e.FindNode("pwd")->SetText("secret");
    e.Node("hidepwd")->SetText("1");
  });
  EXPECT_FALSE(s.Get<QCheckBox>("chkSendPwd")->isChecked());
  s.Get<QPushButton>("btnFBDefault")->click();
  EXPECT_EQ(s.Get<QLineEdit>("edtUser")->text(), "SYSDBA");
  EXPECT_EQ(s.Get<QLineEdit>("edtPwd")->text(), "quillfern");
  EXPECT_TRUE(s.Get<QCheckBox>("chkSendPwd")->isChecked());
  EXPECT_EQ(s.Get<QLineEdit>("edtCaption")->text(), QStringLiteral("Склад")) << "nothing else changes";
}

TEST(GuiFrmData, ThePasswordShowsAStarForEachCharacter) {
  Shown s;
  auto* pwd = s.Get<QLineEdit>("edtPwd");
  EXPECT_EQ(pwd->echoMode(), QLineEdit::Password);
  EXPECT_EQ(pwd->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, pwd), '*');
}

TEST(GuiFrmData, NumbersStayWithinTheirLimits) {
  Shown s([](TqnNode& e) {
    e.FindNode("backup")->FindNode("num")->SetText("100");
    e.FindNode("backup")->FindNode("interval")->SetText("1440");
  });
  auto* num = s.Get<TqnUpDown>("spnNum");
  auto* interval = s.Get<TqnUpDown>("spnInterval");
  auto* rest = s.Get<TqnUpDown>("spnRest");
  EXPECT_EQ(num->Associated(), s.Get<TqnNumEdit>("edtBackupNum"));
  EXPECT_EQ(interval->Associated(), s.Get<TqnNumEdit>("edtBackupInterval"));
  num->StepBy(1);
  interval->StepBy(1);
  EXPECT_EQ(num->Position(), 100);
  EXPECT_EQ(interval->Position(), 1440);
  interval->StepBy(-1);
  EXPECT_EQ(interval->Position(), 1435) << "the interval moves in fives";
  rest->SetPosition(30001);
  s.Store();
  EXPECT_EQ(s.Backup("num"), "100");
  EXPECT_EQ(s.Backup("interval"), "1435");
  EXPECT_EQ(s.Backup("rest"), "30000");
  num->SetPosition(0);
  EXPECT_EQ(num->Position(), 1);
}

TEST(GuiFrmData, TheKeptCountActsOnlyWithItsPruneBoxAndAnOlderEntryIsStoredUnchanged) {
  Shown s([](TqnNode& e) { e.FindNode("backup")->FindNode("rest")->SetText("25"); });
  auto* prune = s.Get<QCheckBox>("chkPrune");
  EXPECT_EQ(prune->text(), QStringLiteral("Сохранять не более"));
  EXPECT_FALSE(prune->isChecked()) << "a missing \"prune\" means no pruning";
  EXPECT_FALSE(s.Get<QWidget>("edtBackupRest")->isEnabled());
  EXPECT_TRUE(s.Get<QCheckBox>("chkVerify")->isChecked()) << "a missing \"verify\" means verifying";
  s.Store();
  EXPECT_EQ(s.Backup("rest"), "25");
  EXPECT_FALSE(s.entry->FindNode("backup")->FindNode("prune")->Exists());
  EXPECT_FALSE(s.entry->FindNode("backup")->FindNode("verify")->Exists());

  prune->setChecked(true);
  EXPECT_TRUE(s.Get<QWidget>("edtBackupRest")->isEnabled());
  s.Get<QCheckBox>("chkVerify")->setChecked(false);
  s.Store();
  EXPECT_EQ(s.Backup("prune"), "1");
  EXPECT_EQ(s.Backup("verify"), "0");
}

TEST(GuiFrmData, TypedCyrillicIsStoredAsWindows1251) {
  Shown s;
  auto* caption = s.Get<QLineEdit>("edtCaption");
  caption->clear();
  TypeText(caption, QStringLiteral("Бухгалтерия"));
  s.Store();
  EXPECT_EQ(s.entry->FindNode("caption")->Content().AsString(""), Win1251("Бухгалтерия"));
}

TEST(GuiFrmData, PathAndFolderButtonsPutTheAnswerIntoTheField) {
  Shown s;
  std::vector<std::string> asked;
  std::optional<std::string> answer = "localhost/53030:/srv/db/new.fd3";
  TqnEntryFormActions actions;
  actions.choosePath = [&](const std::string& current) {
    asked.push_back(current);
    return answer;
  };
  actions.chooseBackupFolder = [&](const std::string& current) -> std::optional<std::string> {
    asked.push_back(current);
    return std::nullopt;
  };
  s.dialog.SetActions(actions);
  s.Get<TqnButtonEdit>("edtPath")->Button()->trigger();
  EXPECT_EQ(s.Get<TqnButtonEdit>("edtPath")->text(), "localhost/53030:/srv/db/new.fd3");
  answer.reset();
  s.Get<TqnButtonEdit>("edtPath")->Button()->trigger();
  EXPECT_EQ(s.Get<TqnButtonEdit>("edtPath")->text(), "localhost/53030:/srv/db/new.fd3") << "no answer, no change";
  s.Get<TqnButtonEdit>("edtBackupPath")->Button()->trigger();
  EXPECT_EQ(s.Get<TqnButtonEdit>("edtBackupPath")->text(), "/srv/backup/12");
  EXPECT_EQ(asked, (std::vector<std::string>{"localhost:/srv/db/sklad.fdb", "localhost/53030:/srv/db/new.fd3",
                                             "/srv/backup/12"}));
}

TEST(GuiFrmData, CreationModeShowsTheTickedCreateBox) {
  Shown s({}, true);
  auto* create = s.Get<QCheckBox>("chkCreate");
  EXPECT_FALSE(create->isHidden());
  EXPECT_TRUE(create->isChecked());
  EXPECT_TRUE(s.dialog.Form().createDatabase);
  create->setChecked(false);
  EXPECT_FALSE(s.dialog.Form().createDatabase);
}

TEST(GuiFrmData, EnteringTheAddressFieldSelectsAllOfIt) {
  Shown s;
  s.dialog.show();
  s.dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&s.dialog));
  auto* address = s.Get<QLineEdit>("edtConnAddr");
  s.Get<QLineEdit>("edtCaption")->setFocus();
  ASSERT_TRUE(ProcessUntil([&] { return !address->hasFocus(); }));
  // A click: the press places the cursor after the focus has come.
  QTest::mouseClick(address, Qt::LeftButton, Qt::NoModifier, QPoint(5, address->height() / 2));
  EXPECT_TRUE(ProcessUntil([&] { return address->selectedText() == "12@SERVER"; }))
      << address->selectedText().toStdString();
}

TEST(GuiFrmData, APartlyTypedTimeCannotBeConfirmed) {
  std::unique_ptr<TqnNode> root = NewSettings();
  TqnEntryForm form = LoadEntryForm(*AddTestEntry(*root, 1, "", "localhost:/a.fdb"), false, "H");
  ASSERT_EQ(form.timeText, "06:30");
  DialogScript script;
  script.Expect([](QWidget* d) {
    auto* time = Child<QLineEdit>(d, "edtBackupTime");
    time->setFocus();
    time->setCursorPosition(5);
    QTest::keyClick(time, Qt::Key_Backspace);
    ASSERT_EQ(time->displayText(), "06:3_");
    Click(d, "btnOk");
    EXPECT_TRUE(d->isVisible()) << "06:3_ was confirmed";
    QTest::keyClick(time, Qt::Key_5);
    Click(d, "btnOk");
  });
  EXPECT_TRUE(TfrmData::Edit(nullptr, form, {}));
  EXPECT_EQ(form.timeText, "06:35");
  EXPECT_EQ(script.Handled(), 1);
}

TEST(GuiFrmData, OkAndCancelThroughTheModalDialog) {
  std::unique_ptr<TqnNode> root = NewSettings();
  TqnEntryForm form = LoadEntryForm(*AddTestEntry(*root, 1, "", "localhost:/a.fdb"), false, "H");
  DialogScript script;
  script.Expect([](QWidget* d) {
    auto* caption = Child<QLineEdit>(d, "edtCaption");
    caption->setText("typed");
    Click(d, "btnCancel");
  });
  EXPECT_FALSE(TfrmData::Edit(nullptr, form, {}));
  EXPECT_EQ(form.caption, "");
  script.Expect([](QWidget* d) {
    Child<QLineEdit>(d, "edtCaption")->setText("typed");
    Click(d, "btnOk");
  });
  EXPECT_TRUE(TfrmData::Edit(nullptr, form, {}));
  EXPECT_EQ(form.caption, "typed");
  EXPECT_EQ(script.Handled(), 2);
}
