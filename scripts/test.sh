#!/usr/bin/env bash
# Builds presets and runs their suites:
#   linux       native unit, module and tool tests
#   linux-asan  the same under AddressSanitizer and UndefinedBehaviorSanitizer
#   win32       the 32-bit module, built only (this machine runs no 32-bit code)
#   win64       the 64-bit suites under wine64 (with an Xvfb of our own)
#   static      the static checks of the built 32-bit and 64-bit modules
#   fuzz        the fuzz targets (clang, libFuzzer), each run briefly over its seeds
#   scripts/test.sh [PRESET...]    (no name: all of them, in the order above)
# Named presets run in that order too. Warnings in our own code are errors here.
# The last line is "tests: N passed, M failed"; CI reads it.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

all_presets=(linux linux-asan win32 win64 static fuzz)
usage() { echo "usage: scripts/test.sh [PRESET...]   presets: ${all_presets[*]} (default: all)"; }
declare -A wanted=()
for arg in "$@"; do
  case "$arg" in
    -h | --help) usage; exit 0 ;;
  esac
  known=0
  for p in "${all_presets[@]}"; do [ "$arg" = "$p" ] && known=1; done
  if [ "$known" = 0 ]; then
    echo "scripts/test.sh: unknown preset '$arg'" >&2
    usage >&2
    exit 2
  fi
  wanted[$arg]=1
done
if [ $# = 0 ]; then
  for p in "${all_presets[@]}"; do wanted[$p]=1; done
fi
want() { [ -n "${wanted[$1]:-}" ]; }

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

# The test presets (CMakePresets.json) carry the options: output on failure,
# the time limit, the sanitizer settings, Wine's settings and its retry.
run_ctest() {
  local preset="$1" log
  shift
  log=$(mktemp)
  step "tests: $preset"
  ctest --preset "$preset" -j"$jobs" "$@" 2>&1 | tee "$log" | grep -vE '^ +Start |^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  count_ctest "$log" "$preset"
  rm -f "$log"
}

# Native and sanitizer builds.
if want linux && build_preset linux; then run_ctest linux; fi
if want linux-asan && build_preset linux-asan; then run_ctest linux-asan; fi

# 32-bit module: built and checked statically (this machine runs no 32-bit code).
if want win32; then build_preset win32; fi

# 64-bit module and its suites under Wine, with a primed prefix of our own so
# that no test waits on Wine's start-up (scripts/wine-env.sh explains why).
# Now and then a Wine process dies while starting (no output, exit in a few
# hundredths of a second): the win64 test preset gives a failed test one more
# run, and only a test that fails twice counts as failed.
if want win64 && build_preset win64; then
  source "$root/scripts/wine-env.sh"
  wine_start "$root/build/win64"
  run_ctest win64
  wine_stop
fi

# The checker is a native program of the linux build; it checks whichever
# Windows modules are built. Without the linux preset only the checker is built.
if want static; then
  step "static checks of the Windows modules"
  if ! want linux; then
    { cmake --preset linux -DGLIMMARK_WERROR=ON >build-static.log 2>&1 &&
        cmake --build build/linux -j"$jobs" --target static_tests >>build-static.log 2>&1; } ||
      { tail -n 60 build-static.log; echo "could not build static_tests in build/linux"; }
    rm -f build-static.log
  fi
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
fi

# Fuzz targets: a smoke run of each over its committed seed corpus (a finding
# fails it); each target counts as one test. scripts/fuzz.sh runs long ones.
if want fuzz && build_preset fuzz; then
  for target in $(scripts/fuzz.sh --list); do
    step "fuzz smoke run: $target"
    if scripts/fuzz.sh --smoke "$target" 15; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      fail "fuzz: $target"
    fi
  done
fi

echo
echo "== summary ($(( SECONDS - start_time )) s)"
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "tests: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ ${#failures[@]} = 0 ]
