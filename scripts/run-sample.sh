#!/usr/bin/env bash
# Installs what is needed, builds, generates the sample backup and scans it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh" release
sample="$top/build/sample/backup"
if [ ! -f "$sample/Manifest.mbdb" ]; then
  rm -rf "$sample"
  /usr/bin/python3 "$top/tools/mkbackup/mkbackup.py" "$sample"
fi
"$top/build/release/tools/sieve" scan "$sample"
