#include "infoserver/info_commands.h"

#include <exception>
#include <optional>

#include "base/error.h"
#include "base/text.h"
#include "firebird/connect_string.h"
#include "firebird/fb_paths.h"
#include "infoserver/info_packet.h"
#include "platform/system.h"

namespace qn {

namespace {

constexpr const char* kNotFoundFields = " (not-found) (not-found) (not-found) (not-found)";
constexpr const char* kHiddenPassword = "invalid_password";
constexpr const char* kBackupRequested = "DATABASE BACKUP REQUESTED";
constexpr const char* kBackupTimeFormat = "yyyy.mm.dd-hh.nn.ss-zzz";

std::string Word(const std::vector<std::string>& words, size_t index) {
  return index < words.size() ? words[index] : std::string();
}

TqnCommandReply Answer(std::string payload, bool logged = true) {
  TqnCommandReply reply;
  reply.answered = true;
  reply.payload = std::move(payload);
  reply.logged = logged;
  return reply;
}

// Reads the settings under the owner's lock and returns what fn builds.
template <class Result, class Fn>
Result ReadSettings(const TqnInfoContext& ctx, Fn fn) {
  if (!ctx.readSettings) throw Exception("settings are not available");
  Result result{};
  ctx.readSettings([&](const TqnNode& root) { result = fn(root); });
  return result;
}

const TqnNode& Register(const TqnNode& root) { return *root.FindNode("data"); }

// Decimal integer with an optional sign that fits 32 bits; fallback otherwise.
int32_t DecimalOr(const std::string& text, int32_t fallback) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return fallback;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return fallback;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{2147483648}) return fallback;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return fallback;
  return static_cast<int32_t>(value);
}

// The workstation understands URL addresses when word 3 reads "V3".
bool WantsUrl(const std::vector<std::string>& words) {
  return words.size() > 2 && UpperCase(TrimControl(words[2])) == "V3";
}

std::string DatabaseInfo(const TqnInfoContext& ctx, const std::string& r, int32_t number, const TqnNode& entry,
                         bool url) {
  const std::string path = entry.FindNode("path")->Content().AsString("");
  std::string reply = "database-info " + r + " " + std::to_string(number);
  auto add = [&reply](const std::string& field) {
    reply += ' ';
    reply += field;
  };
  add(EscapeField(entry.Name()));
  add(EscapeField(entry.FindNode("caption")->Content().AsString("")));
  add(EscapeField(BuildConnectString(ctx.address, path, url)));
  add(EscapeField(entry.FindNode("user")->Text()));
  // The password goes out as stored, unescaped: workstations read it so.
  add(entry.FindNode("hidepwd")->Content().AsBoolean(false) ? kHiddenPassword : entry.FindNode("pwd")->Text());
  return reply;
}

TqnCommandReply NotExists(const TqnInfoContext& ctx, const std::string& key) {
  InfoLog(ctx, "ERROR: database \"" + key + "\" not exists", 0);
  return Answer("error database-not-exists " + key, false);
}

TqnCommandReply ActiveServers(const TqnInfoContext& ctx, const std::string& r) {
  const int count = ReadSettings<int>(ctx, [](const TqnNode& root) { return Register(root).NodeCount(); });
  return Answer("active-server " + r + " " + EscapeField(ctx.address.localHostName) + " " + std::to_string(count));
}

TqnCommandReply InfoByNumber(const TqnInfoContext& ctx, const std::vector<std::string>& words, const std::string& r) {
  const int32_t number = DecimalOr(Word(words, 1), -1);
  const bool url = WantsUrl(words);
  return Answer(ReadSettings<std::string>(ctx, [&](const TqnNode& root) {
    const TqnNode& data = Register(root);
    if (number < 0 || number >= data.NodeCount())
      return "database-info " + r + " " + std::to_string(number) + kNotFoundFields;
    return DatabaseInfo(ctx, r, number, *data.Nodes(number), url);
  }));
}

TqnCommandReply InfoByName(const TqnInfoContext& ctx, const std::vector<std::string>& words, const std::string& r) {
  const std::string key = Word(words, 1);
  const bool url = WantsUrl(words);
  auto reply = ReadSettings<std::optional<std::string>>(ctx, [&](const TqnNode& root) -> std::optional<std::string> {
    const TqnNode* entry = Register(root).FindNode(key);
    if (!entry->Exists()) return std::nullopt;
    return DatabaseInfo(ctx, r, entry->Index(), *entry, url);
  });
  if (!reply) return NotExists(ctx, key);
  return Answer(std::move(*reply));
}

