#include "gui_win32/frm_main_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "app/application.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/win_controls.h"
#include "gui_win32/win_text.h"

namespace qn {

namespace {

constexpr wchar_t kWindowClass[] = L"TfrmMainQNDBMGR";
constexpr int kClientWidth = 522;
constexpr int kClientHeight = 366;
// The smallest outer size of the window, frame included.
constexpr int kMinWidth = 530;
constexpr int kMinHeight = 320;
constexpr int kPathColumnWidth = 300;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 25;
// Lines of the message pane written by any thread reach the window here;
// lParam is a PaneUpdate to show and delete.
constexpr UINT kPaneMessage = WM_APP + 20;
// The session ends: leave without a question, once the shell has its answer.
constexpr UINT kSessionEnds = WM_APP + 21;

struct PaneUpdate {
  bool cleared;
  std::vector<std::string> lines;
};

constexpr DWORD kButton = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

}  // namespace

TfrmMainWin::TfrmMainWin() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS |
                                                      ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;  // double clicks reach the tray's callback only for such a class
  wc.lpfnWndProc = Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  wc.hIcon = ApplicationIcon(32);
  wc.hIconSm = ApplicationIcon(16);
  ::RegisterClassExW(&wc);  // fails harmlessly for a second window
  RECT r{0, 0, kClientWidth, kClientHeight};
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  ::AdjustWindowRectEx(&r, style, FALSE, WS_EX_CONTROLPARENT);
  // Placed by the system on its first show.
  hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, WideUtf8("Менеджер баз данных").c_str(), style,
                            CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                            wc.hInstance, this);
  Build();
  UpdateButtons();
}

TfrmMainWin::~TfrmMainWin() {
  Detach();
  RemoveTrayIcon();
  if (hwnd_) {
    // Pane lines still on their way are dropped with the window.
    MSG msg;
    while (::PeekMessageW(&msg, hwnd_, kPaneMessage, kPaneMessage, PM_REMOVE))
      delete reinterpret_cast<PaneUpdate*>(msg.lParam);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd_);
  }
  if (images_) ::ImageList_Destroy(images_);
}

