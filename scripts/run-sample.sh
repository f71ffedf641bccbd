#!/usr/bin/env bash
# Installs what is needed, builds, generates the sample backup and opens it in
# the Quarry window; with no display, recovers it without a window instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" release
sample="$top/build/sample/backup"
if [ ! -f "$sample/Manifest.mbdb" ]; then
  rm -rf "$sample"
  /usr/bin/python3 "$top/tools/mkbackup/mkbackup.py" "$sample"
fi
quarry="$top/build/release/quarry/app/quarry"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$quarry" --backups "$(dirname "$sample")"
fi
echo "No display: recovering the sample without a window." >&2
out="$top/build/sample/recovered"
mkdir -p "$out"
"$quarry" --recover "$sample" --out "$out"
