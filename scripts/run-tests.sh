#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite: the release
# build first, then the same tests under AddressSanitizer and UBSan.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" release
(cd "$top/build/release" && ctest --output-on-failure -j "$(nproc)")
bash "$top/scripts/build.sh" asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$top/build/asan" && ctest --output-on-failure -j "$(nproc)")
