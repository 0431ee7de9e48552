#!/usr/bin/env bash
# The main job: apply the filter to the bundled sample photo with the native
# module and our own host, and write the result.
#   scripts/run-example.sh [IN.png [OUT.png]]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
in="${1:-$root/examples/stars_over_mountains.png}"
out="${2:-$root/out/$(basename "${in%.*}")_glimmark.png}"
ensure_setup
cmake --preset linux -S "$root" >/dev/null
cmake --build "$root/build/linux" --target glimmark glimmark_plugin -j"$jobs" >/dev/null
mkdir -p "$(dirname "$out")"
"$root/build/linux/bin/glimmark" apply "$in" "$out"
echo "wrote $out (effects are not rendered yet: the photo passes through the plug-in unchanged)"
