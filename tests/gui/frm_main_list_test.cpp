// The Qt skin of the main window's list and buttons over a real core: it
// draws what the presenter gives and forwards clicks, mouse and dialogs to it.
// What the list and the buttons decide is tested with the presenter.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTreeWidget>

#include "base/error.h"
#include "base/text.h"
#include "gui_test_support.h"
#include "settings/register.h"

using namespace qn;

namespace {

struct ListRun : CoreRun {
  QTreeWidget* list() { return Child<QTreeWidget>(&window, "lvwBase"); }
  QPushButton* button(const char* name) { return Child<QPushButton>(&window, name); }
  QString RowText(int row, int column = 0) { return list()->topLevelItem(row)->text(column); }
  int SelectedRow() {
    QList<QTreeWidgetItem*> s = list()->selectedItems();
    return s.isEmpty() ? -1 : list()->indexOfTopLevelItem(s.first());
  }
  bool EntryButtonsEnabled() {
    bool all = true, none = true;
    for (const char* b : {"btnEdit", "btnBackup", "btnRestore", "btnRemove"}) {
      all = all && button(b)->isEnabled();
      none = none && !button(b)->isEnabled();
    }
    EXPECT_TRUE(all || none) << "the four entry buttons go together";
    return all;
  }
  QString Host() { return QString::fromStdString(core->LocalHostName()); }
  void StartWith(const std::vector<std::pair<int, std::string>>& entries, bool qtDialogs) {
    auto root = NewSettings();
    for (auto& [n, caption] : entries) AddTestEntry(*root, n, caption, "localhost:/srv/db/" + EntryName(n) + ".fdb");
    WriteSettings(*root);
    Start(qtDialogs);
  }
};

}  // namespace

TEST(GuiMainList, TheListDrawsThePresentersRowsColumnsAndTray) {
  ListRun run;
  auto root = ListSample();
  run.WriteSettings(*root);
  run.Start(false);

  QTreeWidget* list = run.list();
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("Адрес подключения"));
  EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("Путь"));
  EXPECT_EQ(list->headerItem()->text(2), QStringLiteral("Последняя резервная копия"));
  EXPECT_EQ(run.RowText(0), "1@" + run.Host());
  EXPECT_EQ(run.RowText(2), "3@" + run.Host() + QStringLiteral("  (Склад)"));
  EXPECT_EQ(run.RowText(2, 1), "localhost/53030:/srv/db/sklad.fd3");
  EXPECT_EQ(list->topLevelItem(2)->data(0, Qt::UserRole).toInt(), 3);
  EXPECT_EQ(run.RowText(0, 2), "");
  EXPECT_EQ(run.RowText(1, 2), QStringLiteral("08.12.2026 — ошибка")) << "a backup after the clock's today";
  EXPECT_EQ(list->topLevelItem(2)->toolTip(1), run.RowText(2, 1)) << "the whole path in the tip";
  // The state of the backups and the address show whole at the window's
  // designed size and at its smallest, without widening it.
  run.window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&run.window));
  for (const QSize size : {run.window.size(), run.window.minimumSize()}) {
    run.window.resize(size);
    QApplication::processEvents();
    const QFontMetrics metrics = list->fontMetrics();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
      EXPECT_GE(list->columnWidth(0), metrics.horizontalAdvance(run.RowText(row)) + list->iconSize().width() + 8)
          << run.RowText(row).toStdString() << " at " << size.width();
      EXPECT_GE(list->columnWidth(2), metrics.horizontalAdvance(run.RowText(row, 2)) + 8)
          << run.RowText(row, 2).toStdString() << " at " << size.width();
    }
  }
  EXPECT_EQ(run.SelectedRow(), 0) << "the first row is selected";
  EXPECT_TRUE(run.EntryButtonsEnabled());
  EXPECT_NE(run.window.TrayIcon()->toolTip().indexOf(QStringLiteral("db0002 — ошибка")), -1)
      << run.window.TrayIcon()->toolTip().toStdString();
}

TEST(GuiMainList, SelectionFollowsTheUserAndDrivesTheButtons) {
  ListRun run;
  run.StartWith({{0, "a"}, {1, "b"}, {2, "c"}}, false);
  run.list()->setCurrentItem(run.list()->topLevelItem(2));
  EXPECT_EQ(run.core->SelectedRow(), 2);
  EXPECT_EQ(run.core->SelectedEntry()->Name(), "db0002");
  run.list()->clearSelection();
  EXPECT_EQ(run.core->SelectedRow(), -1);
  EXPECT_FALSE(run.EntryButtonsEnabled());
  run.button("btnEdit")->click();  // disabled: nothing happens
  EXPECT_TRUE(run.scripted.editedForms.empty());
  run.list()->setCurrentItem(run.list()->topLevelItem(1));
  EXPECT_TRUE(run.EntryButtonsEnabled());
}

