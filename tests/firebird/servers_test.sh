#!/usr/bin/env bash
# Proves that the two local Firebird servers of scripts/firebird-servers.sh do
# what the program relies on, through TCP with the ordinary client tools:
# creating WIN1251 databases with SYSDBA / quillfern, keeping Cyrillic text as
# single Windows-1251 bytes (and knowing its upper case), ODS 12, refusing a
# wrong password, and backup and restore through the service manager.
# Leaves the servers running for the other tests; removes only its own files.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
servers_script="$here/../../scripts/firebird-servers.sh"
servers() { bash "$servers_script" "$@"; }
readonly PASSWORD=quillfern

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok - $*"; }
fail() { failed=$((failed + 1)); echo "FAILED - $*" >&2; }
finish() {
  echo "servers_test: $passed passed, $failed failed"
  ((failed == 0))
  exit
}
fatal() { fail "$*"; finish; }
# judge STATUS GOOD BAD: counts the outcome of the command just run.
judge() { if (($1 == 0)); then ok "$2"; else fail "$3"; fi; }

work=$(mktemp -d /tmp/qn-servers-test.XXXXXX) || fatal "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT

# The client tools as the program runs them: no server root of their own.
client() { env -u FIREBIRD -u FIREBIRD_LOCK -u ISC_USER -u ISC_PASSWORD "$@"; }
# Runs the SQL file $2 with isql; output to $1. Fails when a statement fails.
isql_file() { client isql-fb -q -bail -i "$2" >"$1" 2>&1 </dev/null; }

pids_of_servers() {
  servers status | sed -n 's/^\([a-z0-9]*\) running pid=\([0-9]*\) .*/\1=\2/p' | tr '\n' ' '
}

# ---- start, and start again --------------------------------------------------
servers start || fatal "scripts/firebird-servers.sh start failed"
servers status >/dev/null || fatal "status does not report both servers running after start"
pids_before=$(pids_of_servers)
[[ $pids_before == *classic=*fb30=* ]] || fatal "status lines not understood: $(servers status)"
servers start >"$work/start2.out" 2>&1 || fatal "a second start failed: $(cat "$work/start2.out")"
pids_after=$(pids_of_servers)
if [[ $pids_after == "$pids_before" ]]; then
  ok "a second start leaves the running servers ($pids_after)"
else
  fail "a second start changed the servers: before '$pids_before', after '$pids_after'"
fi

# ---- per server: create, store Cyrillic text, read it back --------------------
# Windows-1251 bytes of the Russian words "ёлка и Ёжик" (fir tree and hedgehog),
# 11 characters, and of their upper case "ЁЛКА И ЁЖИК".
text=$'\xb8\xeb\xea\xe0 \xe8 \xa8\xe6\xe8\xea'
upper=$'\xa8\xcb\xca\xc0 \xc8 \xa8\xc6\xc8\xca'

