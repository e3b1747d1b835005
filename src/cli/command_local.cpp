#include "cli/command_local.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "backup/alerts.h"
#include "backup/backup_catalogue.h"
#include "backup/backup_keeper.h"
#include "backup/backup_names.h"
#include "backup/destination_copy.h"
#include "backup/destinations.h"
#include "base/error.h"
#include "backup/status_figures.h"
#include "app/application.h"
#include "base/text.h"
#include "cli/command_client.h"
#include "cli/json_text.h"
#include "cli/status_nagios.h"
#include "cli/status_zabbix.h"
#include "ipc/channel.h"
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

std::unique_ptr<TqnNode> LoadSettings() {
  return XmlLoadFile(platform::JoinPath(platform::ProgramFolder(), TqnSettingsStore::kFileName),
                     TqnSettingsStore::kRootName);
}

// What retention does with a line, for a person: kept and why, or that it
// goes at the next proven backup (with pruning on).
std::string RetentionMark(const TqnBackupEntry& entry, const TqnRetentionLine* line) {
  if (!line) return "-";
  if (!line->weighed) return Win1251("не удаляется (") + line->reason + ")";
  if (!entry.prune) return Win1251("хранится (очистка выключена)");
  if (line->reason.empty()) return Win1251("будет удалена");
  return Win1251("хранится (") + line->reason + ")";
}

TqnReadingAnswer Backups(const TqnNode& root, const std::string& key, const DateTime& now) {
  const TqnNode* node = FindEntry(root, EntryNumber(key));
  const TqnBackupEntry entry = ReadBackupEntry(*node);
  const std::string folder = NormalizeBackupFolder(entry.backupFolder);
  const std::vector<TqnCatalogueRecord> records = ReadCatalogue(folder);
  const std::vector<TqnRetentionLine> plan = PlanRetention(entry, folder, records, now);
  std::string text;
  for (size_t i = 0; i < records.size(); ++i) {
    const TqnCatalogueRecord& r = records[i];
    if (!RecordOfEntry(r, entry.name, entry.id)) continue;
    const TqnRetentionLine* line = nullptr;
    for (const TqnRetentionLine& l : plan)
      if (l.record == i) line = &l;
    text += r.start + "\t" + CatalogueFilePath(folder, r) + "\t" + std::to_string(r.size) + "\t" + r.outcome + "\t" +
            r.verification + "\t" + std::to_string(r.restoreMs) + "\t" + r.sha256 + "\t" + RetentionMark(entry, line) +
            "\t" + r.message + "\n";
  }
  if (text.empty())
    text =
        Win1251("В каталоге \"") + folder + kCatalogueFileName + Win1251("\" нет резервных копий ") + entry.name + "\n";
  // Each destination's copies, by its own catalogue and retention, named as
  // --restore=KEY --from=DEST:NAME takes them.
  int code = 0;
  for (const std::string& name : entry.copyTo) {
    const std::optional<TqnDestination> destination = FindDestination(root, name);
    try {
      if (!destination) throw Exception(Win1251("нет в настройках (\"destinations\")"));
      std::unique_ptr<storage::Storage> place = OpenDestination(*destination, TqnDestinationUse::Read);
      const std::vector<TqnCatalogueRecord> copies = ReadCatalogue(*place);
      const std::vector<TqnRetentionLine> kept =
          PlanRetention(entry, *place, "", copies, now, DestinationRetentionRules(*destination, entry.name));
      for (const TqnRetentionLine& l : kept) {
        const TqnCatalogueRecord& r = copies[l.record];
        text += r.start + "\t" + name + ":" + r.file + "\t" + std::to_string(r.size) + "\t" + r.outcome + "\t" +
                r.verification + "\t" + std::to_string(r.restoreMs) + "\t" + r.sha256 + "\t" +
                (l.weighed ? (l.reason.empty() ? Win1251("будет удалена") : Win1251("хранится (") + l.reason + ")")
                           : Win1251("не удаляется (") + l.reason + ")") +
                "\t" + r.message + "\n";
      }
    } catch (const std::exception& e) {
      text += Win1251("Место хранения \"") + name + "\": " + e.what() + "\n";
      code = 1;
    }
  }
  return {code, text, {}};
}

