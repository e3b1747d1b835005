#!/usr/bin/env bash
# Screenshots of the Windows program under Wine on a virtual display, for
# people to look at (not a test): the main window with two databases, its
# messages page, the properties dialog's pages and the tray icon in Wine's
# desktop. Needs build-windows/bin/qndbmgr.exe (scripts/build-windows.sh).
# Writes build-windows/screenshots/*.png; uses a Wine prefix and a program
# folder of its own, removed at the end.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(dirname "$here")"
out="$root/build-windows"
exe="$out/bin/qndbmgr.exe"
[[ -f $exe ]] || { echo "windows-screenshots: build $exe first (scripts/build-windows.sh)" >&2; exit 1; }

readonly PACKAGES=(xvfb xauth xdotool imagemagick wine wine64)
bash "$here/ensure-packages.sh" "${PACKAGES[@]}"

# A display of its own, whatever the caller has: the shots show nothing else.
if [[ -z ${QN_SHOTS_DISPLAY:-} ]]; then
  QN_SHOTS_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "${BASH_SOURCE[0]}" "$@"
fi

shots="$out/screenshots"
mkdir -p "$shots"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export LANG=ru_RU.UTF-8
unset LC_ALL LC_CTYPE
cleanup() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

folder="$work/Программа"
mkdir -p "$folder"
cp "$exe" "$folder/"
# Two databases, and the window's place on this screen, so that the clicks
# below find its controls.
iconv -f UTF-8 -t WINDOWS-1251 >"$folder/settings.xml" <<'XML'
<?xml version="1.0" encoding="Windows-1251"?>
<settings>
  <PIN>SHOTS1</PIN>
  <data_state>initialized</data_state>
  <data>
    <db0000>
      <path>localhost/53030:C:\Бухгалтерия\tx.fd3</path>
      <user>SYSDBA</user>
      <pwd>quillfern</pwd>
      <caption>Тарвекс 7</caption>
    </db0000>
    <db0001>
      <path>localhost:D:\Архив\old.fdb</path>
      <user>SYSDBA</user>
      <pwd>quillfern</pwd>
      <caption>Склад</caption>
    </db0001>
  </data>
  <visual><main><w1024><state>std</state><bounds>
    <left>100</left><top>60</top><right>640</right><bottom>465</bottom>
  </bounds></w1024></main></visual>
</settings>
XML
# No info servers: the shots need none, and the machine's port 7983 stays free.
touch "$folder/ignore-udp.txt" "$folder/ignore-tcp.txt"
wine wineboot --init >/dev/null 2>&1
# The private server counts as installed: no question about installing it.
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\FBDBServer_3_0_QN_is1' /f >/dev/null 2>&1

shot() {
  sleep 2
  import -window root "$shots/$1.png"
  echo "windows-screenshots: $shots/$1.png"
}
click() {
  xdotool mousemove "$1" "$2" click 1
}

# Wine's own desktop draws the windows' frames and captions and the tray.
(cd "$folder" && wine explorer /desktop=qndbmgr,1024x768 qndbmgr.exe >/dev/null 2>&1) &
xdotool search --sync --name qndbmgr >/dev/null
sleep 6
shot 1-main-window
click 240 97   # the page "Сообщения"
shot 2-messages
click 155 97   # the page "Базы данных"
click 160 403  # "Свойства" of the first row
shot 3-properties-connection
click 220 136  # its page "Архивация"
shot 4-properties-backup
click 309 136  # its page "Дополнительно"
shot 5-properties-more
xdotool key Escape
xdotool mousemove 1013 757 click 3  # the tray icon's menu
shot 6-tray-menu
xdotool key Escape
