#!/usr/bin/env bash
# The Wine test environment: a reused 64-bit prefix that renders Chinese under a zh_CN locale,
# with a virtual desktop, on its own Xvfb display.
#   setup STATE_DIR KEEPER_EXE [ARGS]  create or reuse the prefix, start Xvfb, Wine and the keeper
#                                      (runs until ended); writes STATE_DIR/env.list (KEY="VALUE")
#   cleanup STATE_DIR                  stop Wine and Xvfb (the prefix is kept)
#   run STATE_DIR PROGRAM ARGS         run a Windows program in it (CTest's emulator)
# Long-lived processes log to STATE_DIR/*.log: CTest would wait on our stdout if they inherited it.
set -euo pipefail

cmd=${1:?usage: wine_env.sh setup|cleanup|run STATE_DIR ...}
state=$(mkdir -p "${2:?state dir}" && cd "$2" && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver

load_env() {
  set -a
  # Quiet: bash itself warns that it cannot take on LC_ALL, which is meant for Wine.
  # shellcheck disable=SC1091
  . "$state/env.list" 2>/dev/null
  set +a
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY no_proxy
}

write_env() {
  cat >"$state/env.list" <<LIST
WINEPREFIX="$state/prefix"
WINEARCH="win64"
WINEDEBUG="-all"
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
LOCPATH="$state/locale"
LC_ALL="zh_CN.UTF-8"
LANG="zh_CN.UTF-8"
DISPLAY="$1"
WINE="$wine"
WINESERVER="$wineserver"
LIST
}

make_locale() {
  [ -d "$state/locale/zh_CN.UTF-8" ] && return
  mkdir -p "$state/locale"
  # localedef warns (exit 1) about harmless details of the zh_CN source; the result is what counts.
  localedef -i zh_CN -f UTF-8 "$state/locale/zh_CN.UTF-8" >"$state/localedef.log" 2>&1 || true
  [ -d "$state/locale/zh_CN.UTF-8" ] || { cat "$state/localedef.log" >&2; exit 1; }
}

make_prefix() {
  [ -f "$state/prefix/.sealupdate-ready-2" ] && return
  rm -rf "$state/prefix"
  echo "wine_env: creating the Wine prefix (about 25 s, once)"
  (
    load_env
    "$wine" wineboot -i
    "$wineserver" -w
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    cp /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
    cp /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$fonts/"
    link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif" "Microsoft Sans Serif" System SimSun; do
      "$wine" reg add "$link" /v "$face" /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f
    done
    # One virtual desktop for every program: window-manager-like frames and fixed geometry.
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
    # Debian's wine.inf lacks the .txt association that opening a text package needs.
    "$wine" reg add 'HKCR\.txt' /ve /d txtfile /f
    "$wineserver" -w
  ) >"$state/prefix-setup.log" 2>&1 || { cat "$state/prefix-setup.log" >&2; exit 1; }
  touch "$state/prefix/.sealupdate-ready-2"
}

start_xvfb() {
  # Xvfb picks a free display itself and writes its number once it accepts clients.
  rm -f "$state/display"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" \
    >"$state/xvfb.log" 2>&1 </dev/null &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 1 200); do
    [ -s "$state/display" ] && { echo ":$(cat "$state/display")"; return; }
    kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null && sleep 0.05 || break
  done
  echo "wine_env: could not start Xvfb" >&2
  exit 1
}

stop() {
  [ -f "$state/env.list" ] && (load_env && "$wineserver" -k) >/dev/null 2>&1 || true
  [ -f "$state/xvfb.pid" ] && kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  rm -f "$state/xvfb.pid"
}

case "$cmd" in
  setup)
    [ $# -gt 2 ] || { echo "wine_env.sh setup: no keeper exe" >&2; exit 2; }
    stop
    make_locale
    display=$(start_xvfb)
    write_env "$display"
    make_prefix
    load_env
    setsid "$wineserver" -p >"$state/wineserver.log" 2>&1 </dev/null &
    setsid "$wine" "${@:3}" >"$state/keeper.log" 2>&1 </dev/null &
    # Wait until the desktop is up, so the first test does not pay for it.
    "$wine" cmd /c exit >/dev/null 2>&1 </dev/null || true
    echo "wine_env: ready on $DISPLAY with $WINEPREFIX"
    ;;
  cleanup) stop ;;
  run) load_env && shift 2 && exec "$wine" "$@" ;;
  *) echo "usage: wine_env.sh setup|cleanup|run STATE_DIR [KEEPER_EXE ARGS... | PROGRAM ARGS...]" >&2; exit 2 ;;
esac
