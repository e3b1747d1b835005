#include "firebird/fb30_server.h"

#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "platform/named_objects.h"
#include "platform/system.h"

namespace qn {

bool IsFb30Running() {
  for (const char* name : {kFb30MutexName, kFb30GlobalMutexName}) {
    if (platform::NamedMutex::Open(name)) return true;
  }
  return false;
}

bool IsFb30Installed() { return IsFb30Running() || platform::RegistryKeyExists(kFb30UninstallKey); }

std::string Fb30InstallerPath(const std::string& programFolder) {
  // In the program folder; else beside the executable, or where the
  // package keeps it, when the program folder is a user's or a service's.
  const std::string own = platform::JoinPath(programFolder, kFb30InstallerName);
  for (const std::string& candidate :
       {own, platform::JoinPath(platform::ExecutableFolder(), kFb30InstallerName), std::string(kFb30PackageInstaller)})
    if (!candidate.empty() && platform::FileExists(candidate)) return candidate;
  return own;
}

std::string Fb30InstallQuestion() {
  return Win1251(
      "На этом компьютере не установлен сервер \"Firebird SQL 3.0\", который необходим для работы. "
      "Запустить программу установки?");
}

std::string Fb30InstallerMissingMessage() {
  return Win1251("Установочный комплект сервера \"Firebird SQL 3.0\" не найден");
}

std::string Fb30InstallerNeedsRightsMessage(const std::string& installer) {
  return Format(Win1251("Для установки сервера \"Firebird SQL 3.0\" нужны права администратора. "
                        "Запустите программу установки от имени администратора: %s")
                    .c_str(),
                installer.c_str());
}

void EnsureFb30Installed(const std::string& programFolder, bool fbIniPresent, const TqnAskWarning& ask,
                         const TqnShowError& showError, const std::vector<std::string>& databaseFolders) {
  if (fbIniPresent || IsFb30Installed()) return;
  if (!ask(Fb30InstallQuestion())) return;
  const std::string installer = Fb30InstallerPath(programFolder);
  if (!platform::FileExists(installer)) {
    showError(Fb30InstallerMissingMessage());
    return;
  }
  // The person waits with the installer; how it ended is its own business,
  // unless it could not start for want of the rights it needs.
#ifdef _WIN32
  const std::vector<std::string> args;
  (void)databaseFolders;
#else
  // The server keeps databases only where it is told: the program's own
  // "data" folder, where the first database goes, its "backup" folder,
  // where each backup is proven by a restore into a scratch database, and
  // the folders of the register.
  std::vector<std::string> args = {"--allow", platform::JoinPath(programFolder, "data"), "--allow",
                                   platform::JoinPath(programFolder, "backup")};
  for (const std::string& folder : databaseFolders) {
    if (folder.empty() || folder[0] != '/') continue;
    args.push_back("--allow");
    args.push_back(folder);
  }
#endif
  if (platform::RunAsAdministratorAndWait(installer, args) == platform::kNoAdministratorRights)
    showError(Fb30InstallerNeedsRightsMessage(installer));
}

}  // namespace qn
