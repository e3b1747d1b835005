#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks it: file name,
# control fields, maintainer scripts, contents, the program's version, the
# two systemd units (systemd-analyze verify against the unpacked package, and
# their exposure scores), the desktop entries, and lintian (when the tools
# are there). Installing, upgrading, removing and purging in a clean Debian
# root is tests/package/chroot_test.sh, run by hand (see docs/packaging.md).
#
# Usage: package_test.sh BUILD_DIR VERSION
set -uo pipefail
# The tools' output is parsed below: their own words, not a translation.
export LC_ALL=C
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb="$work/qndbmgr_${version}_amd64.deb"
[[ -f $deb ]] || { echo "FAIL: no $deb"; ls "$work"; exit 1; }

info=$(dpkg-deb -I "$deb")
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == qndbmgr ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Architecture) == amd64 ]] || fail "Architecture: $(field Architecture)"
depends=", $(field Depends),"
for dep in adduser libfbclient2 firebird3.0-server firebird3.0-utils libqt6core6 libqt6widgets6 libminizip1 libssl3 libcurl4 zlib1g; do
  [[ $depends == *", $dep,"* || $depends == *", $dep ("* ]] || fail "Depends lacks $dep: $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  grep -Eq "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script is no valid shell script"
done
# Installing enables and starts both units through debhelper's helpers;
# removing stops both; purging removes the state and the user.
for script in postinst prerm; do
  for unit in qndbmgr.service qndbmgr-fb30.service; do
    grep -q "$unit" "$work/control/$script" || fail "$script leaves out $unit"
  done
done
grep -q 'deb-systemd-invoke' "$work/control/postinst" || fail "postinst does not start the units with deb-systemd-invoke"
grep -q 'adduser --system --group --quiet' "$work/control/postinst" || fail "postinst makes no system user"
if grep -Ev 'daemon-reload' "$work/control/postinst" "$work/control/prerm" "$work/control/postrm" |
  grep -Eq '(^|[;&|[:space:]])systemctl[[:space:]]'; then
  fail "a maintainer script calls systemctl itself"
fi
grep -q 'deluser --system' "$work/control/postrm" || fail "purge leaves the user"
grep -qx '/etc/xdg/autostart/qndbmgr-tray.desktop' "$work/control/conffiles" || fail "the autostart entry is no conffile"

contents=$(dpkg-deb -c "$deb")
# mode and path of each file the package must hold
while read -r mode path; do
  line=$(awk -v p="$path" '$6 == p' <<<"$contents")
  [[ -n $line ]] || { fail "missing $path"; continue; }
  [[ $line == "$mode "* ]] || fail "mode of $path: $line"
done <<'LIST'
-rwxr-xr-x ./usr/bin/qndbmgr
-rwxr-xr-x ./usr/lib/qndbmgr/fbserver30
-rw-r--r-- ./lib/systemd/system/qndbmgr.service
-rw-r--r-- ./lib/systemd/system/qndbmgr-fb30.service
-rw-r--r-- ./usr/lib/tmpfiles.d/qndbmgr.conf
-rw-r--r-- ./usr/share/applications/qndbmgr.desktop
-rw-r--r-- ./etc/xdg/autostart/qndbmgr-tray.desktop
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/qndbmgr.svg
-rw-r--r-- ./usr/share/man/man1/qndbmgr.1.gz
-rw-r--r-- ./usr/share/man/man8/fbserver30.8.gz
-rw-r--r-- ./usr/share/doc/qndbmgr/copyright
-rw-r--r-- ./usr/share/doc/qndbmgr/changelog.gz
-rw-r--r-- ./usr/share/doc/qndbmgr/README.md
-rw-r--r-- ./usr/share/doc/qndbmgr/docs/monitoring.md
LIST
grep -q ' ./opt/' <<<"$contents" && fail "the package still puts files in /opt"

root="$work/root"
dpkg-deb -x "$deb" "$root"
# The program reports the package's version as its file version.
got=$("$root/usr/bin/qndbmgr" --version)
[[ $got == "$version.0" ]] || fail "qndbmgr --version: $got"
program_unit="$root/lib/systemd/system/qndbmgr.service"
server_unit="$root/lib/systemd/system/qndbmgr-fb30.service"
grep -q '^ExecStart=/usr/bin/qndbmgr --headless=1 --service=1$' "$program_unit" ||
  fail "qndbmgr.service does not run the program headless as the service"
grep -q '^User=qndbmgr$' "$program_unit" || fail "qndbmgr.service does not run as qndbmgr"
grep -q '^Environment=QNDBMGR_HOME=/var/lib/qndbmgr$' "$program_unit" || fail "qndbmgr.service names no program folder"
grep -q '^ExecStart=/usr/lib/qndbmgr/fbserver30 --service$' "$server_unit" ||
  fail "qndbmgr-fb30.service does not run the guard"
grep -q '^User=firebird$' "$server_unit" || fail "qndbmgr-fb30.service does not run as firebird"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/qndbmgr.desktop" "$root/etc/xdg/autostart/qndbmgr-tray.desktop" ||
    fail "desktop-file-validate"
fi

if command -v systemd-analyze >/dev/null; then
  # The units are verified inside the unpacked package, with the system's
  # own units beside them for the targets they name.
  mkdir -p "$root/usr/lib/systemd"
  cp -a /lib/systemd/system "$root/usr/lib/systemd/"
  systemd-analyze verify --man=no --root="$root" /lib/systemd/system/qndbmgr.service /lib/systemd/system/qndbmgr-fb30.service ||
    fail "systemd-analyze verify"
  # How much of the system each unit is exposed to (0 safe .. 10 unsafe).
  exposure() { systemd-analyze security --offline=true "$1" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p'; }
  for pair in "$program_unit 4.5" "$server_unit 6.0"; do
    read -r unit most <<<"$pair"
    score=$(exposure "$unit")
    echo "exposure of $(basename "$unit"): $score (at most $most)"
    awk -v s="$score" -v m="$most" 'BEGIN { exit !(s != "" && s <= m) }' || fail "$(basename "$unit") exposure $score > $most"
  done
else
  echo "systemd-analyze is not installed: the units were not verified"
fi

if command -v lintian >/dev/null; then
  # Errors and warnings fail; "I:" and "N:" lines are information only.
  lintian --allow-root --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1
  grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian: $(grep -cE '^[EW]: ' "$work/lintian.log") errors or warnings"
  grep -qE '^[EW]: ' "$work/lintian.log" || echo "lintian: no errors or warnings"
else
  echo "lintian is not installed: the package was not checked by it"
fi

((failures == 0)) || exit 1
echo "ok: $(basename "$deb")"
