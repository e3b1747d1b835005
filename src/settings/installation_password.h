// The private Firebird 3.0 server of this machine has a SYSDBA password of
// its own installation (firebird/fb30_password.h). Entries on that server
// that still carry the one fixed password every copy of the program knows
// are moved over to it; entries on any other server keep what they have.
#pragma once

#include <string>

#include "xml/xml_dom.h"

namespace qn {

// An entry's path names the private server on this machine: the classic
// or URL form with port 53030 and a local host (ownHostName counts too).
bool IsPrivateServerPath(const std::string& path, const std::string& ownHostName);

// Gives every entry on the private server whose user is SYSDBA and whose
// password is the fixed default the installation's password. Returns how
// many changed; a second run changes none.
int MoveEntriesToInstallationPassword(TqnNode& root, const std::string& password, const std::string& ownHostName);

}  // namespace qn