TqnCommandReply BackupPathByName(const TqnInfoContext& ctx, const std::vector<std::string>& words) {
  const std::string key = Word(words, 1);
  auto reply = ReadSettings<std::optional<std::string>>(ctx, [&](const TqnNode& root) -> std::optional<std::string> {
    const TqnNode* entry = Register(root).FindNode(key);
    if (!entry->Exists()) return std::nullopt;
    const std::string folder = entry->FindNode("backup")->FindNode("path")->Content().AsString("");
    return "database-backup-path-by-name " + EscapeField(key) + " " + EscapeField(folder);
  });
  if (!reply) return NotExists(ctx, key);
  return Answer(std::move(*reply));
}

// What the backup command learns from the register under the lock.
struct BackupPlan {
  bool found = false;
  std::string entryKey;
  std::string fileName;
  std::string error;  // set when the request fails before the backup starts
};

std::string ErrorMessage(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

BackupPlan PlanBackup(const TqnInfoContext& ctx, const TqnNode& root, const std::string& key) {
  BackupPlan plan;
  const TqnNode* entry = Register(root).FindNode(key);
  if (!entry->Exists()) return plan;
  plan.found = true;
  plan.entryKey = entry->Name();
  try {
    std::string folder = entry->FindNode("backup")->FindNode("path")->Content().AsString("");
    if (ctx.normalizeBackupFolder) folder = ctx.normalizeBackupFolder(folder);
    if (folder.size() <= 3) {
      static const std::string message = Win1251("Путь для резервных копий \"%s\" не доступен");
      throw Exception(Format(message.c_str(), folder.c_str()));
    }
    const std::string path = entry->FindNode("path")->Content().AsString("");
    const char* extension = IsFb30Database(path) ? ".bk3" : ".fbk";
    static const platform::SystemClock systemClock;
    const Clock& clock = ctx.clock ? *ctx.clock : systemClock;
    plan.fileName = folder + "remote-" + FormatDateTime(kBackupTimeFormat, clock.Now()) + extension;
  } catch (...) {
    plan.error = ErrorMessage(std::current_exception());
  }
  return plan;
}

TqnCommandReply PerformBackup(const TqnInfoContext& ctx, const std::vector<std::string>& words, const std::string& r,
                              int32_t requestNumber, const std::string& peer) {
  if (ctx.pane) ctx.pane->AddRecord(kBackupRequested);
  const std::string key = Word(words, 1);
  BackupPlan plan = ReadSettings<BackupPlan>(ctx, [&](const TqnNode& root) { return PlanBackup(ctx, root, key); });
  const std::string head = "database-backup-info " + r;
  if (!plan.found) return Answer(head + " error " + EscapeField("database \"" + key + "\" not found"));
  if (plan.error.empty()) {
    try {
      if (!ctx.performBackup) throw Exception("backup is not available");
      // Outside the settings lock: a backup takes minutes, and the main
      // thread must stay free to change the tree meanwhile.
      ctx.performBackup({plan.entryKey, plan.fileName, peer, static_cast<uint32_t>(requestNumber)});
      return Answer(head + " success");
    } catch (...) {
      plan.error = ErrorMessage(std::current_exception());
    }
  }
  return Answer(head + " error " + EscapeField(plan.error));
}

TqnCommandReply Fb30Support(const TqnInfoContext& ctx) {
  const bool running = ctx.isFb30Running && ctx.isFb30Running();
  return Answer(std::string("fb30-support ") + (running ? "1" : "0"));
}

TqnCommandReply ConvertCommand(const TqnInfoContext& ctx, const std::vector<std::string>& words) {
  if (!ctx.runFb30ConvertCommand) return {};
  return Answer(ctx.runFb30ConvertCommand(words), false);
}

}  // namespace

TqnCommandReply RunInfoCommand(const TqnInfoContext& ctx, const std::vector<std::string>& words, int32_t requestNumber,
                               const std::string& peer) {
  const std::string& command = words.at(0);
  const std::string r = HexUpper(static_cast<uint32_t>(requestNumber), 8);
  if (command == "get-active-servers") return ActiveServers(ctx, r);
  if (command == "get-database-info-by-num") return InfoByNumber(ctx, words, r);
  if (command == "get-database-info-by-name") return InfoByName(ctx, words, r);
  if (command == "get-database-backup-path-by-name") return BackupPathByName(ctx, words);
  if (command == "perform-database-backup") return PerformBackup(ctx, words, r, requestNumber, peer);
  if (command == "get-fb30-support") return Fb30Support(ctx);
  if (command == "set-database-fb30-convert-lock" || command == "set-database-fb30-convert-unlock")
    return ConvertCommand(ctx, words);
  return {};
}

}  // namespace qn
