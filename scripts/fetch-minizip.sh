#!/usr/bin/env bash
# Puts minizip's sources (contrib/minizip of Debian's zlib source package for
# bookworm) into DEST/minizip, for the Windows build, which has no packaged
# minizip. The package lists and the download stay under DEST: the machine's
# apt configuration is not changed. Quick when DEST/minizip is there already.
#
# Usage: scripts/fetch-minizip.sh DEST
set -euo pipefail
dest=$(realpath -m "${1:?usage: fetch-minizip.sh DEST}")
[[ -f $dest/minizip/unzip.c ]] && exit 0

work=$dest/zlib-source
rm -rf "$work"
mkdir -p "$work/lists/partial"
# The main suite carries the sources; the security suite serves none.
echo 'deb-src http://deb.debian.org/debian bookworm main' >"$work/sources.list"
apt_opts=(-q -o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
apt-get "${apt_opts[@]}" update >/dev/null
(cd "$work" && apt-get "${apt_opts[@]}" source --download-only zlib >/dev/null)
orig=$(find "$work" -maxdepth 1 -name 'zlib_*.orig.tar.*' -print -quit)
[[ -n $orig ]] || { echo "fetch-minizip: no zlib source archive was fetched" >&2; exit 1; }
tar -xf "$orig" -C "$work" --wildcards '*/contrib/minizip/*'
rm -rf "$dest/minizip"
mv "$work"/zlib-*/contrib/minizip "$dest/minizip"
rm -rf "$work"
echo "fetch-minizip: minizip sources from $(basename "$orig") in $dest/minizip"
