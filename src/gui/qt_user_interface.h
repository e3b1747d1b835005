// TqnQtUserInterface: how the core reaches the person in the window
// program. Messages and Yes/No questions in message boxes with the caption
// and icon of their kind, the properties and login dialogs, Qt's file
// dialogs and folder chooser, and the main window's busy indicator.
//
// Every dialog is owned by the application's active form: the open modal
// dialog, else the active window, else the main window.
#pragma once

#include <QMessageBox>

#include "app/user_interface.h"

class QWidget;

namespace qn {

class TfrmMainQNDBMGR;

// The icon that stands for a kind of message.
QMessageBox::Icon MessageIcon(TqnMessageKind kind);

class TqnQtUserInterface : public IqnUserInterface {
 public:
  explicit TqnQtUserInterface(TfrmMainQNDBMGR& mainWindow) : mainWindow_(mainWindow) {}

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

  QWidget* DialogOwner() const;

 private:
  std::optional<std::string> PickFile(const TqnFileDialog& dialog, bool save);
  int Message(TqnMessageKind kind, const std::string& text, QMessageBox::StandardButtons buttons);

  TfrmMainQNDBMGR& mainWindow_;
};

}  // namespace qn
