#!/usr/bin/env bash
# The two local Firebird servers that the program, its tests and CI talk to:
#
#   classic  127.0.0.1:3050   the older server's port, ".fdb" files
#   fb30     127.0.0.1:53030  the private instance "Firebird SQL 3.0 QN", ".fd3" files
#
# Both run Debian's /usr/sbin/firebird (SuperServer), each from its own real
# copy of the Firebird root (configuration, plugins, intl, messages), with its
# own security database (SYSDBA / quillfern, Srp and legacy logins), its own
# lock folder and its own log. The system's files (/etc/firebird,
# /var/lib/firebird) are only read, and the system's own service is left alone
# unless it holds one of our ports (then it is stopped, see stop-system).
#
# Usage: firebird-servers.sh start|stop|status [classic|fb30]
#        firebird-servers.sh stop-system
#   start   brings up the instance(s) that are not running; waits until each
#           accepts connections. Running ones (pid alive and port answering)
#           are left as they are. Exit 0 when all asked for run.
#   stop    ends the instance(s) by pid (TERM, then KILL) and waits until the
#           port is free.
#   status  one line per instance: "NAME running pid=N port=P dir=D" or
#           "NAME stopped ..."; exit 0 only when all asked for run.
#   stop-system  stops Debian's own Firebird service if it runs.
#
# Environment:
#   QN_FIREBIRD_DIR            base folder, default /var/lib/qndbmgr/firebird-dev;
#                              each instance lives in BASE/NAME/
#   QN_FIREBIRD_START_TIMEOUT  seconds to wait for a port to answer (30)
#   QN_FIREBIRD_STOP_TIMEOUT   seconds between TERM and KILL (10)
#
# The servers run as the user that started them (root in CI) and may read and
# write databases and backups anywhere that user can (DatabaseAccess = Full).
set -euo pipefail

SELF=$(readlink -f "${BASH_SOURCE[0]}")
readonly SELF
BASE=$(realpath -m "${QN_FIREBIRD_DIR:-/var/lib/qndbmgr/firebird-dev}")
readonly BASE
readonly START_TIMEOUT=${QN_FIREBIRD_START_TIMEOUT:-30}
readonly STOP_TIMEOUT=${QN_FIREBIRD_STOP_TIMEOUT:-10}
readonly SERVER_BIN=/usr/sbin/firebird
readonly SYSTEM_SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
readonly SYSTEM_LOG_DIR=/var/log/firebird
readonly SYSDBA_PASSWORD=quillfern
readonly ALL_INSTANCES=(classic fb30)
# Bump when the layout or the configuration written below changes, so that
# existing instance folders are rebuilt on the next start.
readonly LAYOUT_VERSION=1

die() { echo "firebird-servers: $*" >&2; exit 1; }
note() { echo "firebird-servers: $*"; }

instance_port() {
  case $1 in
    classic) echo 3050 ;;
    fb30) echo 53030 ;;
    *) die "unknown instance '$1' (expected classic or fb30)" ;;
  esac
}

instance_title() {
  case $1 in
    classic) echo "classic Firebird server" ;;
    fb30) echo "Firebird SQL 3.0 QN" ;;
  esac
}

instance_dir() { echo "$BASE/$1"; }
pid_file() { echo "$BASE/$1/firebird.pid"; }

# The Debian package's Firebird root; the headers link ("include", pointing at
# /usr/include) is not part of what a server needs.
system_root() {
  local dir
  for dir in /usr/lib/x86_64-linux-gnu/firebird/3.0 /usr/lib/*/firebird/3.0; do
    if [[ -f $dir/plugins/libEngine12.so ]]; then echo "$dir"; return 0; fi
  done
  die "no Firebird 3.0 root under /usr/lib/*/firebird/3.0 (run scripts/install-deps.sh)"
}

# True when something accepts TCP connections on 127.0.0.1:PORT.
port_answers() {
  timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null
}

