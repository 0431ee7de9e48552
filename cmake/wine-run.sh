#!/bin/sh
# Runs a 64-bit Windows test program under Wine, quietly. CMake uses it as the
# cross-compiling emulator (one program, so test discovery passes it intact).
WINEDEBUG=${WINEDEBUG:--all}
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEDEBUG WINEDLLOVERRIDES
exec /usr/lib/wine/wine64 "$@"
