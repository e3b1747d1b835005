#!/usr/bin/env bash
# Installs the package in a clean Debian 12 root and exercises it there:
# install (or upgrade from a previous package), the users, groups, folders
# and modes, the private server run as firebird under its guard, the
# service's instance run as qndbmgr and reached by root's command, then
# remove (the data stays) and purge (the state and the users go). systemd
# does not run in the root; the maintainer scripts must cope.
#
# Usage (root): tests/package/chroot_test.sh NEW.deb [PREVIOUS.deb]
#   QN_CHROOT_BASE  a clean root made earlier by debootstrap, copied instead
#                   of making a new one (about 50 s saved)
#   QN_CHROOT_PORT  the private server's port inside (default 53131); the
#                   root shares the machine's network, so it must be free
# Takes a few minutes (debootstrap and apt); run by hand, not by CTest.
set -euo pipefail
export LC_ALL=C
new=$(realpath "$1")
previous=${2:+$(realpath "$2")}
port=${QN_CHROOT_PORT:-53131}
((EUID == 0)) || { echo "chroot_test: needs root"; exit 77; }
work=$(mktemp -d /tmp/qndbmgr-chroot.XXXXXX)
root="$work/root"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
in_root() { chroot "$root" "$@"; }
cleanup() {
  # Processes started inside end before their mounts go.
  for pid in /proc/[0-9]*; do
    [[ $(readlink "$pid/root" 2>/dev/null) == "$root" ]] && kill -9 "${pid#/proc/}" 2>/dev/null
  done
  sleep 1
  for m in dev/shm proc; do umount "$root/$m" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

if [[ -n ${QN_CHROOT_BASE:-} ]]; then
  cp -a "$QN_CHROOT_BASE" "$root"
else
  mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources)
  debootstrap --variant=minbase bookworm "$root" "$mirror" >"$work/debootstrap.log"
fi
rm -f "$root/etc/apt/sources.list"
cp /etc/apt/sources.list.d/debian.sources "$root/etc/apt/sources.list.d/"
mount -t proc proc "$root/proc"
mkdir -p "$root/dev/shm" && mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
cp "$new" "$root/new.deb"
in_root apt-get -q update >/dev/null
apt_install() { in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y install "$@" >>"$work/apt.log" 2>&1; }

if [[ -n $previous ]]; then
  cp "$previous" "$root/previous.deb"
  apt_install /previous.deb || { tail -20 "$work/apt.log"; exit 1; }
  # The previous layout's program folder with an entry in it.
  mkdir -p "$root/opt/qndbmgr/data"
  echo "database" >"$root/opt/qndbmgr/data/tx.fd3"
  printf '<?xml version="1.0" encoding="Windows-1251"?>\r\n<settings>\r\n  <data>\r\n    <db0000>\r\n      <path>localhost/53030:/opt/qndbmgr/data/tx.fd3</path>\r\n    </db0000>\r\n  </data>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n' \
    >"$root/opt/qndbmgr/settings.xml"
fi
apt_install /new.deb || { tail -20 "$work/apt.log"; exit 1; }
echo "installed: $(in_root dpkg-query -W -f='${Version}' qndbmgr)"

# Users, groups, folders.
in_root getent passwd qndbmgr >/dev/null || fail "no user qndbmgr"
[[ $(in_root id -u qndbmgr) -lt 1000 ]] || fail "qndbmgr is no system user"
in_root id -nG firebird | grep -qw qndbmgr || fail "firebird is not in the group qndbmgr"
mode() { in_root stat -c '%a %U:%G' "$1"; }
[[ $(mode /var/lib/qndbmgr) == "2770 qndbmgr:qndbmgr" ]] || fail "/var/lib/qndbmgr: $(mode /var/lib/qndbmgr)"
[[ $(mode /var/lib/qndbmgr-fb30) == "751 firebird:firebird" ]] || fail "/var/lib/qndbmgr-fb30: $(mode /var/lib/qndbmgr-fb30)"
[[ ! -e $root/opt/qndbmgr ]] || fail "/opt/qndbmgr is still there: $(ls -A "$root/opt/qndbmgr")"
if [[ -n $previous ]]; then
  grep -q '<path>localhost/53030:/var/lib/qndbmgr/data/tx.fd3</path>' "$root/var/lib/qndbmgr/settings.xml" ||
    fail "the register did not move with its databases"
  [[ $(mode /var/lib/qndbmgr/settings.xml) == "600 qndbmgr:qndbmgr" ]] || fail "settings.xml: $(mode /var/lib/qndbmgr/settings.xml)"
  [[ $(mode /var/lib/qndbmgr/data/tx.fd3) == "660 qndbmgr:qndbmgr" ]] || fail "tx.fd3: $(mode /var/lib/qndbmgr/data/tx.fd3)"
  rm -f "$root/var/lib/qndbmgr/data/tx.fd3"
fi

# As at boot: the machine-wide names' folder.
if in_root test -x /usr/bin/systemd-tmpfiles; then
  in_root systemd-tmpfiles --create qndbmgr.conf
else
  in_root install -d -o root -g qndbmgr -m 3775 /run/qndbmgr-objects
fi

# The private server as its service runs it: the user firebird.
in_root setpriv --reuid=firebird --regid=firebird --init-groups \
  env QN_FB30_DIR=/var/lib/qndbmgr-fb30 QN_FB30_PORT="$port" /usr/lib/qndbmgr/fbserver30 --service \
  >"$work/fb30.log" 2>&1 &
for _ in $(seq 150); do
  bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null && break
  sleep 0.2
