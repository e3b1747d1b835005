#!/usr/bin/env bash
# Runs a Windows test program under Wine for CTest (the cross build's
# emulator). Now and then, on a loaded machine, Wine ends a program before
# it has run at all: a failure within a few tens of milliseconds and not a
# byte of output. Such a start is tried once more, said on stderr and, when
# QN_WINE_RESTARTS names a file, recorded there, so the run tells how often
# it happened. A program that printed anything keeps its result.
set -uo pipefail
printed="$(mktemp)"
trap 'rm -f "$printed"' EXIT
for attempt in 1 2; do
  wine "$@" | tee "$printed"
  code=${PIPESTATUS[0]}
  if ((code == 0 || attempt == 2)) || [[ -s $printed ]]; then exit "$code"; fi
  echo "wine-run: ${1##*/} ended with code $code before printing anything; starting it again" >&2
  if [[ -n ${QN_WINE_RESTARTS:-} ]]; then echo "$(date +%T) code $code: $*" >>"$QN_WINE_RESTARTS"; fi
done
