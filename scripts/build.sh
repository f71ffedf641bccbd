#!/usr/bin/env bash
# build.sh [release|asan] : configures and builds into build/<kind>.
set -euo pipefail
kind=${1:-release}
top=$(cd "$(dirname "$0")/.." && pwd)
case $kind in
  release) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan)    flags=(-DCMAKE_BUILD_TYPE=Debug -DQUARRY_SANITIZE=ON -DQUARRY_BENCH=OFF) ;;
  *) echo "usage: build.sh [release|asan]" >&2; exit 2 ;;
esac
cmake -S "$top" -B "$top/build/$kind" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$top/build/$kind" -j "$(nproc)"