# True when the server on 127.0.0.1:PORT accepts SYSDBA with our password.
accepts_sysdba() {
  timeout 15 env -u FIREBIRD -u FIREBIRD_LOCK fbsvcmgr "127.0.0.1/$1:service_mgr" user SYSDBA \
    password "$SYSDBA_PASSWORD" info_server_version 2>/dev/null | grep -q 'Server version'
}

# Who listens on PORT, for error messages (empty when unknown).
port_holder() {
  command -v ss >/dev/null 2>&1 || return 0
  ss -Hltnp "sport = :$1" 2>/dev/null | sed -n 's/.*users:(\(.*\))$/\1/p' | head -n1
}

# True while process PID exists and is not a zombie.
process_alive() {
  local state
  kill -0 "$1" 2>/dev/null || return 1
  state=$(sed -E 's/^[0-9]+ \(.*\) ([A-Za-z]).*/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
  [[ $state != Z ]]
}

# Prints the recorded pid of instance NAME when that process still runs our
# server binary; fails otherwise.
live_pid() {
  local file pid exe
  file=$(pid_file "$1")
  [[ -f $file ]] || return 1
  pid=$(<"$file")
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  kill -0 "$pid" 2>/dev/null || return 1
  exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || return 1
  # After a package upgrade the running binary shows as "... (deleted)".
  [[ $exe == "$SERVER_BIN" || $exe == "$SERVER_BIN (deleted)" ]] || return 1
  echo "$pid"
}

is_running() {
  live_pid "$1" >/dev/null && port_answers "$(instance_port "$1")"
}

# Waits up to SECONDS for PORT to answer (want=up) or to be free (want=down).
# With a pid, gives up early when that process ends.
wait_port() {
  local port=$1 want=$2 seconds=$3 pid=${4:-} tries
  tries=$((seconds * 5))
  while ((tries-- > 0)); do
    if port_answers "$port"; then
      [[ $want == up ]] && return 0
    else
      [[ $want == down ]] && return 0
    fi
    if [[ -n $pid ]] && ! process_alive "$pid"; then return 1; fi
    sleep 0.2
  done
  return 1
}

# Builds in INSTANCE_CMD the command line that runs a command as instance
# NAME: its root and lock folder in the environment and, when the kernel lets
# us, a private mount namespace in which the fixed log folder of Debian's build
# is the instance's own log folder. Run it with "${INSTANCE_CMD[@]}" (or exec).
instance_command() {
  local name=$1; shift
  local dir
  dir=$(instance_dir "$name")
  # A UTF-8 locale: the server turns the UTF-8 file names that clients send
  # into the system's encoding, and under the C locale any Cyrillic name
  # fails with "Cannot transliterate character between character sets".
  INSTANCE_CMD=(env -i "PATH=/usr/sbin:/usr/bin:/sbin:/bin" "HOME=$dir" "LANG=C.UTF-8"
    "FIREBIRD=$dir/root" "FIREBIRD_LOCK=$dir/lock" "FIREBIRD_TMP=$dir/tmp"
    "QN_FIREBIRD_INSTANCE=$name" "$@")
  if [[ -d $SYSTEM_LOG_DIR ]] && own_log_supported; then
    # shellcheck disable=SC2016  # expanded by the inner shell
    INSTANCE_CMD=(unshare --mount --propagation private
      bash -c 'mount --bind "$1" "$2" && shift 2 && exec "$@"'
      run-as-instance "$dir/log" "$SYSTEM_LOG_DIR" "${INSTANCE_CMD[@]}")
  fi
}

own_log_supported() {
  if [[ -z ${OWN_LOG_SUPPORTED:-} ]]; then
    if unshare --mount --propagation private true 2>/dev/null; then
      OWN_LOG_SUPPORTED=yes
    else
      OWN_LOG_SUPPORTED=no
      note "no private mount namespace here; server log lines go to $SYSTEM_LOG_DIR"
    fi
  fi
  [[ $OWN_LOG_SUPPORTED == yes ]]
}

# What the instance folder was built from; a change rebuilds it.
build_stamp() {
  local sysroot=$1 port=$2
  echo "layout=$LAYOUT_VERSION port=$port sysroot=$sysroot" \
    "server=$(stat -c '%s:%Y' "$SERVER_BIN")" \
    "engine=$(stat -c '%s:%Y' "$sysroot/plugins/libEngine12.so")"
}

# Sets KEY = VALUE in a Firebird configuration file, dropping earlier active
# settings of KEY so that only ours counts.
set_conf() {
  local file=$1 key=$2 value=$3
  sed -i -E "/^[[:space:]]*${key}[[:space:]]*=/d" "$file"
  printf '%s = %s\n' "$key" "$value" >>"$file"
}

# The files without which a built root would start but fail later.
root_complete() {
  local f
  for f in firebird.conf databases.conf plugins.conf firebird.msg security3.fdb \
    plugins/libEngine12.so plugins/libSrp.so plugins/libLegacy_Auth.so \
    plugins/libLegacy_UserManager.so intl/libfbintl.so intl/fbintl.conf; do
    [[ -f $1/$f ]] || return 1
  done
}

# Builds BASE/NAME/root from the system's Firebird root unless it is already
# built from the same files. The server must not be running.
prepare_instance() {
  local name=$1 port dir root sysroot stamp entry
  port=$(instance_port "$name")
  dir=$(instance_dir "$name")
  root=$dir/root
  sysroot=$(system_root)
  [[ -x $SERVER_BIN ]] || die "$SERVER_BIN is missing (run scripts/install-deps.sh)"
  [[ -r $SYSTEM_SECURITY_DB ]] || die "cannot read $SYSTEM_SECURITY_DB (missing: run scripts/install-deps.sh; unreadable: run as root)"
  command -v isql-fb >/dev/null || die "isql-fb is missing (run scripts/install-deps.sh)"
  stamp=$(build_stamp "$sysroot" "$port")
  if [[ -f $root/.qn-built && $(<"$root/.qn-built") == "$stamp" ]] && root_complete "$root"; then
    return 0
  fi

  note "$name: building $root"
  mkdir -p "$dir/lock" "$dir/log" "$dir/tmp"
  rm -rf "$root"
  mkdir -p "$root"
  # A real copy: a root of links to the system folders starts but then lacks
  # every character set ("CHARACTER SET WIN1251 is not installed").
  for entry in "$sysroot"/*; do
    [[ $(basename "$entry") == include ]] && continue
    cp -rL "$entry" "$root/"
  done
  cp "$SYSTEM_SECURITY_DB" "$root/security3.fdb"
  chmod 0600 "$root/security3.fdb"

  local conf=$root/firebird.conf
  {
    echo
    echo "# ---- $(instance_title "$name"), written by scripts/firebird-servers.sh ----"
  } >>"$conf"
  set_conf "$conf" RemoteServicePort "$port"
  set_conf "$conf" RemoteBindAddress 127.0.0.1
  set_conf "$conf" SecurityDatabase "$root/security3.fdb"
  set_conf "$conf" DatabaseAccess Full
  set_conf "$conf" ServerMode Super
  # Srp for current clients, the legacy login for clients that only know it.
  set_conf "$conf" AuthServer "Srp, Legacy_Auth"
  set_conf "$conf" UserManager "Srp, Legacy_UserManager"
  set_conf "$conf" WireCrypt Enabled
  # The alias "security.db" must name this instance's database, not the system's.
  sed -i -E "s|^([[:space:]]*security\.db[[:space:]]*=).*|\1 $root/security3.fdb|" "$root/databases.conf"

  # User management goes to the security database that the configuration
  # names; done in embedded mode, before the server holds the file.
  local out
  instance_command "$name" isql-fb -q -bail -user SYSDBA "$root/security3.fdb"
  out=$("${INSTANCE_CMD[@]}" 2>&1 <<EOF
create or alter user SYSDBA password '$SYSDBA_PASSWORD' using plugin Srp;
commit;
create or alter user SYSDBA password '$SYSDBA_PASSWORD' using plugin Legacy_UserManager;
commit;
select 'QN-USERS:' || count(*) from sec\$users where sec\$user_name = 'SYSDBA';
EOF
  ) || die "$name: setting the SYSDBA password failed: $out"
  grep -q 'QN-USERS:2' <<<"$out" || die "$name: SYSDBA was not set up for both logins: $out"

  echo "$stamp" >"$root/.qn-built"
}

start_instance() {
  local name=$1 port dir pid holder
  port=$(instance_port "$name")
  dir=$(instance_dir "$name")

  if pid=$(live_pid "$name"); then
    # Alive: running, or still coming up after a start that was interrupted.
    if wait_port "$port" up "$START_TIMEOUT" "$pid"; then
      note "$name: already running (pid $pid, port $port)"
      return 0
    fi
    note "$name: pid $pid does not answer on port $port; restarting it"
    stop_instance "$name"
  fi

  if port_answers "$port"; then
    stop_system_service
    if [[ $name == fb30 ]] && port_answers "$port" && accepts_sysdba "$port"; then
      # The program's own installed instance (fbserver30) serves the port with
      # the same login: the tests use it rather than fight it for the port.
      note "$name: port $port is served by an installed Firebird 3.0 instance that accepts SYSDBA; using it"
      return 0
    fi
    if port_answers "$port"; then
      holder=$(port_holder "$port")
      die "$name: port $port on 127.0.0.1 is taken by another program${holder:+: $holder}; stop it first"
    fi
  fi

  prepare_instance "$name"
  rm -f "$(pid_file "$name")"
  # Leftovers of a previous run must not be mistaken for a live lock table.
  rm -rf "${dir:?}/lock" && mkdir -p "$dir/lock" "$dir/log" "$dir/tmp"
  {
    echo
    echo "==== $(date '+%Y-%m-%d %H:%M:%S') starting $(instance_title "$name") on 127.0.0.1:$port"
  } >>"$dir/server.out"

  # Detached in its own session, with no descriptor of ours left open (a
  # caller's pipe held by the server would keep that caller waiting for EOF).
  # The process writes its own pid before it becomes the server, so the pid
  # file names the server and not a wrapper.
  (
    cd "$dir"
    # shellcheck disable=SC2016  # expanded by the inner shell
    exec setsid bash -c '
      pidfile=$1; shift
      for fd in /proc/$$/fd/*; do
        fd=${fd##*/}
        if ((fd > 2)); then eval "exec $fd>&-"; fi
      done
      echo $$ >"$pidfile"
      exec "$@"' start-server "$(pid_file "$name")" \
      "$SELF" __run-as-instance "$name" "$SERVER_BIN" \
      </dev/null >>"$dir/server.out" 2>&1 9>&-
  ) &
  local launcher=$!

  local tries=$((5 * 5))
  while ! pid=$(live_pid "$name") && ((tries-- > 0)); do sleep 0.2; done
  if [[ -z ${pid:-} ]] || ! live_pid "$name" >/dev/null; then
    wait "$launcher" 2>/dev/null || true
    die "$name: the server did not start; last lines of $dir/server.out:
