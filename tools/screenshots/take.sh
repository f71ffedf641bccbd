#!/usr/bin/env bash
# take.sh [BUILD_DIR] [OUT_DIR]: opens Quarry on generated backups (a sample,
# an encrypted one and one without an index) under a virtual X display and
# saves pictures of its pages and dialogs into OUT_DIR (default
# build/screenshots), in English, and in OUT_DIR/de and OUT_DIR/fr in German
# and French. Set QT_SCALE_FACTOR=1.5 to see the window as on a 150% screen.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/release}
out=${2:-$top/build/screenshots}
samples="$top/build/sample"
mkbackup=(/usr/bin/python3 "$top/tools/mkbackup/mkbackup.py")
if [ ! -f "$samples/backup/Manifest.mbdb" ]; then
  rm -rf "$samples/backup"
  "${mkbackup[@]}" "$samples/backup"
fi
# Newer layout, encrypted: its key takes a moment to derive, so the prompt's
# busy state can be pictured. The password is not needed: the walk cancels.
if [ ! -f "$samples/locked/Manifest.db" ]; then
  rm -rf "$samples/locked"
  printf 'walk-password\n' > "$samples/password.txt"
  "${mkbackup[@]}" "$samples/locked" --profile small --manifest-db --encrypted \
    --password-file "$samples/password.txt" --dp-iterations 2000000 \
    --display-name "Locked iPhone" --backup-date 2015-03-01T09:00:00Z
fi
if [ ! -f "$samples/broken/Info.plist" ] || [ -f "$samples/broken/Manifest.mbdb" ]; then
  rm -rf "$samples/broken"
  "${mkbackup[@]}" "$samples/broken" --profile small --display-name "Broken iPhone" \
    --backup-date 2014-01-01T09:00:00Z
  rm -f "$samples/broken/Manifest.mbdb"
fi
for language in en de fr; do
  dir="$out"
  [ "$language" = en ] || dir="$out/$language"
  mkdir -p "$dir"
  xvfb-run -a -s "-screen 0 1600x1200x24" \
    "$build/quarry/app/quarry" --backups "$samples" --language "$language" --screenshot-walk "$dir"
done
ls -l "$out"/*.png "$out"/de/*.png "$out"/fr/*.png
