# A primed Wine prefix and an Xvfb display for the win64 suites.
#
# The first Wine process of a prefix starts wineserver and Wine's service
# processes, which inherit its stdout/stderr; a caller that reads that output
# (CTest does) would wait for them to exit. So the prefix is initialised and
# the services are started here with their output on /dev/null, and the
# server is kept alive (-p) until wine_stop.
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

wine_start() {
  local build="$1" n
  mkdir -p "$build"
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then break; fi
  done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  "$WINE64" wineboot --init </dev/null >/dev/null 2>&1
  "$WINESERVER" -w
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1
}

wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
  wait "$XVFB_PID" 2>/dev/null || true
}
