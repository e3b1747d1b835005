#include "backup/dump_restore.h"

#include <memory>

#include "backup/zip_stream.h"
#include "base/error.h"
#include "base/text.h"
#include "dump/dump_write_mode.h"
#include "firebird/fb_connection.h"
#include "firebird/fb_paths.h"
#include "firebird/fb_script.h"
#include "firebird/fb_statement.h"
#include "firebird/new_database_name.h"
#include "platform/files.h"

namespace qn {

namespace {

struct TqnDumpMembers {
  std::string tables;
  std::string tablesOrder;
  std::string ddl;
  std::string deactivate;
  std::string meta;
};

TqnDumpMembers ReadMembers(const std::string& archivePath) {
  UclsZipArchive archive(archivePath);
  TqnDumpMembers m;
  m.tables = archive.ReadMember("tables.sql");
  m.tablesOrder = archive.ReadMember("tables_ord.txt");
  m.ddl = archive.ReadMember("ddl.sql");
  m.deactivate = archive.ReadMember("deactivate.sql");
  m.meta = archive.ReadMember("meta.txt");
  archive.Close();
  return m;
}

std::string WithoutTrailingSeparator(std::string folder) {
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

std::string ExtensionOf(const std::string& path) {
  const std::string name = platform::ExtractFileName(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// The entry's new path on the Firebird 3.0 server, when the move is allowed.
std::string MovedEntryPath(const TqnDumpRestoreContext& context, const std::string& entryPath) {
  const TFbLocation location = ParseDatabasePath(entryPath);
  const std::string dataFolder = platform::JoinPath(context.programFolder, "data");
  const bool fbIni = context.hooks.fbIniPresent && context.hooks.fbIniPresent();
  const bool allowed = IsLocalHost(location.host, context.localHostName) && location.port == 0 && !fbIni &&
                       LowerCase(ExtensionOf(location.filePath)) == ".fdb" &&
                       LowerCase(WithoutTrailingSeparator(platform::ExtractFileDir(location.filePath))) ==
                           LowerCase(WithoutTrailingSeparator(dataFolder));
  if (!allowed) throw Exception(Win1251("Формат базы данных не соответствует формату резервной копии"));
  const std::string newFile = NewDatabaseFileName(dataFolder, 0);
  return location.host + Format("/%d:", kFb30Port) + newFile;
}

void StoreDumpTexts(TqnFbConnection& connection, const TqnDumpMembers& members) {
  TqnFbTransaction& transaction = connection.DefaultTransaction();
  try {
    TqnFbStatement statement(connection, transaction);
    statement.Prepare("update \"tDatabase\" set \"fDeactivate\" = :pd, \"fMeta\" = :pm");
    statement.SetString("pd", members.deactivate);
    statement.SetString("pm", members.meta);
    statement.Execute();
    transaction.Commit();
  } catch (...) {
    try {
      if (transaction.Active()) transaction.Rollback();
    } catch (...) {
    }
    throw;
  }
}

// Steps after the members are read; the caller cleans up.
void Restore(const TqnDumpRestoreContext& context, TqnBackupEntry& entry, const std::string& archivePath,
             const TqnDumpMembers& members) {
  TqnFbConnection& connection = context.connection;
  const bool wasFb30 = IsFb30Database(entry.path);
  if (!wasFb30) {
    entry.path = MovedEntryPath(context, entry.path);
    if (context.hooks.repointEntry) context.hooks.repointEntry(entry.name, entry.path);
  }
  if (context.prepareConnection) context.prepareConnection(entry);
  if (context.moveAside) context.moveAside(entry.path);
  CreateAttachedDatabase(connection, context.hooks.askLogin);
  // The rows travel without wire encryption when the server is this
  // machine: the attachment the write mode switch makes next is the one
  // that loads them.
  struct PlainWire {
    TqnFbConnection& connection;
    bool was = connection.PlainLoopbackWire();
    ~PlainWire() { connection.SetPlainLoopbackWire(was); }
  } plainWire{connection};
  connection.SetPlainLoopbackWire(true);
  // As a server restore does, the new database is filled, its rows and its
  // indexes, with pages written without waiting for the disk; the flag is
  // set again at the end, failed or not.
  TqnWriteModeGuard writeMode(connection);

  std::string lastStatement;
  TqnProgressThrottle scriptProgress(
      kScriptProgressInterval,
      [&] {
        if (context.progressStep) context.progressStep();
      },
      context.now ? context.now : TqnProgressThrottle::NowFunction([] { return std::chrono::steady_clock::now(); }));
  const TqnScriptStatementHandler onStatement = [&](const std::string& statement) {
    lastStatement = statement;
    scriptProgress();
  };
  try {
    RunScript(connection, connection.DefaultTransaction(), members.tables, onStatement);
    // The database was just created by "tables.sql": its keys are built
    // after the rows, as a server restore builds them.
    TqnDumpLoadOptions options;
    options.deferIndexes = true;
    LoadDumpData([&archivePath] { return std::make_unique<UclsZipStream>(archivePath, "data.txt"); }, connection,
                 members.meta,
                 [&] {
                   if (context.loadProgress) (*context.loadProgress)();
                 },
                 wasFb30, *context.clock, options);
    const bool keepIndexes = wasFb30 && connection.OdsMajorVersion() >= 11;
    RunScript(connection, connection.DefaultTransaction(),
              keepIndexes ? members.ddl : DisableExpressionIndexes(members.ddl), onStatement);
  } catch (...) {
    if (context.paneLine) context.paneLine("last script statement: " + lastStatement);
    throw;
  }
  if (context.paneLine) context.paneLine("last script statement: " + lastStatement);
  StoreDumpTexts(connection, members);
  writeMode.Restore();
}

}  // namespace

std::string DisableExpressionIndexes(const std::string& script) {
  std::string result;
  size_t start = 0;
  while (start < script.size()) {
    size_t end = script.find('\n', start);
    size_t next = end == std::string::npos ? script.size() : end + 1;
    size_t contentEnd = end == std::string::npos ? script.size() : end;
    if (contentEnd > start && script[contentEnd - 1] == '\r') --contentEnd;
    const std::string line = script.substr(start, contentEnd - start);
    result += line.find(kExpressionIndexTag) != std::string::npos ? std::string(kExpressionIndexDisabled) : line;
    result += script.substr(contentEnd, next - contentEnd);
    start = next;
  }
  return result;
}

void RestoreLogicalDump(const TqnDumpRestoreContext& context, TqnBackupEntry entry, const std::string& archivePath) {
  TqnDumpMembers members;
  try {
    members = ReadMembers(archivePath);
  } catch (const std::exception&) {
    if (context.ui) context.ui->ShowMessage(TqnMessageKind::Error, Win1251("Формат резервной копии не поддерживается"));
    return;
  }
  if (context.ui) context.ui->SetBusy(true);
  auto cleanUp = [&] {
    try {
      context.connection.Detach();
    } catch (...) {
    }
    if (context.ui) context.ui->SetBusy(false);
  };
  try {
    Restore(context, entry, archivePath, members);
  } catch (...) {
    cleanUp();
    throw;
  }
  cleanUp();
}

}  // namespace qn
