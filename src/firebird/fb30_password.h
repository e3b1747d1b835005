// The SYSDBA password of the private Firebird 3.0 server installed on this
// machine: fbserver30 makes one at random for each installation and keeps
// it in "sysdba.password" in the instance folder (/var/lib/qndbmgr-fb30,
// QN_FB30_DIR for another), readable by root and the group qndbmgr only.
// Windows keeps none here: its servers are installed as before.
#pragma once

#include <optional>
#include <string>

namespace qn {

inline constexpr const char* kFb30PasswordFileName = "sysdba.password";
inline constexpr size_t kFb30PasswordMinLength = 16;

// The file in an instance folder (names as the kernel takes them).
std::string Fb30PasswordFile(const std::string& instanceFolder);
// Letters and digits only, at least kFb30PasswordMinLength of them.
bool IsFb30Password(const std::string& text);
// The first line of the file when it is a password; false otherwise
// (missing, unreadable by this user, or not one).
bool ReadFb30PasswordFile(const std::string& kernelPath, std::string& password);
// The installed server's password, when there is one and this user may read it.
std::optional<std::string> InstalledFb30Password();

}  // namespace qn
