#include "settings/register.h"

#include <cstring>
#include <random>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "settings/settings_keys.h"

namespace qn {

bool ParseEntryName(const std::string& name, int& number) {
  if (name.size() != 6 || name[0] != 'd' || name[1] != 'b') return false;
  int n = 0;
  for (size_t i = 2; i < 6; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    n = n * 10 + (name[i] - '0');
  }
  number = n;
  return true;
}

std::string EntryName(int number) { return Format("db%04d", number); }

TqnNode* RegisterOf(const TqnNode& root) { return root.FindNode("data"); }

TqnNode* FindEntry(const TqnNode& root, int number) {
  TqnNode* entry = RegisterOf(root)->FindNode(EntryName(number));
  if (!entry->Exists()) throw Exception(Format(Win1251("База данных с номером %d не найдена").c_str(), number));
  return entry;
}

int MaxEntryNumber(const TqnNode& root) {
  const TqnNode* data = RegisterOf(root);
  int best = -1;
  for (int i = 0; i < data->NodeCount(); ++i) {
    int n = 0;
    if (ParseEntryName(data->Nodes(i)->Name(), n) && n > best) best = n;
  }
  return best;
}

std::string NewEntryId() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) id += Format("%08x", static_cast<unsigned>(random()));
  return id;
}

bool EnsureEntryIds(TqnNode& root) {
  TqnNode* data = RegisterOf(root);
  bool given = false;
  for (int i = 0; i < data->NodeCount(); ++i) {
    TqnNode* entry = data->Nodes(i);
    int number;
    if (!ParseEntryName(entry->Name(), number) || !entry->FindNode(keys::kUid.name)->Content().AsString("").empty())
      continue;
    entry->Node(keys::kUid.name)->Content().SetString(NewEntryId());
    given = true;
  }
  return given;
}

namespace {

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The path with oldFolder's "data", "backup" or "log" under newFolder; the
// path itself when it names none of them.
std::string MovedStatePath(const std::string& path, const std::string& oldFolder, const std::string& newFolder) {
  const std::string lower = LowerCase(path), folder = LowerCase(oldFolder);
  for (size_t at = lower.find(folder); at != std::string::npos; at = lower.find(folder, at + 1)) {
    // This computer's files only: another server's disk was not moved.
    const std::string host = lower.substr(0, at);
    if (!host.empty() && host != "localhost:" && host != "127.0.0.1:") continue;
    const size_t rest = at + folder.size();
    if (rest >= lower.size() || !IsPathSeparator(lower[rest])) continue;
    for (const char* part : {"data", "backup", "log"}) {
      const size_t end = rest + 1 + std::strlen(part);
      if (lower.compare(rest + 1, std::strlen(part), part) == 0 && (end == lower.size() || IsPathSeparator(lower[end])))
        return path.substr(0, at) + newFolder + path.substr(rest);
    }
  }
  return path;
}

bool MoveNodePath(TqnNode* node, const std::string& oldFolder, const std::string& newFolder) {
  if (!node) return false;
  const std::string path = node->Content().AsString("");
  const std::string moved = MovedStatePath(path, oldFolder, newFolder);
  if (moved == path) return false;
  node->Content().SetString(moved);
  return true;
}

}  // namespace

bool MoveStatePaths(TqnNode& root, const std::string& oldFolder, const std::string& newFolder) {
  if (oldFolder.empty() || LowerCase(oldFolder) == LowerCase(newFolder)) return false;
  TqnNode* data = RegisterOf(root);
  bool moved = false;
  for (int i = 0; i < data->NodeCount(); ++i) {
    TqnNode* entry = data->Nodes(i);
    moved = MoveNodePath(entry->FindNode("path"), oldFolder, newFolder) || moved;
    if (TqnNode* backup = entry->FindNode("backup"))
      moved = MoveNodePath(backup->FindNode("path"), oldFolder, newFolder) || moved;
  }
  return moved;
}

TqnNode* AddEntry(TqnNode& root, int number, const TqnNewEntry& values) {
  TqnNode* entry = root.Node("data")->AddNode(EntryName(number));
  entry->Node("path")->Content().SetString(values.path);
  // User and password are set in stored form, as the program always did.
  entry->Node("user")->SetText(kDefaultUser);
  if (values.password.empty())
    entry->Node("pwd")->SetText(kDefaultPassword);
  else
    entry->Node("pwd")->Content().SetString(values.password);
  entry->Node("caption")->Content().SetString(values.caption);
  TqnNode* backup = entry->Node("backup");
  backup->Node("auto")->Content().SetBoolean(false);
  backup->Node("path")->Content().SetString(values.backupPath);
  backup->Node("weekdays")->Content().SetString(kDefaultWeekdays);
  for (const TqnSettingKey* key : {&keys::kTime, &keys::kNum, &keys::kInterval, &keys::kRest})
    WriteInteger(*entry, *key, key->MissingInteger());
  entry->Node(keys::kUid.name)->Content().SetString(NewEntryId());
  return entry;
}

std::string DefaultBackupFolder(const std::string& programFolder, int number) {
  return platform::JoinPath(platform::JoinPath(programFolder, "backup"), Format("%04d", number));
}

}  // namespace qn
