#!/usr/bin/env bash
# Installs the Windows cross toolchain and builds the Windows program and its
# core tests into build-windows/ (program in build-windows/bin/qndbmgr.exe,
# its installer build-windows/qndbmgr-setup-<version>.exe, tests in
# build-windows/tests). The libraries Debian does not package for Windows
# (minizip, libcurl, the Firebird client) are built into build-windows/_deps
# when missing. Targets may be named; without any,
# everything is built. Needs root for apt-get, like scripts/build.sh.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
out="$root/build-windows"

readonly PACKAGES=(
  cmake make
  # mingw-w64 with POSIX threads (std::thread), zlib for Windows, windres
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev binutils-mingw-w64-x86-64
  # GoogleTest's sources, built with the cross compiler
  googletest
  # Wine runs the tests; the Russian locale gives it the Windows-1251 code page
  wine wine64 locales
  # a virtual display for the window's tests
  xvfb xauth
  # the program's test drives it from Linux with a small client
  python3
  # the installer, qndbmgr-setup-<version>.exe (packaging/windows)
  nsis
  # libcurl from Debian's curl source package: unpacked with its patches
  dpkg-dev
  # the Firebird client from Debian's firebird3.0 source: its autotools, the
  # native build of its tools (gpre_boot, cloop), headers only of ICU and Boost
  autoconf automake libtool g++ libtommath-dev libicu-dev libboost-dev
  # the alert mail's test receives the program's mail on loopback
  python3-aiosmtpd
)

bash "$here/ensure-packages.sh" "${PACKAGES[@]}"

bash "$here/fetch-minizip.sh" "$out/_deps"
bash "$here/fetch-curl.sh" "$out/_deps"
bash "$here/fetch-fbclient.sh" "$out/_deps"
cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE="${QN_BUILD_TYPE:-RelWithDebInfo}" -DQN_MINIZIP_SOURCE_DIR="$out/_deps/minizip" \
  -DQN_CURL_DIR="$out/_deps/curl" -DQN_FBCLIENT_DIR="$out/_deps/fbclient" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$out" -j "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
