#!/usr/bin/env bash
# Times `glimmark apply` on a 6000x4000 night photo as an 8-bit, 16-bit and
# float document, at factory settings and at --quantity 100, on one
# processor (taskset -c 0) and on all, and prints each phase the filter
# reports with --timings in milliseconds and as a multiple of the memory
# floor (one plain copy of the document in its host layout, measured here
# in the same run), with the run's resident peak. Run on demand; not part
# of the test suites.
#   scripts/bench-apply.sh [RUNS] [DEPTHS]
# RUNS (default 3) runs per configuration: the first run of a process pays
# for first touches of fresh memory, so the tool repeats the run in one
# process (--repeat) and the steady state is the median of runs 2..RUNS.
# DEPTHS: any of "8 16 float" (default all three).
# GLIMMARK_BENCH_TOOL=PATH times another build's tool (one without --repeat
# is started RUNS times, and every run counts as a first run).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"

runs="${1:-3}"
depths="${2:-8 16 float}"
case "$runs" in '' | *[!0-9]* | 0) echo "usage: $0 [RUNS] [DEPTHS]" >&2; exit 2 ;; esac
for d in $depths; do
  case "$d" in 8 | 16 | float) ;; *) echo "unknown depth '$d' (8, 16 or float)" >&2; exit 2 ;; esac
done

echo "== building the native tool, module and bench helpers" >&2
cmake --preset linux >/dev/null
cmake --build build/linux -j"$jobs" --target glimmark glimmark_plugin make_night_photo memory_floor >/dev/null
tool="${GLIMMARK_BENCH_TOOL:-$root/build/linux/bin/glimmark}"

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
repeats=0
"$tool" --help 2>&1 | grep -q -- '--repeat' && repeats=1

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
results="$work/results.tsv"  # configuration, run, phase, value
: >"$results"

# The floor of each depth: 6000 x 4000 pixels, three planes.
declare -A floor
while IFS=$'\t' read -r bytes ms; do
  case "$bytes" in 72000000) floor[8]=$ms ;; 144000000) floor[16]=$ms ;; 288000000) floor[float]=$ms ;; esac
done < <(build/linux/bin/memory_floor 72000000 144000000 288000000)

# One process with a configuration and data folder of its own, so that every
# run starts from the same settings. Its runs are numbered from `first`.
run_process() {
  local config="$1" first="$2" count="$3" home="$work/home-$1-$2"
  shift 3
  mkdir -p "$home"
  local prefix=() repeat=()
  case "$config" in one-*) prefix=(taskset -c 0) ;; esac
  [ "$count" -gt 1 ] && repeat=(--repeat "$count")
  if ! XDG_CONFIG_HOME="$home" XDG_DATA_HOME="$home" HOME="$home" TMPDIR="$home" \
      "${prefix[@]}" "$tool" apply "$photo" "$work/out.tif" --timings "${repeat[@]}" "$@" 2>"$work/stderr"; then
    cat "$work/stderr" >&2
    echo "glimmark failed ($config)" >&2
    exit 1
  fi
  # "name: 123.4 ms" lines, "run K of N" headers and the memory lines.
  awk -v config="$config" -v first="$first" '
    BEGIN { run = first }
    /^run [0-9]+ of [0-9]+$/ { run = first + $2 - 1; next }
    /^memory: peak / { printf "%s\t%d\tpeak resident (MB)\t%s\n", config, run, $3; next }
    /^memory: the run added / { printf "%s\t%d\tmemory added (x document)\t%s\n", config, run, $5; next }
    /^(decode|encode): / { next }
    match($0, /^[^:]+: [0-9.]+ ms/) { split($0, a, ": "); sub(/ ms.*/, "", a[2]); printf "%s\t%d\t%s\t%s\n", config, run, a[1], a[2] }
  ' "$work/stderr" >>"$results"
}

configs=()
for depth in $depths; do
  for setting in factory q100; do
    for threads in one all; do
      [ "$threads" = one ] && [ "$have_taskset" = 0 ] && continue
      configs+=("$threads-$depth-$setting")
    done
  done
done

for config in "${configs[@]}"; do
  args=()
  case "$config" in *-q100) args+=(--quantity 100) ;; esac
  case "$config" in *-16-*) args+=(--mode rgb16) ;; *-float-*) args+=(--mode rgb32) ;; esac
  echo "== $config" >&2
  if [ "$repeats" = 1 ]; then
    run_process "$config" 1 "$runs" "${args[@]}"
  else
    for run in $(seq 1 "$runs"); do run_process "$config" 1 1 "${args[@]}"; done
  fi
done

floors="8=${floor[8]:-0} 16=${floor[16]:-0} float=${floor[float]:-0}"
echo
echo "glimmark apply, $(basename "$photo") ($tool)"
echo "memory floor (one copy of the document in host layout): 8-bit ${floor[8]:-?} ms, 16-bit ${floor[16]:-?} ms, float ${floor[float]:-?} ms"
echo "one = taskset -c 0, all = every processor; milliseconds, (x floor of that depth)"
awk -F'\t' -v configs="${configs[*]}" -v floors="$floors" -v repeats="$repeats" '
  BEGIN {
    n = split(configs, order, " ")
    k = split(floors, f, " ")
    for (i = 1; i <= k; ++i) { split(f[i], kv, "="); floorOf[kv[1]] = kv[2] }
  }
  {
    if (!($3 in seen)) { seen[$3] = 1; phases[++p] = $3 }
    # Runs of one process after the first are the steady state; without
    # --repeat every run is a first run.
    kind = (repeats == 1 && $2 > 1) ? "steady" : "first"
    values[kind SUBSEP $1 SUBSEP $3] = values[kind SUBSEP $1 SUBSEP $3] " " $4
  }
  function median(list,    a, m, i, j, t) {
    m = split(list, a, " ")
    if (m == 0) return ""
    for (i = 2; i <= m; ++i) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; --j) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return (m % 2) ? a[(m + 1) / 2] : (a[m / 2] + a[m / 2 + 1]) / 2
  }
  function table(kind, title,    c, i, m, cell, depth, parts) {
    printf "\n%s\n%-26s", title, "phase"
    for (c = 1; c <= n; ++c) printf " %19s", order[c]
    printf "\n"
    for (i = 1; i <= p; ++i) {
      printf "%-26s", phases[i]
      for (c = 1; c <= n; ++c) {
        m = median(values[kind SUBSEP order[c] SUBSEP phases[i]])
        split(order[c], parts, "-"); depth = parts[2]
        if (m == "") cell = "-"
        else if (phases[i] ~ /memory|resident/) cell = sprintf("%.2f", m)
        else if (floorOf[depth] > 0) cell = sprintf("%.0f (%.0fx)", m, m / floorOf[depth])
        else cell = sprintf("%.0f", m)
        printf " %19s", cell
      }
      printf "\n"
    }
  }
  END {
    table("first", "first run of a process (median over processes without --repeat)")
    if (repeats == 1) table("steady", "steady state (median of runs 2 and later)")
  }' "$results"
