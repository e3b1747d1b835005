#!/usr/bin/env bash
# Installs what the project needs and builds it into build/ (program in
# build/bin/qndbmgr, tests in build/tests). Targets may be named; without
# any, everything is built.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
bash "$here/install-deps.sh"
bash "$here/fetch-sshd.sh" "$root/build/_deps/sshd"
jobs="$(nproc 2>/dev/null || echo 2)"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE="${QN_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$root/build" -j "$jobs" "${targets[@]}"
