#include "cli/service_view.h"

#include <cstdlib>

#include "base/text.h"
#include "cli/command_local.h"

namespace qn {

namespace {

// --status's code when the service could not read its own state.
constexpr int kStatusUnreadable = 3;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t from = 0;
  for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
    fields.push_back(line.substr(from, tab - from));
  fields.push_back(line.substr(from));
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t end; from < text.size(); from = end + 1) {
    end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

TqnCommandResult InService(const TqnCommand& command, const TqnServerLines& onLine = {}) {
  if (auto result = RunInService(command, onLine)) return *result;
  return {false, ServiceOnlyMessage()};
}

}  // namespace

bool TqnServiceView::Refresh() {
  TqnCommand list;
  list.kind = TqnCommandKind::List;
  const TqnCommandResult listed = InService(list);
  if (!listed.ok) {
    error_ = listed.text;
    return false;
  }
  TqnCommand status;
  status.kind = TqnCommandKind::Status;
  const TqnCommandResult stated = InService(status);
  TqnReadingAnswer answer;
  if (!stated.ok || !DecodeReadingAnswer(stated.text, answer) || answer.code == kStatusUnreadable) {
    error_ = !stated.ok ? stated.text : !answer.out.empty() ? answer.out : answer.err;
    return false;
  }

  std::vector<TqnServiceRow> rows;
  for (const std::string& line : Lines(listed.text)) {
    // number, key, caption, path, backup folder, on/off
    const std::vector<std::string> f = Fields(line);
    if (f.size() < 6) continue;
    TqnServiceRow row;
    row.number = std::atoi(f[0].c_str());
    row.key = f[1];
    row.caption = f[2];
    row.path = f[3];
    row.backupFolder = f[4];
    row.autoBackup = f[5] == "on";
    rows.push_back(std::move(row));
  }
  std::vector<std::string> notices;
  for (const std::string& line : Lines(answer.out)) {
    // key, caption, last verified ("-" for none), state[, message]; the
    // lines without fields are the notices, and the line that says no
    // entry backs up automatically (the rows say so already).
    const std::vector<std::string> f = Fields(line);
    if (f.size() < 4) {
      if (line.rfind(Win1251("Нет баз данных с автоматической архивацией"), 0) != 0) notices.push_back(line);
      continue;
    }
    for (TqnServiceRow& row : rows) {
      if (CompareTextNoCase(row.key, f[0]) != 0) continue;
      row.lastVerified = f[2] == "-" ? std::string() : f[2];
      row.state = f[3];
      row.message = f.size() > 4 ? f[4] : std::string();
    }
  }
  rows_ = std::move(rows);
  notices_ = std::move(notices);
  error_.clear();
  return true;
}

TqnCommandResult TqnServiceView::Backup(const std::string& key, const std::string& file, const TqnServerLines& onLine) {
  TqnCommand command;
  command.kind = TqnCommandKind::Backup;
  command.key = key;
  command.file = file;
  return InService(command, onLine);
}

TqnCommandResult TqnServiceView::Restore(const std::string& key, const std::string& file, bool fixCharset,
                                         const TqnServerLines& onLine) {
  TqnCommand command;
  command.kind = TqnCommandKind::Restore;
  command.key = key;
  command.file = file;
  command.fixCharset = fixCharset;
  command.yes = true;
  return InService(command, onLine);
}

std::string TqnServiceView::ChangeRegisterText() {
  return Win1251(
      "Базы данных на этом компьютере обслуживает служба qndbmgr: отсюда доступны только архивация и "
      "разархивация. Создать, удалить базу данных или изменить её свойства может администратор в реестре службы: "
      "sudo systemctl stop qndbmgr, затем sudo -u qndbmgr env QNDBMGR_HOME=/var/lib/qndbmgr qndbmgr "
      "(окно программы с реестром службы), затем sudo systemctl start qndbmgr");
}

}  // namespace qn
