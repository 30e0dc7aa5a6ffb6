# Shared by the scripts: a virtual display and a persistent Wine server for the build tree's own
# prefix, both stopped again by stop_session (call it from an EXIT trap).
# shellcheck shell=bash

ORVALO_XVFB_PID=""
ORVALO_SESSION_BUILD=""

# start_display: a display for windows. An existing $DISPLAY is used as it is unless
# ORVALO_HEADLESS=1; otherwise a private Xvfb is started.
start_display() {
  if [ -n "${DISPLAY:-}" ] && [ "${ORVALO_HEADLESS:-0}" != 1 ]; then return; fi
  local fdfile
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -nolisten unix \
    3>"$fdfile" </dev/null >/dev/null 2>&1 &
  ORVALO_XVFB_PID=$!
  local i
  for i in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  if [ ! -s "$fdfile" ]; then
    echo "Xvfb did not start" >&2
    rm -f "$fdfile"
    return 1
  fi
  export DISPLAY=":$(head -n1 "$fdfile")"
  rm -f "$fdfile"
}

# start_wine BUILD_DIR: the server stays up for the whole run so that each Windows program starts
# in milliseconds instead of seconds. Its output is detached: Wine's service processes inherit
# open descriptors, and a caller that waits for them to close (CTest) would wait forever.
# ORVALO_WINEPREFIX (and ORVALO_WINEHOME) choose another prefix than the build tree's test prefix.
start_wine() {
  ORVALO_SESSION_BUILD=$1
  export WINEPREFIX="${ORVALO_WINEPREFIX:-$ORVALO_SESSION_BUILD/wineprefix}"
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
  "$ORVALO_SESSION_BUILD/wine-run" wineboot </dev/null >/dev/null 2>&1
  # A bare X server has no window manager: unmanaged windows spare Wine its two-second wait for
  # a manager's answer whenever a window is hidden or destroyed.
  "$ORVALO_SESSION_BUILD/wine-run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
  # A program that crashes ends at once with its backtrace on its standard error, instead of
  # waiting behind Wine's crash dialog for a click that never comes (and a test for its time-out).
  "$ORVALO_SESSION_BUILD/wine-run" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
}

# keep_desktop_open (after start_wine, for measurements): Windows' desktop is always there, while
# Wine's ends a few seconds after the last program that used it and starts again with the next
# one, a third of a second that a measurement after a pause would count. A program waiting for a
# window that never comes holds it open until stop_session ends the Wine server.
keep_desktop_open() {
  "$ORVALO_SESSION_BUILD/wine-run" "$ORVALO_SESSION_BUILD/bin/ui_driver.exe" wait OrvaloNoSuchWindow 86400000 \
    </dev/null >/dev/null 2>&1 &
}

stop_session() {
  if [ -n "$ORVALO_SESSION_BUILD" ]; then
    WINEPREFIX="${ORVALO_WINEPREFIX:-$ORVALO_SESSION_BUILD/wineprefix}" /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
    ORVALO_SESSION_BUILD=""
  fi
  if [ -n "$ORVALO_XVFB_PID" ]; then
    kill "$ORVALO_XVFB_PID" 2>/dev/null || true
    wait "$ORVALO_XVFB_PID" 2>/dev/null || true
    ORVALO_XVFB_PID=""
  fi
}

# configure_and_build BUILD_DIR
configure_and_build() {
  local build=$1
  cmake -S "$ORVALO_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -- -j"$(nproc)"
}
