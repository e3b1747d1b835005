#include "gui_win32/win_controls.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <vector>

#include "app/dialog_rules.h"
#include "gui_win32/win_text.h"

namespace qn {

HFONT WindowFont() {
  static HFONT font = [] {
    LOGFONTW lf{};
    lf.lfHeight = -11;
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = RUSSIAN_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcscpy(lf.lfFaceName, L"MS Sans Serif");
    HFONT f = ::CreateFontIndirectW(&lf);
    return f ? f : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }();
  return font;
}

void ApplyWindowFont(HWND window) {
  ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM) -> BOOL {
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
        return TRUE;
      },
      0);
}

HWND AddControl(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int x, int y, int w,
                int h, int id, DWORD exStyle) {
  HWND control =
      ::CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | style, x, y, w, h, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
  if (control) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
  return control;
}

void AddTabs(HWND tabs, std::initializer_list<TqnText> titles) {
  int index = 0;
  for (TqnText title : titles) {
    std::wstring text = Text(title);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    ::SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(index++), reinterpret_cast<LPARAM>(&item));
  }
}

std::wstring ControlText(HWND control) {
  const int n = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(control, text.data(), n + 1)));
  return text;
}

void SetControlText(HWND control, const std::wstring& text) { ::SetWindowTextW(control, text.c_str()); }

int TextWidth(HWND window, const std::wstring& text) {
  HDC dc = ::GetDC(window);
  HGDIOBJ old = ::SelectObject(dc, WindowFont());
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(window, dc);
  return size.cx;
}

std::wstring ElideMiddle(HWND window, const std::wstring& text, int width) {
  if (TextWidth(window, text) <= width) return text;
  // The most characters kept, half from each end, that fit with the dots.
  size_t low = 0, high = text.size();
  while (low < high) {
    const size_t keep = (low + high + 1) / 2;
    const std::wstring candidate = text.substr(0, keep - keep / 2) + L"..." + text.substr(text.size() - keep / 2);
    if (TextWidth(window, candidate) <= width)
      low = keep;
    else
      high = keep - 1;
  }
  return text.substr(0, low - low / 2) + L"..." + text.substr(text.size() - low / 2);
}

bool IsChecked(HWND button) { return ::SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetChecked(HWND button, bool checked) {
  ::SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

SIZE FrameSizeForClient(HWND window, int clientWidth, int clientHeight) {
  RECT r{0, 0, clientWidth, clientHeight};
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE));
  ::AdjustWindowRectEx(&r, style, ::GetMenu(window) != nullptr, exStyle);
  return {r.right - r.left, r.bottom - r.top};
}

void CentreOnOwner(HWND window, HWND owner) {
  RECT area{};
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner))
    ::GetWindowRect(owner, &area);
  else
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  RECT own{};
  ::GetWindowRect(window, &own);
  const int w = own.right - own.left;
  const int h = own.bottom - own.top;
  ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - w) / 2,
                 area.top + (area.bottom - area.top - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// Three stacked discs in blue with a dark outline, like a disk of data.
HICON DrawApplicationIcon(int size) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP colour = ::CreateCompatibleBitmap(screen, size, size);
  HBITMAP mask = ::CreateBitmap(size, size, 1, 1, nullptr);
  ::ReleaseDC(nullptr, screen);
  const int margin = size / 8;
  const int w = size - 2 * margin;
  const int capH = size / 4;
  const int top = margin / 2;
  const int bottom = size - margin / 2 - capH;
  auto draw = [&](COLORREF body, COLORREF lid, COLORREF line, COLORREF background) {
    HBRUSH back = ::CreateSolidBrush(background);
    RECT all{0, 0, size, size};
    ::FillRect(dc, &all, back);
    ::DeleteObject(back);
    HPEN pen = ::CreatePen(PS_SOLID, size / 24 + 1, line);
    HBRUSH bodyBrush = ::CreateSolidBrush(body);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, bodyBrush);
    ::Ellipse(dc, margin, bottom, margin + w, bottom + capH);
    ::Rectangle(dc, margin, top + capH / 2, margin + w, bottom + capH / 2);
    const int step = (bottom - top) / 3;
    for (int i = 1; i < 3; ++i)
      ::Arc(dc, margin, top + i * step, margin + w, top + i * step + capH, margin, top + i * step + capH / 2,
            margin + w, top + i * step + capH / 2);
    HBRUSH lidBrush = ::CreateSolidBrush(lid);
    ::SelectObject(dc, lidBrush);
    ::Ellipse(dc, margin, top, margin + w, top + capH);
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(pen);
    ::DeleteObject(bodyBrush);
    ::DeleteObject(lidBrush);
  };
  HGDIOBJ old = ::SelectObject(dc, colour);
  draw(RGB(60, 120, 210), RGB(170, 205, 250), RGB(20, 40, 90), RGB(0, 0, 0));
  // The mask: white (transparent) around the drawing, black on it.
  ::SelectObject(dc, mask);
  draw(RGB(0, 0, 0), RGB(0, 0, 0), RGB(0, 0, 0), RGB(255, 255, 255));
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(colour);
  ::DeleteObject(mask);
  return icon ? icon : ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
}

// ---- the time field ----

constexpr int kTimePlaces = kBackupTimeLength;
constexpr int kColon = 2;
constexpr wchar_t kEmptyPlace = L'_';

std::wstring TimePlaces(HWND edit) {
  std::wstring text = ControlText(edit);
  text.resize(kTimePlaces, kEmptyPlace);
  text[kColon] = L':';
  return text;
}

void PutPlaces(HWND edit, const std::wstring& text, int caret) {
  ::SetWindowTextW(edit, text.c_str());
  ::SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(caret), static_cast<LPARAM>(caret));
}

