// The private server instance "Firebird SQL 3.0 QN" on this platform: a
// folder holding a real copy of the Firebird 3.0 root of Debian's
// firebird3.0-server package, configured for its own port, its own security
// database (SYSDBA with the installation's own password, see password.h;
// Srp and legacy logins) and its own lock and
// temporary folders, run by /usr/sbin/firebird. Installed by root (by
// hand, the program's first-run offer), the server never runs as root: it
// runs as Debian's Firebird user, whose the instance folder then is.
//
// Layout of the base folder:
//   root/        FIREBIRD: firebird.conf, plugins, intl, security3.fdb ...
//   lock/        FIREBIRD_LOCK, emptied before every start
//   tmp/         FIREBIRD_TMP
//   guard.pid    the running guard's process id
//   guard.log    the guard's and the server's output
//   sysdba.password  the installation's SYSDBA password (root and qndbmgr)
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fbserver30 {

inline constexpr const char* kServerBinary = "/usr/sbin/firebird";
inline constexpr const char* kIsqlBinary = "/usr/bin/isql-fb";
inline constexpr const char* kSvcmgrBinary = "/usr/bin/fbsvcmgr";
inline constexpr const char* kSystemSecurityDb = "/var/lib/firebird/3.0/system/security3.fdb";
inline constexpr int kDefaultPort = 53030;
inline constexpr const char* kDefaultBaseFolder = "/var/lib/qndbmgr-fb30";
// The account of Debian's firebird3.0-server package.
inline constexpr const char* kServerAccountName = "firebird";

// The account the server runs as when root starts it.
struct TServerAccount {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};
// Started by root: Debian's Firebird user (a failure when it is missing, for
// the server must not run as root). Started by anyone else (the package's
// unit runs as that user already): nothing, the server runs as its caller.
std::optional<TServerAccount> ServerAccount();

struct TInstance {
  std::string base;  // absolute
  int port = kDefaultPort;

  // QN_FB30_DIR and QN_FB30_PORT override the defaults.
  static TInstance FromEnvironment();

  std::string Root() const { return base + "/root"; }
  std::string LockFolder() const { return base + "/lock"; }
  std::string TmpFolder() const { return base + "/tmp"; }
  std::string PidFile() const { return base + "/guard.pid"; }
  std::string LogFile() const { return base + "/guard.log"; }

  // The environment of a process that runs as this instance (the server, or
  // a tool in embedded mode).
  std::map<std::string, std::string> Environment() const;
};

// Where the server may keep databases ("DatabaseAccess = Restrict ..."):
// the service's program folder and the folders listed, one a line, in the
// instance folder's "database-folders".
inline constexpr const char* kServiceProgramFolder = "/var/lib/qndbmgr";
inline constexpr const char* kDatabaseFoldersFile = "database-folders";
std::vector<std::string> DatabaseFolders(const TInstance& instance);
// Adds absolute folders to the list; throws qn::Exception for one that is not.
void AllowDatabaseFolders(const TInstance& instance, const std::vector<std::string>& folders);
// The legacy login (Legacy_Auth) is on only while the instance folder
// holds "legacy-clients", made when the office asks for old clients.
inline constexpr const char* kLegacyClientsFile = "legacy-clients";
bool LegacyClientsAllowed(const TInstance& instance);
void AllowLegacyClients(const TInstance& instance, bool allow);

// Makes the base folder and, unless it is already built from the same
// system files for the same port, builds the root and sets the SYSDBA
// password. The server must not be running. Throws qn::Exception with the
// reason.
void PrepareInstance(const TInstance& instance);

// Gives the instance folder and everything in it to the account, links
// changed themselves and never followed, leaving out the key store
// "registry" (root's program writes it). Throws qn::Exception.
void HandOver(const TInstance& instance, const TServerAccount& account);

// Empties the lock folder (leftovers must not pass for a live lock table)
// and makes sure the lock and temporary folders exist.
void ResetLockFolder(const TInstance& instance);

}  // namespace fbserver30
