#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The archive's website: how long a year's site takes from scratch and a one-day update takes
from start to exit, how much each day and a channel's month weigh and what a day page loads, and,
in headless Chromium, a day page's first paint and the moment its chart is drawn, from a local
server, and the readout's time per pointer move. With --log, the same weights for a day that
talvor-log wrote from generated scans. Figures only, no verdicts.

    bench/site_bench.py --render build/talvor-render --gen build/talvor-gen-daylog \
        [--log build/talvor-log] [--days 365]
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
        paints, charts = [], []
        for _ in range(5):
            browser.get("about:blank")
            browser.get(url)
            paint = chart = -1
            for _ in range(200):
                paint, chart = browser.execute_script(
                    "var p = performance.getEntriesByName('first-contentful-paint')[0];"
                    "var c = performance.getEntriesByName('talvor-chart-drawn')[0];"
                    "return [p ? p.startTime : -1, c ? c.startTime : -1]")
                if paint >= 0 and chart >= 0:
                    break
                time.sleep(0.05)
            paints.append(paint)
            charts.append(chart)
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
        return sorted(paints)[len(paints) // 2], sorted(charts)[len(charts) // 2], per_move
    finally:
        browser.quit()
        server.shutdown()


def print_transfer(site, day):
    """A day's folder, and what its page loads: the page, its scripts and style, its data."""
    folder = os.path.join(site, day)
    sizes = {name: os.path.getsize(os.path.join(folder, name)) for name in os.listdir(folder)}
    print("a day's files: " + ", ".join("%s %d KB" % (n, (s + 500) // 1000) for n, s in sorted(sizes.items())))
    own = [n for n in ["index.html", "data.js", "levels.js", "chart.js", "heard.js"] if n in sizes]
    shared = ["days.js", "stations.js"] + ["assets/" + n for n in os.listdir(os.path.join(site, "assets"))]
    page = sum(sizes[n] for n in own) + sum(os.path.getsize(os.path.join(site, n)) for n in shared)
    day_bytes = folder_size(folder)
    print("a day on disk: %d bytes (%.2f MiB); a day page's transfer (%s and the shared %s): %d bytes (%.2f MiB)"
          % (day_bytes, day_bytes / 2**20, ", ".join(own), ", ".join(shared), page, page / 2**20))


def logged_day(args, work):
    """A day that talvor-log wrote from the generator's scans, drawn into a site of its own."""
    station = os.path.join(work, "logged")
    os.makedirs(station)
    with open(os.path.join(station, "TALVOR.INI"), "w") as f:
        f.write("[KELDAN]\n")
    scans = subprocess.run([args.gen, "--csv", "2026-02-01"], check=True, capture_output=True).stdout
    subprocess.run([args.log, "--config", "TALVOR.INI", "--utc"], cwd=station, input=scans,
                   check=True, capture_output=True)
    subprocess.run([args.render, "--config", "TALVOR.INI", "--size", "1920x1500", "--site", "www"],
                   cwd=station, check=True, capture_output=True)
    print("a day that talvor-log wrote:")
    print_transfer(os.path.join(station, "www"), "2026-02-01")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--render", required=True)
    parser.add_argument("--gen", required=True)
    parser.add_argument("--log", help="talvor-log, for the weights of a day it wrote")
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
        print("the whole site: %.0f MB" % (folder_size(os.path.join(work, "www")) / 1e6))
        month = os.path.join(work, "www", days[0][:7])
        if os.path.exists(os.path.join(month, "data.js")):
            scripts = [n for n in os.listdir(month) if n.startswith("peaks-")]
            channel = sum(os.path.getsize(os.path.join(month, n)) for n in scripts + ["data.js"])
            largest = max(os.path.getsize(os.path.join(month, n)) for n in scripts)
            print("a channel's month (%s): %d KB in data.js and %d range scripts; a kHz loads at most %d KB"
                  % (days[0][:7], (channel + 500) // 1000, len(scripts), (largest + 500) // 1000))
        print_transfer(os.path.join(work, "www"), update_day)
        if args.log:
            logged_day(args, work)
        try:
            for width, height in [] if args.no_browser else [(2000, 1700), (1366, 768), (390, 844)]:
                paint, chart, per_move = browser_figures(os.path.join(work, "www"), update_day, width, height)
                print("day page at %d x %d (local server, headless Chromium): first contentful paint "
                      "median %.0f ms, chart drawn %.0f ms; readout update per pointer move %.3f ms"
                      % (width, height, paint, chart, per_move))
        except ImportError:
            print("python3-selenium missing: no browser figures")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
