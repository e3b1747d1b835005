// A user interface whose answers the test sets beforehand, and which keeps
// what it was shown and asked.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "app/user_interface.h"

class ScriptedUi : public qn::IqnUserInterface {
 public:
  struct Shown {
    qn::TqnMessageKind kind;
    std::string text;
  };
  std::vector<Shown> messages;   // ShowMessage calls
  std::vector<Shown> questions;  // AskYesNo calls
  std::deque<bool> answers;      // next AskYesNo answers; Yes when empty
  // Next EditEntry results: edits applied to the form, then the answer.
  std::deque<std::function<bool(qn::TqnEntryForm&, const qn::TqnEntryFormActions&)>> editors;
  std::vector<qn::TqnEntryForm> editedForms;
  std::deque<std::pair<std::string, std::string>> logins;  // next AskLogin answers; cancel when empty
  int loginCalls = 0;
  std::deque<std::string> pickedFiles;
  std::deque<int> pickedFilters;  // the filter reported with each picked file; 0 when empty

  void ShowMessage(qn::TqnMessageKind kind, const std::string& text) override { messages.push_back({kind, text}); }
  bool AskYesNo(qn::TqnMessageKind kind, const std::string& text) override {
    questions.push_back({kind, text});
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  bool EditEntry(qn::TqnEntryForm& form, const qn::TqnEntryFormActions& actions) override {
    editedForms.push_back(form);
    if (editors.empty()) return true;
    auto editor = std::move(editors.front());
    editors.pop_front();
    return editor(form, actions);
  }
  std::function<void()> onAskLogin;  // runs while the login dialog would be open
  bool AskLogin(std::string& user, std::string& password) override {
    ++loginCalls;
    if (onAskLogin) onAskLogin();
    if (logins.empty()) return false;
    user = logins.front().first;
    password = logins.front().second;
    logins.pop_front();
    return true;
  }
  std::optional<std::string> PickOpenFile(const qn::TqnFileDialog& dialog) override {
    lastDialog = dialog;
    if (pickedFiles.empty()) return std::nullopt;
    std::string f = pickedFiles.front();
    pickedFiles.pop_front();
    int filter = 0;
    if (!pickedFilters.empty()) {
      filter = pickedFilters.front();
      pickedFilters.pop_front();
    }
    if (dialog.chosenFilter) *dialog.chosenFilter = filter;
    return f;
  }
  std::optional<std::string> PickSaveFile(const qn::TqnFileDialog& dialog) override { return PickOpenFile(dialog); }
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override { return std::nullopt; }
  std::vector<std::vector<std::string>> offeredItems;  // PickItem calls
  std::deque<int> pickedItems;                         // next PickItem answers; cancel when empty
  std::optional<int> PickItem(const std::string&, const std::string&, const std::vector<std::string>& items) override {
    offeredItems.push_back(items);
    if (pickedItems.empty()) return std::nullopt;
    int i = pickedItems.front();
    pickedItems.pop_front();
    return i;
  }
  void SetBusy(bool) override {}
  // Runs while a long operation serves the window, as a person's clicks or
  // a timer would then.
  std::function<void()> onProcessEvents;
  void ProcessEvents() override {
    if (onProcessEvents) onProcessEvents();
  }

  qn::TqnFileDialog lastDialog;
};

// A main view that records what the core asked of it.
class RecordingView : public qn::IqnMainView {
 public:
  int listChanges = 0;
  std::vector<std::string> trayTips;
  int trayRemovals = 0;
  std::string title;
  std::vector<bool> shows;  // toggle flags of ShowMainWindow
  int quits = 0;
  int screenWidth = 1920;
  qn::TqnWindowGeometry geometry{false, 10, 20, 542, 406};

  void ListChanged() override { ++listChanges; }
  void AddTrayIcon(const std::string& tip) override { trayTips.push_back(tip); }
  void RemoveTrayIcon() override { ++trayRemovals; }
  void SetTitle(const std::string& t) override { title = t; }
  void ShowMainWindow(bool toggle) override { shows.push_back(toggle); }
  void Quit() override { ++quits; }
  int ScreenWidth() const override { return screenWidth; }
  qn::TqnWindowGeometry Geometry() const override { return geometry; }
  int messagePages = 0;  // ShowMessagesPage calls
  void ShowMessagesPage() override { ++messagePages; }
};
