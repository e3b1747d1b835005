// The private Firebird 3.0 server instance "Firebird SQL 3.0 QN": whether it
// is installed and running, and the start-up offer to install it.
//
// Running means that its running-test mutexes exist: the server (on this
// platform its guard process, see src/tools/fbserver30) holds them for as
// long as it runs, and a mutex name vanishes when its last holder ends.
// Installed means running, or that its uninstall key is in the registry.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qn {

inline constexpr const char* kFb30InstanceName = "Firebird SQL 3.0 QN";
// The two running-test mutexes: "FirebirdServerMutex" + the instance name, in
// the session's namespace and in the machine-wide one.
inline constexpr const char* kFb30MutexName = "FirebirdServerMutexFirebird SQL 3.0 QN";
inline constexpr const char* kFb30GlobalMutexName = "Global\\FirebirdServerMutexFirebird SQL 3.0 QN";
// The installed-test key under HKEY_LOCAL_MACHINE.
inline constexpr const char* kFb30UninstallKey =
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\FBDBServer_3_0_QN_is1";
// The installer beside the program.
#ifdef _WIN32
inline constexpr const char* kFb30InstallerName = "fbserver30.exe";
inline constexpr const char* kFb30PackageInstaller = "";
#else
inline constexpr const char* kFb30InstallerName = "fbserver30";
inline constexpr const char* kFb30PackageInstaller = "/usr/lib/qndbmgr/fbserver30";
#endif

// True when either running-test mutex exists (opened and closed at once).
bool IsFb30Running();
// IsFb30Running, or else whether the uninstall key exists.
bool IsFb30Installed();
// The installer file in the program folder.
std::string Fb30InstallerPath(const std::string& programFolder);

// The error shown when the installer needs administrator rights that the
// program has no way to ask for.
std::string Fb30InstallerNeedsRightsMessage(const std::string& installer);

// Asks a Yes/No question as a warning; true for Yes.
using TqnAskWarning = std::function<bool(const std::string& text)>;
// Shows an error message with an OK button.
using TqnShowError = std::function<void(const std::string& text)>;

// The start-up offer. Does nothing when "fb.ini" was present or the server is
// installed. Otherwise asks whether to start the installer; on Yes runs it
// and waits for it to end without a time limit (its exit status is not
// looked at), or shows the "not found" error when the file is missing.
// Throws EqnOsError when the installer exists but cannot be started.
// The installer is told where databases may be: the program's "data" and
// "backup" folders and databaseFolders (the folders of registered entries).
void EnsureFb30Installed(const std::string& programFolder, bool fbIniPresent, const TqnAskWarning& ask,
                         const TqnShowError& showError, const std::vector<std::string>& databaseFolders = {});

// The texts of the offer (Windows-1251).
std::string Fb30InstallQuestion();
std::string Fb30InstallerMissingMessage();

}  // namespace qn
