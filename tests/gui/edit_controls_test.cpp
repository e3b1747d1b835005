// The edit controls and the text boundary of the window.
#include <gtest/gtest.h>

#include <QAction>
#include <QTest>
#include <QToolButton>

#include "base/text.h"
#include "gui/button_edit.h"
#include "gui/infinity.h"
#include "gui/num_edit.h"
#include "gui/qt_text.h"
#include "gui_test_support.h"

using namespace qn;

namespace {

struct Spin {
  TqnNumEdit edit;
  TqnUpDown upDown;
  explicit Spin(int min, int max, int step) {
    upDown.SetLimits(min, max, step);
    upDown.Associate(&edit);
  }
};

}  // namespace

TEST(GuiUpDown, StepsWithinItsLimitsAndNeverWraps) {
  Spin s(5, 1440, 5);
  s.upDown.SetPosition(1435);
  s.upDown.StepBy(1);
  EXPECT_EQ(s.upDown.Position(), 1440);
  s.upDown.StepBy(1);
  EXPECT_EQ(s.upDown.Position(), 1440) << "no wrap past the top";
  EXPECT_EQ(s.edit.text(), "1440");
  s.upDown.SetPosition(5);
  s.upDown.StepBy(-1);
  EXPECT_EQ(s.upDown.Position(), 5) << "no wrap past the bottom";
  s.upDown.SetPosition(-7);
  EXPECT_EQ(s.upDown.Position(), 5);
  s.upDown.SetPosition(1000000);
  EXPECT_EQ(s.upDown.Position(), 1440);
}

TEST(GuiUpDown, ArrowButtonsAndKeysInTheEditMoveThePosition) {
  Spin s(1, 100, 1);
  s.upDown.SetPosition(99);
  auto* up = Child<QToolButton>(&s.upDown, "btnUp");
  auto* down = Child<QToolButton>(&s.upDown, "btnDown");
  ASSERT_TRUE(up && down);
  up->click();
  EXPECT_EQ(s.upDown.Position(), 100);
  EXPECT_FALSE(up->isEnabled()) << "nothing left above the top";
  QTest::keyClick(&s.edit, Qt::Key_Down);
  QTest::keyClick(&s.edit, Qt::Key_Down);
  EXPECT_EQ(s.upDown.Position(), 98);
  EXPECT_EQ(s.edit.text(), "98");
  EXPECT_TRUE(up->isEnabled());
}

TEST(GuiNumEdit, ATypedNumberIsHeldAtTheLimitsAndShownWithoutLeadingZeros) {
  Spin s(5, 1440, 5);
  s.upDown.SetPosition(60);
  s.edit.clear();
  QTest::keyClicks(&s.edit, "99999");
  EXPECT_EQ(s.edit.text(), "9999") << "no more digits than the top limit has";
  EXPECT_EQ(s.upDown.Position(), 1440);
  emit s.edit.editingFinished();
  EXPECT_EQ(s.edit.text(), "1440");

  s.edit.clear();
  QTest::keyClicks(&s.edit, "0090");
  EXPECT_EQ(s.upDown.Position(), 90);
  emit s.edit.editingFinished();
  EXPECT_EQ(s.edit.text(), "90");

  s.edit.clear();
  QTest::keyClicks(&s.edit, "-3x");
  EXPECT_EQ(s.edit.text(), "3") << "digits only";
  EXPECT_EQ(s.upDown.Position(), 5);
  EXPECT_EQ(s.edit.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST(GuiNumEdit, AnEmptiedFieldKeepsTheLastPositionAndShowsItAgain) {
  Spin s(1, 30000, 1);
  s.upDown.SetPosition(10);
  s.edit.clear();
  emit s.edit.textEdited(QString());
  EXPECT_EQ(s.upDown.Position(), 10);
  emit s.edit.editingFinished();
  EXPECT_EQ(s.edit.text(), "10");
}

TEST(GuiButtonEdit, TheButtonAndAltDownRunTheCallback) {
  TqnButtonEdit edit;
  int clicks = 0;
  edit.SetOnButtonClick([&] { ++clicks; });
  ASSERT_NE(edit.Button(), nullptr);
  EXPECT_FALSE(edit.Button()->icon().isNull());
  edit.Button()->trigger();
  QTest::keyClick(&edit, Qt::Key_Down, Qt::AltModifier);
  EXPECT_EQ(clicks, 2);
  QTest::keyClicks(&edit, "ab");
  EXPECT_EQ(edit.text(), "ab") << "still an ordinary text field";
}

TEST(GuiInfinity, AnimatesOnlyWhileShown) {
  TqnInfinity busy;
  EXPECT_FALSE(busy.Animating());
  busy.show();
  EXPECT_TRUE(busy.Animating());
  QImage frame = busy.grab().toImage();
  EXPECT_FALSE(frame.isNull());
  busy.hide();
  EXPECT_FALSE(busy.Animating());
}

TEST(GuiText, CyrillicCrossesTheBoundaryBothWays) {
  const std::string cp1251 = Win1251("Склад №1, ёлка");
  QString shown = ToQString(cp1251);
  EXPECT_EQ(shown, QStringLiteral("Склад №1, ёлка"));
  EXPECT_EQ(FromQString(shown), cp1251);
  EXPECT_EQ(FromQString(QStringLiteral("a\u4e2db")), "a?b") << "no Windows-1251 code";
}

TEST(GuiText, ChooserFiltersBecomeQtNameFilters) {
  EXPECT_EQ(QtNameFilters(Win1251("Файл базы данных (*.fdb, *.fd3)|*.fdb;*.fd3")),
            QStringList{QStringLiteral("Файл базы данных (*.fdb *.fd3)")});
  EXPECT_EQ(QtNameFilters("Backup|*.fbk;*.bk3|All files (*.*)|*.*"),
            (QStringList{QStringLiteral("Backup (*.fbk *.bk3)"), QStringLiteral("All files (*.*)")}));
  EXPECT_TRUE(QtNameFilters("").isEmpty());
}
