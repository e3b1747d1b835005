#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, without
# questions (root, or sudo); nothing is fetched when all are there.
#
# Usage: scripts/ensure-packages.sh PACKAGE...
set -euo pipefail

missing=()
for pkg in "$@"; do
  [[ $(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null) == installed ]] || missing+=("$pkg")
done
((${#missing[@]} > 0)) || exit 0
sudo_prefix=()
((EUID == 0)) || sudo_prefix=(sudo)
apt() {
  "${sudo_prefix[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=600 "$@" </dev/null
}
echo "ensure-packages: installing: ${missing[*]}"
apt install -y --no-install-recommends "${missing[@]}" || { apt update && apt install -y --no-install-recommends "${missing[@]}"; }
