// The installer's two user-facing modes.
#pragma once

#include "tools/fbserver30/instance.h"

namespace fbserver30 {

// Install mode: leaves the instance running and its uninstall key created.
//   - running already (its mutexes exist): only the key is made sure of;
//   - the port is taken by anything else, a Firebird server with the same
//     login included: failure (a stranger is never adopted);
//   - otherwise: the instance is prepared, a detached guard starts the server,
//     and the installer waits until the port answers (at most 30 s).
// Returns the exit code; failures are told on stderr.
int RunInstall(const TInstance& instance);

// Service mode, for the system's service manager: prepares the instance
// (refusing a port taken by another program, as install does), marks it
// installed, and then is the guard itself, in the foreground, until the
// server ends or SIGTERM stops it. Fails when the instance runs already.
int RunService(const TInstance& instance);

// Stops the instance's guard (and with it its server): SIGTERM, then SIGKILL
// after 20 s. Returns 0 also when nothing ran.
int RunStop(const TInstance& instance);

}  // namespace fbserver30