check_server() {
  local label=$1 port=$2 file=$3
  local db="localhost/$port:$file" sql="$work/$label.sql" out="$work/$label.out"
  {
    # isql talks WIN1251, so the bytes go to the server and come back unchanged.
    echo "SET NAMES WIN1251;"
    echo "CREATE DATABASE '$db' USER 'SYSDBA' PASSWORD '$PASSWORD' PAGE_SIZE 4096 DEFAULT CHARACTER SET WIN1251;"
    echo "CREATE TABLE T1 (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(40) CHARACTER SET WIN1251);"
    echo "COMMIT;"
    echo "INSERT INTO T1 (ID, NAME) VALUES (1, '$text');"
    echo "COMMIT;"
    echo "SELECT 'ODS=' || MON\$ODS_MAJOR FROM MON\$DATABASE;"
    echo "SELECT 'CS=' || TRIM(C.RDB\$CHARACTER_SET_NAME) FROM RDB\$RELATION_FIELDS RF"
    echo "  JOIN RDB\$FIELDS F ON F.RDB\$FIELD_NAME = RF.RDB\$FIELD_SOURCE"
    echo "  JOIN RDB\$CHARACTER_SETS C ON C.RDB\$CHARACTER_SET_ID = F.RDB\$CHARACTER_SET_ID"
    echo "  WHERE RF.RDB\$RELATION_NAME = 'T1' AND RF.RDB\$FIELD_NAME = 'NAME';"
    echo "SELECT 'LEN=' || OCTET_LENGTH(NAME) || '/' || CHAR_LENGTH(NAME) FROM T1 WHERE ID = 1;"
    echo "SELECT '<' || NAME || '>' FROM T1 WHERE ID = 1;"
    echo "SELECT '[' || UPPER(NAME) || ']' FROM T1 WHERE ID = 1;"
  } >"$sql"
  if ! isql_file "$out" "$sql"; then
    fail "$label: creating and filling $db failed: $(cat "$out")"
    return
  fi
  ok "$label: created $db"

  [[ -f $file ]]
  judge $? "$label: the server wrote $file" "$label: $file was not created"
  grep -q 'ODS=12' "$out"
  judge $? "$label: ODS major version 12" \
    "$label: ODS major version is not 12: $(grep 'ODS=' "$out")"
  grep -q 'CS=WIN1251' "$out"
  judge $? "$label: the column is WIN1251" \
    "$label: the column's character set is not WIN1251: $(grep 'CS=' "$out")"
  grep -q 'LEN=11/11' "$out"
  judge $? "$label: one byte per Cyrillic character" \
    "$label: stored length is not 11 bytes for 11 characters: $(grep 'LEN=' "$out")"
  LC_ALL=C grep -qF "<$text>" "$out"
  judge $? "$label: the Cyrillic value reads back byte for byte" \
    "$label: the Cyrillic value did not read back unchanged: $(LC_ALL=C grep -a '<' "$out" | od -c | head -3)"
  LC_ALL=C grep -qF "[$upper]" "$out"
  judge $? "$label: WIN1251 upper case works (character sets installed)" \
    "$label: UPPER of the Cyrillic value is wrong: $(LC_ALL=C grep -a '\[' "$out" | od -c | head -3)"

  {
    echo "CONNECT '$db' USER 'SYSDBA' PASSWORD 'not$PASSWORD';"
    echo "SELECT 'WRONG-PASSWORD-ACCEPTED' FROM RDB\$DATABASE;"
  } >"$sql"
  if isql_file "$out" "$sql" || grep -q 'WRONG-PASSWORD-ACCEPTED' "$out"; then
    fail "$label: a wrong password was accepted"
  elif grep -qi 'user name and password are not defined' "$out"; then
    ok "$label: a wrong password is refused"
  else
    fail "$label: a wrong password failed for another reason: $(cat "$out")"
  fi
}

check_server classic 3050 "$work/a.fdb"
check_server fb30 53030 "$work/b.fd3"

# ---- backup and restore through the service manager of the 3.0 instance ------
backup="$work/b.bk3"
out="$work/gbak.out"
if client gbak -b -v -se localhost/53030:service_mgr -user SYSDBA -password "$PASSWORD" \
  "$work/b.fd3" "$backup" >"$out" 2>&1 </dev/null; then
  ok "gbak backup through localhost/53030:service_mgr"
else
  fail "gbak backup failed: $(tail -n 20 "$out")"
fi
[[ -s $backup ]]
judge $? "the backup file $backup exists" \
  "no backup file $backup"
lines=$(grep -c '^gbak:' "$out")
((lines > 0))
judge $? "verbose backup output has $lines 'gbak:' lines" \
  "verbose backup output has no 'gbak:' lines: $(head -n 5 "$out")"

restored="$work/c.fd3"
if client gbak -c -v -se localhost/53030:service_mgr -user SYSDBA -password "$PASSWORD" \
  "$backup" "$restored" >"$out" 2>&1 </dev/null; then
  printf "SET NAMES WIN1251;\nCONNECT 'localhost/53030:%s' USER 'SYSDBA' PASSWORD '%s';\nSELECT '<' || NAME || '>' FROM T1 WHERE ID = 1;\n" \
    "$restored" "$PASSWORD" >"$work/restored.sql"
  if isql_file "$work/restored.out" "$work/restored.sql" && LC_ALL=C grep -qF "<$text>" "$work/restored.out"; then
    ok "the restored database holds the Cyrillic value"
  else
    fail "the restored database lacks the value: $(cat "$work/restored.out")"
  fi
else
  fail "gbak restore failed: $(tail -n 20 "$out")"
fi

# ---- still running afterwards, with the same processes -----------------------
[[ $(pids_of_servers) == "$pids_before" ]]
judge $? "both servers still run with the same pids" \
  "the servers changed during the test: '$pids_before' became '$(pids_of_servers)'"

finish
