#include "settings/backup_state.h"

#include <cstdlib>

#include "base/text.h"
#include "settings/register.h"
#include "settings/settings_keys.h"

namespace qn {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool Digits(const std::string& s, size_t at, size_t count, int& value) {
  if (at + count > s.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

std::string Text(const TqnNode* node) { return node->Content().AsString(""); }

}  // namespace

TqnEntryBackupState ReadBackupState(const TqnNode& entry) {
  const TqnNode* result = entry.FindNode("backup")->FindNode("result");
  TqnEntryBackupState s;
  s.state = Text(result->FindNode("state"));
  s.time = Text(result->FindNode("time"));
  s.verified = Text(result->FindNode("verified"));
  s.message = Text(result->FindNode("message"));
  s.alert = Text(result->FindNode("alert"));
  return s;
}

void WriteBackupState(TqnNode& entry, const TqnEntryBackupState& state) {
  TqnNode* result = entry.Node("backup")->Node("result");
  result->Node("state")->Content().SetString(state.state);
  result->Node("time")->Content().SetString(state.time);
  result->Node("verified")->Content().SetString(state.verified);
  result->Node("message")->Content().SetString(state.message);
  result->Node("alert")->Content().SetString(state.alert);
}

namespace {

TqnCopyState CopyStateOf(const TqnNode& node) {
  TqnCopyState s;
  s.name = Text(node.FindNode("name"));
  s.state = Text(node.FindNode("state"));
  s.time = Text(node.FindNode("time"));
  s.copied = Text(node.FindNode("copied"));
  s.file = Text(node.FindNode("file"));
  s.message = Text(node.FindNode("message"));
  s.alert = Text(node.FindNode("alert"));
  return s;
}

}  // namespace

std::vector<TqnCopyState> ReadCopyStates(const TqnNode& entry) {
  std::vector<TqnCopyState> states;
  const TqnNode* copies = entry.FindNode("backup")->FindNode("copies");
  for (int i = 0; i < copies->NodeCount(); ++i) states.push_back(CopyStateOf(*copies->Nodes(i)));
  return states;
}

TqnCopyState ReadCopyState(const TqnNode& entry, const std::string& destination) {
  for (const TqnCopyState& s : ReadCopyStates(entry))
    if (s.name == destination) return s;
  TqnCopyState none;
  none.name = destination;
  return none;
}

void WriteCopyState(TqnNode& entry, const TqnCopyState& state) {
  TqnNode* copies = entry.Node("backup")->Node("copies");
  TqnNode* node = nullptr;
  for (int i = 0; i < copies->NodeCount() && !node; ++i)
    if (Text(copies->Nodes(i)->FindNode("name")) == state.name) node = copies->Nodes(i);
  if (!node) node = copies->AddNode("c" + std::to_string(copies->NodeCount()));
  node->Node("name")->Content().SetString(state.name);
  node->Node("state")->Content().SetString(state.state);
  node->Node("time")->Content().SetString(state.time);
  node->Node("copied")->Content().SetString(state.copied);
  node->Node("file")->Content().SetString(state.file);
  node->Node("message")->Content().SetString(state.message);
  node->Node("alert")->Content().SetString(state.alert);
}

std::vector<std::string> FailingCopies(const TqnNode& entry) {
  std::vector<std::string> names;
  for (const std::string& name : CopyToNames(entry))
    if (ReadCopyState(entry, name).state == "failed") names.push_back(name);
  return names;
}

std::string FailingCopiesText(const TqnNode& entry) {
  std::string text;
  for (const std::string& name : FailingCopies(entry))
    text += (text.empty() ? "" : ", ") + Win1251("копия в \"") + name + Win1251("\" не сделана");
  return text;
}

int StaleHours(const TqnNode& root) { return ReadPositiveInteger(root, keys::kStaleHours); }

bool ParseStamp(const std::string& stamp, DateTime& t) {
  t = DateTime{};
  if (stamp.size() < 16 || !Digits(stamp, 0, 4, t.year) || !Digits(stamp, 5, 2, t.month) ||
      !Digits(stamp, 8, 2, t.day) || !Digits(stamp, 11, 2, t.hour) || !Digits(stamp, 14, 2, t.minute) || t.month < 1 ||
      t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59)
    return false;
  if (stamp.size() >= 19 && (!Digits(stamp, 17, 2, t.second) || t.second > 59)) t.second = 0;
  return true;
}

long long StampMinutes(const std::string& stamp) {
  DateTime t;
  if (!ParseStamp(stamp, t)) return -1;
  return DaysFromCivil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute;
}

long long DateTimeMinutes(const DateTime& t) {
  return DaysFromCivil(t.year, t.month, t.day) * 1440 + t.hour * 60 + t.minute;
}

const char* HealthWord(TqnBackupHealth health) {
  switch (health) {
    case TqnBackupHealth::Stale: return "stale";
    case TqnBackupHealth::Failed: return "failed";
    default: return "ok";
  }
}

std::vector<TqnStatusLine> BackupStatus(const TqnNode& root, const DateTime& now) {
  std::vector<TqnStatusLine> lines;
  const long long limit = static_cast<long long>(StaleHours(root)) * 60;
  const long long nowMinutes = DateTimeMinutes(now);
  const TqnNode* data = RegisterOf(root);
  for (int i = 0; i < data->NodeCount(); ++i) {
    const TqnNode* entry = data->Nodes(i);
    int number;
    if (!ParseEntryName(entry->Name(), number)) continue;
    if (!entry->FindNode("backup")->FindNode("auto")->Content().AsBoolean(false)) continue;
    const TqnEntryBackupState state = ReadBackupState(*entry);
    TqnStatusLine line;
    line.key = entry->Name();
    line.caption = Text(entry->FindNode("caption"));
    line.lastVerified = state.verified;
    const long long verified = StampMinutes(state.verified);
    if (state.state == "failed") {
      line.health = TqnBackupHealth::Failed;
      line.message = state.message;
    } else if (verified < 0 || nowMinutes - verified > limit) {
      line.health = TqnBackupHealth::Stale;
      line.message = state.state == "unverified" ? state.message : std::string();
    }
    for (const std::string& name : CopyToNames(*entry)) {
      const TqnCopyState copy = ReadCopyState(*entry, name);
      TqnCopyStatus status;
      status.destination = name;
      status.lastCopied = copy.copied;
      const long long copied = StampMinutes(copy.copied);
      if (copy.state == "failed") {
        status.health = TqnBackupHealth::Failed;
        status.message = copy.message;
      } else if ((copied < 0 && verified >= 0) || (copied >= 0 && nowMinutes - copied > limit)) {
        status.health = TqnBackupHealth::Stale;
      }
      if (static_cast<int>(status.health) > static_cast<int>(line.health)) {
        line.health = status.health;
        if (!status.message.empty())
          line.message = Win1251("копия в \"") + name + "\": " + status.message;
        else if (line.message.empty())
          line.message = Win1251("нет свежей копии в \"") + name + "\"";
      }
      line.copies.push_back(status);
    }
    lines.push_back(line);
  }
  return lines;
}

TqnBackupHealth WorstHealth(const std::vector<TqnStatusLine>& lines) {
  TqnBackupHealth worst = TqnBackupHealth::Ok;
  for (const TqnStatusLine& l : lines)
    if (static_cast<int>(l.health) > static_cast<int>(worst)) worst = l.health;
  return worst;
}

namespace {

// "1 день", "3 дня", "5 дней", "21 день".
std::string DaysWord(long long days) {
  const long long tens = days % 100, ones = days % 10;
  const char* word = (tens >= 11 && tens <= 14) ? "дней"
                     : ones == 1                ? "день"
                     : (ones >= 2 && ones <= 4) ? "дня"
                                                : "дней";
  return std::to_string(days) + " " + Win1251(word);
}

}  // namespace

std::string LastBackupText(const TqnEntryBackupState& state, const DateTime& now) {
  const long long minutes = StampMinutes(state.time);
  if (state.state.empty() || minutes < 0) return {};
  const std::string word = state.state == "verified" ? Win1251("проверена")
                           : state.state == "failed" ? Win1251("ошибка")
                                                     : Win1251("не проверена");
  const std::string clock = state.time.substr(11, 5);
  const long long days = DateTimeMinutes(now) / 1440 - minutes / 1440;
  if (days == 0) return Win1251("сегодня ") + clock + ", " + word;
  if (days == 1) return Win1251("вчера ") + clock + ", " + word;
  const std::string dash = Win1251(" — ");
  if (days > 1 && days <= 31) return DaysWord(days) + Win1251(" назад") + dash + word;
  // Older than a month, or after today (a clock set back): its date alone.
  return state.time.substr(8, 2) + "." + state.time.substr(5, 2) + "." + state.time.substr(0, 4) + dash + word;
}

}  // namespace qn
