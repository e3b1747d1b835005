// The user interface of the program without a display: every message goes
// to the log, every question is logged and answered with its default
// button (Yes), dialogs are confirmed as they are, and nothing can be
// picked or typed.
#pragma once

#include <functional>

#include "app/user_interface.h"

namespace qn {

class TqnHeadlessUi : public IqnUserInterface {
 public:
  // Receives each line to log; until set, lines are dropped.
  void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }

  void ShowMessage(TqnMessageKind kind, const std::string& text) override;
  bool AskYesNo(TqnMessageKind kind, const std::string& text) override;
  bool EditEntry(TqnEntryForm& form, const TqnEntryFormActions& actions) override;
  bool AskLogin(std::string& user, std::string& password) override;
  std::optional<std::string> PickOpenFile(const TqnFileDialog& dialog) override;
  std::optional<std::string> PickSaveFile(const TqnFileDialog& dialog) override;
  std::optional<std::string> PickFolder(const std::string& caption, const std::string& folder) override;
  std::optional<int> PickItem(const std::string& caption, const std::string& prompt,
                              const std::vector<std::string>& items) override;
  void SetBusy(bool) override {}
  void ProcessEvents() override;

 private:
  void Log(const std::string& text);
  std::function<void(const std::string&)> log_;
};

}  // namespace qn
