// The addresses this machine hands out for its databases, computed from the
// values fixed at start-up.
#pragma once

#include <string>

#include "firebird/fb_paths.h"

namespace qn {

// What the address rules need to know about this machine.
struct TqnAddressContext {
  std::string localHostName;                            // this machine's network name, "(unknown)" when none
  bool forceInet6 = false;                              // the file "force-inet6" was in the program folder
  bool fbIniPresent = false;                            // the file "fb.ini" was in the program folder
  std::string fbIniHost = std::string(kLocalHostName);  // its [default] host
  int fbIniPort = kFbDefaultPort;                       // its [default] port
};

// The address of a database for a workstation; path is the entry's path.
// An invalid path comes back unchanged. With wantUrl and a Firebird 3.0
// database: "inet4://" (or "inet6://" when forced) + host + [":" port] +
// "/" + file, the host being this machine's name when the path's host is
// local. Otherwise a remote host's path comes back unchanged and a local
// one gets this machine's name in the classic form: name + ["/" port] +
// ":" + file. Never throws for a bad path.
std::string BuildConnectString(const TqnAddressContext& context, const std::string& path, bool wantUrl,
                               const TDriveTypeQuery& driveType = {});

// The server part of a new Firebird 3.0 database path: the fb.ini host, with
// "/" + port unless the port is 0 or 3050; "localhost/53030" without fb.ini.
std::string GetFb30ServerAddress(const TqnAddressContext& context);

// Fills the fb.ini fields of context from "fb.ini" in programFolder:
// present when the file exists; host and port from section "default", keys
// "host" (default "localhost") and "port" (default 3050, also for a value
// that is not an integer). A file that exists but cannot be read counts as
// present with the defaults, as the profile functions would read it.
void ReadFbIni(const std::string& programFolder, TqnAddressContext& context);

}  // namespace qn
