// The restore of a logical dump archive (".pbz") into a new, empty database
// on the Firebird 3.0 server.
//
// The archive's members "tables.sql", "tables_ord.txt", "ddl.sql",
// "deactivate.sql" and "meta.txt" are read first; an archive lacking any of
// them is refused with the error box "Формат резервной копии не
// поддерживается" and nothing else happens (no exception). An entry on the
// older server is moved to the Firebird 3.0 server first, which is allowed
// only for a local ".fdb" file directly in the program's "data" folder, with
// no port, and without "fb.ini"; otherwise "Формат базы данных не
// соответствует формату резервной копии". The moved entry points at a new
// ".fd3" file of the "data" folder and is saved before any data are written;
// nothing reverts it later. Then the database is created, "tables.sql" is
// run, "data.txt" loaded (the keys and indexes of "tables.sql" built after
// the rows, and forced writes off until the end, as a server restore
// does), "ddl.sql" run (its expression index lines
// switched off for a moved entry or an old on-disk structure), the pane
// told the last script statement, and "tDatabase" given the texts of
// "deactivate.sql" and "meta.txt". Every failure propagates with its
// message; the main connection is closed and the busy indicator hidden in
// every case.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "backup/backup_runner.h"
#include "backup/dump_restore_hooks.h"
#include "base/clock.h"
#include "dump/dump_loader.h"
#include "firebird/create_database.h"

namespace qn {

// The pieces of the run a restore works with.
struct TqnDumpRestoreContext {
  explicit TqnDumpRestoreContext(TqnFbConnection& mainConnection) : connection(mainConnection) {}
  TqnFbConnection& connection;     // the main connection
  IqnUserInterface* ui = nullptr;  // error box and busy indicator; may be null
  const Clock* clock = nullptr;    // the load time of the register
  std::string programFolder;       // its "data" folder takes moved entries
  std::string localHostName;       // for the local-host rule
  TqnDumpRestoreHooks hooks;
  std::function<void(const TqnBackupEntry&)> prepareConnection;  // PrepareMainConnection
  std::function<void(const std::string& entryPath)> moveAside;   // MoveAsideCurrentFile
  std::function<void()> progressStep;                            // advance the indicator, serve the window
  std::function<void(const std::string& line)> paneLine;         // a record of the message pane
  // The loader's rate limiter; kept by the caller, since its time of the
  // last step outlives one restore.
  TqnProgressThrottle* loadProgress = nullptr;
  // The time base of the script progress (the steady clock by default).
  TqnProgressThrottle::NowFunction now;
};

inline constexpr std::chrono::milliseconds kScriptProgressInterval{500};
inline constexpr std::chrono::milliseconds kLoadProgressInterval{300};
inline constexpr const char* kExpressionIndexTag = "tag:expression-index";
inline constexpr const char* kExpressionIndexDisabled = "/* expression index disabled */";

void RestoreLogicalDump(const TqnDumpRestoreContext& context, TqnBackupEntry entry, const std::string& archivePath);

// The lines of the script that contain the expression index tag replaced
// by the disabled line; line ends stay as they were.
std::string DisableExpressionIndexes(const std::string& script);

}  // namespace qn