TqnReadingAnswer TestAlert(const TqnNode& root) {
  TqnAlert alert;
  alert.event = TqnAlertEvent::Test;
  alert.host = platform::HostName();
  alert.message = Win1251("Проверочное сообщение");
  const TqnAlertReport report = SendAlert(ReadAlertSettings(root), alert);
  std::string text;
  for (const std::string& line : report.lines) text += line + "\n";
  if (report.ok) return {0, text, {}};
  return {1, {}, text};
}

TqnReadingAnswer Unreadable(const TqnCommand& command, const std::string& why) {
  if (command.kind != TqnCommandKind::Status) return {1, {}, why + "\n"};
  if (command.format == TqnStatusFormat::Nagios) return {kStatusUnreadable, NagiosUnknown(why), {}};
  if (command.format != TqnStatusFormat::Text)
    return {kStatusUnreadable, "{\"status\":3,\"error\":" + JsonString(why) + "}\n", {}};
  return {kStatusUnreadable, Win1251("Состояние не прочитано: ") + why + "\n", {}};
}

void PrintAnswer(const TqnCommand& command, const TqnReadingAnswer& answer) {
  // JSON and the plugin's output are UTF-8 already; text goes in the
  // terminal's encoding.
  if (command.kind == TqnCommandKind::Status && command.format != TqnStatusFormat::Text) {
    std::fputs(answer.out.c_str(), stdout);
    std::fflush(stdout);
  } else if (!answer.out.empty()) {
    Print(stdout, answer.out);
  }
  if (!answer.err.empty()) Print(stderr, answer.err);
}

// Where the system's service looks after this machine's databases, its
// register is the one an administrator or a monitoring agent asks about
// (unless a program folder is named explicitly).
bool ServiceLooksAfterThisMachine() {
  const char* home = std::getenv("QNDBMGR_HOME");
  return !(home && *home) && IpcChannelInUse(TqnApplication::kServiceChannelName);
}

TqnReadingAnswer AskTheService(const TqnCommand& command) {
  std::optional<TqnCommandResult> result;
  if (!ListIpcInstances(TqnApplication::kServiceChannelName).empty()) result = RunInService(command);
  if (!result) return Unreadable(command, ServiceOnlyMessage());
  if (!result->ok) return Unreadable(command, result->text);
  TqnReadingAnswer answer;
  if (!DecodeReadingAnswer(result->text, answer)) return Unreadable(command, result->text);
  return answer;
}

}  // namespace

// What puts the office at risk without being a backup's state: told, but it
// leaves the exit code to the backups.
std::vector<std::string> StatusNotices(const TqnNode& root) {
  std::vector<std::string> notices;
  const TqnNode* pin = root.FindNode("PIN");
  if (!pin || pin->Text().empty() || IsDefaultPacketKey(pin->Text())) notices.push_back(DefaultPacketKeyWarning());
  return notices;
}

namespace {

std::string JsonNumber(long long v) { return v < 0 ? "null" : std::to_string(v); }

std::string JsonStatus(const TqnStatusSnapshot& s, const std::vector<std::string>& notices) {
  std::string text = "{\"status\":" + std::to_string(s.exitCode) + ",\"stale_hours\":" + std::to_string(s.staleHours) +
                     ",\"notices\":[";
  for (size_t i = 0; i < notices.size(); ++i) text += (i ? "," : "") + JsonString(notices[i]);
  text += "],\"entries\":[";
  for (size_t i = 0; i < s.entries.size(); ++i) {
    const TqnStatusFigures& f = s.entries[i];
    const TqnStatusLine& l = f.line;
    text += std::string(i ? "," : "") + "{\"key\":" + JsonString(l.key) + ",\"caption\":" + JsonString(l.caption) +
            ",\"last_verified\":" + (l.lastVerified.empty() ? "null" : JsonString(l.lastVerified)) + ",\"state\":\"" +
            HealthWord(l.health) + "\",\"message\":" + JsonString(l.message) +
            ",\"last_backup_time\":" + JsonNumber(f.lastBackupTime) +
            ",\"last_verified_time\":" + JsonNumber(f.lastVerifiedTime) +
            ",\"age_seconds\":" + JsonNumber(f.verifiedAgeSeconds) + ",\"size_bytes\":" + JsonNumber(f.sizeBytes) +
            ",\"restore_seconds\":" +
            (f.restoreMs < 0 ? std::string("null") : Format("%lld.%03lld", f.restoreMs / 1000, f.restoreMs % 1000)) +
            ",\"destinations\":[";
    for (size_t k = 0; k < l.copies.size(); ++k) {
      const TqnCopyStatus& c = l.copies[k];
      text += std::string(k ? "," : "") + "{\"name\":" + JsonString(c.destination) +
              ",\"last_copied\":" + (c.lastCopied.empty() ? "null" : JsonString(c.lastCopied)) + ",\"state\":\"" +
              HealthWord(c.health) + "\",\"message\":" + JsonString(c.message) + "}";
    }
    text += "]}";
  }
  return text + "]}\n";
}

}  // namespace

