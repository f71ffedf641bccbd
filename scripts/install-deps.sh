#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build, test and run the project.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  libssl-dev libplist-dev libimobiledevice-dev libusbmuxd-dev libirecovery-1.0-dev libsqlite3-dev zlib1g-dev
  libimobiledevice-utils
  googletest libgtest-dev
  clang libclang-rt-14-dev
  python3 python3-cryptography python3-pil python3-vobject python3-icalendar sqlite3 tzdata
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev xvfb xauth
  libheif-dev libheif-examples
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
