#include "gui_win32/win_user_interface.h"

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <vector>

#include "gui_win32/frm_data_win32.h"
#include "gui_win32/frm_fb_login_win32.h"
#include "gui_win32/frm_main_win32.h"
#include "gui_win32/frm_pick_win32.h"
#include "gui_win32/win_controls.h"
#include "gui_win32/win_text.h"

namespace qn {

unsigned MessageBoxIcon(TqnMessageKind kind) {
  switch (kind) {
    case TqnMessageKind::Warning: return MB_ICONEXCLAMATION;
    case TqnMessageKind::Error: return MB_ICONSTOP;
    case TqnMessageKind::Information: return MB_ICONINFORMATION;
    case TqnMessageKind::Confirmation: return MB_ICONQUESTION;
  }
  return 0;
}

std::wstring SystemFilter(const std::string& filter) {
  std::wstring out = Wide(filter);
  for (wchar_t& c : out)
    if (c == L'|') c = L'\0';
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

void TqnWinUserInterface::ShowMessage(TqnMessageKind kind, const std::string& text) {
  ::MessageBoxW(mainWindow_.DialogOwner(), Wide(text).c_str(), Wide(MessageCaption(kind)).c_str(),
                MB_OK | MessageBoxIcon(kind));
}

bool TqnWinUserInterface::AskYesNo(TqnMessageKind kind, const std::string& text) {
  return ::MessageBoxW(mainWindow_.DialogOwner(), Wide(text).c_str(), Wide(MessageCaption(kind)).c_str(),
                       MB_YESNO | MessageBoxIcon(kind)) == IDYES;
}

bool TqnWinUserInterface::EditEntry(TqnEntryForm& form, const TqnEntryFormActions& actions) {
  return TfrmDataWin::Edit(mainWindow_.DialogOwner(), form, actions);
}

bool TqnWinUserInterface::AskLogin(std::string& user, std::string& password) {
  return TfrmFBLoginWin::Ask(mainWindow_.DialogOwner(), user, password);
}

std::optional<std::string> TqnWinUserInterface::PickFile(const TqnFileDialog& d, bool save) {
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring proposed = Wide(d.fileName);
  std::copy(proposed.begin(), proposed.begin() + static_cast<long>(std::min(proposed.size(), file.size() - 1)),
            file.begin());
  const std::wstring title = Wide(d.title);
  const std::wstring filter = d.filter.empty() ? std::wstring() : SystemFilter(d.filter);
  const std::wstring extension = Wide(d.defaultExtension);
  const std::wstring folder = Wide(d.folder);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = mainWindow_.DialogOwner();
  ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // As in the system's open dialog, a name may be typed that does not exist yet.
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : 0);
  const BOOL chosen = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
  if (!chosen) return std::nullopt;
  if (d.chosenFilter) *d.chosenFilter = ofn.nFilterIndex > 0 ? static_cast<int>(ofn.nFilterIndex) - 1 : 0;
  return Narrow(file.data());
}

std::optional<std::string> TqnWinUserInterface::PickOpenFile(const TqnFileDialog& dialog) {
  return PickFile(dialog, false);
}

std::optional<std::string> TqnWinUserInterface::PickSaveFile(const TqnFileDialog& dialog) {
  return PickFile(dialog, true);
}

namespace {

int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM, LPARAM data) {
  // The chooser opens at the current folder.
  if (message == BFFM_INITIALIZED && data) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
  return 0;
}

}  // namespace

std::optional<std::string> TqnWinUserInterface::PickFolder(const std::string& caption, const std::string& folder) {
  const std::wstring title = Wide(caption);
  const std::wstring start = Wide(folder);
  wchar_t name[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = mainWindow_.DialogOwner();
  info.pszDisplayName = name;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
  if (!chosen) return std::nullopt;
  std::vector<wchar_t> path(32768, L'\0');
  const bool ok = ::SHGetPathFromIDListEx(chosen, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT);
  ::CoTaskMemFree(chosen);
  if (!ok) return std::nullopt;
  return Narrow(path.data());
}

std::optional<int> TqnWinUserInterface::PickItem(const std::string& caption, const std::string& prompt,
                                                 const std::vector<std::string>& items) {
  return TfrmPickWin::Pick(mainWindow_.DialogOwner(), caption, prompt, items);
}

void TqnWinUserInterface::SetBusy(bool busy) { mainWindow_.SetBusy(busy); }

void TqnWinUserInterface::ProcessEvents() { PumpMessages(); }

}  // namespace qn
