#!/usr/bin/env bash
# take.sh [BUILD_DIR] [OUT_DIR]: opens Quarry on generated backups (a sample,
# an encrypted one and one without an index) under a virtual X display and
# saves pictures of its pages and dialogs into OUT_DIR (default
# build/screenshots), in English, and in OUT_DIR/de and OUT_DIR/fr in German
# and French. Set QT_SCALE_FACTOR=1.5 to see the window as on a 150% screen.
# SAMPLE=modern walks an iOS 18 backup of the newer layout instead (default out
# build/screenshots-modern): the categories' newer look (HEIC pictures, Recently
# Deleted items, the newer voice memo store, group chats). LANGUAGES="en de"
# limits the languages.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build/release}
sample=${SAMPLE:-ios9}
languages=${LANGUAGES:-en de fr}
mkbackup=(/usr/bin/python3 "$top/tools/mkbackup/mkbackup.py")
if [ "$sample" = modern ]; then
  out=${2:-$top/build/screenshots-modern}
  samples="$top/build/sample-modern"
  if [ ! -f "$samples/backup/Manifest.db" ]; then
    rm -rf "$samples/backup"
    "${mkbackup[@]}" "$samples/backup" --manifest-db --product-version 18.1 \
      --display-name "Modern iPhone" --backup-date 2025-05-01T09:00:00Z
  fi
else
  out=${2:-$top/build/screenshots}
  samples="$top/build/sample"
fi
if [ "$sample" != modern ] && [ ! -f "$samples/backup/Manifest.mbdb" ]; then
  rm -rf "$samples/backup"
  "${mkbackup[@]}" "$samples/backup"
fi
# Newer layout, encrypted: its key takes a moment to derive, so the prompt's
# busy state can be pictured. The password is not needed: the walk cancels.
if [ "$sample" != modern ] && [ ! -f "$samples/locked/Manifest.db" ]; then
  rm -rf "$samples/locked"
  printf 'walk-password\n' > "$samples/password.txt"
  "${mkbackup[@]}" "$samples/locked" --profile small --manifest-db --encrypted \
    --password-file "$samples/password.txt" --dp-iterations 2000000 \
    --display-name "Locked iPhone" --backup-date 2015-03-01T09:00:00Z
fi
if [ "$sample" != modern ] && { [ ! -f "$samples/broken/Info.plist" ] || [ -f "$samples/broken/Manifest.mbdb" ]; }; then
  rm -rf "$samples/broken"
  "${mkbackup[@]}" "$samples/broken" --profile small --display-name "Broken iPhone" \
    --backup-date 2014-01-01T09:00:00Z
  rm -f "$samples/broken/Manifest.mbdb"
fi
for language in $languages; do
  dir="$out"
  [ "$language" = en ] || dir="$out/$language"
  mkdir -p "$dir"
  xvfb-run -a -s "-screen 0 1600x1200x24" \
    "$build/quarry/app/quarry" --backups "$samples" --language "$language" --screenshot-walk "$dir"
done
find "$out" -maxdepth 2 -name '*.png' | sort | xargs ls -l