TEST(GuiMainList, RemovingSelectsTheFirstRemainingRow) {
  ListRun run;
  run.StartWith({{0, "a"}, {1, "b"}, {2, "c"}}, false);
  run.list()->setCurrentItem(run.list()->topLevelItem(1));
  run.scripted.answers = {false};
  run.button("btnRemove")->click();
  EXPECT_EQ(run.list()->topLevelItemCount(), 3) << "No keeps the entry";

  run.scripted.answers = {true};
  run.button("btnRemove")->click();
  ASSERT_EQ(run.scripted.questions.size(), 2u);
  EXPECT_EQ(run.scripted.questions[1].kind, TqnMessageKind::Warning);
  EXPECT_EQ(run.scripted.questions[1].text, Win1251("Удалить из списка запись о базе данных"));
  ASSERT_EQ(run.list()->topLevelItemCount(), 2);
  EXPECT_EQ(run.RowText(0), "0@" + run.Host() + "  (a)");
  EXPECT_EQ(run.RowText(1), "2@" + run.Host() + "  (c)");
  EXPECT_EQ(run.SelectedRow(), 0);
  EXPECT_FALSE(RegisterOf(*run.SavedSettings())->FindNode("db0001")->Exists()) << "the removal is saved";
}

TEST(GuiMainList, PropertiesByDoubleClickUpdateTheRowAndTheFile) {
  ListRun run;
  run.StartWith({{0, "a"}, {3, Win1251("Склад")}}, true);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&run.window));
  QTreeWidgetItem* row = run.list()->topLevelItem(1);
  QRect rect = run.list()->visualItemRect(row);
  DialogScript script;
  script.Expect([](QWidget* d) {
    EXPECT_EQ(d->objectName(), "frmData");
    EXPECT_EQ(Child<QLineEdit>(d, "edtName")->text(), "db0003");
    EXPECT_TRUE(Child<QCheckBox>(d, "chkCreate")->isHidden());
    auto* caption = Child<QLineEdit>(d, "edtCaption");
    caption->clear();
    TypeText(caption, QStringLiteral("Склад №2"));
    Click(d, "btnOk");
  });
  // A double click as the mouse makes it: a click, then the second press.
  QTest::mouseClick(run.list()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  QTest::mouseDClick(run.list()->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
  EXPECT_EQ(script.Handled(), 1);
  EXPECT_EQ(run.RowText(1), "3@" + run.Host() + QStringLiteral("  (Склад №2)"));
  EXPECT_EQ(run.SelectedRow(), 1) << "the selection stays on the edited entry";
  EXPECT_EQ(FindEntry(*run.SavedSettings(), 3)->FindNode("caption")->Content().AsString(""), Win1251("Склад №2"));
}

TEST(GuiMainList, CancelInCreationModeRemovesTheNewEntry) {
  ListRun run;
  run.StartWith({{0, "a"}, {7, "b"}}, true);
  run.list()->setCurrentItem(run.list()->topLevelItem(1));
  DialogScript script;
  script.Expect([](QWidget* d) {
    EXPECT_EQ(Child<QLineEdit>(d, "edtName")->text(), "db0008") << "the highest number plus one";
    auto* create = Child<QCheckBox>(d, "chkCreate");
    EXPECT_FALSE(create->isHidden());
    EXPECT_TRUE(create->isChecked());
    Click(d, "btnCancel");
  });
  run.button("btnCreate")->click();
  EXPECT_EQ(script.Handled(), 1);
  EXPECT_EQ(run.list()->topLevelItemCount(), 2);
  EXPECT_EQ(run.SelectedRow(), 1);
  EXPECT_FALSE(RegisterOf(run.core->Settings().Root())->FindNode("db0008")->Exists());
  EXPECT_TRUE(run.created.empty());
}

TEST(GuiMainList, AFailingActionIsShownInAnErrorBoxAndTheListStays) {
  ListRun run;
  run.StartWith({{0, "a"}}, true);
  int restores = 0;
  run.core->SetBackupActions([] { throw Exception(Win1251("Архивация не удалась")); }, [&] { ++restores; });
  DialogScript script;
  script.Expect([](QWidget* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Ошибка"));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->text(), QStringLiteral("Архивация не удалась"));
    box->button(QMessageBox::Ok)->click();
  });
  run.button("btnBackup")->click();
  EXPECT_EQ(script.Handled(), 1);
  EXPECT_EQ(run.list()->topLevelItemCount(), 1);

  run.button("btnRestore")->click();
  EXPECT_EQ(restores, 1);
}
