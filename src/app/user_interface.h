// How the application core reaches the person in front of it: messages,
// questions, dialogs and file choosers. The window program implements it
// with Qt dialogs, the headless program by logging and taking the default
// answer, and tests with scripted answers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/entry_form.h"

namespace qn {

// The four kinds of message, each with its caption and icon.
enum class TqnMessageKind { Warning, Error, Information, Confirmation };

// "Предупреждение", "Ошибка", "Информация" or "Подтверждение" (Windows-1251).
std::string MessageCaption(TqnMessageKind kind);

// A file dialog's title, filter ("Name (*.a)|*.a;*.b"), default extension,
// folder and proposed file name.
struct TqnFileDialog {
  std::string title;
  std::string filter;
  std::string defaultExtension;
  std::string folder;
  std::string fileName;
  // When set, receives the 0-based index of the filter the person chose.
  int* chosenFilter = nullptr;
};

// What the properties dialog's buttons ask of the core.
struct TqnEntryFormActions {
  // The path button: the new path for the current one, or nothing.
  std::function<std::optional<std::string>(const std::string& currentPath)> choosePath;
  // The backup folder button: the chosen folder, or nothing.
  std::function<std::optional<std::string>(const std::string& currentFolder)> chooseBackupFolder;
};

class IqnUserInterface {
 public:
  virtual ~IqnUserInterface() = default;

  virtual void ShowMessage(TqnMessageKind kind, const std::string& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(TqnMessageKind kind, const std::string& text) = 0;
  // The properties dialog on the form; true when confirmed (form updated).
  virtual bool EditEntry(TqnEntryForm& form, const TqnEntryFormActions& actions) = 0;
  // The login dialog; true when confirmed (the outputs are the typed values).
  virtual bool AskLogin(std::string& user, std::string& password) = 0;
  virtual std::optional<std::string> PickOpenFile(const TqnFileDialog& dialog) = 0;
  virtual std::optional<std::string> PickSaveFile(const TqnFileDialog& dialog) = 0;
  virtual std::optional<std::string> PickFolder(const std::string& caption, const std::string& folder) = 0;
  // One of the lines, the first one proposed; its index, or nothing.
  virtual std::optional<int> PickItem(const std::string& caption, const std::string& prompt,
                                      const std::vector<std::string>& items) = 0;
  // Shows or hides the busy indicator of long operations.
  virtual void SetBusy(bool busy) = 0;
  // Lets the window draw and react while a long operation runs.
  virtual void ProcessEvents() = 0;
};

}  // namespace qn
