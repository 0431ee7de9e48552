#!/usr/bin/env bash
# A machine without OpenGL: an X server of our own without its GLX
# extension, where Wine lists no pixel format at all. The contexts test that
# expects this, a preview window that must fail and leave nothing behind,
# the about box, which must say that the OpenGL version is unknown, then
# InstallConfiguration, which must report and return.
#   no_opengl.sh WINE_RUNNER GL_TESTS MODULE UI_TESTS
set -uo pipefail
runner="$1"
tests="$2"
module="Z:$(realpath "$3" | tr / '\\')"
ui_tests="$4"
for n in $(seq 141 190); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then break; fi
done
Xvfb ":$n" -extension GLX -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
export DISPLAY=":$n" GLIMMARK_EXPECT_NO_OPENGL=1
"$runner" "$tests" --gtest_filter='WglContextTest.WithoutOpenGL*:ProxyWindowTest.WithoutOpenGL*' || exit 1
"$runner" "$ui_tests" --gtest_filter='SmallDialogsTest.AboutBox*' || exit 1
key='HKLM\Software\Brightwerk Software\Glimmark\2.0\OpenGLSettings'
"$runner" reg delete "$key" /f >/dev/null 2>&1
"$runner" rundll32 "$module",InstallConfiguration 2.0.0.1 || { echo "rundll32 failed"; exit 1; }
# Nothing could be probed, so nothing is stored.
if "$runner" reg query "$key" /v OpenGLOptimizationSetting >/dev/null 2>&1; then
  echo "a mode was stored without OpenGL"
  exit 1
fi
echo "no OpenGL: contexts refused, InstallConfiguration reported and returned"
# No display at all: Wine cannot even make the hidden window.
(unset DISPLAY; "$runner" rundll32 "$module",InstallConfiguration 2.0.0.1) || { echo "rundll32 without a display failed"; exit 1; }
echo "no display: InstallConfiguration reported and returned"
