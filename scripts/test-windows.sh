#!/usr/bin/env bash
# Builds build-windows/ and runs its tests under Wine: a fresh Wine prefix
# and one persistent wineserver for the run, both under build-windows/wine,
# ended and removed afterwards, so nothing is left on the machine. Exit 0
# only when every test passed. When the Linux program has been built
# (build/bin/qndbmgr, scripts/test.sh), the Windows program's answers to a
# workstation are compared with its answers.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
out="$root/build-windows"

bash "$here/build-windows.sh"
# The window's tests show real windows: without a display of its own the
# run goes on under a virtual one (Xvfb), which ends with it.
if [[ -z ${DISPLAY:-} ]]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "${BASH_SOURCE[0]}" "$@"
fi
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "test-windows: generating the locale ru_RU.UTF-8"
  if ((EUID == 0)); then localedef -i ru_RU -f UTF-8 ru_RU.UTF-8; else sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8; fi
fi

# The Windows of the program's users is Russian: the ANSI code page the "A"
# functions use is Windows-1251.
export LANG=ru_RU.UTF-8
unset LC_ALL LC_CTYPE
export WINEPREFIX="$out/wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# Started with no descriptor of ours: a caller's lock or pipe held by the
# long-lived server would keep that caller waiting.
detached() {
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      if ((fd > 2)); then eval "exec $fd>&-"; fi
    done
    exec "$@" </dev/null
  )
}

stop_wine() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$out/wine"
}
trap stop_wine EXIT

stop_wine
mkdir -p "$WINEPREFIX"
started=$SECONDS
detached wineserver -p
detached wine wineboot --init >/dev/null 2>&1
echo "test-windows: Wine prefix ready in $((SECONDS - started)) s"

export QN_WINE_RESTARTS="$out/wine-restarts.txt"
rm -f "$QN_WINE_RESTARTS"
cd "$out"
status=0
ctest --output-on-failure --timeout 600 -j "$(nproc 2>/dev/null || echo 2)" || status=$?
if [[ -s $QN_WINE_RESTARTS ]]; then
  echo "test-windows: Wine ended $(wc -l <"$QN_WINE_RESTARTS") program(s) before they ran; each was started again:"
  cat "$QN_WINE_RESTARTS"
fi
exit "$status"
