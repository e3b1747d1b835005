#include "gui_win32/frm_main_win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "app/application.h"
#include "app/window_texts.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/win_controls.h"
#include "gui_win32/win_text.h"

namespace qn {

namespace {

using P = TqnMainPresenter;

constexpr wchar_t kWindowClass[] = L"TfrmMainQNDBMGR";
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

constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;

// The buttons and their controls.
constexpr std::pair<int, TqnMainButton> kButtons[] = {
    {winid::btnEdit, TqnMainButton::Properties}, {winid::btnBackup, TqnMainButton::Backup},
    {winid::btnRestore, TqnMainButton::Restore}, {winid::btnCreate, TqnMainButton::Create},
    {winid::btnRemove, TqnMainButton::Remove},   {winid::btnExit, TqnMainButton::Exit},
    {winid::btnTest, TqnMainButton::Test},       {winid::Button5, TqnMainButton::Check}};

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
  RECT r{0, 0, P::kClientWidth, P::kClientHeight};
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  ::AdjustWindowRectEx(&r, style, FALSE, WS_EX_CONTROLPARENT);
  // Placed by the system on its first show.
  hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, Wide(presenter_.Title()).c_str(), style, CW_USEDEFAULT,
                            CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, this);
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
  HWND tabs =
      AddControl(hwnd_, WC_TABCONTROLW, L"", WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 0, 0, 0, 0, winid::pgcMain);
  AddTabs(tabs, {TqnText::PageDatabases, TqnText::PageMessages});

  HWND list =
      AddControl(hwnd_, WC_LISTVIEWW, L"", WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0,
                 0, 0, 0, winid::lvwBase, WS_EX_CLIENTEDGE);
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP,
                 LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
  // 32 x 32 small images: each row shows the application's icon.
  images_ = ::ImageList_Create(P::kRowIconSize, P::kRowIconSize, ILC_COLOR32 | ILC_MASK, 1, 1);
  ::ImageList_AddIcon(images_, ApplicationIcon(P::kRowIconSize));
  ::SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images_));
  int index = 0;
  for (const TqnColumn& c : P::Columns()) {
    std::wstring text = Text(c.title);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = text.data();
    column.cx = TextWidth(list, text) + 16;  // FitColumns gives it its share
    ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&column));
  }
  AddControl(hwnd_, PROGRESS_CLASSW, L"", PBS_MARQUEE, 0, 0, 0, 0, winid::infProgress);
  dataPage_ = {list};
  for (const auto& [id, button] : kButtons) {
    const DWORD visible = P::ButtonVisible(button) ? WS_VISIBLE : 0;
    HWND control = AddControl(hwnd_, L"BUTTON", Text(P::ButtonText(button)), kButton | visible, 0, 0, 0, 0, id);
    if (visible && button != TqnMainButton::Exit) dataPage_.push_back(control);
  }

  HWND pane = AddControl(hwnd_, L"EDIT", L"", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0,
                         0, 0, 0, winid::memLog, WS_EX_CLIENTEDGE);
  ::SendMessageW(pane, EM_SETLIMITTEXT, 0, 0);  // the pane's thousand lines exceed the default limit
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
  ::MoveWindow(Item(winid::btnExit), width - 4 - kButtonWidth, height - kButtonHeight - 6, kButtonWidth, kButtonHeight,
               TRUE);
  FitColumns();
}

void TfrmMainWin::FitColumns() {
  HWND list = Item(winid::lvwBase);
  RECT client{};
  ::GetClientRect(list, &client);
  const std::vector<TqnColumn>& columns = P::Columns();
  int left = client.right;
  for (size_t i = 0; i < columns.size(); ++i) {
    // The last column takes what the rounding of the others left.
    const int w = i + 1 == columns.size() ? left : client.right * columns[i].share / 100;
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i), w);
    left -= w;
  }
  ShortenPaths();
}

