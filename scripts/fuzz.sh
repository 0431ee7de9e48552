#!/usr/bin/env bash
# Runs a fuzz target of tests/fuzz (libFuzzer, clang; the fuzz preset):
#   scripts/fuzz.sh [--smoke] TARGET SECONDS [libFuzzer options...]
#   scripts/fuzz.sh [--smoke] all SECONDS [libFuzzer options...]   (each target in turn)
#   scripts/fuzz.sh --list                                          (the targets)
# Builds what is needed, then fuzzes for SECONDS over the working corpus
# build/fuzz/corpus/TARGET, which starts as a copy of the committed seeds
# (tests/fuzz/corpus/TARGET) and keeps what the runs add. --smoke fuzzes a
# throw-away copy of the seeds instead (CI). Findings (crash, leak, timeout,
# out of memory) land in build/fuzz/artifacts/TARGET; to replay one:
#   build/fuzz/bin/fuzz_TARGET FILE
# Prints each run's executions and findings; exits non-zero on a finding.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Target and its -max_len: room for the inputs it reads, no more.
declare -A max_len=([parameter_file]=512 [user_settings]=512 [descriptor]=8192 [host_state]=16384
                    [icc_profile]=32768 [image_file]=32768)
targets=(parameter_file user_settings descriptor host_state icc_profile image_file)

usage() { echo "usage: scripts/fuzz.sh [--smoke] TARGET|all SECONDS [libFuzzer options...]   targets: ${targets[*]}"; }
if [ "${1:-}" = --list ]; then echo "${targets[*]}"; exit 0; fi
smoke=0
if [ "${1:-}" = --smoke ]; then smoke=1; shift; fi
if [ $# -lt 2 ] || ! [[ "$2" =~ ^[0-9]+$ ]]; then usage >&2; exit 2; fi
what="$1" seconds="$2"
shift 2
if [ "$what" = all ]; then
  run=("${targets[@]}")
elif [ -n "${max_len[$what]:-}" ]; then
  run=("$what")
else
  echo "scripts/fuzz.sh: unknown target '$what'" >&2
  usage >&2
  exit 2
fi

ensure_setup
cd "$root"
build=build/fuzz
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset fuzz >"$build.configure.log" 2>&1 || { tail -n 40 "$build.configure.log"; exit 1; }
  rm -f "$build.configure.log"
fi
cmake --build "$build" -j"$jobs" --target "${run[@]/#/fuzz_}" >"$build.build.log" 2>&1 ||
  { tail -n 60 "$build.build.log"; exit 1; }
rm -f "$build.build.log"

# The targets' private homes go to memory when possible: a settings file is
# flushed to disk at every save.
scratch_root=/dev/shm
[ -d "$scratch_root" ] && [ -w "$scratch_root" ] || scratch_root="$root/$build/tmp"
mkdir -p "$scratch_root"
# A shorter quarantine and no fill of new blocks make the many small
# allocations of an iteration cheaper; use-after-free within the last 16 MB
# of freed memory is still found.
export ASAN_OPTIONS="${ASAN_OPTIONS:-max_malloc_fill_size=0:quarantine_size_mb=16}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

status=0
for target in "${run[@]}"; do
  artifacts="$root/$build/artifacts/$target"
  mkdir -p "$artifacts" "$build/logs"
  scratch=$(mktemp -d "$scratch_root/glimmark-fuzz-$target.XXXXXX")
  if [ "$smoke" = 1 ]; then
    corpus="$scratch/corpus"
  else
    corpus="$root/$build/corpus/$target"
  fi
  mkdir -p "$corpus"
  cp -n tests/fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null
  stamp="$scratch/started"
  touch "$stamp"
  log="$build/logs/$target.log"
  echo "== fuzz $target for ${seconds} s ($(ls "$corpus" | wc -l) inputs in $corpus)"
  TMPDIR="$scratch" "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
    -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus" >"$log" 2>&1
  rc=$?
  new=$(find "$artifacts" -type f -newer "$stamp" -printf '%f\n')
  inputs=$(ls "$corpus" | wc -l)
  rm -rf "$scratch"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  echo "$target: ${runs:-?} executions (${speed:-?}/s), corpus $inputs inputs; log $log"
  if [ $rc != 0 ] || [ -n "$new" ]; then
    status=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed|.*invariant broken|.*runtime error)' "$log" | head -n 5
    for f in $new; do echo "$target: FINDING $artifacts/$f"; done
    [ -n "$new" ] || echo "$target: FINDING (libFuzzer exit status $rc; see $log)"
  else
    echo "$target: no findings"
  fi
done
exit $status
