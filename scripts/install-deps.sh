#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the project
# needs, without questions (works as root with no terminal, as in CI).
# Quick when all are installed already: nothing is fetched then.
# The package lists are refreshed only when they are missing or older than a
# day, or when an install fails. Afterwards Debian's own Firebird service is
# kept off port 3050, which belongs to scripts/firebird-servers.sh.
#
# Usage: scripts/install-deps.sh
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

readonly PACKAGES=(
  # build and tests
  build-essential cmake pkg-config libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  # the house style, held by a test (clang-format 14 is Debian 12's)
  clang-format-14
  # libraries the program links
  libssl-dev zlib1g-dev libminizip-dev qt6-base-dev
  # alert mail (SMTP through libcurl), and the small SMTP server its test runs
  libcurl4-openssl-dev python3-aiosmtpd
  # the SFTP destination's tests make their keys with ssh-keygen; the server
  # they run is unpacked by scripts/fetch-sshd.sh, never installed
  openssh-client
  # the user interface under a virtual display in tests
  fonts-dejavu-core xvfb xauth
  # the office's Russian locale (ru_RU.UTF-8), with the system's Russian messages
  locales libc-l10n
  # Firebird server, tools, headers and client
  firebird3.0-server firebird3.0-utils firebird-dev libfbclient2
  # the Windows build's Firebird client from Debian's firebird3.0 source
  # (scripts/fetch-fbclient.sh): autotools, the native tools' build, headers
  autoconf automake libtool dpkg-dev libtommath-dev libicu-dev libboost-dev
  # the package check: systemd-analyze verifies and scores the units, lintian
  # and desktop-file-validate check the package; debootstrap makes the clean
  # root of tests/package/chroot_test.sh (run by hand)
  systemd lintian desktop-file-utils debootstrap
  # what scripts/firebird-servers.sh uses: setsid, unshare, flock, timeout, ss
  util-linux coreutils procps iproute2
  # the restore bench: the program's peak memory (/usr/bin/time -v)
  time
  # the monitoring textfile's test reads it with Prometheus' own checker
  # (promtool); the server that comes with it is kept off, below
  prometheus
)

say() { echo "install-deps: $*"; }

sudo_prefix=()
if ((EUID != 0)); then
  command -v sudo >/dev/null || { say "run as root (or install sudo)"; exit 1; }
  sudo_prefix=(sudo)
fi

missing_packages() {
  local pkg
  for pkg in "${PACKAGES[@]}"; do
    if [[ $(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null) != installed ]]; then
      echo "$pkg"
    fi
  done
}

lists_are_fresh() {
  [[ -n $(find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -1440 -print -quit 2>/dev/null) ]]
}

apt() {
  "${sudo_prefix[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get -q -o DPkg::Lock::Timeout=600 "$@" </dev/null
}

update_lists() {
  say "refreshing the package lists"
  apt update
}

install_packages() {
  apt install -y --no-install-recommends "$@"
}

mapfile -t missing < <(missing_packages)
if ((${#missing[@]} == 0)); then
  say "all ${#PACKAGES[@]} packages are installed"
else
  say "installing: ${missing[*]}"
  lists_are_fresh || update_lists
  if ! install_packages "${missing[@]}"; then
    say "install failed; refreshing the package lists and trying again"
    update_lists
    install_packages "${missing[@]}"
  fi
  mapfile -t still < <(missing_packages)
  if ((${#still[@]} > 0)); then
    say "still not installed: ${still[*]}"
    exit 1
  fi
  say "done"
fi

# The tests run under the locale of the people who use the program.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  say "generating the locale ru_RU.UTF-8"
  "${sudo_prefix[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi

# On a machine that starts services the package starts Debian's own server
# on localhost:3050; the project's classic instance needs that port.
"${sudo_prefix[@]}" bash "$here/firebird-servers.sh" stop-system

# Only Prometheus' checker is wanted: where services run, the package has
# started its server, which listens on every interface.
if command -v systemctl >/dev/null && systemctl is-enabled --quiet prometheus.service 2>/dev/null; then
  "${sudo_prefix[@]}" systemctl disable --now prometheus.service >/dev/null 2>&1 || true
fi
