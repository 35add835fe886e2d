# Sourced by the scripts that run Windows builds: one display, one throwaway
# prefix with code page 936, one persistent wineserver for the whole run.
# Everything it starts is ended on exit.

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
  wineboot -i >"$KW_WINE_ROOT/wineboot.log" 2>&1
  WINEPREFIX="$WINEPREFIX" wineserver -w
  wineserver -p >/dev/null 2>&1 &
  KW_WINE_STARTED=1
  # One virtual desktop with a taskbar and notification area for every
  # program, no sound device, no crash dialog that would wait for a click.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 1024x768 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d '' /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}
