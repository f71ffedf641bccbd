#!/usr/bin/env bash
# build.sh [release|asan|tsan] [TARGET...] : configures and builds into build/<kind>
# (every target, or only those named).
#   release  optimized, with debug information
#   asan     AddressSanitizer + UBSan with clang at -O1, and the libFuzzer targets
#   tsan     ThreadSanitizer at -O1, only the programs of the threaded paths' tests
#            (run them with: cd build/tsan && ctest -L threads)
set -euo pipefail
kind=${1:-release}
shift || true
targets=("$@")
top=$(cd "$(dirname "$0")/.." && pwd)
case $kind in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)
    # clang gives the fuzzers, so one tree serves the tests and scripts/fuzz.sh; -O1 runs
    # the tests about twice as fast as -O0 and keeps the reports exact.
    flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1"
           -DQUARRY_SANITIZE=ON -DQUARRY_FUZZ=ON -DQUARRY_BENCH=OFF
           -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    # A tree configured by another compiler cannot be switched in place.
    if [[ -f $top/build/asan/CMakeCache.txt ]] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++$' "$top/build/asan/CMakeCache.txt"; then
      rm -rf "$top/build/asan/CMakeCache.txt" "$top/build/asan/CMakeFiles"
    fi
    ;;
  tsan)
    # -O1: the instrumented tests run several times faster than at -O0; -g1 keeps the
    # line numbers of a report.
    flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1"
           -DQUARRY_TSAN=ON -DQUARRY_BENCH=OFF)
    [[ ${#targets[@]} -gt 0 ]] || targets=(test_reader test_backup test_sqlite test_quarry_views
                                           test_quarry_recovery_main_dlg test_quarry_recovery_dlg)
    ;;
  *) echo "usage: build.sh [release|asan|tsan] [TARGET...]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/build/$kind" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$top/build/$kind" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