LRESULT CALLBACK TimeFieldProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  DWORD start = 0;
  if (message == WM_CHAR || message == WM_KEYDOWN) ::SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  int pos = static_cast<int>(start);
  if (message == WM_CHAR) {
    const wchar_t c = static_cast<wchar_t>(wParam);
    std::wstring text = TimePlaces(edit);
    if (c >= L'0' && c <= L'9') {
      if (pos == kColon) ++pos;
      if (pos >= kTimePlaces) return 0;
      text[static_cast<size_t>(pos)] = c;
      ++pos;
      if (pos == kColon) ++pos;
      PutPlaces(edit, text, pos);
    } else if (c == L'\b') {
      --pos;
      if (pos == kColon) --pos;
      if (pos < 0) return 0;
      text[static_cast<size_t>(pos)] = kEmptyPlace;
      PutPlaces(edit, text, pos);
    }
    return 0;  // every other character is refused
  }
  if (message == WM_KEYDOWN && wParam == VK_DELETE) {
    std::wstring text = TimePlaces(edit);
    if (pos < kTimePlaces && pos != kColon) text[static_cast<size_t>(pos)] = kEmptyPlace;
    PutPlaces(edit, text, pos);
    return 0;
  }
  if (message == WM_PASTE || message == WM_CUT || message == WM_CLEAR) return 0;
  return ::DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

HICON ApplicationIcon(int size) {
  static HICON small = DrawApplicationIcon(16);
  static HICON large = DrawApplicationIcon(32);
  return size <= 16 ? small : large;
}

void MakeTimeField(HWND edit) {
  ::SendMessageW(edit, EM_SETLIMITTEXT, kTimePlaces, 0);
  ::SetWindowSubclass(edit, TimeFieldProc, 1, 0);
}

std::string TimeFieldText(HWND edit) {
  std::wstring text = TimePlaces(edit);
  for (wchar_t& c : text)
    if (c == kEmptyPlace) c = L' ';
  return Narrow(text);
}

void PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && ::IsDialogMessageW(root, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// ---- dialogs ----

HWND TqnWinDialog::Item(int id) const {
  if (HWND control = ::GetDlgItem(hwnd_, id)) return control;
  for (HWND page : pages_)
    if (HWND control = ::GetDlgItem(page, id)) return control;
  return nullptr;
}

HWND TqnWinDialog::Add(const wchar_t* windowClass, const std::wstring& text, DWORD style, int x, int y, int w, int h,
                       int id, DWORD exStyle) {
  if (page_)
    return AddControl(page_, windowClass, text, style, x - pageOrigin_.x, y - pageOrigin_.y, w, h, id, exStyle);
  return AddControl(hwnd_, windowClass, text, style, x, y, w, h, id, exStyle);
}

HWND TqnWinDialog::BeginPage(HWND tabs) {
  struct alignas(4) Template {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } t{};
  t.dialog.style = WS_CHILD | DS_CONTROL;
  t.dialog.dwExtendedStyle = WS_EX_CONTROLPARENT;
  HWND page = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &t.dialog, hwnd_, PageProc, 0);
  RECT area{};
  ::GetClientRect(tabs, &area);
  ::SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  ::MapWindowPoints(tabs, hwnd_, reinterpret_cast<POINT*>(&area), 2);
  ::SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top, SWP_NOACTIVATE);
  ::EnableThemeDialogTexture(page, ETDT_ENABLETAB);
  pageOrigin_ = {area.left, area.top};
  page_ = page;
  pages_.push_back(page);
  return page;
}

INT_PTR CALLBACK TqnWinDialog::PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // The page's controls speak to the dialog.
  if (message == WM_COMMAND || message == WM_NOTIFY) {
    ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, ::SendMessageW(::GetParent(hwnd), message, wParam, lParam));
    return TRUE;
  }
  return FALSE;
}

bool TqnWinDialog::RunModal(HWND owner) {
  // An empty template: the controls are made in WM_INITDIALOG. The
  // template's words must be DWORD-aligned.
  struct alignas(4) Template {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } t{};
  t.dialog.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  t.dialog.dwExtendedStyle = WS_EX_CONTROLPARENT;
  t.dialog.cx = 100;
  t.dialog.cy = 50;
  const INT_PTR result =
      ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &t.dialog, owner, Proc, reinterpret_cast<LPARAM>(this));
  hwnd_ = nullptr;
  return result == IDOK;
}

INT_PTR CALLBACK TqnWinDialog::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<TqnWinDialog*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->hwnd_ = hwnd;
    ::SetWindowTextW(hwnd, self->caption_.c_str());
    ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    const SIZE frame = FrameSizeForClient(hwnd, self->clientWidth_, self->clientHeight_);
    ::SetWindowPos(hwnd, nullptr, 0, 0, frame.cx, frame.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    self->OnInit();
    CentreOnOwner(hwnd, ::GetWindow(hwnd, GW_OWNER));
    return TRUE;
  }
  auto* self = reinterpret_cast<TqnWinDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDOK) {
        if (self->CanConfirm()) ::EndDialog(hwnd, IDOK);
        return TRUE;
      }
      if (id == IDCANCEL) {
        ::EndDialog(hwnd, IDCANCEL);
        return TRUE;
      }
      return self->OnCommand(id, HIWORD(wParam)) ? TRUE : FALSE;
    }
    case WM_NOTIFY: return self->OnNotify(*reinterpret_cast<const NMHDR*>(lParam)) ? TRUE : FALSE;
    default: self->OnMessage(message, wParam, lParam); return FALSE;
  }
}

}  // namespace qn
