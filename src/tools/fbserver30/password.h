// The SYSDBA password of this installation: made when the instance is set
// up, from the system's random source, and kept in the instance folder's
// "sysdba.password", which only root, the server's own user and the
// service's group "qndbmgr" may read. No copy of the program knows it
// beforehand, so a well-known word opens nothing on port 53030.
#pragma once

#include <string>

#include "tools/fbserver30/instance.h"

namespace fbserver30 {

inline constexpr size_t kPasswordLength = 24;
// The group that may read it besides root: the program's service.
inline constexpr const char* kPasswordGroup = "qndbmgr";

// kPasswordLength letters and digits from getrandom(2); throws qn::Exception.
std::string RandomPassword();

// The password kept for the instance, made (and kept) first when there is
// none or what is there is not one. Throws qn::Exception.
std::string InstancePassword(const TInstance& instance);

// "--keep-password": makes sure the password is kept (root only), so that
// the package's configure step, as root, gives it to the service's group
// before the unit, whose user may not, first starts the server.
int RunKeepPassword(const TInstance& instance);

// "--password": the kept password on stdout, for root only.
int RunShowPassword(const TInstance& instance);

}  // namespace fbserver30
