#!/usr/bin/env bash
# Times `glimmark apply` on a 6000x4000 8-bit night photo, at factory
# settings and at --quantity 100, on one processor (taskset -c 0) and on all,
# and prints the median of 3 runs of each phase the tool reports with
# --timings. Run on demand; not part of the test suites.
#   scripts/bench-apply.sh [RUNS]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"

runs="${1:-3}"
case "$runs" in '' | *[!0-9]* | 0) echo "usage: $0 [RUNS]" >&2; exit 2 ;; esac

echo "== building the native tool and module" >&2
cmake --preset linux >/dev/null
cmake --build build/linux -j"$jobs" --target glimmark glimmark_plugin make_night_photo >/dev/null

data="$root/build/bench-data"
photo="$data/night_6000x4000.png"
mkdir -p "$data"
if [ ! -f "$photo" ]; then
  echo "== making $photo (once)" >&2
  build/linux/bin/make_night_photo tests/data/photos/stars_over_mountains.png "$photo" 6000 4000
fi

have_taskset=1
command -v taskset >/dev/null 2>&1 || have_taskset=0
[ "$have_taskset" = 1 ] || echo "taskset not found: the one-processor columns are left out" >&2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
results="$work/results.tsv"  # configuration, run, phase, milliseconds
: >"$results"

# One run with a configuration and data folder of its own, so that every run
# starts from the same (factory or given) settings.
run_once() {
  local config="$1" run="$2" home="$work/home-$1-$2"
  shift 2
  mkdir -p "$home"
  local prefix=()
  case "$config" in one-*) prefix=(taskset -c 0) ;; esac
  if ! XDG_CONFIG_HOME="$home" XDG_DATA_HOME="$home" HOME="$home" TMPDIR="$home" \
      "${prefix[@]}" build/linux/bin/glimmark apply "$photo" "$work/out.png" --timings "$@" 2>"$work/stderr"; then
    cat "$work/stderr" >&2
    echo "glimmark failed ($config, run $run)" >&2
    exit 1
  fi
  # "name: 123.4 ms ..." lines; notes after the number are dropped.
  sed -nE 's/^([^:]+): ([0-9]+(\.[0-9]+)?) ms.*$/\1\t\2/p' "$work/stderr" |
    while IFS=$'\t' read -r phase ms; do printf '%s\t%s\t%s\t%s\n' "$config" "$run" "$phase" "$ms"; done >>"$results"
}

configs=()
for setting in factory quantity100; do
  for threads in one all; do
    [ "$threads" = one ] && [ "$have_taskset" = 0 ] && continue
    configs+=("$threads-$setting")
  done
done

for config in "${configs[@]}"; do
  args=()
  case "$config" in *-quantity100) args=(--quantity 100) ;; esac
  for run in $(seq 1 "$runs"); do
    echo "== $config, run $run of $runs" >&2
    run_once "$config" "$run" "${args[@]}"
  done
done

echo
echo "glimmark apply, $(basename "$photo"), median of $runs runs, milliseconds"
echo "(one = taskset -c 0; all = every processor; decode and encode are file times, not part of the run)"
awk -F'\t' -v configs="${configs[*]}" '
  BEGIN { n = split(configs, order, " ") }
  {
    key = $1 SUBSEP $3
    if (!($3 in seen)) { seen[$3] = 1; phases[++p] = $3 }
    values[key] = values[key] " " $4
  }
  function median(list,    a, k, i, j, t) {
    k = split(list, a, " ")
    if (k == 0) return "-"
    for (i = 2; i <= k; ++i) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return (k % 2) ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
  }
  END {
    printf "%-34s", "phase"
    for (c = 1; c <= n; ++c) printf " %16s", order[c]
    printf "\n"
    for (i = 1; i <= p; ++i) {
      printf "%-34s", phases[i]
      for (c = 1; c <= n; ++c) {
        m = median(values[order[c] SUBSEP phases[i]])
        if (m == "-") printf " %16s", m; else printf " %16.1f", m
      }
      printf "\n"
    }
  }' "$results"
