#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing TALVOR need.
# Idempotent: when everything is there it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri
  libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libgif-dev libpng-dev libsdl2-dev libcli11-dev
  libgtest-dev googletest
  xvfb xdotool x11-utils
  clang libclang-rt-14-dev valgrind e2fsprogs
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
