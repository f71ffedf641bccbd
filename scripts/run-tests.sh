#!/usr/bin/env bash
# Installs what is needed, builds, and runs every check CI runs:
#   1. the release build (as build.sh release, without debug information or benchmarks) and its tests;
#   2. the AddressSanitizer + UBSan build and its tests;
#   3. 60 s of libFuzzer on each fuzz target, two at a time (scripts/fuzz.sh builds them with clang);
#   4. the ThreadSanitizer build of the threaded paths and their tests (ctest -L threads).
# Each step says how long it took.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
step() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  echo "== $name: $((SECONDS - start)) s"
}
step install bash "$top/scripts/install-deps.sh"

step "release build" bash "$top/scripts/build.sh" check
step "release tests" ctest --test-dir "$top/build/check" --output-on-failure -j "$jobs"

step "asan build" bash "$top/scripts/build.sh" asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "asan tests" ctest --test-dir "$top/build/asan" --output-on-failure -j "$jobs"
if [[ -f "$top/scripts/fuzz.sh" ]]; then
  step fuzz bash "$top/scripts/fuzz.sh" --seconds 60 --jobs 2
else
  echo "== fuzz: scripts/fuzz.sh is missing, no fuzzing done" >&2
fi

step "tsan build" bash "$top/scripts/build.sh" tsan
step "tsan tests" ctest --test-dir "$top/build/tsan" --output-on-failure -j "$jobs" -L threads
