#!/usr/bin/env bash
# The full fault sweeps under AddressSanitizer and LeakSanitizer: whole filter
# runs of the plug-in (linked into tests/sweep's program) with one fault at
# the N-th opportunity, for every N until a run completes without meeting
# it, on every document; first with all runs in one process, as in a host
# that keeps the plug-in loaded ("warm"), then with every run in a process
# of its own that never ran the plug-in before, followed by an undisturbed
# run ("cold": first-use allocations, and whether a failure spoils later
# runs). Prints per kind and document the runs made, the N of the first run
# that completed, the failures found (0 expected), the runs that failed
# after the result was delivered ("late", which hosts revert), the runs that
# warned of low memory and drew fewer effects ("warned"), and the
# opportunities an undisturbed run has ("per-run").
#   scripts/sweep.sh [--warm | --cold] [KIND...] [fault_sweep options...]
# KIND: alloc host-alloc advance cancel progress-cancel (default: all).
# Options go to the program as they are, e.g. --doc rgb8, --show (the stack
# of every failed allocation and the log of every fault), --from N --to N.
# The test suites run the same program sampled (ctest label "sweep").
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$root"

passes=(warm cold)
args=()
for arg in "$@"; do
  case "$arg" in
    -h | --help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    --warm) passes=(warm) ;;
    --cold) passes=(cold) ;;
    *) args+=("$arg") ;;
  esac
done

ensure_setup
echo "== building the sweep (linux-asan)" >&2
cmake --preset linux-asan -DGLIMMARK_WERROR=ON >/dev/null
cmake --build build/linux-asan -j"$jobs" --target fault_sweep >/dev/null

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1"
status=0
for pass in "${passes[@]}"; do
  echo "== $pass"
  extra=()
  [ "$pass" = cold ] && extra=(--cold)
  build/linux-asan/bin/fault_sweep "${extra[@]}" "${args[@]+"${args[@]}"}" || status=1
done
exit $status
