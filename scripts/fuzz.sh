#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, address and undefined-behaviour checks) in build-fuzz and
# runs each for a bounded time from a copy of its seed corpus and of the bad-input corpus, so
# the repository is never modified. Fails on any crash, leak, time-out or broken check; a
# failing input is kept in build-fuzz/findings/<target>/ to be added to the seeds.
#
#   scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
seconds="${1:-${TALVOR_FUZZ_SECONDS:-60}}"

scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALVOR_FUZZ=ON -DTALVOR_BUILD_TESTS=OFF >/dev/null
# Every target in fuzz/, so that a new one is fuzzed without being named here.
targets=()
for source in fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
cmake --build build-fuzz -j2 --target "${targets[@]}"

# No desktop: a profile message must not wait for a click.
unset DISPLAY WAYLAND_DISPLAY
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Bad inputs beside the seeds, and the longest input tried (8192 bytes where none is named).
declare -A extra=([config_fuzz]=tests/corpus/config [daylog_fuzz]=tests/corpus/daylog)
declare -A maxlen=([config_fuzz]=8192 [profile_line_fuzz]=256 [daylog_fuzz]=19800 [scan_line_fuzz]=16384)
work="$(pwd)/build-fuzz/run"
rm -rf "$work"
failed=0
summary=()
for t in "${targets[@]}"; do
  corpus="$work/$t/corpus"
  findings="$(pwd)/build-fuzz/findings/$t"
  mkdir -p "$corpus" "$findings"
  cp fuzz/corpus/"$t"/* "$corpus"/
  if [ -n "${extra[$t]:-}" ]; then
    # The larger bad logs exceed the length limit; libFuzzer cuts them to it.
    for f in "${extra[$t]}"/*; do cp "$f" "$corpus/bad_$(basename "$f")"; done
  fi
  seeds=$(ls "$corpus" | wc -l)
  log="$work/$t.log"
  echo "fuzz: $t for ${seconds}s from $seeds inputs"
  rc=0
  (cd "$work/$t" && "$top/build-fuzz/$t" -max_total_time="$seconds" -max_len="${maxlen[$t]:-8192}" \
      -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus") >"$log" 2>&1 || rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  final=$(ls "$corpus" | wc -l)
  summary+=("$t: $runs executions, corpus $seeds -> $final inputs, exit $rc")
  if [ "$rc" -ne 0 ]; then
    failed=1
    echo "fuzz: $t FAILED (exit $rc); its input is in $findings/" >&2
    grep -E 'ERROR|SUMMARY|check failed|runtime error|Test unit written' "$log" | head -20 >&2 || true
  fi
done
echo "fuzz summary:"
printf '  %s\n' "${summary[@]}"
exit "$failed"
