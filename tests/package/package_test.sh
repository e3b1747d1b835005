#!/usr/bin/env bash
# Builds the Debian package from the build folder and checks it: file name,
# control fields, maintainer scripts, contents, the program's version, and
# the two systemd units (systemd-analyze verify against the unpacked
# package, when systemd-analyze is there).
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
for dep in libfbclient2 firebird3.0-server firebird3.0-utils libqt6core6 libqt6widgets6 libminizip1 libssl3 libcurl4 zlib1g; do
  [[ $depends == *", $dep,"* || $depends == *", $dep ("* ]] || fail "Depends lacks $dep: $depends"
done
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  grep -Eq "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$info" || fail "no executable $script"
  sh -n "$work/control/$script" || fail "$script is no valid shell script"
done
# Installing enables and starts both units; removing stops both.
for script in postinst prerm; do
  for unit in qndbmgr.service qndbmgr-fb30.service; do
    grep -q "$unit" "$work/control/$script" || fail "$script leaves out $unit"
  done
done

contents=$(dpkg-deb -c "$deb")
# mode and path of each file the package must hold
while read -r mode path; do
  line=$(awk -v p="$path" '$6 == p' <<<"$contents")
  [[ -n $line ]] || { fail "missing $path"; continue; }
  [[ $line == "$mode "* ]] || fail "mode of $path: $line"
done <<'LIST'
-rwxr-xr-x ./opt/qndbmgr/qndbmgr
-rwxr-xr-x ./opt/qndbmgr/fbserver30
-rw-r--r-- ./lib/systemd/system/qndbmgr.service
-rw-r--r-- ./lib/systemd/system/qndbmgr-fb30.service
lrwxrwxrwx ./usr/bin/qndbmgr
LIST
grep -q ' ./usr/bin/qndbmgr -> /opt/qndbmgr/qndbmgr$' <<<"$contents" || fail "/usr/bin/qndbmgr is no link to the program"

root="$work/root"
dpkg-deb -x "$deb" "$root"
# The program reports the package's version as its file version.
got=$("$root/opt/qndbmgr/qndbmgr" --version)
[[ $got == "$version.0" ]] || fail "qndbmgr --version: $got"
grep -q '^ExecStart=/opt/qndbmgr/qndbmgr --headless=1$' "$root/lib/systemd/system/qndbmgr.service" ||
  fail "qndbmgr.service does not run the program headless"
grep -q '^ExecStart=/opt/qndbmgr/fbserver30 --service$' "$root/lib/systemd/system/qndbmgr-fb30.service" ||
  fail "qndbmgr-fb30.service does not run the guard"

if command -v systemd-analyze >/dev/null; then
  # The units are verified inside the unpacked package, with the system's
  # own units beside them for the targets they name.
  mkdir -p "$root/usr/lib/systemd"
  cp -a /lib/systemd/system "$root/usr/lib/systemd/"
  systemd-analyze verify --root="$root" /lib/systemd/system/qndbmgr.service /lib/systemd/system/qndbmgr-fb30.service ||
    fail "systemd-analyze verify"
else
  echo "systemd-analyze is not installed: the units were not verified"
fi

((failures == 0)) || exit 1
echo "ok: $(basename "$deb")"
