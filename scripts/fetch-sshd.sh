#!/usr/bin/env bash
# OpenSSH's server for the SFTP destination's tests, from Debian's own
# packages (openssh-server and the libwrap0 it links), unpacked into DEST
# rather than installed: nothing is started, enabled or left listening on
# the machine, and the tests run it on loopback with a configuration of
# their own. Quick when DEST holds it already.
#
# Usage: scripts/fetch-sshd.sh DEST
set -euo pipefail
dest=$(realpath -m "${1:?usage: fetch-sshd.sh DEST}")
[[ -x $dest/usr/sbin/sshd ]] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
download() { apt-get download -q -o APT::Sandbox::User=root "$@" >/dev/null; }
if ! download openssh-server libwrap0; then
  sudo_prefix=()
  ((EUID == 0)) || sudo_prefix=(sudo)
  "${sudo_prefix[@]}" apt-get update -q >/dev/null
  download openssh-server libwrap0
fi
rm -rf "$dest.new"
mkdir -p "$dest.new"
for deb in ./*.deb; do dpkg-deb -x "$deb" "$dest.new"; done
rm -rf "$dest"
mv "$dest.new" "$dest"
echo "fetch-sshd: $(ls ./*.deb | xargs -n1 basename | tr '\n' ' ')unpacked in $dest"
