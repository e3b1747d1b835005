#!/usr/bin/env bash
# Builds the program and its Firebird 3.0 installer and packs them:
# build/qndbmgr_<version>_amd64.deb (see packaging/CMakeLists.txt).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
bash "$here/build.sh" qndbmgr fbserver30
cd "$root/build"
cpack --config CPackConfig.cmake -B "$root/build"
ls "$root"/build/qndbmgr_*_amd64.deb