$(tail -n 20 "$dir/server.out")"
  fi
  if ! wait_port "$port" up "$START_TIMEOUT" "$pid"; then
    kill -KILL "$pid" 2>/dev/null || true
    die "$name: the server (pid $pid) did not accept connections on 127.0.0.1:$port within ${START_TIMEOUT}s; see $dir/server.out and $dir/log/:
$(tail -n 20 "$dir/server.out"; tail -n 20 "$dir/log/"*.log 2>/dev/null)"
  fi
  note "$name: started $(instance_title "$name") (pid $pid, port $port)"
}

stop_instance() {
  local name=$1 port pid tries holder
  port=$(instance_port "$name")
  if pid=$(live_pid "$name"); then
    kill -TERM "$pid" 2>/dev/null || true
    tries=$((STOP_TIMEOUT * 5))
    while process_alive "$pid" && ((tries-- > 0)); do sleep 0.2; done
    if process_alive "$pid"; then
      note "$name: pid $pid ignored TERM; killing it"
      kill -KILL "$pid" 2>/dev/null || true
      while process_alive "$pid"; do sleep 0.1; done
    fi
    rm -f "$(pid_file "$name")"
    if ! wait_port "$port" down "$STOP_TIMEOUT"; then
      holder=$(port_holder "$port")
      die "$name: stopped pid $pid, but port $port is still taken${holder:+ by $holder}"
    fi
    note "$name: stopped (pid $pid)"
  else
    rm -f "$(pid_file "$name")"
    if port_answers "$port"; then
      holder=$(port_holder "$port")
      note "$name: not running; port $port is held by another program${holder:+: $holder}"
    else
      note "$name: not running"
    fi
  fi
}

