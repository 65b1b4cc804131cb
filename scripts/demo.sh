#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds TALVOR, lays out a demo folder with a copy of the executable and today's synthetic day
# log beside it (made by talvor-log from the day's scans, as from a receiver), and runs it there
# as the scheduler would.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target talvor talvor-gen-daylog talvor-log

demo="$top/demo"
mkdir -p "$demo"
cp build/talvor "$demo/talvor"
[ -f "$demo/TALVOR.INI" ] || printf '[CUSTOM]\r\nQTH=London,51.5,0.1\r\nVOKTEXT=Demo day, synthetic log\r\nVOKCOLOR=1\r\n' >"$demo/TALVOR.INI"
today=$(date -u +%F)
rm -f "$demo/BRANTOS/$today/VOK.LOG"
build/talvor-gen-daylog --csv "$today" | build/talvor-log --utc --config "$demo/TALVOR.INI"

echo "demo: running $demo/talvor (about 5 seconds)"
rc=0
( cd "$demo" && ./talvor ) || rc=$?
echo "demo: exit code $rc"
echo "demo: picture: $(ls -1 "$demo"/*.GIF "$demo"/z.gif 2>/dev/null | tail -n 1)"
echo "demo: summary: $demo/Z.TXT ($(wc -l <"$demo/Z.TXT" 2>/dev/null || echo 0) lines)"