done
server=$( (pgrep -f "^/usr/sbin/firebird$" || true) | while read -r pid; do
  [[ $(readlink "/proc/$pid/root") != "$root" ]] || echo "$pid"; done | head -1)
if [[ -n $server ]]; then
  echo "the private server runs as uid $(stat -c %u "/proc/$server") (pid $server); firebird is $(in_root id -u firebird)"
  [[ $(stat -c %u "/proc/$server") == $(in_root id -u firebird) ]] || fail "the private server does not run as firebird"
else
  fail "the private server did not start: $(tail -5 "$work/fb30.log")"
fi

# The service's instance as its unit runs it, then root's commands.
printf '<?xml version="1.0" encoding="Windows-1251"?>\r\n<settings>\r\n  <data_state>initialized</data_state>\r\n</settings>\r\n' \
  >"$root/var/lib/qndbmgr/settings.xml"
chroot "$root" chown qndbmgr:qndbmgr /var/lib/qndbmgr/settings.xml
for flag in ignore-udp.txt ignore-tcp.txt debug.txt; do : >"$root/var/lib/qndbmgr/$flag"; done
in_root setpriv --reuid=qndbmgr --regid=qndbmgr --init-groups env HOME=/var/lib/qndbmgr QNDBMGR_HOME=/var/lib/qndbmgr \
  sh -c 'umask 0007; exec /usr/bin/qndbmgr --headless=1 --service=1' >"$work/service.log" 2>&1 &
log() { cat "$root"/var/lib/qndbmgr/log/log-*.txt 2>/dev/null; }
for _ in $(seq 100); do log | grep -q 'hostname is' && break; sleep 0.2; done
log | grep -q 'hostname is' || fail "the service's instance did not start: $(tail -5 "$work/service.log")"
in_root env HOME=/root qndbmgr --list >"$work/list.out" 2>&1 || fail "root's --list: $(cat "$work/list.out")"
log | grep -q 'intercom command-line' || fail "root's command did not reach the service's instance"
# A program started from /usr/bin never keeps its files there.
[[ ! -e $root/usr/bin/log && ! -e $root/usr/bin/settings.xml ]] || fail "the program wrote into /usr/bin"
in_root env HOME=/root qndbmgr --headless=1 >"$work/second.out" 2>&1 || fail "a second start failed"
[[ $(log | grep -c 'hostname is') == 1 ]] || fail "a second instance started beside the service's"
[[ $(stat -c '%a' "$root/var/lib/qndbmgr/settings.xml") == 600 ]] || fail "settings.xml is not 0600"
# Ended as their service manager ends them.
for pid in $(pgrep -f '^(/usr/bin/qndbmgr --headless=1 --service=1|/usr/lib/qndbmgr/fbserver30 --service)$' || true); do
  [[ $(readlink "/proc/$pid/root") != "$root" ]] || kill -TERM "$pid"
done
sleep 3

# Without the service, root's own program from /usr/bin keeps its program
# folder in its home.
in_root env HOME=/root qndbmgr --list >"$work/own-list.out" 2>&1 || fail "root's own --list: $(cat "$work/own-list.out")"
[[ $(mode /root/.local/share/qndbmgr) == "700 root:root" ]] || fail "root's program folder: $(mode /root/.local/share/qndbmgr)"

# Remove keeps the data and the users; so does a purge unless its question
# is answered yes (without a terminal it keeps them); a purge told yes
# removes everything.
mkdir -p "$root/var/lib/qndbmgr/data" "$root/var/lib/qndbmgr/backup/0000"
echo "an office's database" >"$root/var/lib/qndbmgr/data/tx.fd3"
echo "its backup" >"$root/var/lib/qndbmgr/backup/0000/auto-2026.12.07-06.30.00-000.bk3"
in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y remove qndbmgr >>"$work/apt.log" 2>&1 || fail "remove"
[[ -f $root/var/lib/qndbmgr/settings.xml ]] || fail "remove took the settings"
in_root getent passwd qndbmgr >/dev/null || fail "remove took the user"
in_root dpkg --purge qndbmgr </dev/null >>"$work/apt.log" 2>&1 || fail "purge"
[[ $(cat "$root/var/lib/qndbmgr/data/tx.fd3" 2>/dev/null) == "an office's database" ]] || fail "purge took the database"
[[ -f $root/var/lib/qndbmgr/backup/0000/auto-2026.12.07-06.30.00-000.bk3 ]] || fail "purge took the backup"
[[ -f $root/var/lib/qndbmgr/settings.xml ]] || fail "purge took the register"
grep -q 'stay in /var/lib/qndbmgr' "$work/apt.log" || fail "purge did not say where the data stayed"
in_root getent passwd qndbmgr >/dev/null || fail "a purge that kept the data took their user"
in_root env DEBIAN_FRONTEND=noninteractive apt-get -q -y install /new.deb >>"$work/apt.log" 2>&1 || fail "reinstall"
echo "qndbmgr qndbmgr/purge_data boolean true" | in_root debconf-set-selections
in_root dpkg --purge qndbmgr </dev/null >>"$work/apt.log" 2>&1 || fail "purge told to delete"
[[ ! -e $root/var/lib/qndbmgr && ! -e $root/var/lib/qndbmgr-fb30 ]] || fail "a purge told to delete left the state"
in_root getent passwd qndbmgr >/dev/null && fail "purge left the user"
in_root getent group qndbmgr >/dev/null && fail "purge left the group"

((failures == 0)) || { echo "apt log: $work/apt.log"; tail -30 "$work/apt.log"; exit 1; }
echo "ok: installed${previous:+ (upgraded from $(basename "$previous"))}, ran, removed and purged in a clean Debian 12 root"