status_instance() {
  local name=$1 port pid
  port=$(instance_port "$name")
  if pid=$(live_pid "$name"); then
    if port_answers "$port"; then
      echo "$name running pid=$pid port=$port dir=$(instance_dir "$name")"
      return 0
    fi
    echo "$name not-answering pid=$pid port=$port dir=$(instance_dir "$name")"
    return 1
  fi
  if port_answers "$port"; then
    if [[ $name == fb30 ]] && accepts_sysdba "$port"; then
      echo "$name running pid=$(port_holder "$port" | sed -n 's/.*pid=\([0-9]*\).*/\1/p') port=$port installed-instance"
      return 0
    fi
    echo "$name stopped port=$port taken-by-other=$(port_holder "$port")"
  else
    echo "$name stopped port=$port"
  fi
  return 1
}

# Debian's own service listens on localhost:3050 when it runs (an install on
# a machine that starts services starts it). Stop it through its own service
# manager; our instances are not touched.
stop_system_service() {
  if [[ -d /run/systemd/system ]] && command -v systemctl >/dev/null; then
    if systemctl is-active --quiet firebird3.0.service 2>/dev/null; then
      note "stopping the system's firebird3.0 service (it holds port 3050)"
      systemctl stop firebird3.0.service
    fi
  elif [[ -x /etc/init.d/firebird3.0 ]] && pidof /usr/sbin/fbguard >/dev/null 2>&1; then
    note "stopping the system's firebird3.0 service (it holds port 3050)"
    /etc/init.d/firebird3.0 stop </dev/null
  else
    return 0
  fi
  wait_port 3050 down "$STOP_TIMEOUT" || true
}

with_base_lock() {
  mkdir -p "$BASE" 2>/dev/null || die "cannot create $BASE (set QN_FIREBIRD_DIR to a writable folder)"
  exec 9>>"$BASE/.lock"
  flock -w 300 9 || die "another firebird-servers.sh is busy on $BASE"
}

main() {
  local cmd=${1:-} only=${2:-} rc=0 name
  local -a names=("${ALL_INSTANCES[@]}")
  if [[ -n $only ]]; then instance_port "$only" >/dev/null; names=("$only"); fi
  case $cmd in
    start)
      with_base_lock
      for name in "${names[@]}"; do start_instance "$name"; done
      ;;
    stop)
      with_base_lock
      for name in "${names[@]}"; do stop_instance "$name"; done
      ;;
    status)
      for name in "${names[@]}"; do status_instance "$name" || rc=1; done
      return "$rc"
      ;;
    stop-system)
      stop_system_service
      ;;
    __run-as-instance)
      # Internal: the detached server's last step before it execs.
      shift 2
      instance_command "$only" "$@"
      exec "${INSTANCE_CMD[@]}"
      ;;
    *)
      echo "usage: $0 start|stop|status [classic|fb30] | stop-system" >&2
      return 2
      ;;
  esac
}

main "$@"
