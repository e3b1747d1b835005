#!/usr/bin/env bash
# The manual page qndbmgr(1) and the program's --help name the same
# options, so that neither is left behind when an option comes or goes; and
# man reads the page without a warning (as lintian does).
#
# Usage: man_page_test.sh PROGRAM MANUAL_PAGE
set -uo pipefail
program=$1
page=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

options() { grep -oE -- '--[a-z][a-z0-9-]*[a-z0-9]' | sort -u; }
help=$("$program" --help | options)
[[ $(wc -l <<<"$help") -ge 10 ]] || fail "--help names too few options: $help"
# roff writes a minus as \- and switches fonts with \fB, \fI, \fR, \fP.
manual=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page" | options)
only_help=$(comm -23 <(echo "$help") <(echo "$manual"))
only_manual=$(comm -13 <(echo "$help") <(echo "$manual"))
[[ -z $only_help ]] || fail "in --help, not in the manual page: $only_help"
[[ -z $only_manual ]] || fail "in the manual page, not in --help: $only_manual"
# The exit codes of --status.
for code in 0 1 2 3; do
  grep -qE "^\.B $code$" "$page" || fail "the manual page does not give --status's exit code $code"
done

warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man warns: $warnings"

echo "options in both: $(wc -l <<<"$help")"
((failures == 0)) && echo "manual page and --help agree" || exit 1
