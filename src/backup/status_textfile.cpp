#include "backup/status_textfile.h"

#include "app/application.h"
#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {

constexpr const char* kFirstLine = "# Database Manager (qndbmgr): the state of the database backups\n";

// A label value: backslash, double quote and line feed escaped, UTF-8.
std::string LabelValue(const std::string& cp1251) {
  std::string out;
  for (char c : Win1251ToUtf8(cp1251)) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Labels(const TqnStatusFigures& f) {
  return "{entry=\"" + LabelValue(f.line.key) + "\",caption=\"" + LabelValue(f.line.caption) + "\"";
}

void Family(std::string& text, const std::string& name, const std::string& help) {
  text += "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n";
}

}  // namespace

std::string StatusTextfilePath(const TqnNode& root) { return TrimBlanks(ReadText(root, keys::kStatusTextfile)); }

std::string PrometheusText(const TqnStatusSnapshot& snapshot) {
  std::string text = kFirstLine;
  // A series without a value (no backup yet, nothing catalogued) is left
  // out rather than given a made-up one.
  auto series = [&](const char* name, const char* help, auto value) {
    Family(text, name, help);
    for (const TqnStatusFigures& f : snapshot.entries) {
      const std::string v = value(f);
      if (!v.empty()) text += std::string(name) + Labels(f) + "} " + v + "\n";
    }
  };
  auto count = [](long long v) { return v < 0 ? std::string() : std::to_string(v); };
  series("qndbmgr_backup_last_timestamp_seconds",
         "Unix time when the entry's latest backup ended, whatever its outcome.",
         [&](const TqnStatusFigures& f) { return count(f.lastBackupTime); });
  series("qndbmgr_backup_last_verified_timestamp_seconds",
         "Unix time when the entry's latest backup proven by a restore ended.",
         [&](const TqnStatusFigures& f) { return count(f.lastVerifiedTime); });
  series("qndbmgr_backup_size_bytes", "Size of the entry's newest verified backup.",
         [&](const TqnStatusFigures& f) { return count(f.sizeBytes); });
  series("qndbmgr_backup_restore_duration_seconds",
         "How long the restore that proved the entry's newest verified backup took.", [](const TqnStatusFigures& f) {
           return f.restoreMs < 0 ? std::string() : Format("%lld.%03lld", f.restoreMs / 1000, f.restoreMs % 1000);
         });
  Family(text, "qndbmgr_backup_state", "The entry's health as --status tells it: 1 for the state it is in.");
  for (const TqnStatusFigures& f : snapshot.entries)
    for (TqnBackupHealth h : {TqnBackupHealth::Ok, TqnBackupHealth::Stale, TqnBackupHealth::Failed})
      text += "qndbmgr_backup_state" + Labels(f) + ",state=\"" + HealthWord(h) + "\"} " +
              (f.line.health == h ? "1" : "0") + "\n";
  Family(text, "qndbmgr_backup_stale_threshold_seconds",
         "Age past which an entry's newest verified backup counts as stale.");
  text += "qndbmgr_backup_stale_threshold_seconds " +
          std::to_string(static_cast<long long>(snapshot.staleHours) * 3600) + "\n";
  return text;
}

void ReplaceStatusTextfile(const std::string& path, const std::string& text) {
  if (platform::FileExists(path)) {
    const std::string old = platform::ReadFile(path);
    if (!old.empty() && old.compare(0, std::string(kFirstLine).size(), kFirstLine) != 0)
      throw Exception(Win1251("файл написан не этой программой, он не заменяется"));
  }
  platform::WriteFileReplacing(path, text);
}

void WriteStatusTextfile(TqnApplication& app) {
  std::string path;
  TqnStatusSnapshot snapshot = app.Settings().Read([&](const TqnNode& root) {
    path = StatusTextfilePath(root);
    return path.empty() ? TqnStatusSnapshot{} : StatusSnapshot(root, app.GetClock().Now());
  });
  if (path.empty()) return;
  AddCatalogueFigures(snapshot);
  try {
    ReplaceStatusTextfile(path, PrometheusText(snapshot));
  } catch (const std::exception& e) {
    app.Log().LogMessage(Win1251("Не удалось записать файл состояния для мониторинга \"") + path + "\": " + e.what());
  }
}

}  // namespace qn
