#!/usr/bin/env bash
# build.sh [release|asan|tsan] [TARGET...] : configures and builds into build/<kind>
# (every target, or only those named).
#   release  optimized, with debug information
#   check    the same optimization without debug information or benchmarks, for the tests
#            of scripts/run-tests.sh: less to compile and link
#   asan     AddressSanitizer + UBSan, Debug
#   tsan     ThreadSanitizer at -O1, only the programs of the threaded paths' tests
#            (run them with: cd build/tsan && ctest -L threads)
set -euo pipefail
kind=${1:-release}
shift || true
targets=("$@")
top=$(cd "$(dirname "$0")/.." && pwd)
case $kind in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DQUARRY_SANITIZE=ON -DQUARRY_BENCH=OFF) ;;
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
