#!/usr/bin/env bash
# Installs, builds, brings up the classic Firebird server and runs the
# Database Manager from build/bin (its program folder: settings.xml, data,
# backup and log live there). On its first start the program offers to
# install its private Firebird 3.0 server and to create the first database.
# With a display it shows its window and tray icon; without one it runs
# headless until stopped with Ctrl+C or SIGTERM.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
bash "$here/build.sh" qndbmgr fbserver30
bash "$here/firebird-servers.sh" start classic
exec "$root/build/bin/qndbmgr" "$@"
