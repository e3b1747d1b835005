#include "cli/command_local.h"

#include <cstdio>

#include "backup/alerts.h"
#include "backup/backup_catalogue.h"
#include "backup/backup_names.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/backup_state.h"
#include "settings/register.h"
#include "settings/settings_store.h"
#include "xml/xml_utils.h"

namespace qn {

namespace {

// --status exit code when the state cannot be read.
constexpr int kStatusUnreadable = 3;

void Print(std::FILE* to, const std::string& cp1251) {
  std::fputs(platform::ToTerminal(cp1251).c_str(), to);
  std::fflush(to);
}

std::string JsonString(const std::string& cp1251) {
  std::string out = "\"";
  for (unsigned char c : Win1251ToUtf8(cp1251)) {
    if (c == '"' || c == '\\')
      out += std::string("\\") + static_cast<char>(c);
    else if (c < 32)
      out += Format("\\u%04x", c);
    else
      out += static_cast<char>(c);
  }
  return out + "\"";
}

std::unique_ptr<TqnNode> LoadSettings() {
  return XmlLoadFile(platform::JoinPath(platform::ProgramFolder(), TqnSettingsStore::kFileName),
                     TqnSettingsStore::kRootName);
}

int Status(bool json) {
  std::unique_ptr<TqnNode> root;
  try {
    root = LoadSettings();
  } catch (const std::exception& e) {
    if (json)
      Print(stdout, "{\"status\":3,\"error\":" + JsonString(e.what()) + "}\n");
    else
      Print(stdout, Win1251("Состояние не прочитано: ") + e.what() + "\n");
    return kStatusUnreadable;
  }
  platform::SystemClock clock;
  const TqnStatusReport report = StatusReport(*root, clock.Now(), json);
  // JSON is UTF-8 already; the text goes in the terminal's encoding.
  if (json)
    std::fputs(report.text.c_str(), stdout);
  else
    Print(stdout, report.text);
  return report.exitCode;
}

int Backups(const std::string& key) {
  std::unique_ptr<TqnNode> root = LoadSettings();
  int number = 0;
  if (!ParseEntryName(key, number)) number = std::atoi(key.c_str());
  const TqnNode* entry = FindEntry(*root, number);
  const std::string folder = NormalizeBackupFolder(entry->FindNode("backup")->FindNode("path")->Content().AsString(""));
  std::string text;
  for (const TqnCatalogueRecord& r : ReadCatalogue(folder)) {
    if (r.entry != entry->Name()) continue;
    text += r.start + "\t" + CatalogueFilePath(folder, r) + "\t" + std::to_string(r.size) + "\t" + r.outcome + "\t" +
            r.verification + "\t" + std::to_string(r.restoreMs) + "\t" + r.sha256 + "\t" + r.message + "\n";
  }
  if (text.empty()) text = Win1251("В каталоге \"") + folder + kCatalogueFileName + Win1251("\" нет резервных копий ") +
                           entry->Name() + "\n";
  Print(stdout, text);
  return 0;
}

int TestAlert() {
  std::unique_ptr<TqnNode> root = LoadSettings();
  TqnAlert alert;
  alert.event = TqnAlertEvent::Test;
  alert.host = platform::HostName();
  alert.message = Win1251("Проверочное сообщение");
  const TqnAlertReport report = SendAlert(ReadAlertSettings(*root), alert);
  std::string text;
  for (const std::string& line : report.lines) text += line + "\n";
  Print(report.ok ? stdout : stderr, text);
  return report.ok ? 0 : 1;
}

}  // namespace

// The one place for warnings about the program's own settings that
// --status shows before the entries (text and JSON alike). None yet.
std::vector<std::string> StatusNotices(const TqnNode&) { return {}; }

TqnStatusReport StatusReport(const TqnNode& root, const DateTime& now, bool json) {
  const std::vector<TqnStatusLine> lines = BackupStatus(root, now);
  TqnStatusReport report;
  report.exitCode = static_cast<int>(WorstHealth(lines));
  const std::vector<std::string> notices = StatusNotices(root);
  if (json) {
    std::string text = "{\"status\":" + std::to_string(report.exitCode) + ",\"notices\":[";
    for (size_t i = 0; i < notices.size(); ++i) text += (i ? "," : "") + JsonString(notices[i]);
    text += "],\"entries\":[";
    for (size_t i = 0; i < lines.size(); ++i) {
      const TqnStatusLine& l = lines[i];
      text += std::string(i ? "," : "") + "{\"key\":" + JsonString(l.key) + ",\"caption\":" + JsonString(l.caption) +
              ",\"last_verified\":" + (l.lastVerified.empty() ? "null" : JsonString(l.lastVerified)) +
              ",\"state\":\"" + HealthWord(l.health) + "\",\"message\":" + JsonString(l.message) + "}";
    }
    report.text = text + "]}\n";
    return report;
  }
  for (const std::string& notice : notices) report.text += notice + "\n";
  for (const TqnStatusLine& l : lines) {
    report.text += l.key + "\t" + l.caption + "\t" + (l.lastVerified.empty() ? "-" : l.lastVerified) + "\t" +
                   HealthWord(l.health);
    if (!l.message.empty()) report.text += "\t" + l.message;
    report.text += "\n";
  }
  if (lines.empty()) report.text += Win1251("Нет баз данных с автоматической архивацией\n");
  return report;
}

std::optional<int> RunLocalCommand(const TqnCommand& command) {
  try {
    switch (command.kind) {
      case TqnCommandKind::Status: return Status(command.json);
      case TqnCommandKind::Backups: return Backups(command.key);
      case TqnCommandKind::TestAlert: return TestAlert();
      default: return std::nullopt;
    }
  } catch (const std::exception& e) {
    Print(stderr, std::string(e.what()) + "\n");
    return command.kind == TqnCommandKind::Status ? kStatusUnreadable : 1;
  }
}

}  // namespace qn
