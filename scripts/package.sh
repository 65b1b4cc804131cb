#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as a clean checkout would, from a copy of this source tree (the files
# git tracks or would track, committed or not), with dpkg-buildpackage.
#
#   scripts/package.sh [--out DIR] [--reproducible]
#
# --out DIR        where the .deb and the build's log (build.log) go (default: build-package/).
# --reproducible   builds twice, in two folders of different names, and fails unless the two
#                  .debs are byte for byte the same.
# The build needs what `scripts/setup.sh --build` installs.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

out="$top/build-package"
twice=0
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$(realpath -m "$2"); shift 2 ;;
    --reproducible) twice=1; shift ;;
    *) echo "usage: scripts/package.sh [--out DIR] [--reproducible]" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d /tmp/talvor-package-XXXXXX)
trap 'rm -rf "$work"' EXIT

# One build in a folder of its own; prints the path of the .deb it made.
build() {
  local dir="$work/$1/talvor-src"
  mkdir -p "$dir"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$dir"
  # The tests are built and run from a checkout; debug symbols are not kept here.
  (cd "$dir" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=${TALVOR_PACKAGE_JOBS:-2}" \
     dpkg-buildpackage -us -uc -b >"$work/$1/build.log" 2>&1) || {
    tail -n 40 "$work/$1/build.log" >&2
    echo "package: dpkg-buildpackage failed (log above)" >&2
    return 1
  }
  ls "$work/$1"/talvor_*.deb
}

first=$(build one)
if [ "$twice" = 1 ]; then
  second=$(build second-build)
  if cmp -s "$first" "$second"; then
    echo "package: two builds give the same .deb ($(sha256sum <"$first" | cut -c1-16)...)" >&2
  else
    echo "package: two builds differ:" >&2
    if command -v diffoscope >/dev/null; then diffoscope "$first" "$second" >&2 || true; fi
    (mkdir -p "$work/x1" "$work/x2" && dpkg-deb -R "$first" "$work/x1" && dpkg-deb -R "$second" "$work/x2" &&
       diff -r "$work/x1" "$work/x2" | head -20) >&2 || true
    exit 1
  fi
fi
mkdir -p "$out"
rm -f "$out"/talvor_*.deb
cp "$first" "$out/"
cp "$work/one/build.log" "$out/build.log"
echo "$out/$(basename "$first")"
