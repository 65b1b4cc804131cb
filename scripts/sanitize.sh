#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The tests again under the sanitizers, and a leak check of one whole run:
#   build-asan: AddressSanitizer + UndefinedBehaviorSanitizer (+ LeakSanitizer at every exit),
#               every unit, end-to-end and fault test;
#   build-tsan: ThreadSanitizer, the tests that run threads (platform, app, render, end-to-end,
#               fault, the GIF on two threads, the site's day work on two threads);
#   valgrind:   one whole run of a plain build, definite leaks are errors.
# Every sanitizer report goes to a file of its own (log_path), also from the program runs that
# the tests start, and any report fails the script, whatever the tests said.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/setup.sh

reports="$top/build-sanitize-reports"
rm -rf "$reports"
mkdir -p "$reports"
supp="$top/scripts/sanitizer"
# No desktop: a message must never wait for a click.
unset DISPLAY WAYLAND_DISPLAY
status=0

count_reports() { find "$reports" -maxdepth 1 -type f -name "$1*" | wc -l; }

# Green tests say nothing if the leak check could not see a leak: an option or a suppression that
# hid them would pass every test. A program with one known leak (scripts/sanitizer/leak_canary.cpp)
# is run under the options and suppressions in force, and its report must name that leak and
# nothing else. Its report goes to a folder of its own, so it counts as none of the tests'.
check_leak_canary() {
  local dir="$reports/canary" cxx code=0 leaks
  mkdir -p "$dir"
  cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' build-asan/CMakeCache.txt)
  "$cxx" -g -O1 -fsanitize=address,undefined -fPIC -shared -DLEAK_CANARY_LIBRARY \
    "$supp/leak_canary.cpp" -o "$dir/libleak_canary.so"
  "$cxx" -g -O1 -fsanitize=address,undefined "$supp/leak_canary.cpp" -o "$dir/leak_canary" -ldl
  ASAN_OPTIONS="$ASAN_OPTIONS:log_path=$dir/asan" "$dir/leak_canary" "$dir/libleak_canary.so" || code=$?
  leaks=$(cat "$dir"/asan.* 2>/dev/null | grep -E '^(Direct|Indirect) leak of|fatal error' || true)
  if [ "$code" -ne 1 ] || [ "$leaks" != "Direct leak of 1717 byte(s) in 1 object(s) allocated from:" ]; then
    echo "sanitize: the leak check did not report exactly the leak of scripts/sanitizer/leak_canary.cpp (exit $code):" >&2
    cat "$dir"/asan.* >&2 2>/dev/null || true
    return 1
  fi
  echo "sanitize: the leak check reports the known leak of leak_canary.cpp, and nothing else"
}

echo "sanitize: AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_SANITIZE=address >/dev/null
cmake --build build-asan -j2
(
  # intercept_tls_get_addr=0: GCC 12's runtime wraps __tls_get_addr to learn where each thread's
  # dynamic TLS blocks lie, and when a block starts 16 bytes into a page it takes the two words
  # before it for the block's start and size, a layout that glibc dropped in 2.25. glibc 2.36
  # takes the blocks from malloc, so whenever AddressSanitizer's allocator happens to hand out such
  # an address (the OpenGL driver's compiler library asks for 24 bytes), its own chunk header is
  # read as the bounds, and LeakSanitizer's tracer crashes at exit on the made-up range ("Tracer
  # caught signal 11"; with log_threads=1, a "DTLS" range of nonsense bounds). That depends only
  # on the heap's layout (the environment, the arguments): one run crashes every time, the same
  # run started otherwise never. Without the wrapper no block is scanned as a range of its own,
  # and none needs to be: the blocks are heap blocks that the dynamic loader made, which
  # LeakSanitizer counts as reachable (use_ld_allocations, and its built-in suppression of
  # *tls_get_addr*), so what they point at is still scanned; on this glibc the wrapper found no
  # block's size anyway ("Can't guess glibc version"). The option takes roots away and adds none,
  # so it cannot hide a leak; the leak canary below holds a block only in such storage and checks
  # both.
  export ASAN_OPTIONS="log_path=$reports/asan:detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1:intercept_tls_get_addr=0"
  export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1"
  # The software renderer's worker threads are not needed to check our code, and every thread
  # alive at exit is one more that LeakSanitizer's tracer has to stop (see below).
  export LP_NUM_THREADS=0
  check_leak_canary || exit 1
  if ! ctest --test-dir build-asan --output-on-failure -j2 --timeout 600; then
    # Should LeakSanitizer's tracer still crash while it stops a process's threads at exit
    # ("Tracer caught signal 11 ... LeakSanitizer has encountered a fatal error") for a cause
    # other than the one intercept_tls_get_addr=0 avoids, that says nothing about leaks, and the
    # test then exits 1. When that is all that went wrong, the failed tests run once more, and
    # must pass cleanly then (a crash that comes from the heap's layout comes again, and fails
    # the stage); a leak report or any other sanitizer report is never run again.
    inconclusive=()
    for f in "$reports"/asan*; do
      [ -f "$f" ] || continue
      if grep -q 'LeakSanitizer has encountered a fatal error' "$f" && ! grep -q 'ERROR: ' "$f"; then
        inconclusive+=("$f")
      fi
    done
    if [ "${#inconclusive[@]}" -gt 0 ] && [ "${#inconclusive[@]}" -eq "$(count_reports asan)" ]; then
      mkdir -p "$reports/inconclusive"
      mv "${inconclusive[@]}" "$reports/inconclusive/"
      echo "sanitize: LeakSanitizer's tracer crashed in ${#inconclusive[@]} process(es); running the failed tests again" >&2
      ctest --test-dir build-asan --output-on-failure --rerun-failed --timeout 600
    else
      exit 1
    fi
  fi
) || status=1
asan=$(count_reports asan)
ubsan=$(count_reports ubsan)

