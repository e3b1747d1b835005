#include "gui_win32/frm_pick_win32.h"

#include "gui_win32/control_ids.h"
#include "gui_win32/win_text.h"

namespace qn {

namespace {
constexpr int kWidth = 520;
constexpr int kHeight = 260;
}  // namespace

TfrmPickWin::TfrmPickWin(const std::string& caption, std::string prompt, std::vector<std::string> items)
    : TqnWinDialog(Wide(caption), kWidth, kHeight), prompt_(std::move(prompt)), items_(std::move(items)) {}

void TfrmPickWin::OnInit() {
  Add(L"STATIC", Wide(prompt_), WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 8, 8, kWidth - 16, 30, winid::label);
  HWND list = Add(L"LISTBOX", L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY, 8, 40, kWidth - 16,
                  kHeight - 80, winid::lstPick, WS_EX_CLIENTEDGE);
  for (const std::string& item : items_)
    ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
  ::SendMessageW(list, LB_SETHORIZONTALEXTENT, 1200, 0);
  ::SendMessageW(list, LB_SETCURSEL, 0, 0);
  Add(L"BUTTON", Text(TqnText::AnswerOk), WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, kWidth - 164, kHeight - 31, 75,
      23, IDOK);
  Add(L"BUTTON", Text(TqnText::AnswerCancel), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kWidth - 83, kHeight - 31, 75,
      23, IDCANCEL);
  ::SetFocus(list);
}

bool TfrmPickWin::OnCommand(int id, int code) {
  // A double click picks the line as "ОК" does.
  if (id == winid::lstPick && code == LBN_DBLCLK) {
    ::SendMessageW(Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return true;
  }
  return false;
}

bool TfrmPickWin::CanConfirm() {
  picked_ = static_cast<int>(::SendMessageW(Item(winid::lstPick), LB_GETCURSEL, 0, 0));
  return picked_ >= 0;
}

std::optional<int> TfrmPickWin::Pick(HWND owner, const std::string& caption, const std::string& prompt,
                                     const std::vector<std::string>& items) {
  TfrmPickWin dialog(caption, prompt, items);
  const bool confirmed = dialog.RunModal(owner);
  PumpMessages();
  if (!confirmed || dialog.picked_ < 0) return std::nullopt;
  return dialog.picked_;
}

}  // namespace qn
