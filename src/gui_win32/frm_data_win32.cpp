#include "gui_win32/frm_data_win32.h"

#include <commctrl.h>

#include <cstdlib>
#include <utility>

#include "app/dialog_rules.h"
#include "app/window_texts.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/win_text.h"

namespace qn {

namespace {

// Posted to itself when the address field takes the focus: the selection
// comes after the focus change and the click that caused it.
constexpr UINT kSelectAddress = WM_APP + 10;

constexpr DWORD kEdit = WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
constexpr DWORD kCheck = WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kLabel = WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

}  // namespace

TfrmDataWin::TfrmDataWin(const TqnEntryForm& form, TqnEntryFormActions actions)
    : TqnWinDialog(Text(TqnText::DataCaption), kDataClientWidth, kDataClientHeight),
      form_(form),
      actions_(std::move(actions)) {}

bool TfrmDataWin::Edit(HWND owner, TqnEntryForm& form, const TqnEntryFormActions& actions) {
  TfrmDataWin dialog(form, actions);
  if (!dialog.RunModal(owner)) return false;
  form = dialog.result_;
  return true;
}

void TfrmDataWin::OnInit() {
  HWND tabs = Add(WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 6, 4, 546, 262, winid::pgcData);
  AddTabs(tabs, {TqnText::PageConnection, TqnText::PageBackup, TqnText::PageCopies, TqnText::PageMore});
  pages_[0] = BeginPage(tabs);
  BuildConnectionPage();
  pages_[1] = BeginPage(tabs);
  BuildBackupPage();
  pages_[2] = BeginPage(tabs);
  BuildCopiesPage();
  pages_[3] = BeginPage(tabs);
  BuildMorePage();
  EndPage();
  Add(L"BUTTON", Text(TqnText::CheckCreate), WS_TABSTOP | BS_AUTOCHECKBOX, 10, 273, 300, 18, winid::chkCreate);
  Add(L"BUTTON", Text(TqnText::AnswerOk), WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 392, 270, 75, 23, IDOK);
  Add(L"BUTTON", Text(TqnText::AnswerCancel), kButton, 475, 270, 75, 23, IDCANCEL);
  // The pages lie above the tab control in the drawing order.
  ::SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SetForm();
  ShowPage(0);
}

void TfrmDataWin::BuildConnectionPage() {
  Add(L"STATIC", Text(TqnText::LabelConnAddress), kLabel, 16, 34, 400, 14, winid::label);
  Add(L"EDIT", L"", kEdit | ES_READONLY, 16, 50, 526, 21, winid::edtConnAddr);
  Add(L"STATIC", Text(TqnText::LabelPath), kLabel, 16, 80, 400, 14, winid::label);
  Add(L"EDIT", L"", kEdit, 16, 96, 502, 21, winid::edtPath);
  Add(L"BUTTON", L"...", kButton, 518, 96, 24, 21, winid::btnPath);
  Add(L"STATIC", Text(TqnText::LabelCaption), kLabel, 16, 126, 400, 14, winid::label);
  Add(L"EDIT", L"", kEdit, 16, 142, 526, 21, winid::edtCaption);
}

void TfrmDataWin::BuildBackupPage() {
  Add(L"BUTTON", Text(TqnText::CheckAutoBackup), kCheck, 16, 30, 400, 18, winid::chkAutoBackup);
  Add(L"STATIC", Text(TqnText::LabelBackupPath), kLabel, 16, 51, 400, 14, winid::label);
  Add(L"EDIT", L"", kEdit, 16, 66, 502, 21, winid::edtBackupPath);
  Add(L"BUTTON", L"...", kButton, 518, 66, 24, 21, winid::btnBackupPath);
  Add(L"STATIC", Text(TqnText::LabelDays), kLabel, 16, 90, 500, 14, winid::label);
  for (int i = 0; i < 7; ++i)
    Add(L"BUTTON", Wide(DayText(i)), kCheck, 16 + (i % 4) * 130, 105 + (i / 4) * 17, 125, 17, winid::chkDay0 + i);
  // The rows below are laid out by the widths of their texts.
  int x = 16;
  auto label = [&](TqnText text, int y) {
    const std::wstring wide = Text(text);
    const int w = TextWidth(Handle(), wide) + 4;
    Add(L"STATIC", wide, kLabel, x, y + 3, w, 14, winid::label);
    x += w + 4;
  };
  auto check = [&](TqnText text, int id, int y) {
    const std::wstring wide = Text(text);
    const int w = TextWidth(Handle(), wide) + 24;
    Add(L"BUTTON", wide, kCheck, x, y + 1, w, 18, id);
    x += w + 4;
  };
  label(TqnText::LabelBackupTime, 141);
  HWND time = Add(L"EDIT", L"", kEdit, x, 141, 44, 21, winid::edtBackupTime);
  MakeTimeField(time);
  x += 44 + 16;
  check(TqnText::CheckVerify, winid::chkVerify, 141);
  x = 16;
  label(TqnText::LabelBackupNum, 164);
  AddNumber(winid::edtBackupNum, winid::spnNum, x, 164, kNumLimits, form_.num);
  x += 68;
  label(TqnText::LabelBackupInterval, 164);
  AddNumber(winid::edtBackupInterval, winid::spnInterval, x, 164, kIntervalLimits, form_.interval);
  x += 68;
  label(TqnText::LabelMinutes, 164);
  // The count acts only with its box ticked: older backups are then pruned.
  x = 16;
  check(TqnText::CheckPrune, winid::chkPrune, 187);
  AddNumber(winid::edtBackupRest, winid::spnRest, x, 187, kRestLimits, form_.rest);
  x += 68;
  label(TqnText::LabelRestTail, 187);
  // Generations beside the count, and the workstations' own allowance.
  x = 16;
  label(TqnText::LabelKeepAlso, 210);
  const std::pair<int, TqnText> generations[] = {{winid::edtKeepDaily, TqnText::LabelKeepDaily},
                                                 {winid::edtKeepWeekly, TqnText::LabelKeepWeekly},
                                                 {winid::edtKeepMonthly, TqnText::LabelKeepMonthly}};
  const int values[] = {form_.keepDaily, form_.keepWeekly, form_.keepMonthly};
  for (int i = 0; i < 3; ++i) {
    AddNumber(generations[i].first, generations[i].first + 1, x, 210, kKeepLimits, values[i]);
    x += 68;
    label(generations[i].second, 210);
  }
  x = 16;
  label(TqnText::LabelKeepRequested, 233);
  AddNumber(winid::edtKeepRequested, winid::edtKeepRequested + 1, x, 233, kKeepLimits, form_.keepRequested);
}

void TfrmDataWin::BuildCopiesPage() {
  Add(L"STATIC", Text(TqnText::LabelCopiesIntro), kLabel, 16, 34, 526, 14, winid::label);
  if (form_.copies.empty()) {
    Add(L"STATIC", Text(TqnText::LabelNoDestinations), kLabel, 16, 56, 526, 60, winid::lblNoDestinations);
    return;
  }
  HWND list = Add(WC_LISTVIEWW, L"", WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL, 16, 52,
                  526, 200, winid::lvwCopies, WS_EX_CLIENTEDGE);
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                 LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = 500;
  ::SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  for (size_t i = 0; i < form_.copies.size(); ++i) {
    std::wstring label = Wide(form_.copies[i].label);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = label.data();
    ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    ListView_SetCheckState(list, static_cast<UINT>(i), form_.copies[i].ticked);
  }
}

void TfrmDataWin::BuildMorePage() {
  Add(L"STATIC", Text(TqnText::LabelUser), kLabel, 16, 37, 200, 14, winid::label);
  Add(L"EDIT", L"", kEdit, 220, 34, 322, 21, winid::edtUser);
  Add(L"STATIC", Text(TqnText::LabelPassword), kLabel, 16, 64, 200, 14, winid::label);
  HWND pwd = Add(L"EDIT", L"", kEdit | ES_PASSWORD, 220, 61, 322, 21, winid::edtPwd);
  ::SendMessageW(pwd, EM_SETPASSWORDCHAR, L'*', 0);
  Add(L"BUTTON", Text(TqnText::CheckSendPassword), kCheck, 16, 90, 500, 18, winid::chkSendPwd);
  Add(L"BUTTON", Text(TqnText::ButtonDefaults), kButton, 16, 114, 220, 23, winid::btnFBDefault);
  Add(L"STATIC", Text(TqnText::LabelIdentifier), kLabel, 16, 153, 200, 14, winid::label);
  Add(L"EDIT", L"", kEdit | ES_READONLY, 220, 150, 322, 21, winid::edtName);
}

void TfrmDataWin::AddNumber(int editId, int spinId, int x, int y, const TqnSpinLimits& limits, int value) {
  HWND edit = Add(L"EDIT", L"", kEdit | ES_NUMBER | ES_RIGHT, x, y, 64, 20, editId);
  HWND spin = Add(UPDOWN_CLASSW, L"", WS_VISIBLE | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                  0, 0, 0, 0, spinId);
  ::SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
  ::SendMessageW(spin, UDM_SETRANGE32, static_cast<WPARAM>(limits.min), limits.max);
  UDACCEL accel{0, static_cast<UINT>(limits.step)};
  ::SendMessageW(spin, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
  ::SendMessageW(spin, UDM_SETPOS32, 0, ClampToLimits(value, limits));
}

int TfrmDataWin::Number(int editId, const TqnSpinLimits& limits) const {
  // What was typed, held within the up-down control's limits.
  const std::wstring text = ControlText(Item(editId));
  return ClampToLimits(text.empty() ? limits.min : static_cast<int>(std::wcstol(text.c_str(), nullptr, 10)), limits);
}

void TfrmDataWin::SetForm() {
  SetControlText(Item(winid::edtConnAddr), Wide(form_.connAddress));
  SetControlText(Item(winid::edtPath), Wide(form_.path));
  SetControlText(Item(winid::edtCaption), Wide(form_.caption));
  SetChecked(Item(winid::chkAutoBackup), form_.autoBackup);
  SetControlText(Item(winid::edtBackupPath), Wide(form_.backupPath));
  for (int i = 0; i < 7; ++i) SetChecked(Item(winid::chkDay0 + i), form_.weekdays[static_cast<size_t>(i)]);
  SetControlText(Item(winid::edtBackupTime), Wide(form_.timeText));
  SetChecked(Item(winid::chkPrune), form_.prune);
  SetChecked(Item(winid::chkVerify), form_.verifyBackup);
  SetControlText(Item(winid::edtUser), Wide(form_.user));
  SetControlText(Item(winid::edtPwd), Wide(form_.password));
  SetChecked(Item(winid::chkSendPwd), form_.sendPassword);
  SetControlText(Item(winid::edtName), Wide(form_.identifier));
  SetChecked(Item(winid::chkCreate), CreateBoxTicked(form_));
  EnableRest();
}

TqnEntryForm TfrmDataWin::Form() const {
  TqnEntryForm f = form_;
  f.path = Narrow(ControlText(Item(winid::edtPath)));
  f.caption = Narrow(ControlText(Item(winid::edtCaption)));
  f.autoBackup = IsChecked(Item(winid::chkAutoBackup));
  f.backupPath = Narrow(ControlText(Item(winid::edtBackupPath)));
  for (int i = 0; i < 7; ++i) f.weekdays[static_cast<size_t>(i)] = IsChecked(Item(winid::chkDay0 + i));
  f.timeText = TimeFieldText(Item(winid::edtBackupTime));
  f.num = Number(winid::edtBackupNum, kNumLimits);
  f.interval = Number(winid::edtBackupInterval, kIntervalLimits);
  f.rest = Number(winid::edtBackupRest, kRestLimits);
  f.prune = IsChecked(Item(winid::chkPrune));
  f.keepDaily = Number(winid::edtKeepDaily, kKeepLimits);
  f.keepWeekly = Number(winid::edtKeepWeekly, kKeepLimits);
  f.keepMonthly = Number(winid::edtKeepMonthly, kKeepLimits);
  f.keepRequested = Number(winid::edtKeepRequested, kKeepLimits);
  f.verifyBackup = IsChecked(Item(winid::chkVerify));
  for (size_t i = 0; i < f.copies.size(); ++i)
    f.copies[i].ticked = ListView_GetCheckState(Item(winid::lvwCopies), static_cast<UINT>(i)) != 0;
  f.user = Narrow(ControlText(Item(winid::edtUser)));
  f.password = Narrow(ControlText(Item(winid::edtPwd)));
  f.sendPassword = IsChecked(Item(winid::chkSendPwd));
  TakeCreateBox(f, IsChecked(Item(winid::chkCreate)));
  return f;
}

void TfrmDataWin::ShowPage(int page) {
  ::SendMessageW(Item(winid::pgcData), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
  for (int i = 0; i < kPages; ++i) ::ShowWindow(pages_[i], i == page ? SW_SHOW : SW_HIDE);
  ::ShowWindow(Item(winid::chkCreate), CreateBoxShown(form_) ? SW_SHOW : SW_HIDE);
}

void TfrmDataWin::EnableRest() {
  const bool on = RestEditable(IsChecked(Item(winid::chkPrune)));
  for (int id : {winid::edtBackupRest, winid::spnRest, winid::edtKeepDaily, winid::edtKeepDaily + 1,
                 winid::edtKeepWeekly, winid::edtKeepWeekly + 1, winid::edtKeepMonthly, winid::edtKeepMonthly + 1,
                 winid::edtKeepRequested, winid::edtKeepRequested + 1})
    ::EnableWindow(Item(id), on);
}

bool TfrmDataWin::CanConfirm() {
  if (!BackupTimeComplete(TimeFieldText(Item(winid::edtBackupTime)))) {
    ShowPage(kBackupPageIndex);
    ::SetFocus(Item(winid::edtBackupTime));
    return false;
  }
  result_ = Form();
  return true;
}

bool TfrmDataWin::OnCommand(int id, int code) {
  if (id == winid::btnPath && code == BN_CLICKED) {
    if (actions_.choosePath)
      if (auto path = actions_.choosePath(Narrow(ControlText(Item(winid::edtPath)))))
        SetControlText(Item(winid::edtPath), Wide(*path));
    return true;
  }
  if (id == winid::btnBackupPath && code == BN_CLICKED) {
    if (actions_.chooseBackupFolder)
      if (auto folder = actions_.chooseBackupFolder(Narrow(ControlText(Item(winid::edtBackupPath)))))
        SetControlText(Item(winid::edtBackupPath), Wide(*folder));
    return true;
  }
  if (id == winid::btnFBDefault && code == BN_CLICKED) {
    TqnEntryForm f = Form();
    SetDefaultCredentials(f);
    SetControlText(Item(winid::edtUser), Wide(f.user));
    SetControlText(Item(winid::edtPwd), Wide(f.password));
    SetChecked(Item(winid::chkSendPwd), f.sendPassword);
    return true;
  }
  if (id == winid::chkPrune && code == BN_CLICKED) {
    EnableRest();
    return true;
  }
  if (id == winid::edtConnAddr && code == EN_SETFOCUS) {
    ::PostMessageW(Handle(), kSelectAddress, 0, 0);
    return true;
  }
  return false;
}

bool TfrmDataWin::OnNotify(const NMHDR& header) {
  if (header.idFrom == static_cast<UINT_PTR>(winid::pgcData) && header.code == TCN_SELCHANGE) {
    ShowPage(static_cast<int>(::SendMessageW(Item(winid::pgcData), TCM_GETCURSEL, 0, 0)));
    return true;
  }
  return false;
}

void TfrmDataWin::OnMessage(UINT message, WPARAM, LPARAM) {
  if (message == kSelectAddress) ::SendMessageW(Item(winid::edtConnAddr), EM_SETSEL, 0, -1);
}

}  // namespace qn
