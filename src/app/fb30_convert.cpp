#include "app/fb30_convert.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "firebird/fb30_server.h"
#include "firebird/fb_paths.h"
#include "platform/files.h"
#include "settings/installation_password.h"
#include "settings/register.h"

namespace qn {

namespace {

const std::string& Word(const TqnSyncMsg& msg, size_t index) {
  static const std::string empty;
  return index < msg.arguments.size() ? msg.arguments[index] : empty;
}

// The extension of the file name, dot included ("" when it has none).
std::string Extension(const std::string& path) {
  const std::string name = platform::ExtractFileName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string NotExists(TqnApplication& app, const std::string& key) {
  app.Log().LogMessage("ERROR: database \"" + key + "\" not exists", 0);
  return "error database-not-exists " + key;
}

// The tests that an entry must pass to be locked or switched, in their
// order: a readable path, a local host, no port (neither the private
// server's nor another) without "fb.ini", and an ".fdb" file. Returns the
// refusal's reply, or "" with location filled in.
std::string CheckConvertible(TqnApplication& app, const std::string& path, const std::string& prefix,
                             TFbLocation& location) {
  try {
    location = ParseDatabasePath(path);
  } catch (const Exception& e) {
    app.Log().LogMessage("ERROR: database wrong path \"" + path + "\", " + e.what(), 0);
    return "error database-wrong-path";
  } catch (...) {
    app.Log().LogMessage("ERROR: database wrong path \"" + path + "\", unknown exception", 0);
    return "error database-wrong-path";
  }
  if (!IsLocalHost(location.host, app.LocalHostName())) return prefix + "host-is-not-local";
  if (location.port == kFb30Port) return prefix + "already-switched";
  if (location.port != 0) return prefix + "non-standart-port";
  if (app.AddressContext().fbIniPresent) return prefix + "non-standart-port";
  if (LowerCase(Extension(location.filePath)) != ".fdb") return prefix + "non-standart-file-ext";
  return "";
}

std::string EntryPath(const TqnNode& entry) { return entry.FindNode("path")->Content().AsString(""); }

std::string Lock(TqnApplication& app, TqnNode& entry, const std::string& key) {
  const std::string prefix = "database-fb30-convert-lock ";
  if (app.ConvertLockList().count(key)) return prefix + "already-locked";
  TFbLocation location;
  std::string refusal = CheckConvertible(app, EntryPath(entry), prefix, location);
  if (!refusal.empty()) return refusal;
  if (platform::FileExists(Fb30ConvertedFile(location.filePath))) return prefix + "already-converted-1";
  if (platform::FileExists(Fb30TrashFile(location.filePath))) return prefix + "already-converted-2";
  app.ConvertLockList().insert(key);
  return prefix + "successfully-locked";
}

bool MakeFolder(const std::string& folder) {
  if (platform::DirectoryExists(folder)) return true;
  try {
    platform::ForceDirectories(folder);
  } catch (const std::exception&) {
    return false;
  }
  // A file of that name makes creation "succeed" without giving a folder.
  return platform::DirectoryExists(folder);
}

std::string Unlock(TqnApplication& app, TqnNode& entry, const std::string& key, const std::string& option) {
  const std::string prefix = "database-fb30-convert-unlock ";
  if (!app.ConvertLockList().count(key)) return prefix + "not-locked";
  if (option != kFb30SwitchOption) {
    app.ConvertLockList().erase(key);
    return prefix + "successfully-unlocked";
  }
  TFbLocation location;
  std::string refusal = CheckConvertible(app, EntryPath(entry), prefix, location);
  if (!refusal.empty()) return refusal;
  const std::string oldFile = location.filePath;
  const std::string newFile = Fb30ConvertedFile(oldFile);
  const std::string trashFile = Fb30TrashFile(oldFile);
  if (!platform::FileExists(newFile)) return prefix + "converted-file-not-exists";
  if (platform::FileExists(trashFile)) return prefix + "already-converted-2";
  if (!MakeFolder(platform::ExtractFileDir(trashFile))) return prefix + "cant-create-trash-dir";
  try {
    platform::MoveFile(oldFile, trashFile);
  } catch (const std::exception&) {
    return prefix + "cant-rename-to-trash-file";
  }
  // The register goes to disk with the next save of the settings.
  const std::string newPath = location.host + Format("/%d:", kFb30Port) + newFile;
  app.Settings().Change([&](TqnNode&) { entry.Node("path")->Content().SetString(newPath); });
  app.FillList();
  app.ConvertLockList().erase(key);
  return prefix + "successfully-switched";
}

}  // namespace

std::string Fb30TrashFile(const std::string& databaseFile) {
  const std::string folder = platform::JoinPath(platform::ExtractFileDir(databaseFile), kTrashFolderName);
  return platform::JoinPath(folder, platform::ExtractFileName(databaseFile) + kTrashFileSuffix);
}

std::string Fb30ConvertedFile(const std::string& databaseFile) {
  return databaseFile.substr(0, databaseFile.size() - Extension(databaseFile).size()) + ".fd3";
}

void DoFb30ConvertCommand(TqnApplication& app, TqnSyncMsg& msg) {
  const bool lock = msg.command == kFb30LockCommand;
  if (!lock && msg.command != kFb30UnlockCommand) return;
  const std::string& key = Word(msg, 1);
  TqnNode* entry = RegisterOf(app.Settings().Root())->FindNode(key);
  if (!entry->Exists()) {
    msg.reply = NotExists(app, key);
    return;
  }
  msg.reply = lock ? Lock(app, *entry, key) : Unlock(app, *entry, key, Word(msg, 2));
}

std::string RunFb30ConvertCommand(const TqnMainThreadRunner& runner, TqnApplication& app, const std::string& command,
                                  const std::vector<std::string>& words) {
  TqnSyncMsg msg{command, words, ""};
  std::exception_ptr error;
  runner([&] {
    try {
      DoFb30ConvertCommand(app, msg);
    } catch (...) {
      error = std::current_exception();
    }
  });
  if (error) std::rethrow_exception(error);
  return msg.reply;
}

void CheckFb30Server(TqnApplication& app) {
  // The folders of the register's entries on the private server, which a
  // new installation must let databases be in: the database's own, and its
  // backup and verification folders (a backup is proven by a restore there).
  std::vector<std::string> folders;
  const auto add = [&folders](std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
      folders.push_back(folder);
  };
  app.Settings().Read([&](const TqnNode& root) {
    const TqnNode* data = RegisterOf(root);
    for (int i = 0; i < data->NodeCount(); ++i) {
      const TqnNode* entry = data->Nodes(i);
      const std::string path = entry->FindNode("path")->Content().AsString("");
      if (!IsPrivateServerPath(path, app.LocalHostName())) continue;
      add(platform::ExtractFileDir(ParseDatabasePath(path).filePath));
      add(entry->FindNode("backup")->FindNode("path")->Content().AsString(""));
      add(entry->FindNode("backup")->FindNode("verify_path")->Content().AsString(""));
    }
    return 0;
  });
  EnsureFb30Installed(
      app.ProgramFolder(), app.AddressContext().fbIniPresent,
      [&app](const std::string& text) { return app.Ui().AskYesNo(TqnMessageKind::Warning, text); },
      [&app](const std::string& text) {
        // The installer did not run: the log keeps why, also after the box.
        app.Log().LogMessage(text, 0);
        app.Ui().ShowMessage(TqnMessageKind::Error, text);
      },
      folders);
}

}  // namespace qn
