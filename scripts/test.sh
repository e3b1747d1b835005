#!/usr/bin/env bash
# Installs, builds, starts the local Firebird servers and runs every test:
# the Linux build's, then the Windows build's under Wine.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
bash "$here/build.sh"
bash "$here/firebird-servers.sh" start
cd "$root/build"
ctest --output-on-failure --timeout 600 -j "$(nproc 2>/dev/null || echo 2)"
bash "$here/test-windows.sh"
