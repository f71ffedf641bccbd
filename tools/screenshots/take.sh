#!/usr/bin/env bash
# take.sh [BUILD_DIR] [OUT_DIR]: opens Quarry on the sample backup under a
# virtual X display and saves a picture of the home page, the backup list, the
# scan results and the contacts view into OUT_DIR (default build/screenshots).
# Set QT_SCALE_FACTOR=1.5 to see the window as on a 150% screen.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/release}
out=${2:-$top/build/screenshots}
sample="$top/build/sample/backup"
if [ ! -f "$sample/Manifest.mbdb" ]; then
  rm -rf "$sample"
  /usr/bin/python3 "$top/tools/mkbackup/mkbackup.py" "$sample"
fi
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1600x1200x24" \
  "$build/quarry/app/quarry" --backups "$(dirname "$sample")" --screenshot-walk "$out"
ls -l "$out"/*.png
