#!/usr/bin/env bash
# Installs what is needed, builds, and runs every check CI runs, in 30 minutes on 2 cores:
#   1. the AddressSanitizer + UBSan build (clang, with the libFuzzer targets) and the whole
#      test suite on it;
#   2. 60 s of libFuzzer on each fuzz target, two at a time, while the ThreadSanitizer build
#      of the threaded paths (gcc) compiles beside them; then its tests (ctest -L threads).
# The optimized build is what scripts/run-sample.sh and bench/run make; building it here too
# would not fit the time. Each step says how long it took.
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

step "asan build" bash "$top/scripts/build.sh" asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
step "asan tests" ctest --test-dir "$top/build/asan" --output-on-failure -j "$jobs"

# The fuzzers were built in the asan tree. The compiler's work and the fuzzers' share the
# cores; each fuzzer still runs its full minute.
tsan_log="$top/build/tsan-build.log"
mkdir -p "$top/build"
( nice -n 5 bash "$top/scripts/build.sh" tsan >"$tsan_log" 2>&1 ) &
tsan_build=$!
fuzz_status=0
step fuzz bash "$top/scripts/fuzz.sh" --build "$top/build/asan" --seconds 60 --jobs 2 || fuzz_status=$?
tsan_status=0
step "tsan build" wait "$tsan_build" || tsan_status=$?
if [[ $tsan_status != 0 ]]; then
  tail -n 60 "$tsan_log" >&2
  exit "$tsan_status"
fi
step "tsan tests" ctest --test-dir "$top/build/tsan" --output-on-failure -j "$jobs" -L threads
exit "$fuzz_status"
