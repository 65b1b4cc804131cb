#!/usr/bin/env bash
# Installs the Debian 12 packages that running, building and testing TALVOR need.
# Idempotent: when everything is there it only checks and returns.
set -euo pipefail

# What the programs need at run time; the .deb depends on these (its library dependencies are
# computed at packaging time, the rest are named in CMakeLists.txt). xfonts-base carries the core
# X fonts that the message box uses on an X11 desktop; tzdata the zones that talvor-log converts
# the scan tools' local times with.
runtime_packages=(
  libegl1 libgl1 libegl-mesa0 libgl1-mesa-dri
  libfreetype6 libfontconfig1 fonts-dejavu-core
  libgif7 libpng16-16 libsdl2-2.0-0 xfonts-base
  libnova-0.16-0 zlib1g tzdata
)

# What building the programs, their man pages and the .deb needs.
build_packages=(
  build-essential cmake pkg-config git scdoc dpkg-dev file
  libegl-dev libgl-dev libfreetype-dev libfontconfig-dev
  libgif-dev libpng-dev libsdl2-dev libcli11-dev
  libnova-dev zlib1g-dev
)

# What the tests and CI need: GoogleTest, an X server with a window tool for the dialog tests,
# systemd-analyze for the units, man for the man pages, mount and strace for the fault and
# flush tests, the sanitizer, fuzzing and leak tools, and Chromium with its driver and Selenium
# for the website's browser test.
test_packages=(
  libgtest-dev googletest
  xvfb xdotool x11-utils
  systemd man-db groff-base mount strace
  clang libclang-rt-14-dev valgrind e2fsprogs
  chromium chromium-driver python3-selenium
)

packages=("${runtime_packages[@]}")
if [ "${1:-}" != "--runtime" ]; then
  packages+=("${build_packages[@]}" "${test_packages[@]}")
fi

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
