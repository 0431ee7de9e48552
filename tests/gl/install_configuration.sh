#!/usr/bin/env bash
# InstallConfiguration as an installer runs it: rundll32 with the product
# version as its command line, the result read with reg query. Each row:
# the mode stored before (none: no key) and the mode expected after. Wine's
# Mesa is accelerated and reports OpenGL 4.5, whose default is 1 (quality).
#   install_configuration.sh WINE_RUNNER MODULE
set -uo pipefail
runner="$1"
module="Z:$(realpath "$2" | tr / '\\')"
key='HKLM\Software\Brightwerk Software\Glimmark\2.0\OpenGLSettings'
failed=0
for row in none:1 1:1 2:2 3:3 4:4 7:1 0:1; do
  before=${row%%:*}
  expected=${row##*:}
  "$runner" reg delete "$key" /f >/dev/null 2>&1
  if [ "$before" != none ]; then
    "$runner" reg add "$key" /v OpenGLOptimizationSetting /t REG_DWORD /d "$before" /f >/dev/null 2>&1
  fi
  start=$(date +%s.%N)
  "$runner" rundll32 "$module",InstallConfiguration 2.0.0.1 >/dev/null 2>&1
  seconds=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  out=$("$runner" reg query "$key" 2>/dev/null | tr -d '\r')
  mode=$(sed -n 's/.*OpenGLOptimizationSetting *REG_DWORD *0x\([0-9a-fA-F]*\).*/\1/p' <<<"$out")
  version=$(sed -n 's/.*InstalledProductVersion *REG_SZ *\(.*\)$/\1/p' <<<"$out")
  echo "stored $before -> mode ${mode:-missing}, version '${version}' (rundll32 run ${seconds} s)"
  if [ "$mode" != "$expected" ] || [ "$version" != "2.0.0.1" ]; then
    echo "  expected mode $expected and version 2.0.0.1"
    failed=1
  fi
done
"$runner" reg delete "$key" /f >/dev/null 2>&1
exit $failed
