#include "shell/headless_ui.h"

#include "base/text.h"
#include "shell/main_thread.h"

namespace qn {

void TqnHeadlessUi::Log(const std::string& text) {
  if (log_) log_(text);
}

void TqnHeadlessUi::ShowMessage(TqnMessageKind kind, const std::string& text) {
  Log(MessageCaption(kind) + ": " + text);
}

bool TqnHeadlessUi::AskYesNo(TqnMessageKind kind, const std::string& text) {
  Log(MessageCaption(kind) + ": " + text + Win1251(" — Да"));
  return true;
}

bool TqnHeadlessUi::EditEntry(TqnEntryForm& form, const TqnEntryFormActions&) {
  Log(Win1251("База данных ") + form.identifier + ": " + form.path);
  return true;
}

bool TqnHeadlessUi::AskLogin(std::string&, std::string&) {
  // Without a keyboard nobody can type other credentials: cancel.
  Log(Win1251("Ввод пароля: нет дисплея, отмена"));
  return false;
}

std::optional<std::string> TqnHeadlessUi::PickOpenFile(const TqnFileDialog&) { return std::nullopt; }
std::optional<std::string> TqnHeadlessUi::PickSaveFile(const TqnFileDialog&) { return std::nullopt; }
std::optional<std::string> TqnHeadlessUi::PickFolder(const std::string&, const std::string&) { return std::nullopt; }
std::optional<int> TqnHeadlessUi::PickItem(const std::string&, const std::string&, const std::vector<std::string>&) {
  return std::nullopt;
}

void TqnHeadlessUi::ProcessEvents() { ProcessMainThreadEvents(); }

}  // namespace qn
