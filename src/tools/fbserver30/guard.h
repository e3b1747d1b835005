// The guard: the process whose life is the instance's "running" state. It
// holds both running-test mutexes of "Firebird SQL 3.0 QN" (so the program's
// running test sees the server exactly while the guard lives) and writes its
// pid to the instance's pid file.
//
// Server mode: starts /usr/sbin/firebird as the instance (FIREBIRD,
// FIREBIRD_LOCK, FIREBIRD_TMP) as its child and ends with it. SIGTERM,
// SIGINT and SIGHUP are forwarded to the server as SIGTERM, followed by
// SIGKILL when it has not ended 5 s later (its shutdown right after a
// client left sometimes hangs). Should the guard itself die, the
// kernel kills the server.
//
// Adopt mode: starts no server; it holds the mutexes for as long as the
// instance's port answers, polled every second, and ends on the second
// failed poll in a row or on SIGTERM.
#pragma once

#include "tools/fbserver30/instance.h"

namespace fbserver30 {

// Returns the process exit code: the server's, 0 for adopt mode, 1 when the
// mutexes exist already (another guard runs) or the server cannot start.
int RunGuard(const TInstance& instance, bool adopt);

}  // namespace fbserver30
