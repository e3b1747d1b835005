#include "tools/fbserver30/instance.h"

#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "base/error.h"
#include "base/sha1.h"
#include "base/text.h"
#include "firebird/fb30_password.h"
#include "platform/files.h"
#include "tools/fbserver30/password.h"
#include "tools/fbserver30/process.h"

namespace fs = std::filesystem;

namespace fbserver30 {

namespace {

// Bump when the layout or the configuration written below changes, so that
// existing instance folders are rebuilt by the next installation.
constexpr int kLayoutVersion = 2;

const char* const kRootFiles[] = {
    "firebird.conf",
    "databases.conf",
    "plugins.conf",
    "firebird.msg",
    "security3.fdb",
    "plugins/libEngine12.so",
    "plugins/libSrp.so",
    "plugins/libLegacy_Auth.so",
    "plugins/libLegacy_UserManager.so",
    "intl/libfbintl.so",
    "intl/fbintl.conf",
};

[[noreturn]] void Fail(const std::string& text) { throw qn::Exception(text); }

// The Debian package's Firebird root.
std::string SystemRoot() {
  std::vector<std::string> candidates = {"/usr/lib/x86_64-linux-gnu/firebird/3.0"};
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib", ec))
    candidates.push_back(e.path().string() + "/firebird/3.0");
  for (const auto& dir : candidates) {
    if (qn::platform::FileExists(dir + "/plugins/libEngine12.so")) return dir;
  }
  Fail("no Firebird 3.0 root under /usr/lib/*/firebird/3.0 (install the package firebird3.0-server)");
}

std::string FileStamp(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "missing";
  return qn::Format("%lld:%lld", static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtime));
}

std::string BuildStamp(const TInstance& instance, const std::string& sysroot) {
  return qn::Format("layout=%d port=%d root=%s sysroot=%s server=%s engine=%s", kLayoutVersion, instance.port,
                    instance.Root().c_str(), sysroot.c_str(), FileStamp(kServerBinary).c_str(),
                    FileStamp(sysroot + "/plugins/libEngine12.so").c_str());
}

bool RootComplete(const std::string& root) {
  for (const char* f : kRootFiles)
    if (!qn::platform::FileExists(root + "/" + f)) return false;
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// True for an active setting "key = ..." (blanks allowed around the key).
bool SetsKey(const std::string& line, const std::string& key) {
  size_t p = line.find_first_not_of(" \t");
  if (p == std::string::npos || line.compare(p, key.size(), key) != 0) return false;
  p = line.find_first_not_of(" \t", p + key.size());
  return p != std::string::npos && line[p] == '=';
}

// Sets key = value in a Firebird configuration text, dropping earlier active
// settings of the key so that only ours counts.
void RemoveConf(std::vector<std::string>& lines, const std::string& key);

void SetConf(std::vector<std::string>& lines, const std::string& key, const std::string& value) {
  RemoveConf(lines, key);
  lines.push_back(key + " = " + value);
}

// Drops every active setting of the key, leaving the server's default.
void RemoveConf(std::vector<std::string>& lines, const std::string& key) {
  std::vector<std::string> kept;
  for (auto& l : lines)
    if (!SetsKey(l, key)) kept.push_back(std::move(l));
  lines = std::move(kept);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += l + "\n";
  return text;
}

void WriteConfiguration(const TInstance& instance) {
  const std::string root = instance.Root();
  const std::string security = root + "/security3.fdb";
  std::vector<std::string> conf = Lines(qn::platform::ReadFile(root + "/firebird.conf"));
  const std::string header = "# ---- Firebird SQL 3.0 QN, written by fbserver30 ----";
  bool marked = false;
  for (const auto& l : conf) marked = marked || l == header;
  if (!marked) {
    conf.push_back("");
    conf.push_back(header);
  }
  SetConf(conf, "RemoteServicePort", std::to_string(instance.port));
  // Workstations of the network connect to it: no RemoteBindAddress, so it
  // listens on every interface like a server installed for a network.
  RemoveConf(conf, "RemoteBindAddress");
  SetConf(conf, "SecurityDatabase", security);
  // Databases only in the folders the program keeps them in: whoever
  // logs in cannot make or open a file anywhere else the server may write.
  std::string access;
  for (const std::string& folder : DatabaseFolders(instance)) access += (access.empty() ? "" : ";") + folder;
  SetConf(conf, "DatabaseAccess", "Restrict " + access);
  SetConf(conf, "ServerMode", "Super");
  // Srp for current clients; the legacy login, which sends a weak hash,
  // only when the office has asked for clients that know nothing else.
  SetConf(conf, "AuthServer", LegacyClientsAllowed(instance) ? "Srp, Legacy_Auth" : "Srp");
  SetConf(conf, "UserManager", "Srp, Legacy_UserManager");
  SetConf(conf, "WireCrypt", "Enabled");
  qn::platform::WriteFileReplacing(root + "/firebird.conf", Joined(conf));
  // The alias "security.db" must name this instance's database, not the system's.
  std::vector<std::string> aliases = Lines(qn::platform::ReadFile(root + "/databases.conf"));
  for (auto& l : aliases)
    if (SetsKey(l, "security.db")) l = "security.db = " + security;
  qn::platform::WriteFileReplacing(root + "/databases.conf", Joined(aliases));
}

// Keeps the access settings in the instance folder, so that a later start
// (the service's) writes the same configuration.
void KeepLines(const std::string& file, const std::vector<std::string>& lines) {
  qn::platform::WriteFileReplacing(file, Joined(lines));
}

// User management goes to the security database that the configuration
// names; done in embedded mode, before a server holds the file.
void SetSysdbaPassword(const TInstance& instance, const std::string& pw) {
  const std::string sql = instance.TmpFolder() + "/setup-users.sql";
  qn::platform::WriteFileReplacing(
      sql, "create or alter user SYSDBA password '" + pw + "' using plugin Srp;\ncommit;\n" +
               "create or alter user SYSDBA password '" + pw + "' using plugin Legacy_UserManager;\ncommit;\n" +
               "select 'QN-USERS:' || count(*) from sec$users where sec$user_name = 'SYSDBA';\n");
  std::string out;
  int rc = RunCaptured(kIsqlBinary, {"-q", "-bail", "-user", "SYSDBA", "-i", sql, instance.Root() + "/security3.fdb"},
                       instance.Environment(), "", &out, 60000);
  ::unlink(sql.c_str());
  if (rc != 0) Fail("setting the SYSDBA password failed: " + out);
  if (out.find("QN-USERS:2") == std::string::npos) Fail("SYSDBA was not set up for both logins: " + out);
}

void BuildRoot(const TInstance& instance, const std::string& sysroot) {
  const std::string root = instance.Root();
  std::error_code ec;
  fs::remove_all(root, ec);
  if (ec) Fail("cannot remove " + root + ": " + ec.message());
  fs::create_directories(root, ec);
  if (ec) Fail("cannot create " + root + ": " + ec.message());
  // A real copy: a root of links to the system folders starts but then lacks
  // every character set ("CHARACTER SET WIN1251 is not installed"). Links are
  // followed; the headers link is not part of what a server needs.
  for (const auto& e : fs::directory_iterator(sysroot)) {
    if (e.path().filename() == "include") continue;
    fs::copy(e.path(), fs::path(root) / e.path().filename(), fs::copy_options::recursive, ec);
    if (ec) Fail("cannot copy " + e.path().string() + " to " + root + ": " + ec.message());
  }
  const std::string security = root + "/security3.fdb";
  fs::copy_file(kSystemSecurityDb, security, fs::copy_options::overwrite_existing, ec);
  if (ec) Fail(std::string("cannot copy ") + kSystemSecurityDb + ": " + ec.message());
  ::chmod(security.c_str(), 0600);
}

}  // namespace

TInstance TInstance::FromEnvironment() {
  TInstance i;
  const char* dir = std::getenv("QN_FB30_DIR");
  i.base = fs::weakly_canonical(fs::absolute((dir && *dir) ? dir : kDefaultBaseFolder)).string();
  while (i.base.size() > 1 && i.base.back() == '/') i.base.pop_back();
  const char* port = std::getenv("QN_FB30_PORT");
  if (port && *port) {
    char* end = nullptr;
    long p = std::strtol(port, &end, 10);
    if (*end != '\0' || p <= 0 || p > 65535) Fail(std::string("QN_FB30_PORT is not a port number: ") + port);
    i.port = static_cast<int>(p);
  }
  return i;
}

std::map<std::string, std::string> TInstance::Environment() const {
  // A UTF-8 locale, so that the server can open the Cyrillic file names that
  // clients send (under the C locale it cannot transliterate them).
  return {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"},
          {"HOME", base},
          {"LANG", "C.UTF-8"},
          {"FIREBIRD", Root()},
          {"FIREBIRD_LOCK", LockFolder()},
          {"FIREBIRD_TMP", TmpFolder()}};
}

std::vector<std::string> DatabaseFolders(const TInstance& instance) {
  std::vector<std::string> folders = {kServiceProgramFolder};
  const std::string file = instance.base + "/" + kDatabaseFoldersFile;
  if (qn::platform::FileExists(file))
    for (std::string& l : Lines(qn::platform::ReadFile(file)))
      if (!l.empty() && l[0] == '/' && std::find(folders.begin(), folders.end(), l) == folders.end())
        folders.push_back(std::move(l));
  return folders;
}

void AllowDatabaseFolders(const TInstance& instance, const std::vector<std::string>& folders) {
  std::vector<std::string> kept = DatabaseFolders(instance);
  bool changed = false;
  for (std::string folder : folders) {
    if (folder.empty() || folder[0] != '/' || folder.find_first_of(";\n\r") != std::string::npos)
      Fail("a database folder must be an absolute path without ';': " + folder);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (std::find(kept.begin(), kept.end(), folder) == kept.end()) {
      kept.push_back(folder);
      changed = true;
    }
  }
  if (changed) KeepLines(instance.base + "/" + kDatabaseFoldersFile, kept);
}

bool LegacyClientsAllowed(const TInstance& instance) {
  return qn::platform::FileExists(instance.base + "/" + kLegacyClientsFile);
}

void AllowLegacyClients(const TInstance& instance, bool allow) {
  const std::string file = instance.base + "/" + kLegacyClientsFile;
  if (allow)
    KeepLines(file, {"Legacy_Auth for clients that know no other login"});
  else if (qn::platform::FileExists(file))
    ::unlink(file.c_str());
}

std::optional<TServerAccount> ServerAccount() {
  if (::geteuid() != 0) return std::nullopt;
  const passwd* pw = ::getpwnam(kServerAccountName);
  if (!pw)
    Fail(std::string("the user ") + kServerAccountName +
         " is missing (install the package firebird3.0-server); the server is never run as root");
  if (pw->pw_uid == 0)
    Fail(std::string("the user ") + kServerAccountName + " is root; the server is never run as root");
  return TServerAccount{kServerAccountName, pw->pw_uid, pw->pw_gid};
}

namespace {

const TServerAccount* gHandingTo = nullptr;
std::string gKeyStore;
std::string gPasswordFile;
int gHandOverError = 0;

int HandOverEntry(const char* path, const struct stat*, int type, FTW* where) {
  if (gKeyStore == path) return FTW_SKIP_SUBTREE;
  // The password stays root's and the service group's to read.
  if (gPasswordFile == path) return FTW_CONTINUE;
  (void)where;
  if (type == FTW_NS) return FTW_CONTINUE;
  if (::lchown(path, gHandingTo->uid, gHandingTo->gid) != 0) {
    gHandOverError = errno;
    return FTW_STOP;
  }
  return FTW_CONTINUE;
}

// While root builds the folder, its account may not change what is in it:
// what it owns is taken back first (a link it planted would have root
// write where it points).
void TakeBack(const TInstance& instance) {
  struct stat st;
  if (::lstat(instance.base.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) Fail(instance.base + " is not a folder");
  if (st.st_uid != 0 && ::lchown(instance.base.c_str(), 0, 0) != 0)
    Fail("cannot take back " + instance.base + ": " + qn::platform::LastErrorText());
  ::chmod(instance.base.c_str(), 0755);
}

}  // namespace

void HandOver(const TInstance& instance, const TServerAccount& account) {
  gHandingTo = &account;
  gKeyStore = instance.base + "/registry";
  gPasswordFile = qn::Fb30PasswordFile(instance.base);
  gHandOverError = 0;
  const int rc = ::nftw(instance.base.c_str(), HandOverEntry, 16, FTW_PHYS | FTW_ACTIONRETVAL);
  gHandingTo = nullptr;
  if (rc != 0 && gHandOverError)
    Fail("cannot give " + instance.base + " to " + account.name + ": " + qn::platform::ErrorText(gHandOverError));
  ::chmod(instance.base.c_str(), 0751);
}

void PrepareInstance(const TInstance& instance) {
  if (::access(kServerBinary, X_OK) != 0)
    Fail(std::string(kServerBinary) + " is missing (install the package firebird3.0-server)");
  if (::access(kIsqlBinary, X_OK) != 0)
    Fail(std::string(kIsqlBinary) + " is missing (install the package firebird3.0-utils)");
  if (::access(kSystemSecurityDb, R_OK) != 0)
    Fail(std::string("cannot read ") + kSystemSecurityDb +
         " (missing: install firebird3.0-server; unreadable: run as root)");
  const std::string sysroot = SystemRoot();
  const std::optional<TServerAccount> account = ServerAccount();
  if (account) TakeBack(instance);
  ResetLockFolder(instance);
  const std::string stampFile = instance.Root() + "/.qn-built";
  const std::string stamp = BuildStamp(instance, sysroot);
  bool rebuilt = false;
  if (!qn::platform::FileExists(stampFile) || qn::platform::ReadFile(stampFile) != stamp + "\n" ||
      !RootComplete(instance.Root())) {
    BuildRoot(instance, sysroot);
    qn::platform::WriteFileReplacing(stampFile, stamp + "\n");
    rebuilt = true;
  }
  WriteConfiguration(instance);
  // The installation's own password, kept before the server is told it; the
  // mark (a digest, not the password) says the server has it. An instance
  // set up with the old fixed word, or a step cut short, is told it now.
  const std::string password = InstancePassword(instance);
  const std::string mark = instance.Root() + "/.qn-sysdba";
  if (rebuilt || !qn::platform::FileExists(mark) || qn::platform::ReadFile(mark) != qn::Sha1Hex(password) + "\n") {
    SetSysdbaPassword(instance, password);
    qn::platform::WriteFileReplacing(mark, qn::Sha1Hex(password) + "\n");
  }
  if (account) HandOver(instance, *account);
}

void ResetLockFolder(const TInstance& instance) {
  std::error_code ec;
  fs::remove_all(instance.LockFolder(), ec);
  // The temporary folder too: root's embedded isql reads its script there.
  fs::remove_all(instance.TmpFolder(), ec);
  for (const std::string& d : {instance.base, instance.LockFolder(), instance.TmpFolder()}) {
    fs::create_directories(d, ec);
    if (ec) Fail("cannot create " + d + ": " + ec.message());
  }
}

}  // namespace fbserver30