TqnStatusReport StatusReport(const TqnNode& root, const DateTime& now, TqnStatusFormat format) {
  const TqnStatusSnapshot snapshot = ReadStatusFigures(root, now);
  TqnStatusReport report;
  report.exitCode = snapshot.exitCode;
  switch (format) {
    case TqnStatusFormat::Json: report.text = JsonStatus(snapshot, StatusNotices(root)); return report;
    case TqnStatusFormat::Nagios: report.text = NagiosStatus(snapshot); return report;
    case TqnStatusFormat::ZabbixDiscovery: report.text = ZabbixDiscovery(snapshot); return report;
    default: break;
  }
  for (const std::string& notice : StatusNotices(root)) report.text += notice + "\n";
  for (const TqnStatusFigures& f : snapshot.entries) {
    const TqnStatusLine& l = f.line;
    report.text +=
        l.key + "\t" + l.caption + "\t" + (l.lastVerified.empty() ? "-" : l.lastVerified) + "\t" + HealthWord(l.health);
    if (!l.message.empty()) report.text += "\t" + l.message;
    report.text += "\n";
  }
  if (snapshot.entries.empty()) report.text += Win1251("Нет баз данных с автоматической архивацией\n");
  return report;
}

bool IsReadingCommand(TqnCommandKind kind) {
  return kind == TqnCommandKind::Status || kind == TqnCommandKind::Backups || kind == TqnCommandKind::TestAlert;
}

TqnReadingAnswer AnswerReadingCommand(const TqnCommand& command, const TqnNode& root, const DateTime& now) {
  try {
    switch (command.kind) {
      case TqnCommandKind::Status: {
        const TqnStatusReport report = StatusReport(root, now, command.format);
        return {report.exitCode, report.text, {}};
      }
      case TqnCommandKind::Backups: return Backups(root, command.key, now);
      case TqnCommandKind::TestAlert: return TestAlert(root);
      default: return {1, {}, "not a reading command\n"};
    }
  } catch (const std::exception& e) {
    return Unreadable(command, e.what());
  }
}

// The exit code on a line of its own, the length of what goes to standard
// output on the next, then both texts: one answer through the channel.
std::string EncodeReadingAnswer(const TqnReadingAnswer& answer) {
  return std::to_string(answer.code) + "\n" + std::to_string(answer.out.size()) + "\n" + answer.out + answer.err;
}

bool DecodeReadingAnswer(const std::string& text, TqnReadingAnswer& answer) {
  const size_t first = text.find('\n');
  const size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
  if (second == std::string::npos) return false;
  char* end = nullptr;
  const long code = std::strtol(text.c_str(), &end, 10);
  const unsigned long long length = std::strtoull(text.c_str() + first + 1, nullptr, 10);
  if (end != text.c_str() + first || code < 0 || code > 255 || length > text.size() - second - 1) return false;
  answer.code = static_cast<int>(code);
  answer.out = text.substr(second + 1, length);
  answer.err = text.substr(second + 1 + length);
  return true;
}

std::optional<int> RunLocalCommand(const TqnCommand& command) {
  if (!IsReadingCommand(command.kind)) return std::nullopt;
  TqnReadingAnswer answer;
  if (ServiceLooksAfterThisMachine()) {
    answer = AskTheService(command);
  } else {
    std::unique_ptr<TqnNode> root;
    try {
      root = LoadSettings();
    } catch (const std::exception& e) {
      answer = Unreadable(command, e.what());
    }
    if (root) answer = AnswerReadingCommand(command, *root, platform::SystemClock().Now());
  }
  PrintAnswer(command, answer);
  return answer.code;
}

}  // namespace qn
