#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that TALVOR needs:
#   scripts/setup.sh             everything: running, building and the tests
#   scripts/setup.sh --build     building the programs and the Debian package only
#   scripts/setup.sh --runtime   running programs built here (the package brings its own)
# Idempotent: when everything is there it only checks and returns.
set -euo pipefail

# What the programs need at run time; the .deb depends on these (its library dependencies are
# computed at packaging time, the rest are named in debian/control). SDL (loaded only where a
# display is named) and xfonts-base (the core X fonts of the message box on an X11 desktop) are
# only recommended by the package; tzdata carries the zones that talvor-log converts the scan
# tools' local times with.
runtime_packages=(
  libegl1 libgl1 libegl-mesa0 libgl1-mesa-dri
  libfreetype6 libfontconfig1 fonts-dejavu-core
  libgif7 libpng16-16 libsdl2-2.0-0 xfonts-base
  zlib1g libdeflate0 tzdata
)

# What building the programs, their man pages and the .deb needs (debian/control's
# Build-Depends, and git for scripts/package.sh's copy of the tree).
build_packages=(
  build-essential debhelper cmake pkg-config git scdoc dpkg-dev file
  libegl-dev libgl-dev libfreetype-dev libfontconfig-dev
  libgif-dev libpng-dev libsdl2-dev libcli11-dev
  zlib1g-dev libdeflate-dev
)

# What the tests and CI need: GoogleTest, an X server with a window tool for the dialog tests,
# systemd (systemd-analyze, sysusers, tmpfiles and systemd-run) for the units and the package's
# entries, man for the man pages, mount and strace for the fault and flush tests, lintian for the
# package, the sanitizer, fuzzing and leak tools, and Chromium with its driver and Selenium for
# the website's browser test.
test_packages=(
  libgtest-dev googletest
  xvfb xdotool x11-utils
  systemd man-db groff-base mount strace lintian
  clang libclang-rt-14-dev valgrind e2fsprogs
  chromium chromium-driver python3-selenium
)

case "${1:-}" in
  "") packages=("${runtime_packages[@]}" "${build_packages[@]}" "${test_packages[@]}") ;;
  --build) packages=("${build_packages[@]}") ;;
  --runtime) packages=("${runtime_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh [--build | --runtime]" >&2; exit 2 ;;
esac

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
