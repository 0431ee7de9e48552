#!/usr/bin/env bash
# Builds every preset and runs every suite:
#   native unit and module tests, the same under the sanitizer preset,
#   the win64 suites under wine64 (with an Xvfb of our own),
#   and the static checks of the 32-bit and 64-bit modules.
# Warnings in our own code are errors here.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_setup
cd "$root"

passed=0
failed=0
failures=()
start_time=$SECONDS

step() { echo; echo "== $*"; }
fail() { failures+=("$1"); }

# Adds the counts of a CTest run (its closing line) to the totals.
count_ctest() {
  local log="$1" name="$2" line total nfail
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then fail "$name: no test summary"; failed=$((failed + 1)); return; fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  nfail=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - nfail))
  failed=$((failed + nfail))
  [ "$nfail" = 0 ] || fail "$name: $nfail failed"
}

build_preset() {
  local preset="$1"
  step "configure and build: $preset"
  cmake --preset "$preset" -DGLIMMARK_WERROR=ON >"build-$preset.log" 2>&1 &&
    cmake --build "build/$preset" -j"$jobs" >>"build-$preset.log" 2>&1
  local rc=$?
  if [ $rc != 0 ]; then
    tail -n 60 "build-$preset.log"
    fail "$preset: build failed"
    failed=$((failed + 1))
  fi
  rm -f "build-$preset.log"
  return $rc
}

run_ctest() {
  local preset="$1" log
  shift
  log=$(mktemp)
  step "tests: $preset"
  (cd "build/$preset" && ctest --output-on-failure -j"$jobs" --timeout 300 "$@") 2>&1 | tee "$log" | grep -vE '^ +Start |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  count_ctest "$log" "$preset"
  rm -f "$log"
}

# Native and sanitizer builds.
if build_preset linux; then run_ctest linux; fi
if build_preset linux-asan; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest linux-asan
fi

# 32-bit module: built and checked statically (this machine runs no 32-bit code).
build_preset win32

# 64-bit module and its suites under Wine, with a primed prefix of our own so
# that no test waits on Wine's start-up (scripts/wine-env.sh explains why).
if build_preset win64; then
  source "$root/scripts/wine-env.sh"
  wine_start "$root/build/win64"
  # Now and then a Wine process dies while starting (no output, exit in a few
  # hundredths of a second): a failed test gets one more run, and only a test
  # that fails twice counts as failed.
  run_ctest win64 --repeat until-pass:2
  wine_stop
fi

step "static checks of the Windows modules"
if [ -x build/linux/bin/static_tests ]; then
  log=$(mktemp)
  args=()
  [ -f build/win32/bin/Glimmark2.8bf ] && args+=(--module32 build/win32/bin/Glimmark2.8bf)
  [ -f build/win64/bin/Glimmark2.8bf ] && args+=(--module64 build/win64/bin/Glimmark2.8bf)
  build/linux/bin/static_tests "${args[@]}" 2>&1 | tee "$log"
  p=$(grep -E '^\[  PASSED  \] [0-9]+ test' "$log" | sed -E 's/.*\] ([0-9]+) test.*/\1/')
  f=$(grep -E '^\[  FAILED  \] [0-9]+ test' "$log" | sed -E 's/.*\] ([0-9]+) test.*/\1/')
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  [ -z "$f" ] || fail "static checks: $f failed"
  [ -n "$p$f" ] || { fail "static checks: no result"; failed=$((failed + 1)); }
  rm -f "$log"
else
  fail "static checks: static_tests was not built"
  failed=$((failed + 1))
fi

echo
echo "== summary ($(( SECONDS - start_time )) s)"
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "tests: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ ${#failures[@]} = 0 ]