void TfrmMainWin::ShortenPaths() {
  // The list view would cut a path at its end, which names the file: it is
  // shortened in its middle instead, the whole in the row's tip.
  HWND list = Item(winid::lvwBase);
  const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 1, 0)) - 12;
  int index = 0;
  for (const TqnListRow& row : presenter_.Rows()) {
    std::wstring text = ElideMiddle(list, Wide(row.path), width);
    LVITEMW sub{};
    sub.iSubItem = 1;
    sub.pszText = text.data();
    ::SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&sub));
  }
}

void TfrmMainWin::ShowPage(int page) {
  ::SendMessageW(Item(winid::pgcMain), TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
  for (HWND control : dataPage_) ::ShowWindow(control, page == 0 ? SW_SHOW : SW_HIDE);
  ::ShowWindow(Item(winid::infProgress), page == 0 && presenter_.Busy() ? SW_SHOW : SW_HIDE);
  ::ShowWindow(Item(winid::memLog), page == 1 ? SW_SHOW : SW_HIDE);
}

// ---- the core ----

void TfrmMainWin::Attach(TqnApplication& core) {
  presenter_.Attach(&core);
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
  if (!presenter_.Core()) return;
  presenter_.Core()->Pane().SetObserver(nullptr);
  presenter_.Attach(nullptr);
}

void TfrmMainWin::Started(bool showWindow) {
  if (showWindow) {
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
  } else {
    HideToTray();
  }
}

void TfrmMainWin::Run(TqnMainButton button) {
  presenter_.Click(button);
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
  HWND list = Item(winid::lvwBase);
  fillingList_ = true;
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  int index = 0;
  for (const TqnListRow& row : presenter_.Rows()) {
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
  const int selected = presenter_.SelectedRow();
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
  FitColumns();
  UpdateButtons();
  if (trayAdded_) UpdateTray(NIM_MODIFY);
}

void TfrmMainWin::UpdateButtons() {
  for (const auto& [id, button] : kButtons) ::EnableWindow(Item(id), presenter_.ButtonEnabled(button));
  const bool dataPage = ::SendMessageW(Item(winid::pgcMain), TCM_GETCURSEL, 0, 0) == 0;
  ::ShowWindow(Item(winid::infProgress), presenter_.Busy() && dataPage ? SW_SHOW : SW_HIDE);
}

// ---- the person's actions ----

void TfrmMainWin::OnCommand(int id) {
  if (id == winid::mniOpen) {
    presenter_.TrayEvent(TqnTrayEvent::MenuOpen);
    return;
  }
  if (id == winid::mniExit) {
    presenter_.TrayEvent(TqnTrayEvent::MenuExit);
    UpdateButtons();
    return;
  }
  for (const auto& [control, button] : kButtons)
    if (control == id) Run(button);
}

void TfrmMainWin::OnTray(UINT mouseMessage) {
  const std::optional<TqnTrayEvent> event = TrayMouseEvent(mouseMessage);
  if (event && presenter_.TrayEvent(*event)) OpenTrayMenu();
}

void TfrmMainWin::OpenTrayMenu() {
  HMENU menu = ::CreatePopupMenu();
  ::AppendMenuW(menu, MF_STRING, winid::mniOpen, Text(TqnText::TrayOpen).c_str());
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, winid::mniExit, Text(TqnText::TrayExit).c_str());
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
  // The classic record of the notify icon: its first version, whose size
  // is 88 bytes in a 32-bit ANSI program and larger in this 64-bit wide one
  // (the shell takes the size of the program's own structure).
  NOTIFYICONDATAW data{};
  data.cbSize = NOTIFYICONDATAW_V1_SIZE;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  if (operation != NIM_DELETE) {
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon =
        presenter_.TrayAlarm() ? ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_WARNING)) : ApplicationIcon(16);
    trayTipShown_ = Wide(presenter_.TrayTip());
    const size_t length = std::min(trayTipShown_.size(), std::size(data.szTip) - 1);
    std::copy(trayTipShown_.begin(), trayTipShown_.begin() + static_cast<long>(length), data.szTip);
  }
  trayCallSucceeded_ = ::Shell_NotifyIconW(operation, &data) != FALSE;
}

