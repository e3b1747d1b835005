#include "gui_win32/frm_fb_login_win32.h"

#include "app/dialog_rules.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/win_text.h"

namespace qn {

namespace {
constexpr DWORD kEdit = WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kLabel = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
}  // namespace

TfrmFBLoginWin::TfrmFBLoginWin(std::string user, std::string password)
    : TqnWinDialog(Text(TqnText::LoginCaption), kLoginClientWidth, kLoginClientHeight),
      user_(std::move(user)),
      password_(std::move(password)) {}

void TfrmFBLoginWin::OnInit() {
  Add(L"STATIC", Text(TqnText::LoginPrompt), kLabel, 8, 8, 216, 40, winid::label);
  Add(L"STATIC", Text(TqnText::LoginUser), kLabel, 8, 57, 54, 14, winid::label);
  LoginDefaults(user_, password_);
  HWND user = Add(L"EDIT", Wide(user_), kEdit, 64, 54, 160, 21, winid::edtUser);
  Add(L"STATIC", Text(TqnText::LoginPassword), kLabel, 8, 83, 54, 14, winid::label);
  HWND pwd = Add(L"EDIT", Wide(password_), kEdit | ES_PASSWORD, 64, 80, 160, 21, winid::edtPwd);
  ::SendMessageW(pwd, EM_SETPASSWORDCHAR, L'*', 0);
  Add(L"BUTTON", Text(TqnText::AnswerOk), WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 68, 107, 75, 23, IDOK);
  Add(L"BUTTON", Text(TqnText::AnswerCancel), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 149, 107, 75, 23, IDCANCEL);
  ::SetFocus(user);
}

bool TfrmFBLoginWin::CanConfirm() {
  user_ = Narrow(ControlText(Item(winid::edtUser)));
  password_ = Narrow(ControlText(Item(winid::edtPwd)));
  return true;
}

bool TfrmFBLoginWin::Ask(HWND owner, std::string& user, std::string& password) {
  TfrmFBLoginWin dialog(user, password);
  const bool confirmed = dialog.RunModal(owner);
  if (confirmed) {
    user = dialog.user_;
    password = dialog.password_;
  }
  // Let the windows beneath redraw before the caller's long work begins.
  PumpMessages();
  return confirmed;
}

}  // namespace qn
