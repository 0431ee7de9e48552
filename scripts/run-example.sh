#!/usr/bin/env bash
# The main job: apply the filter to the bundled sample photo with the native
# module and our own host, and write the result.
#   scripts/run-example.sh [IN.png [OUT.png [glimmark apply options...]]]
# It starts from the factory settings every time; options given after
# OUT.png change single settings from there.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
in="${1:-$root/examples/stars_over_mountains.png}"
out="${2:-$root/out/$(basename "${in%.*}")_glimmark.png}"
ensure_setup
# Quiet when the build succeeds; when it fails, the end of its log says why.
build_log="$(mktemp)"
trap 'rm -f "$build_log"' EXIT
if ! { cmake --preset linux -S "$root" >"$build_log" 2>&1 &&
       cmake --build "$root/build/linux" --target glimmark glimmark_plugin -j"$jobs" >>"$build_log" 2>&1; }; then
  tail -n 80 "$build_log" >&2
  echo "run-example: building the native tool and module failed (end of the build log above)" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
# Settings of its own, so that the result does not depend on earlier runs.
export XDG_CONFIG_HOME="$root/out/.config" XDG_DATA_HOME="$root/out/.data"
factory=(--quantity 50 --intensity 50 --length 50 --angle 15 --points 6 --sharpness 50 --saturation 30 --flare 30)
"$root/build/linux/bin/glimmark" apply "$in" "$out" --no-registry "${factory[@]}" "${@:3}"
echo "wrote $out"
