# Sourced by the scripts that run Windows builds: one display, one throwaway
# prefix with code page 936, one persistent wineserver for the whole run.
# Everything it starts is ended on exit.
#
# It also decides, once, which Wine loader runs programs here. Some kernels
# run no 32-bit programs at all; with wine32 installed, /usr/bin/wine (and so
# wineboot) starts the 32-bit loader first and fails there. On such a machine
# the 64-bit loader runs every 64-bit program, and the 32-bit passes are
# skipped. Scripts run Windows programs as "$KW_WINE" PROGRAM and ask
# kw_runs_32bit before a 32-bit pass; KW_NO_32BIT says why it cannot run.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  export KW_WINE=wine KW_NO_32BIT=
else
  export KW_WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64
  if [ -e /usr/lib/wine/wine ]; then
    export KW_NO_32BIT="32-bit passes skipped: this machine runs no 32-bit programs"
  else
    export KW_NO_32BIT="32-bit passes skipped: 32-bit Wine is not installed"
  fi
fi

kw_runs_32bit() {
  [ -z "$KW_NO_32BIT" ]
}

kw_wine_cleanup() {
  if [ -n "${KW_WINE_STARTED:-}" ]; then
    WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
  fi
  [ -n "${KW_XVFB_PID:-}" ] && kill "$KW_XVFB_PID" 2>/dev/null || true
  [ -n "${KW_WINE_ROOT:-}" ] && rm -rf "$KW_WINE_ROOT"
  return 0
}

kw_start_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${KW_HEADLESS:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  KW_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "wine-session: Xvfb did not come up on $DISPLAY" >&2
  return 1
}

kw_start_wine() {
  # Wine takes the code page from the locale; a pass may choose another one.
  unset LC_ALL LC_CTYPE LC_MESSAGES
  export LANG=zh_CN.UTF-8
  export WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
  KW_WINE_ROOT=$(mktemp -d /tmp/keywarden-wine.XXXXXX)
  export WINEPREFIX="$KW_WINE_ROOT/prefix"
  trap kw_wine_cleanup EXIT
  kw_start_display
  "$KW_WINE" wineboot.exe -i >"$KW_WINE_ROOT/wineboot.log" 2>&1
  WINEPREFIX="$WINEPREFIX" wineserver -w
  wineserver -p >/dev/null 2>&1 &
  KW_WINE_STARTED=1
  # One virtual desktop with a taskbar and notification area for every
  # program, no sound device, no crash dialog that would wait for a click.
  "$KW_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
  "$KW_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
  "$KW_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
  "$KW_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}