echo "sanitize: ThreadSanitizer build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVOR_SANITIZE=thread >/dev/null
threaded=()
for t in platform_test platform_files_test app_test render_thread_test render_test e2e_test fault_test \
  gif_threads_test site_test site_heard_test; do
  [ -f "tests/$t.cpp" ] && threaded+=("$t")
done
cmake --build build-tsan -j2 --target talvor talvor-render talvor-log talvor-gen-daylog "${threaded[@]}"
(
  export TSAN_OPTIONS="log_path=$reports/tsan:halt_on_error=0:second_deadlock_stack=1"
  # The software renderer's own worker threads synchronise in ways the uninstrumented driver
  # cannot show ThreadSanitizer (it reports races between Mesa's frames only). Rendering on the
  # calling thread leaves exactly our two threads and what they share, so nothing needs to be
  # suppressed.
  export LP_NUM_THREADS=0
  for t in "${threaded[@]}"; do
    echo "sanitize: $t under ThreadSanitizer"
    (cd build-tsan && "./$t" --gtest_brief=1) || exit 1
  done
) || status=1
tsan=$(count_reports tsan)

echo "sanitize: valgrind leak check of one whole run"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target talvor talvor-gen-daylog
run=$(mktemp -d /tmp/talvor-leak-XXXXXX)
trap 'rm -rf "$run"' EXIT
mkdir -p "$run/work"
cp build/talvor "$run/talvor"
build/talvor-gen-daylog "$run/BRANTOS" >/dev/null
printf '[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\nVOKTEXT=leak check\r\nVOKCOLOR=1\r\n' >"$run/TALVOR.INI"
leaks=0
# Under valgrind the JIT-compiling software renderer is too slow for the run's timeline, and the
# run would take its late path (no picture). The plain software pipeline without the JIT keeps
# the normal path, so the leak check sees the whole of an ordinary run.
(cd "$run/work" && GALLIUM_DRIVER=softpipe DRAW_USE_LLVM=0 valgrind --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite --error-exitcode=99 --num-callers=40 \
    --suppressions="$supp/valgrind.supp" --log-file="$reports/valgrind.txt" ../talvor) || leaks=$?
definite=$(grep -o 'definitely lost: [0-9,]* bytes in [0-9,]* blocks' "$reports/valgrind.txt" || echo "definitely lost: ? bytes")
suppressed=$(grep -o 'suppressed: [0-9,]* bytes in [0-9,]* blocks' "$reports/valgrind.txt" | head -1 || true)
# 99 is valgrind's own word for errors or definite leaks; any other failing status is the run's,
# which exits 1 when it took its late path (below).
if [ "$leaks" -eq 99 ]; then
  status=1
  echo "sanitize: valgrind found errors or definite leaks, see $reports/valgrind.txt" >&2
elif [ "$leaks" -ne 0 ]; then
  echo "sanitize: note: the run under valgrind exited $leaks" >&2
fi
if ! ls "$run"/*.GIF >/dev/null 2>&1 || [ "$(grep -c 'UTC J=' "$run/work/Z.TXT" 2>/dev/null)" != 96 ]; then
  # Not a leak: a machine too busy for the timeline makes the run take its late path, which
  # the check above has still covered.
  echo "sanitize: note: the run under valgrind took its late path (no picture or summary lines)" >&2
fi

echo "sanitize summary:"
echo "  AddressSanitizer/LeakSanitizer reports: $asan"
if [ -d "$reports/inconclusive" ]; then
  echo "  LeakSanitizer tracer crashes (tests run again): $(find "$reports/inconclusive" -type f | wc -l)"
fi
echo "  UndefinedBehaviorSanitizer reports:     $ubsan"
echo "  ThreadSanitizer reports:                $tsan"
echo "  valgrind whole run: $definite ($suppressed in the OpenGL driver, see scripts/sanitizer/valgrind.supp)"
if [ "$asan" -ne 0 ] || [ "$ubsan" -ne 0 ] || [ "$tsan" -ne 0 ]; then
  status=1
  for f in "$reports"/asan* "$reports"/ubsan* "$reports"/tsan*; do
    [ -f "$f" ] || continue
    echo "---- $f" >&2
    head -40 "$f" >&2
  done
fi
exit "$status"