void TfrmMainWin::AddTrayIcon(const std::string& tip) {
  presenter_.TrayIconAdded(tip);
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
  const bool dialogOpen = popup && popup != hwnd_ && ::IsWindowVisible(popup);
  HWND active = ::GetActiveWindow();
  switch (P::ShowTarget(dialogOpen, active != nullptr && active != hwnd_)) {
    case TqnWindowTarget::OpenDialog: return popup;
    case TqnWindowTarget::ActiveWindow: return active;
    case TqnWindowTarget::MainWindow: break;
  }
  return hwnd_;
}

void TfrmMainWin::ShowMainWindow(bool toggle) {
  HWND target = DialogOwner();
  const TqnWindowTarget role = target == hwnd_ ? TqnWindowTarget::MainWindow : TqnWindowTarget::ActiveWindow;
  if (P::ShowHides(toggle, role, ::IsWindowVisible(hwnd_) != FALSE)) {
    HideToTray();
    return;
  }
  ::ShowWindow(target, ::IsIconic(target) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(target);
}

void TfrmMainWin::HideToTray() {
  // The shell's acceptance of the icon tells whether there is a tray.
  if (presenter_.HideWay(trayCallSucceeded_) == TqnHideWay::Hide)
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
  // The frame as last shown in its normal state: hidden at shutdown or
  // maximised, the window still knows where it stood.
  RECT r = normalFrameKnown_ ? normalFrame_ : placement.rcNormalPosition;
  g.left = r.left;
  g.top = r.top;
  g.right = r.right;
  g.bottom = r.bottom;
  return g;
}

void TfrmMainWin::LoadWindowState() {
  std::optional<TqnWindowGeometry> g =
      presenter_.WindowActivated(::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
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
      info->ptMinTrackSize = {P::kMinWidth, P::kMinHeight};
      return 0;
    }
    case WM_WINDOWPOSCHANGED:
      if (::IsWindowVisible(hwnd_) && !::IsIconic(hwnd_) && !::IsZoomed(hwnd_)) {
        ::GetWindowRect(hwnd_, &normalFrame_);
        normalFrameKnown_ = true;
      }
      break;
    case WM_SHOWWINDOW:
      // Shown by the program, not given back by the desktop.
      if (wParam) presenter_.WindowShown(lParam == 0);
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) LoadWindowState();
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
        if (header->code == LVN_ITEMCHANGED && !fillingList_) {
          const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
          if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED)) {
            presenter_.SelectRow(static_cast<int>(
                ::SendMessageW(header->hwndFrom, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
            UpdateButtons();
          }
        }
        if (header->code == LVN_GETINFOTIPW) {
          auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
          const std::vector<TqnListRow>& rows = presenter_.Rows();
          if (tip->iItem >= 0 && tip->iItem < static_cast<int>(rows.size()) && tip->cchTextMax > 0) {
            const TqnListRow& row = rows[static_cast<size_t>(tip->iItem)];
            const std::wstring text = Wide(row.path + "\r\n" + row.lastBackup);
            ::lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
          }
          return 0;
        }
        if (header->code == NM_DBLCLK) {
          presenter_.RowDoubleClicked();
          UpdateButtons();
        }
      }
      return 0;
    }
    case kTrayMessage: OnTray(static_cast<UINT>(lParam)); return 0;
    case kPaneMessage: {
      auto* update = reinterpret_cast<PaneUpdate*>(lParam);
      AppendPane(update->cleared, update->lines);
      delete update;
      return 0;
    }
    case WM_CLOSE:
      // The close box hides the window; the program runs on in the tray.
      if (presenter_.CloseHides()) {
        HideToTray();
        return 0;
      }
      ::ShowWindow(hwnd_, SW_HIDE);
      return 0;
    case WM_QUERYENDSESSION:
      // The session may end; the exit follows without a question.
      ::PostMessageW(hwnd_, kSessionEnds, 0, 0);
      return TRUE;
    case kSessionEnds: presenter_.SessionEnding(); return 0;
    case WM_ENDSESSION:
      // The session ends now: what the posted exit would do later is done
      // before this returns (settings and geometry saved, the exit logged).
      if (wParam) {
        presenter_.SessionEnding();
        if (sessionEnd_) sessionEnd_();
      }
      return 0;
    default: break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace qn
