#include "cli/status_nagios.h"

#include "base/text.h"

namespace qn {

namespace {

const char* StateWord(int exitCode) {
  switch (exitCode) {
    case 0: return "OK";
    case 1: return "WARNING";
    case 2: return "CRITICAL";
    default: return "UNKNOWN";
  }
}

// "|" separates the text from the performance data: none may stand in the
// text, nor a line break within a line.
std::string PlainText(const std::string& cp1251) {
  std::string out = Win1251ToUtf8(cp1251);
  for (char& c : out)
    if (c == '|')
      c = '/';
    else if (c == '\r' || c == '\n')
      c = ' ';
  return out;
}

std::string KeysOf(const TqnStatusSnapshot& s, TqnBackupHealth health) {
  std::string keys;
  for (const TqnStatusFigures& f : s.entries)
    if (f.line.health == health) keys += (keys.empty() ? "" : ", ") + f.line.key;
  return keys;
}

// The first line's text: the entries that are not well, as many as fit.
std::string Summary(const TqnStatusSnapshot& s) {
  std::string text = std::string("BACKUP ") + StateWord(s.exitCode) + " - ";
  if (s.entries.empty()) return text + "no databases with automatic backups";
  if (s.exitCode == 0)
    return text + std::to_string(s.entries.size()) + " verified within " + std::to_string(s.staleHours) + "h";
  const std::string failed = KeysOf(s, TqnBackupHealth::Failed);
  const std::string stale = KeysOf(s, TqnBackupHealth::Stale);
  if (!failed.empty()) text += "failed: " + failed;
  if (!stale.empty()) text += (failed.empty() ? "" : "; ") + std::string("stale: ") + stale;
  if (text.size() > kNagiosLineLimit) {
    const std::string more = " ...";
    const size_t cut = text.find_last_of(",;", kNagiosLineLimit - more.size());
    text = text.substr(0, cut) + more;
  }
  return text;
}

std::string Seconds(long long ms) { return Format("%lld.%03lld", ms / 1000, ms % 1000); }

}  // namespace

std::string NagiosStatus(const TqnStatusSnapshot& s) {
  std::string perf;
  const long long warning = static_cast<long long>(s.staleHours) * 3600;
  for (const TqnStatusFigures& f : s.entries) {
    const std::string k = "'" + f.line.key;
    perf += " " + k +
            "_age'=" + (f.verifiedAgeSeconds < 0 ? std::string("U") : std::to_string(f.verifiedAgeSeconds) + "s") +
            ";" + std::to_string(warning) + ";;0";
    perf += " " + k + "_size'=" + (f.sizeBytes < 0 ? std::string("U") : std::to_string(f.sizeBytes) + "B") + ";;;0";
    perf += " " + k + "_restore'=" + (f.restoreMs < 0 ? std::string("U") : Seconds(f.restoreMs) + "s") + ";;;0";
  }
  std::string text = Summary(s) + (perf.empty() ? "" : " |" + perf) + "\n";
  for (const TqnStatusFigures& f : s.entries) {
    text += f.line.key + (f.line.caption.empty() ? "" : " (" + PlainText(f.line.caption) + ")") + ": " +
            HealthWord(f.line.health) + ", last verified " +
            (f.line.lastVerified.empty() ? std::string("never") : f.line.lastVerified);
    if (!f.line.message.empty()) text += ": " + PlainText(f.line.message);
    text += "\n";
  }
  return text;
}

std::string NagiosUnknown(const std::string& why) {
  return std::string("BACKUP UNKNOWN - the state cannot be read\n") + PlainText(why) + "\n";
}

}  // namespace qn
