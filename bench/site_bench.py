#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The archive's website: how long a year's site takes from scratch and a one-day update takes
from start to exit, how much each day and a channel's month weigh, and, in headless Chromium, a
day page's first paint from a local server and the readout's time per pointer move. Figures
only, no verdicts.

    bench/site_bench.py --render build/talvor-render --gen build/talvor-gen-daylog [--days 365]
"""
import argparse
import datetime
import functools
import http.server
import os
import resource
import shutil
import subprocess
import tempfile
import threading
import time


def timed(command, cwd, cpu=None):
    """The command's time from start to exit; cpu, a list, gets the processor time it and its
    worker processes took, which a machine shared with other work disturbs far less."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    elapsed = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        raise SystemExit("failed: %s\n%s" % (" ".join(command), result.stderr))
    if cpu is not None:
        cpu.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
    return elapsed


def folder_size(path):
    return sum(os.path.getsize(os.path.join(folder, name))
               for folder, _, names in os.walk(path) for name in names)


def browser_figures(site, day, width, height):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(Quiet, directory=site)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu"):
        options.add_argument(flag)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    try:
        url = "http://127.0.0.1:%d/%s/index.html" % (server.server_address[1], day)
        paints = []
        for _ in range(5):
            browser.get("about:blank")
            browser.get(url)
            paint = -1
            for _ in range(100):
                paint = browser.execute_script(
                    "var p = performance.getEntriesByName('first-contentful-paint')[0];"
                    "return p ? p.startTime : -1")
                if paint >= 0:
                    break
                time.sleep(0.05)
            paints.append(paint)
        browser.execute_script("return Talvor.ready")
        # Each move's readout and crosshair, laid out (the read of offsetTop forces it) as the
        # next frame would.
        per_move = browser.execute_script("""
            var image = document.getElementById('chart-image'), box = image.getBoundingClientRect();
            var readout = document.getElementById('readout');
            var n = 2000, start = performance.now(), sx = box.width / 1920, sy = box.height / 1500;
            for (var i = 0; i < n; i++) {
              image.parentElement.dispatchEvent(new PointerEvent('pointermove', {bubbles: true,
                clientX: box.left + (400 + (i % 1000)) * sx, clientY: box.top + (40 + (i % 1400)) * sy}));
              readout.offsetTop;
            }
            return (performance.now() - start) / n;""")
        return sorted(paints)[len(paints) // 2], per_move
    finally:
        browser.quit()
        server.shutdown()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--render", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--days", type=int, default=365)
    parser.add_argument("--no-browser", action="store_true", help="leave out the browser's figures")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="talvor-site-bench-")
    try:
        first = datetime.date(2026, 1, 1)
        days = [(first + datetime.timedelta(d)).isoformat() for d in range(args.days)]
        for day in days:
            subprocess.run([args.gen, "BRANTOS", day], cwd=work, check=True, capture_output=True)
        with open(os.path.join(work, "TALVOR.INI"), "w") as f:
            f.write("[KELDAN]\n")
        render = [args.render, "--config", "TALVOR.INI", "--size", "1920x1500", "--site", "www"]
        cpu = []
        scratch = timed(render, work, cpu)
        print("site of %d days from scratch: %.1f s (%.3f s a day); %.1f s of processor time"
              % (args.days, scratch, scratch / args.days, cpu[0]))
        update_day = days[len(days) // 2]
        cpu = []
        updates = sorted(timed(render + ["--date", update_day], work, cpu) for _ in range(5))
        print("one-day update, start to exit: median %.0f ms (of 5: %s); processor time median %.0f ms" %
              (updates[2] * 1000, ", ".join("%.0f" % (u * 1000) for u in updates), sorted(cpu)[2] * 1000))
        day_folder = os.path.join(work, "www", update_day)
        sizes = {name: os.path.getsize(os.path.join(day_folder, name)) for name in os.listdir(day_folder)}
        print("a day's files: " + ", ".join("%s %d KB" % (n, (s + 500) // 1000) for n, s in sorted(sizes.items())))
        print("a day on disk: %.1f MB; the whole site: %.0f MB" %
              (folder_size(day_folder) / 1e6, folder_size(os.path.join(work, "www")) / 1e6))
        month = os.path.join(work, "www", days[0][:7])
        if os.path.exists(os.path.join(month, "data.js")):
            scripts = [n for n in os.listdir(month) if n.startswith("peaks-")]
            channel = sum(os.path.getsize(os.path.join(month, n)) for n in scripts + ["data.js"])
            largest = max(os.path.getsize(os.path.join(month, n)) for n in scripts)
            print("a channel's month (%s): %d KB in data.js and %d range scripts; a kHz loads at most %d KB"
                  % (days[0][:7], (channel + 500) // 1000, len(scripts), (largest + 500) // 1000))
        page = sizes["index.html"] + sizes["chart.png"] + sizes["data.js"]
        print("browser's data for a day over HTTP (page, chart, data.js, levels.bin): %d KB, of which levels %d KB;"
              " from file:// (levels.js instead): %d KB" % ((page + sizes["levels.bin"] + 500) // 1000,
                                                          (sizes["levels.bin"] + 500) // 1000,
                                                          (page + sizes["levels.js"] + 500) // 1000))
        try:
            for width, height in [] if args.no_browser else [(2000, 1700), (1366, 768), (390, 844)]:
                paint, per_move = browser_figures(os.path.join(work, "www"), update_day, width, height)
                print("day page at %d x %d: first contentful paint (local server, headless Chromium) "
                      "median %.0f ms; readout update per pointer move %.3f ms" % (width, height, paint, per_move))
        except ImportError:
            print("python3-selenium missing: no browser figures")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
