// What a desktop program shows where the system's service looks after the
// databases: the service's register and the state of its backups, asked
// through the instance channel as the command line asks them, and the
// backup and restore it hands to the service. Creating, removing and
// editing entries is not done from here: the service's register is edited
// by its administrator (ChangeRegisterText says how).
#pragma once

#include <string>
#include <vector>

#include "cli/command_client.h"
#include "cli/command_executor.h"

namespace qn {

// One entry of the service's register.
struct TqnServiceRow {
  int number = 0;
  std::string key;  // "db0000"
  std::string caption;
  std::string path;
  std::string backupFolder;
  bool autoBackup = false;
  std::string lastVerified;  // the newest verified backup's time, "" for none
  std::string state;         // "ok", "stale", "failed"; "" when not backed up automatically
  std::string message;       // why an entry is stale or failed
};

class TqnServiceView {
 public:
  // Asks the service for its register and its backups' state; false, with
  // the reason in Error(), when it cannot be asked (the rows stay as they were).
  bool Refresh();
  const std::vector<TqnServiceRow>& Rows() const { return rows_; }
  // Lines about the service's own settings that put the office at risk.
  const std::vector<std::string>& Notices() const { return notices_; }
  const std::string& Error() const { return error_; }

  // A backup of the entry by the service, to the file or ("") under the
  // default name in the entry's backup folder; the service's answer. The
  // service's progress lines meanwhile go to onLine.
  static TqnCommandResult Backup(const std::string& key, const std::string& file = {},
                                 const TqnServerLines& onLine = {});
  // A restore of the file onto the entry by the service (the person has
  // been asked already).
  static TqnCommandResult Restore(const std::string& key, const std::string& file, bool fixCharset,
                                  const TqnServerLines& onLine = {});

  // What the person is told instead of creating, removing or editing an entry.
  static std::string ChangeRegisterText();

 private:
  std::vector<TqnServiceRow> rows_;
  std::vector<std::string> notices_;
  std::string error_;
};

}  // namespace qn
