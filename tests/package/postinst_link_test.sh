#!/usr/bin/env bash
# The package's postinst, run over a root of its own (DPKG_ROOT) with the
# system's helpers replaced by stand-ins that record nothing, while the
# server's account has replaced what postinst makes in its folder by links
# to folders of root's: nothing outside changes, and the links stay links.
# Needs root and Debian's firebird user (skipped otherwise, exit 77).
set -euo pipefail
postinst="$1"
[[ $(id -u) == 0 ]] || { echo "SKIP: needs root"; exit 77; }
getent passwd firebird >/dev/null || { echo "SKIP: needs the firebird user (firebird3.0-server)"; exit 77; }

work=$(mktemp -d)
chmod 0755 "$work"  # the account reaches its folder inside
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

root="$work/корень"
mkdir -p "$root/var/lib/qndbmgr-fb30" "$work/bin"
chown firebird:firebird "$root/var/lib/qndbmgr-fb30"
# A folder of root's that the account would like to own, as /etc would be.
victim="$work/etc"
mkdir -m 0700 "$victim"
echo secret >"$victim/shadow"
chmod 0600 "$victim/shadow"
before=$(stat -c '%U:%G %a' "$victim" "$victim/shadow")
# What the account can do in its own folder: put a link where postinst
# expects a folder.
setpriv --reuid=firebird --regid=firebird --init-groups -- ln -s "$victim" "$root/var/lib/qndbmgr-fb30/registry"

# The system's own helpers are not this test's to run.
for helper in adduser deb-systemd-helper deb-systemd-invoke systemd-tmpfiles systemctl; do
  printf '#!/bin/sh\nexit 0\n' >"$work/bin/$helper"
  chmod +x "$work/bin/$helper"
done
# The service's own account is made by adduser, which does not run here:
# where it is missing, its folder is made root's instead.
cat >"$work/bin/install" <<'STUB'
#!/bin/bash
args=()
while (($#)); do
  if [[ $1 == -o || $1 == -g ]] && ! getent passwd "$2" >/dev/null; then shift 2; continue; fi
  args+=("$1")
  shift
done
exec /usr/bin/install "${args[@]}"
STUB
chmod +x "$work/bin/install"
if ! DPKG_ROOT="$root" PATH="$work/bin:$PATH" sh "$postinst" configure "" >"$work/out" 2>&1; then
  fail "postinst failed: $(cat "$work/out")"
fi
after=$(stat -c '%U:%G %a' "$victim" "$victim/shadow")
[[ $after == "$before" ]] || fail "the link's target changed: $before -> $after"
[[ -L $root/var/lib/qndbmgr-fb30/registry ]] || fail "the link was replaced"
grep -q 'is a link' "$work/out" || fail "postinst did not say why it left the link: $(cat "$work/out")"

# Without a link, the key store is made, the account's.
rm "$root/var/lib/qndbmgr-fb30/registry"
DPKG_ROOT="$root" PATH="$work/bin:$PATH" sh "$postinst" configure "" >"$work/out" 2>&1 || fail "postinst failed: $(cat "$work/out")"
[[ $(stat -c '%U %a' "$root/var/lib/qndbmgr-fb30/registry") == "firebird 755" ]] ||
  fail "registry: $(stat -c '%U %a' "$root/var/lib/qndbmgr-fb30/registry")"

((fails == 0)) || exit 1
echo "postinst follows no link of the server's account"
