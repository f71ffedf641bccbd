#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the libraries and the fuzzers only) and runs each
# for a while on a scratch copy of its corpus, JOBS at a time. Prints per target the CPU
# time, the runs, libFuzzer's final coverage (cov:, ft:) and the new crashes, whose inputs
# are kept under BUILD/crashes/NAME; exits non-zero when any target crashed or did not run.
#
#   scripts/fuzz.sh [--seconds N] [--jobs J] [--only NAME[,NAME...]] [--build DIR] [--merge] [--no-build]
#                   [--keep DIR]
#
# --merge adds the inputs that found new coverage to the repository's corpus; without it
# the repository is never written. --no-build runs the fuzzers already built in DIR (for
# several runs at once on one tree). --keep runs each target on DIR/NAME, which grows from
# run to run (the repository's corpus is added to it each time), so that a campaign of
# several runs goes on from where the last one stopped instead of from the seeds. Slow
# inputs (slow-unit-*, most often a loaded machine) stay in the crashes folder but fail nothing.
# FUZZ_UNIT_TIMEOUT (seconds, default 20) is libFuzzer's limit per input; it counts wall
# time, so a campaign run at low priority beside other work needs more.
set -euo pipefail

seconds=60
jobs=1
only=""
merge=0
rebuild=1
keep=""
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"

usage() { sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?}; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --only) only=${2:?}; shift 2 ;;
    --build) build=${2:?}; shift 2 ;;
    --merge) merge=1; shift ;;
    --no-build) rebuild=0; shift ;;
    --keep) keep=${2:?}; shift 2 ;;
    -h|--help) usage ;;
    *) echo "fuzz.sh: unknown argument $1" >&2; usage ;;
  esac
done
case "$seconds$jobs" in *[!0-9]*) echo "fuzz.sh: --seconds and --jobs take whole numbers" >&2; exit 2 ;; esac
[ "$jobs" -ge 1 ] || jobs=1
mkdir -p "$build"
build=$(cd "$build" && pwd)
if [ -n "$keep" ]; then mkdir -p "$keep" && keep=$(cd "$keep" && pwd); fi

names=()
for src in "$root"/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" _fuzz.cpp)
  if [ -n "$only" ] && [[ ",$only," != *",$name,"* ]]; then continue; fi
  names+=("$name")
done
[ ${#names[@]} -gt 0 ] || { echo "fuzz.sh: no fuzz target matches '$only'" >&2; exit 2; }

for tool in clang clang++ cmake ninja; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done

# Only the libraries and the fuzzers: no tests, window or benchmarks. -O1 keeps the
# assertions and is what libFuzzer is usually built with.
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= \
    -DCMAKE_C_FLAGS="-O1 -g -fno-omit-frame-pointer" -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer" \
    -DQUARRY_FUZZ=ON -DQUARRY_TESTS=OFF -DQUARRY_GUI=OFF -DQUARRY_BENCH=OFF >"$build/configure.log" ||
    { cat "$build/configure.log" >&2; exit 2; }
fi
known=$(ninja -C "$build" -t targets all)
targets=()
for name in "${names[@]}"; do
  if grep -q "^${name}_fuzzer:" <<<"$known"; then
    targets+=("${name}_fuzzer")
  else
    echo "fuzz.sh: $name has no fuzzer in this build (see $build/configure.log)" >&2
  fi
done
if [ "$rebuild" = 1 ]; then
  build_start=$SECONDS
  ninja -C "$build" -j "${FUZZ_BUILD_JOBS:-2}" "${targets[@]}"
  echo "fuzz.sh: build took $((SECONDS - build_start)) s"
fi

run=$(mktemp -d "$build/runs.$(date -u +%Y%m%dT%H%M%S).XXXX")

# One target: its corpus (a fresh scratch copy, or the kept one), the fuzzer for $seconds,
# its CPU time beside its log.
fuzz_one() {
  local name=$1 dir="$run/$1" corpus="$run/$1/corpus"
  [ -z "$keep" ] || corpus="$keep/$name"
  mkdir -p "$dir" "$corpus" "$build/crashes/$name"
  find "$root/fuzz/corpus/$name" -type f ! -name '*.py' -exec cp -n -t "$corpus" {} +
  ls "$build/crashes/$name" >"$dir/crashes.before"
  local TIMEFORMAT='%U %S' rc=0
  { time "$build/fuzz/${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -timeout="${FUZZ_UNIT_TIMEOUT:-20}" \
      -rss_limit_mb=2048 -artifact_prefix="$build/crashes/$name/" "$corpus" >"$dir/log" 2>&1 || rc=$?; } 2>"$dir/cpu"
  echo "$rc" >"$dir/rc"
  if [ "$merge" = 1 ] && [ "$rc" = 0 ]; then
    "$build/fuzz/${name}_fuzzer" -merge=1 "$root/fuzz/corpus/$name" "$corpus" >"$dir/merge.log" 2>&1 || true
  fi
}

running=0
for name in "${names[@]}"; do
  [ -x "$build/fuzz/${name}_fuzzer" ] || continue
  fuzz_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait || true

status=0
printf '%-18s %8s %12s %7s %8s  %s\n' target cpu_s runs cov ft crashes
for name in "${names[@]}"; do
  dir="$run/$name"
  if [ ! -f "$dir/rc" ]; then
    printf '%-18s %8s\n' "$name" "not run"; status=1; continue
  fi
  cpu=$(awk '{printf "%.0f", $1 + $2}' "$dir/cpu")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$dir/log" | tail -1 | tr -d '#')
  cov=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$dir/log" | tail -1 | cut -d' ' -f2)
  new=$(ls "$build/crashes/$name" | comm -13 "$dir/crashes.before" - | { grep -v '^slow-unit-' || true; } | sed "s|^|$build/crashes/$name/|" | tr '\n' ' ')
  printf '%-18s %8s %12s %7s %8s  %s\n' "$name" "$cpu" "${runs:-?}" "${cov:-?}" "${ft:-?}" "${new:-0}"
  if [ "$(cat "$dir/rc")" != 0 ] || [ -n "$new" ]; then
    status=1
    echo "  $name failed (exit $(cat "$dir/rc")); log: $dir/log" >&2
    grep -m1 -E '^==[0-9]+==ERROR|^SUMMARY|runtime error' "$dir/log" | sed 's/^/  /' >&2 || true
  fi
done
exit $status
