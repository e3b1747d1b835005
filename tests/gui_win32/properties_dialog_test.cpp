#include <gtest/gtest.h>

#include "gui_win32/frm_fb_login_win32.h"
#include "gui_win32/frm_pick_win32.h"
#include "window_run.h"

#include <commctrl.h>
#include <dlgs.h>

using namespace qn;
using namespace qn::test;

namespace {

void Type(HWND edit, const char* keys) {
  for (const char* k = keys; *k; ++k) ::SendMessageW(edit, WM_CHAR, static_cast<WPARAM>(*k), 0);
}

std::string Text(HWND dialog, int id) { return WindowText(Control(dialog, id)); }
bool Checked(HWND dialog, int id) { return ::SendMessageW(Control(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Press(HWND dialog, int id) { ::SendMessageW(Control(dialog, id), BM_CLICK, 0, 0); }

}  // namespace

TEST(PropertiesDialogWin, EditsTheSelectedEntryAndRefusesAPartlyTypedTime) {
  WindowRun run(Register(Entry("db0000", "localhost:C:\\base\\tx.fdb", "")));
  const std::string host = run.core->LocalHostName();
  bool shown = false;
  bool refused = false;
  WhenDialogShows(Win1251("База данных"), [&](HWND dialog) {
    shown = true;
    // The entry as read: defaults where the entry has no backup settings.
    EXPECT_EQ(Text(dialog, winid::edtConnAddr), "0@" + host);
    EXPECT_EQ(Text(dialog, winid::edtName), "db0000");
    EXPECT_EQ(Text(dialog, winid::edtPath), "localhost:C:\\base\\tx.fdb");
    EXPECT_EQ(Text(dialog, winid::edtBackupTime), "06:30");
    for (int day = 0; day < 7; ++day) EXPECT_EQ(Checked(dialog, winid::chkDay0 + day), day < 5) << day;
    EXPECT_EQ(Text(dialog, winid::edtBackupNum), "1");
    EXPECT_EQ(Text(dialog, winid::edtBackupInterval), "60");
    EXPECT_TRUE(Checked(dialog, winid::chkSendPwd));
    EXPECT_FALSE(::IsWindowVisible(Control(dialog, winid::chkCreate)));

    ::SetWindowTextW(Control(dialog, winid::edtCaption), WideUtf8("Бухгалтерия").c_str());
    Press(dialog, winid::chkSendPwd);
    Press(dialog, winid::chkDay0 + 5);
    // Typed beyond the up-down's limit: held at it.
    ::SetWindowTextW(Control(dialog, winid::edtBackupInterval), L"1500");
    // The time typed over its places; a letter is refused; the last place
    // cleared again leaves the time incomplete, and "ОК" is refused (the
    // dialog stays shown, on the page of the time).
    HWND time = Control(dialog, winid::edtBackupTime);
    ::SendMessageW(time, EM_SETSEL, 0, 0);
    Type(time, "23x59\b");
    EXPECT_EQ(WindowText(time), "23:5_");
    Press(dialog, IDOK);
    refused = ::IsWindow(dialog) && ::IsWindowVisible(dialog) &&
              ::SendMessageW(Control(dialog, winid::pgcData), TCM_GETCURSEL, 0, 0) == 1;
    Type(time, "9");
    EXPECT_EQ(WindowText(time), "23:59");
    Press(dialog, IDOK);
  });
  run.Click(winid::btnEdit);
  ASSERT_TRUE(shown);
  EXPECT_TRUE(refused);
  const std::string settings = run.Settings();
  EXPECT_NE(settings.find(Win1251("<caption>Бухгалтерия</caption>")), std::string::npos) << settings;
  EXPECT_NE(settings.find("<hidepwd>1</hidepwd>"), std::string::npos) << settings;
  EXPECT_NE(settings.find("<time>1439</time>"), std::string::npos) << settings;
  EXPECT_NE(settings.find("<interval>1440</interval>"), std::string::npos) << settings;
  EXPECT_NE(settings.find("<weekdays>1111110</weekdays>"), std::string::npos) << settings;
  EXPECT_EQ(CellText(run.Item(winid::lvwBase), 0, 0), "0@" + host + Win1251("  (Бухгалтерия)"));
}

TEST(PropertiesDialogWin, TheCopiesPageTicksDestinationsAndOffersTheMarkerOfANewOne) {
  WindowRun run(Register(Entry("db0000", "localhost:C:\\base\\tx.fdb", "")));
  std::vector<std::string> prepared;
  run.core->SetCopyPlaces(
      [] {
        return std::vector<TqnCopyPlace>{{"nas", "\\\\nas\\copies", true}, {"cloud", "s3 office", false}};
      },
      [&](const std::string& name) {
        prepared.push_back(name);
        return std::string("ok");
      });
  bool shown = false;
  std::string asked;
  WhenDialogShows(Win1251("База данных"), [&](HWND dialog) {
    shown = true;
    HWND list = Control(dialog, winid::lvwCopies);
    ASSERT_EQ(ListView_GetItemCount(list), 2);
    wchar_t label[200] = {};
    LVITEMW item{};
    item.pszText = label;
    item.cchTextMax = 200;
    ::SendMessageW(list, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(Narrow(label), Win1251("cloud - s3 office (не подготовлено)"));
    EXPECT_FALSE(ListView_GetCheckState(list, 0));
    ListView_SetCheckState(list, 0, TRUE);
    ListView_SetCheckState(list, 1, TRUE);
    // The marker is offered in a question, its report shown after.
    WhenDialogShows(Win1251("Подтверждение"), [&](HWND box) {
      asked = MessageBoxText(box);
      WhenDialogShows(Win1251("Информация"),
                      [](HWND info) { ::SendMessageW(::GetDlgItem(info, IDOK), BM_CLICK, 0, 0); });
      ::SendMessageW(::GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    });
    Press(dialog, IDOK);
  });
  run.Click(winid::btnEdit);
  ASSERT_TRUE(shown);
  EXPECT_NE(asked.find("cloud"), std::string::npos) << asked;
  EXPECT_NE(run.Settings().find("<copy_to>nas,cloud</copy_to>"), std::string::npos) << run.Settings();
  EXPECT_EQ(prepared, std::vector<std::string>{"cloud"}) << "only the one without its marker is offered it";
}

TEST(PickDialogWin, ProposesTheFirstLineAndGivesThePickedOneOrNothing) {
  const std::vector<std::string> lines{Win1251("Файл на этом компьютере..."), "2026-12-09 06:30:00   nas:db0000-a.bk3",
                                       "2026-12-08 06:30:00   cloud:db0000-b.bk3"};
  WhenDialogShows(Win1251("Разархивация"), [](HWND dialog) {
    HWND list = Control(dialog, winid::lstPick);
    EXPECT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
    ::SendMessageW(list, LB_SETCURSEL, 2, 0);
    Press(dialog, IDOK);
  });
  EXPECT_EQ(TfrmPickWin::Pick(nullptr, Win1251("Разархивация"), "?", lines), std::optional<int>(2));
  WhenDialogShows(Win1251("Разархивация"), [](HWND dialog) { Press(dialog, IDCANCEL); });
  EXPECT_EQ(TfrmPickWin::Pick(nullptr, Win1251("Разархивация"), "?", lines), std::nullopt);
}

TEST(LoginDialogWin, OffersTheDefaultsAndGivesBackWhatWasTyped) {
  WindowRun run(Register(""));
  std::string user;
  std::string password = "old";
  std::string shownUser;
  WhenDialogShows(Win1251("Ввод пароля"), [&](HWND dialog) {
    shownUser = Text(dialog, winid::edtUser);
    ::SetWindowTextW(Control(dialog, winid::edtUser), WideUtf8("ИВАНОВ").c_str());
    Press(dialog, IDOK);
  });
  ASSERT_TRUE(run.ui.AskLogin(user, password));
  EXPECT_EQ(shownUser, "SYSDBA");
  EXPECT_EQ(user, Win1251("ИВАНОВ"));
  EXPECT_EQ(password, "old");

  WhenDialogShows(Win1251("Ввод пароля"), [&](HWND dialog) {
    ::SetWindowTextW(Control(dialog, winid::edtUser), L"X");
    Press(dialog, IDCANCEL);
  });
  EXPECT_FALSE(run.ui.AskLogin(user, password));
  EXPECT_EQ(user, Win1251("ИВАНОВ"));
}

TEST(PropertiesDialogWin, ThePathButtonTakesAFileFromTheSystemDialog) {
  WindowRun run(Register(Entry("db0000", "localhost:C:\\base\\tx.fdb", "")));
  const std::string picked = platform::JoinPath(run.folder, Win1251("Новая.fd3"));
  std::string title;
  std::string path;
  WhenDialogShows(Win1251("База данных"), [&](HWND dialog) {
    WhenDialogShows(Win1251("Выбор файла базы данных"), [&](HWND chooser) {
      title = WindowText(chooser);
      // The name field of the system's chooser.
      ::SetDlgItemTextW(chooser, cmb13, Wide(picked).c_str());
      ::SendMessageW(chooser, WM_COMMAND, IDOK, 0);
    });
    Press(dialog, winid::btnPath);
    path = Text(dialog, winid::edtPath);
    Press(dialog, IDCANCEL);
  });
  run.Click(winid::btnEdit);
  EXPECT_EQ(title, Win1251("Выбор файла базы данных"));
  EXPECT_EQ(path, "localhost/53030:" + picked);
}
