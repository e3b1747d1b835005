// The core's user interface in Win32: the system's message boxes with the
// captions and icons of the four kinds, the properties and login dialogs,
// the system's file and folder choosers, the busy indicator of the main
// window. Dialogs are owned by the program's dialog in front, else the
// active window, else the main window.
#pragma once

#include "app/user_interface.h"

namespace qn {

class TfrmMainWin;

class TqnWinUserInterface : public IqnUserInterface {
 public:
  explicit TqnWinUserInterface(TfrmMainWin& mainWindow) : mainWindow_(mainWindow) {}

  void ShowMessage(TqnMessageKind kind, const std::string& text) override;
  bool AskYesNo(TqnMessageKind kind, const std::string& text) override;
  bool EditEntry(TqnEntryForm& form, const TqnEntryFormActions& actions) override;
  bool AskLogin(std::string& user, std::string& password) override;
  std::optional<std::string> PickOpenFile(const TqnFileDialog& dialog) override;
  std::optional<std::string> PickSaveFile(const TqnFileDialog& dialog) override;
  std::optional<std::string> PickFolder(const std::string& caption, const std::string& folder) override;
  std::optional<int> PickItem(const std::string& caption, const std::string& prompt,
                              const std::vector<std::string>& items) override;
  void SetBusy(bool busy) override;
  void ProcessEvents() override;

 private:
  std::optional<std::string> PickFile(const TqnFileDialog& dialog, bool save);

  TfrmMainWin& mainWindow_;
};

// The message box's icon for a kind: exclamation, stop, information or
// question.
unsigned MessageBoxIcon(TqnMessageKind kind);
// "Name (*.a)|*.a;*.b|..." as the system's file dialogs take it: pairs of
// texts, each ended by a null character, and one more at the end.
std::wstring SystemFilter(const std::string& filter);

}  // namespace qn