void TfrmMainWin::Build() {
  HWND tabs = AddControl(hwnd_, WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 0, 0, 0, 0,
                         winid::pgcMain);
  const char* const kPages[2] = {"Базы данных", "Сообщения"};
  for (int i = 0; i < 2; ++i) {
    std::wstring text = WideUtf8(kPages[i]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }

  HWND list = AddControl(hwnd_, WC_LISTVIEWW, L"",
                         WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                         winid::lvwBase, WS_EX_CLIENTEDGE);
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  // 32 x 32 small images: each row shows the application's icon.
  images_ = ::ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 1, 1);
  ::ImageList_AddIcon(images_, ApplicationIcon(32));
  ::SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
  const char* const kColumns[3] = {"Адрес подключения", "Путь", "Последняя резервная копия"};
  const int kWidths[3] = {200, kPathColumnWidth, 110};
  for (int i = 0; i < 3; ++i) {
    std::wstring text = WideUtf8(kColumns[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text.data();
    column.cx = kWidths[i];
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  HWND busy = AddControl(hwnd_, PROGRESS_CLASSW, L"", PBS_MARQUEE, 0, 0, 0, 0, winid::infProgress);
  dataPage_ = {list};
  const std::pair<int, const char*> kButtons[] = {{winid::btnEdit, "Свойства"},
                                                  {winid::btnBackup, "Архивация"},
                                                  {winid::btnRestore, "Разархивация"},
                                                  {winid::btnCreate, "Создать"},
                                                  {winid::btnRemove, "Удалить"}};
  for (const auto& [id, text] : kButtons)
    dataPage_.push_back(AddControl(hwnd_, L"BUTTON", WideUtf8(text), kButton, 0, 0, 0, 0, id));
  (void)busy;

  HWND pane = AddControl(hwnd_, L"EDIT", L"",
                         WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 0, 0,
                         winid::memLog, WS_EX_CLIENTEDGE);
  ::SendMessageW(pane, EM_SETLIMITTEXT, 0, 0);  // the pane's thousand lines exceed the default limit
  AddControl(hwnd_, L"BUTTON", WideUtf8("Выход"), kButton, 0, 0, 0, 0, winid::btnExit);
  // Never visible: "Test" does nothing, "Check" runs one backup check.
  AddControl(hwnd_, L"BUTTON", L"Test", BS_PUSHBUTTON, 0, 0, 0, 0, winid::btnTest);
  AddControl(hwnd_, L"BUTTON", L"Check", BS_PUSHBUTTON, 0, 0, 0, 0, winid::Button5);
  // The pages' controls lie above the tab control in the drawing order.
  ::SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ApplyWindowFont(hwnd_);
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  Layout(client.right, client.bottom);
  ShowPage(0);
}

void TfrmMainWin::Layout(int width, int height) {
  HWND tabs = Item(winid::pgcMain);
  const int tabBottom = height - kButtonHeight - 12;
  ::MoveWindow(tabs, 4, 4, width - 8, tabBottom - 4, TRUE);
  RECT page{4, 4, width - 4, tabBottom};
  ::SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
  ::InflateRect(&page, -4, -4);
  const int buttonsTop = page.bottom - kButtonHeight;
  const int busyTop = buttonsTop - 20;
  ::MoveWindow(Item(winid::lvwBase), page.left, page.top, page.right - page.left, busyTop - 4 - page.top, TRUE);
  ::MoveWindow(Item(winid::infProgress), page.left, busyTop, page.right - page.left, 14, TRUE);
  int x = page.left;
  for (int id : {winid::btnEdit, winid::btnBackup, winid::btnRestore, winid::btnCreate, winid::btnRemove}) {
    ::MoveWindow(Item(id), x, buttonsTop, kButtonWidth, kButtonHeight, TRUE);
    x += kButtonWidth + 4;
  }
  ::MoveWindow(Item(winid::memLog), page.left, page.top, page.right - page.left, page.bottom - page.top, TRUE);
  ::MoveWindow(Item(winid::btnExit), width - 4 - kButtonWidth, height - kButtonHeight - 6, kButtonWidth,
               kButtonHeight, TRUE);
  // The address takes what the path's fixed width and the last column leave.
  RECT list{};
  ::GetClientRect(Item(winid::lvwBase), &list);
  const int last = static_cast<int>(::SendMessageW(Item(winid::lvwBase), LVM_GETCOLUMNWIDTH, 2, 0));
  ::SendMessageW(Item(winid::lvwBase), LVM_SETCOLUMNWIDTH, 0,
                 std::max(150, static_cast<int>(list.right) - kPathColumnWidth - last));
}

void TfrmMainWin::ShowPage(int page) {
  ::SendMessageW(Item(winid::pgcMain), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
  for (HWND control : dataPage_) ::ShowWindow(control, page == 0 ? SW_SHOW : SW_HIDE);
  const bool busy = core_ && core_->Busy();
  ::ShowWindow(Item(winid::infProgress), page == 0 && busy ? SW_SHOW : SW_HIDE);
  ::ShowWindow(Item(winid::memLog), page == 1 ? SW_SHOW : SW_HIDE);
}

// ---- the core ----

void TfrmMainWin::Attach(TqnApplication& core) {
  core_ = &core;
  SetControlText(Item(winid::memLog), L"");
  AppendPane(false, core.Pane().Lines());
  HWND window = hwnd_;
  core.Pane().SetObserver([window](bool cleared, const std::vector<std::string>& added) {
    auto* update = new PaneUpdate{cleared, added};
    if (!::PostMessageW(window, kPaneMessage, 0, reinterpret_cast<LPARAM>(update))) delete update;
  });
  ListChanged();
}

void TfrmMainWin::Detach() {
  if (!core_) return;
  core_->Pane().SetObserver(nullptr);
  core_ = nullptr;
}

void TfrmMainWin::Started(bool showWindow) {
  if (showWindow) {
    windowStatePending_ = true;
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
  } else {
    HideToTray();
  }
}

void TfrmMainWin::Run(const std::function<void()>& action) {
  if (!core_) return;
  core_->Guarded(action);
  UpdateButtons();
}

void TfrmMainWin::SetBusy(bool busy) {
  HWND indicator = Item(winid::infProgress);
  const bool dataPage = ::SendMessageW(Item(winid::pgcMain), TCM_GETCURSEL, 0, 0) == 0;
  ::ShowWindow(indicator, busy && dataPage ? SW_SHOW : SW_HIDE);
  ::SendMessageW(indicator, PBM_SETMARQUEE, busy ? TRUE : FALSE, 30);
}

void TfrmMainWin::AppendPane(bool cleared, const std::vector<std::string>& lines) {
  HWND pane = Item(winid::memLog);
  if (cleared) SetControlText(pane, L"");
  std::wstring text;
  bool empty = ::GetWindowTextLengthW(pane) == 0;
  for (const std::string& line : lines) {
    if (!empty) text += L"\r\n";
    text += Wide(line);
    empty = false;
  }
  const LPARAM end = ::GetWindowTextLengthW(pane);
  ::SendMessageW(pane, EM_SETSEL, static_cast<WPARAM>(end), end);
  ::SendMessageW(pane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

// ---- the list ----

void TfrmMainWin::ListChanged() {
  if (!core_) return;
  HWND list = Item(winid::lvwBase);
  fillingList_ = true;
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  int index = 0;
  for (const TqnListRow& row : core_->Rows()) {
    std::wstring texts[3] = {Wide(row.text), Wide(row.path), Wide(row.lastBackup)};
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = index;
    item.pszText = texts[0].data();
    item.lParam = row.number;
    item.iImage = 0;
    ::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int column = 1; column < 3; ++column) {
      LVITEMW sub{};
      sub.iSubItem = column;
      sub.pszText = texts[column].data();
      ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
    }
    ++index;
  }
  const int selected = core_->SelectedRow();
  if (selected >= 0 && selected < index) {
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    ::SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
    ::SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(selected), FALSE);
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
  fillingList_ = false;
  UpdateButtons();
  if (trayAdded_) UpdateTray(NIM_MODIFY);
}

void TfrmMainWin::UpdateButtons() {
  const bool entry = core_ && core_->EntryButtonsEnabled();
  for (int id : {winid::btnEdit, winid::btnBackup, winid::btnRestore, winid::btnRemove})
    ::EnableWindow(Item(id), entry);
  ::EnableWindow(Item(winid::btnCreate), !core_ || core_->CreateButtonEnabled());
  const bool busy = core_ && core_->Busy();
  const bool dataPage = ::SendMessageW(Item(winid::pgcMain), TCM_GETCURSEL, 0, 0) == 0;
  ::ShowWindow(Item(winid::infProgress), busy && dataPage ? SW_SHOW : SW_HIDE);
}

// ---- the person's actions ----

void TfrmMainWin::OnCommand(int id) {
  switch (id) {
    case winid::btnEdit: Run([this] { core_->EditSelected(); }); break;
    case winid::btnBackup:
      Run([this] {
        if (onBackup_) onBackup_();
      });
      break;
    case winid::btnRestore:
      Run([this] {
        if (onRestore_) onRestore_();
      });
      break;
    case winid::btnCreate: Run([this] { core_->CreateClicked(); }); break;
    case winid::btnRemove: Run([this] { core_->RemoveSelected(); }); break;
    case winid::btnExit: Run([this] { core_->ExitClicked(); }); break;
    case winid::Button5: Run([this] { core_->BackupCheckNow(); }); break;
    case winid::mniOpen: ShowMainWindow(false); break;
    case winid::mniExit: Run([this] { core_->ExitProgram(); }); break;
    default: break;
  }
}

void TfrmMainWin::OnTray(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_LBUTTONUP: ShowMainWindow(true); break;
    case WM_RBUTTONUP: OpenTrayMenu(); break;
    case WM_MBUTTONDBLCLK: ShowMainWindow(false); break;
    default: break;
  }
}

void TfrmMainWin::OpenTrayMenu() {
  HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, winid::mniOpen, WideUtf8("Открыть").c_str());
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, winid::mniExit, WideUtf8("Выход").c_str());
  ::SetMenuDefaultItem(menu, winid::mniOpen, FALSE);
  POINT at{};
  ::GetCursorPos(&at);
  // The menu closes when the person clicks elsewhere only if the window is
  // in front; the null message afterwards is the shell's known need.
  ::SetForegroundWindow(hwnd_);
  const int chosen = static_cast<int>(
      ::TrackPopupMenu(menu, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
  ::PostMessageW(hwnd_, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
  if (chosen) OnCommand(chosen);
}

// ---- the tray and the window ----

void TfrmMainWin::UpdateTray(DWORD operation) {
  // The classic record of the notify icon (the first version's size).
  NOTIFYICONDATAW data{};
  data.cbSize = NOTIFYICONDATAW_V1_SIZE;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  if (operation != NIM_DELETE) {
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayMessage;
    // A failed or stale entry shows in the tray: a warning icon, and the
    // tip names the entry.
    const std::string alarm = core_ ? core_->BackupAlarm() : std::string();
    data.hIcon = alarm.empty() ? ApplicationIcon(16) : ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_WARNING));
    std::wstring tip = Wide(alarm.empty() ? trayTip_ : trayTip_ + "\n" + alarm);
    if (tip.size() > kMaxTipLength) tip.resize(kMaxTipLength);
    trayTipShown_ = tip;
    std::copy(tip.begin(), tip.end(), data.szTip);
  }
  trayCallSucceeded_ = ::Shell_NotifyIconW(operation, &data) != FALSE;
}

void TfrmMainWin::AddTrayIcon(const std::string& tip) {
  trayTip_ = tip;
  UpdateTray(NIM_ADD);
  trayAdded_ = true;
}

void TfrmMainWin::RemoveTrayIcon() {
  if (!trayAdded_) return;
  UpdateTray(NIM_DELETE);
  trayAdded_ = false;
}

void TfrmMainWin::SetTitle(const std::string& title) { SetControlText(hwnd_, Wide(title)); }

HWND TfrmMainWin::DialogOwner() const {
  HWND popup = ::GetLastActivePopup(hwnd_);
  if (popup && popup != hwnd_ && ::IsWindowVisible(popup)) return popup;
  HWND active = ::GetActiveWindow();
  return active ? active : hwnd_;
}

// The target is the open dialog when there is one, so that a click on the
// icon brings it forward; else the active window, else this one.
void TfrmMainWin::ShowMainWindow(bool toggle) {
  HWND target = DialogOwner();
  if (toggle && target == hwnd_ && ::IsWindowVisible(hwnd_)) {
    HideToTray();
    return;
  }
  if (target == hwnd_ && !::IsWindowVisible(hwnd_)) windowStatePending_ = true;
  ::ShowWindow(target, ::IsIconic(target) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(target);
}

void TfrmMainWin::HideToTray() {
  // Without an icon in the tray (a start-up that failed before it, or a
  // shell without a tray) the window is minimised, never lost.
  if (trayAdded_ && trayCallSucceeded_)
    ::ShowWindow(hwnd_, SW_HIDE);
  else
    ::ShowWindow(hwnd_, SW_MINIMIZE);
}

void TfrmMainWin::ShowMessagesPage() {
  ShowMainWindow(false);
  ShowPage(1);
}

void TfrmMainWin::Quit() {
  ::ShowWindow(hwnd_, SW_HIDE);
  ::PostQuitMessage(0);
}

int TfrmMainWin::ScreenWidth() const { return ::GetSystemMetrics(SM_CXSCREEN); }

TqnWindowGeometry TfrmMainWin::Geometry() const {
  TqnWindowGeometry g;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  ::GetWindowPlacement(hwnd_, &placement);
  g.maximized = placement.showCmd == SW_SHOWMAXIMIZED || ::IsZoomed(hwnd_);
  RECT r = placement.rcNormalPosition;
  if (::IsWindowVisible(hwnd_) && !::IsIconic(hwnd_) && !::IsZoomed(hwnd_)) ::GetWindowRect(hwnd_, &r);
  g.left = r.left;
  g.top = r.top;
  g.right = r.right;
  g.bottom = r.bottom;
  return g;
}

void TfrmMainWin::LoadWindowState() {
  if (!core_) return;
  std::optional<TqnWindowGeometry> g =
      core_->WindowActivated(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  if (!g) return;
  if (g->maximized) {
    ::ShowWindow(hwnd_, SW_MAXIMIZE);
    return;
  }
  if (::IsZoomed(hwnd_) || ::IsIconic(hwnd_)) ::ShowWindow(hwnd_, SW_RESTORE);
  // The saved bounds are the frame's.
  ::SetWindowPos(hwnd_, nullptr, g->left, g->top, g->right - g->left, g->bottom - g->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- messages ----

LRESULT CALLBACK TfrmMainWin::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TfrmMainWin*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TfrmMainWin*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return self->OnMessage(message, wParam, lParam);
}

LRESULT TfrmMainWin::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) Layout(LOWORD(lParam), HIWORD(lParam));
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {kMinWidth, kMinHeight};
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && windowStatePending_) {
        windowStatePending_ = false;
        LoadWindowState();
      }
      break;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED || lParam == 0) OnCommand(LOWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == static_cast<UINT_PTR>(winid::pgcMain) && header->code == TCN_SELCHANGE) {
        ShowPage(static_cast<int>(::SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return 0;
      }
      if (header->idFrom == static_cast<UINT_PTR>(winid::lvwBase)) {
        if (header->code == LVN_ITEMCHANGED && !fillingList_ && core_) {
          const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
          if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED)) {
            core_->SelectRow(static_cast<int>(
                ::SendMessageW(header->hwndFrom, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
            UpdateButtons();
          }
        }
        if (header->code == NM_DBLCLK) Run([this] { core_->EditSelected(); });
      }
      return 0;
    }
    case kTrayMessage:
      OnTray(static_cast<UINT>(lParam));
      return 0;
    case kPaneMessage: {
      auto* update = reinterpret_cast<PaneUpdate*>(lParam);
      AppendPane(update->cleared, update->lines);
      delete update;
      return 0;
    }
    case WM_CLOSE:
      // The close box hides the window; the program runs on in the tray.
      if (!core_ || !core_->Exiting()) {
        HideToTray();
        return 0;
      }
      ::ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_QUERYENDSESSION:
      // The session may end; the exit follows without a question.
      ::PostMessageW(hwnd_, kSessionEnds, 0, 0);
      return TRUE;
    case kSessionEnds:
      Run([this] { core_->ExitProgram(); });
      return 0;
    default: break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace qn
