// A run of the core with the Win32 main window over a program folder with a
// Cyrillic name, and the means to answer the dialogs it opens.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>

#include "app/application.h"
#include "base/text.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/frm_main_win32.h"
#include "gui_win32/win_text.h"
#include "gui_win32/win_user_interface.h"
#include "platform/files.h"
#include "test_support/fake_clock.h"
#include "test_support/temp_dir.h"

namespace qn::test {

inline std::string Register(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n  <PIN>KEY1</PIN>\r\n"
         "  <data_state>initialized</data_state>\r\n  <data>\r\n" +
         entries + "  </data>\r\n</settings>\r\n";
}

inline std::string Entry(const std::string& name, const std::string& path, const std::string& caption) {
  return "    <" + name + ">\r\n      <path>" + path + "</path>\r\n      <user>SYSDBA</user>\r\n" +
         "      <pwd>pw</pwd>\r\n      <caption>" + caption + "</caption>\r\n    </" + name + ">\r\n";
}

struct WindowRun {
  TempDir dir;
  std::string folder = platform::JoinPath(dir.path(), Win1251("Программа"));
  FakeClock clock{2026, 12, 8, 9, 30, 0};
  TfrmMainWin window;
  TqnWinUserInterface ui{window};
  std::unique_ptr<TqnApplication> core;

  explicit WindowRun(const std::string& settingsXml) {
    platform::ForceDirectories(folder);
    platform::WriteFileReplacing(platform::JoinPath(folder, "settings.xml"), settingsXml);
    core = std::make_unique<TqnApplication>(folder, ui, window, clock);
    window.Attach(*core);
    core->Startup();
    window.Started(true);
  }
  ~WindowRun() {
    window.RemoveTrayIcon();
    window.Detach();
  }
  std::string Settings() const { return platform::ReadFile(platform::JoinPath(folder, "settings.xml")); }
  HWND Item(int id) const { return ::GetDlgItem(window.Handle(), id); }
  void Click(int id) const { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }
  bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
};

// The text of a cell of a list view, in Windows-1251.
inline std::string CellText(HWND list, int row, int column) {
  wchar_t buffer[512] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 512;
  ::SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return Narrow(buffer);
}

inline std::string WindowText(HWND window) {
  wchar_t buffer[1024] = {};
  ::GetWindowTextW(window, buffer, 1024);
  return Narrow(buffer);
}

// Runs the action on the dialog or message box of this caption (Windows-1251)
// as soon as the program shows it (not merely creates it), from within the modal loop that shows it.
// Nothing happens when no such window shows within ten seconds.
inline void WhenDialogShows(const std::string& caption, std::function<void(HWND)> action) {
  struct Pending {
    std::wstring caption;
    std::function<void(HWND)> action;
    DWORD deadline;
  };
  static Pending pending;
  pending = {Wide(caption), std::move(action), ::GetTickCount() + 10000};
  ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = ::FindWindowW(L"#32770", pending.caption.c_str());
    DWORD process = 0;
    if (dialog) ::GetWindowThreadProcessId(dialog, &process);
    if (dialog && process == ::GetCurrentProcessId() && ::IsWindowVisible(dialog)) {
      ::KillTimer(nullptr, timer);
      auto action = std::move(pending.action);
      action(dialog);
    } else if (::GetTickCount() > pending.deadline) {
      ::KillTimer(nullptr, timer);
    }
  });
}

// The control of this identifier anywhere in the window (a dialog's pages
// are windows of their own).
inline HWND Control(HWND root, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  ::EnumChildWindows(
      root,
      [](HWND child, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (::GetDlgCtrlID(child) != s->id) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The text of a message box's message.
inline std::string MessageBoxText(HWND box) { return WindowText(::GetDlgItem(box, 0xFFFF)); }

}  // namespace qn::test
