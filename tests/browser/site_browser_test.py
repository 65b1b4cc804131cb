#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The archive's website in a real browser.

Generates a few synthetic days, writes the site with talvor-render --site, and drives Debian's
headless Chromium through chromedriver over it, served by a static server on 127.0.0.1 and
opened from file:// as well. What the pages show is checked against the day logs' own bytes.

    site_browser_test.py --render build/talvor-render --gen build/talvor-gen-daylog
"""
import argparse
import functools
import hashlib
import math
import http.server
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
RECORD = 4890
LEVELS = 48
CLOCK = 39  # the time text's "hh:mm"

try:
    from selenium import webdriver
    from selenium.common.exceptions import WebDriverException
    from selenium.webdriver.chrome.service import Service as ChromeService
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("site_browser_test: python3-selenium is not installed; skipped")
    sys.exit(SKIP)

DAYS = ["2026-11-30", "2026-12-01", "2026-12-02", "2026-12-05"]
WIDTH, HEIGHT = 1920, 1500
X_ORIGIN = WIDTH // 2 - 600  # the chart's x of 500 kHz
TOP = 40  # the chart's y of the first record
SCRIPT_NAME = "Test <script>document.title='owned'</script> Radio"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


class DayLog:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.bytes = f.read()
        self.count = len(self.bytes) // RECORD

    def level(self, record, khz):
        return struct.unpack_from("<i", self.bytes, record * RECORD + LEVELS + 4 * (khz - 500))[0]

    def clock(self, record):
        return self.bytes[record * RECORD + CLOCK: record * RECORD + CLOCK + 5].decode()

    def set_level(self, record, khz, value):
        b = bytearray(self.bytes)
        struct.pack_into("<i", b, record * RECORD + LEVELS + 4 * (khz - 500), value)
        self.bytes = bytes(b)


def chart_colour(level):
    """The chart's colour mode 0 at sensitivity 1.0, from the level as logged."""
    if level > 1000:
        level = 0
    v = max(0, min(255, level))
    return (v, v, (255 - v) // 10)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=600, **kwargs)


def file_hashes(root):
    hashes = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                hashes[os.path.relpath(path, root)] = hashlib.sha256(f.read()).hexdigest()
    return hashes


def make_station(work, args):
    data = os.path.join(work, "BRANTOS")
    for day in DAYS:
        result = run([args.gen, data, day])
        assert result.returncode == 0, result.stderr
    # Levels the chart never shows as they are: a kHz between its channels, and levels above
    # the byte that the chart clips (the readout must still tell the logged number).
    log_path = os.path.join(data, "2026-12-01", "VOK.LOG")
    log = DayLog(log_path)
    log.set_level(100, 1003, 211)
    log.set_level(200, 540, 777)
    log.set_level(201, 540, 1234)
    with open(log_path, "wb") as f:
        f.write(log.bytes)
    with open(os.path.join(work, "TALVOR.INI"), "w") as f:
        f.write("[KELDAN]\n")
    with open(os.path.join(work, "STATIONS.CSV"), "w") as f:
        f.write("# kHz,name,place,hours\n")
        f.write("1000,%s,Here\n" % SCRIPT_NAME)
        f.write("1000,Night Only,Far away,18:00-06:00 UTC\n")
        f.write("not a station line\n")
    return data


def render(args, work, site, *extra):
    return run([args.render, "--config", os.path.join(work, "TALVOR.INI"), "--size",
                "%dx%d" % (WIDTH, HEIGHT), "--site", site, *extra], cwd=work)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def start_server(root):
    handler = functools.partial(QuietHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def new_browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=2200,1900", "--force-device-scale-factor=1"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = ChromeService(executable_path="/usr/bin/chromedriver")
    browser = webdriver.Chrome(service=service, options=options)
    browser.set_page_load_timeout(60)
    return browser


def severe_messages(browser):
    return [m["message"] for m in browser.get_log("browser") if m["level"] == "SEVERE"]


def wait_levels(browser):
    WebDriverWait(browser, 30).until(
        lambda b: b.execute_script("return document.body.dataset.levels || ''") != "")
    return browser.execute_script("return document.body.dataset.levels")


def client_point(browser, image, x, y):
    """The viewport point (whole CSS pixels) inside the chart's pixel (x, y); the picture is
    shown at its own size, but may stand at a fractional position."""
    box = browser.execute_script("var r = arguments[0].getBoundingClientRect();"
                                 "return [r.left, r.top];", image)
    return math.floor(box[0] + x) + 1 if box[0] % 1 else int(box[0]) + x, \
        math.floor(box[1] + y) + 1 if box[1] % 1 else int(box[1]) + y


def point_at(browser, image, x, y):
    browser.execute_script("arguments[0].scrollIntoView({block: 'center', inline: 'center'})", image)
    actions = ActionBuilder(browser)
    actions.pointer_action.move_to_location(*client_point(browser, image, x, y))
    actions.perform()


def check_index(browser, base, label):
    browser.get(base + "index.html")
    links = browser.execute_script(
        "return [...document.querySelectorAll('td.logged a')].map(a => a.getAttribute('href'))")
    check(sorted(links) == sorted(d + "/index.html" for d in DAYS),
          "%s: the index links exactly the logged days (got %s)" % (label, links))
    empty = browser.execute_script("return document.querySelectorAll('td.empty').length")
    check(empty == 30 + 31 - len(DAYS), "%s: every other day of the months is empty" % label)
    months = browser.execute_script(
        "return [...document.querySelectorAll('section.month h2 a:first-child')].map(a => a.textContent)")
    check(months == ["December 2026", "November 2026"], "%s: months newest first: %s" % (label, months))
    for selector in ("img.thumb", "img.strip"):
        images = browser.find_elements(By.CSS_SELECTOR, selector)
        check(len(images) == len(DAYS), "%s: one %s per logged day" % (label, selector))
        for image in images:
            browser.execute_script("arguments[0].scrollIntoView()", image)
            loaded = WebDriverWait(browser, 20).until(lambda b: b.execute_script(
                "return arguments[0].complete", image))
            width = browser.execute_script("return arguments[0].naturalWidth", image)
            check(loaded and width > 0, "%s: %s %s loads" % (label, selector, image.get_attribute("src")))
    browser.get(base + "2026-12/index.html")
    loaded = WebDriverWait(browser, 20).until(lambda b: b.execute_script(
        "var i = document.getElementById('propagation-image'); return i.complete && i.naturalHeight"))
    check(loaded == 31, "%s: December's propagation calendar has a row per day" % label)
    lines = browser.execute_script("return document.querySelectorAll('polyline.sunrise, polyline.sunset').length")
    check(lines >= 2, "%s: sunrise and sunset are drawn over the propagation calendar" % label)
    check(severe_messages(browser) == [], "%s: index and month without console errors" % label)


def check_day(browser, base, label, log):
    browser.get(base + "2026-12-01/index.html")
    check(wait_levels(browser) == "ready", "%s: the day's levels decode" % label)
    image = browser.find_element(By.ID, "chart-image")
    natural = browser.execute_script("return [arguments[0].naturalWidth, arguments[0].naturalHeight]", image)
    check(natural == [WIDTH, HEIGHT], "%s: the chart picture loads" % label)
    resources = browser.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)")
    outside = [r for r in resources if not r.startswith(base)]
    check(outside == [], "%s: no request leaves the site: %s" % (label, outside))

    # The readout at several (kHz, record) pairs, against the log's bytes: channels of the plan,
    # a kHz between them, one the plan leaves out, levels above a byte, the field's corners.
    for khz, record in [(1000, 720), (1003, 100), (540, 200), (540, 201), (520, 0),
                        (1700, 1439), (1215, 333)]:
        point_at(browser, image, khz + X_ORIGIN - 500, record + TOP)
        text = browser.find_element(By.ID, "readout").text
        want = "%d kHz  %s UTC  level %d" % (khz, log.clock(record), log.level(record, khz))
        check(text.startswith(want), "%s: readout at %d kHz, record %d: %r, wanted %r"
              % (label, khz, record, text, want))
    point_at(browser, image, 1003 + X_ORIGIN - 500, 100 + TOP)
    check("(channel 1000 kHz)" in browser.find_element(By.ID, "readout").text,
          "%s: the readout names the nearest channel" % label)

    # The station whose name holds markup: shown as text, never run.
    point_at(browser, image, 1000 + X_ORIGIN - 500, 12 * 60 + TOP)
    stations = browser.find_element(By.ID, "stations")
    check(SCRIPT_NAME in stations.text and "Night Only" not in stations.text,
          "%s: the station list names the day station at noon: %r" % (label, stations.text))
    check(browser.execute_script("return document.querySelectorAll('#stations script').length") == 0
          and browser.title != "owned", "%s: a station's <script> stays text" % label)
    point_at(browser, image, 1000 + X_ORIGIN - 500, 23 * 60 + TOP)
    check("Night Only" in stations.text, "%s: a station on air at night is named at night" % label)

    # Dragging 990..1010 kHz x 11:00..13:00 shows those levels, a cell each, in the chart's colours.
    first, last = 11 * 60, 13 * 60
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", image)
    actions = ActionBuilder(browser)
    actions.pointer_action.move_to_location(*client_point(browser, image, 990 + X_ORIGIN - 500, first + TOP))
    actions.pointer_action.pointer_down()
    actions.pointer_action.move_to_location(*client_point(browser, image, 1000 + X_ORIGIN - 500, first + 60 + TOP))
    actions.pointer_action.move_to_location(*client_point(browser, image, 1010 + X_ORIGIN - 500, last + TOP))
    actions.pointer_action.pointer_up()
    actions.perform()
    zoom = browser.execute_script("return document.getElementById('zoom-canvas').zoom || null")
    check(zoom is not None and browser.find_element(By.ID, "zoom").is_displayed(),
          "%s: the drag opens the zoom" % label)
    if zoom:
        check([zoom["firstKhz"], zoom["lastKhz"], zoom["firstRecord"], zoom["lastRecord"]]
              == [990, 1010, first, last], "%s: the zoom's window: %s" % (label, zoom))
        pixels = browser.execute_script("""
            var c = document.getElementById('zoom-canvas'), z = c.zoom, out = [];
            var d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
            for (var r = z.firstRecord; r <= z.lastRecord; r++)
              for (var k = z.firstKhz; k <= z.lastKhz; k++) {
                var x = Math.floor(z.left + (k - z.firstKhz + 0.5) * z.cellWidth);
                var y = Math.floor(z.top + (r - z.firstRecord + 0.5) * z.cellHeight);
                var at = (y * c.width + x) * 4;
                out.push([k, r, d[at], d[at + 1], d[at + 2]]);
              }
            return out;""")
        wrong = [p for p in pixels if tuple(p[2:]) != chart_colour(log.level(p[1], p[0]))]
        check(len(pixels) == 21 * 121 and wrong == [],
              "%s: the zoom's cells are the log's levels (%d of %d wrong, first %s)"
              % (label, len(wrong), len(pixels), wrong[:3]))
    ActionChains(browser).send_keys(Keys.ESCAPE).perform()
    check(browser.find_element(By.ID, "chart").is_displayed() and
          not browser.find_element(By.ID, "zoom").is_displayed(), "%s: Escape returns to the day" % label)

    # Left and Right reach the neighbour days with a page, over the days without one.
    for key, want in [(Keys.ARROW_RIGHT, "2026-12-02"), (Keys.ARROW_RIGHT, "2026-12-05"),
                      (Keys.ARROW_LEFT, "2026-12-02"), (Keys.ARROW_LEFT, "2026-12-01"),
                      (Keys.ARROW_LEFT, "2026-11-30")]:
        ActionChains(browser).send_keys(key).perform()
        WebDriverWait(browser, 20).until(lambda b: want in b.current_url)
        check(want + "/index.html" in browser.current_url, "%s: %s reaches %s" % (label, key, want))
    check(browser.find_element(By.ID, "prev").get_attribute("hidden") is not None,
          "%s: the first day has no earlier link" % label)
    check(severe_messages(browser) == [], "%s: day pages without console errors" % label)


def check_rules(browser):
    """The plain rules of the page against tables."""
    rules = browser.execute_script("""
        var T = window.Talvor, plan = T.day.plan;
        return {
          channels: [520, 535, 536, 540, 545, 1003, 1700].map(k => T.nearestChannel(k, plan)),
          scaled: [[-5, 1], [0, 1], [143, 1], [255, 1], [256, 1], [1000, 1], [1001, 1],
                   [200, 0.5], [201, 0.5]].map(c => T.scaledLevel(c[0], c[1])),
          onAir: [[[1, 'a', '', -1, -1], 0], [[1, 'a', '', 1080, 360], 1079],
                  [[1, 'a', '', 1080, 360], 1080], [[1, 'a', '', 1080, 360], 359],
                  [[1, 'a', '', 1080, 360], 360], [[1, 'a', '', 360, 1080], 720]]
                 .map(c => T.onAir(c[0], c[1])),
          clocks: ['00:00', '23:59', '24:00', '7:05', 'ab:cd'].map(T.minuteOfClock),
          text: T.readoutText(1000, '12:00', 143),
        };""")
    check(rules["channels"] == [520, 530, 530, 530, 550, 1000, 1700], "nearest channels: %s" % rules["channels"])
    check(rules["scaled"] == [0, 0, 143, 255, 255, 255, 0, 100, 100], "scaled levels: %s" % rules["scaled"])
    check(rules["onAir"] == [True, False, True, True, False, True], "hours on air: %s" % rules["onAir"])
    check(rules["clocks"] == [0, 1439, -1, -1, -1], "clocks: %s" % rules["clocks"])
    check(rules["text"] == "1000 kHz  12:00 UTC  level 143", "readout text: %r" % rules["text"])


def check_update(args, work, site):
    before = file_hashes(site)
    # The day is logged again, shorter: its files change, its month and the index may.
    result = run([args.gen, os.path.join(work, "BRANTOS"), "2026-12-02", "--minutes", "600"])
    assert result.returncode == 0, result.stderr
    result = render(args, work, site, "--date", "2026-12-02")
    check(result.returncode == 0, "the one-day update runs: %s" % result.stderr)
    after = file_hashes(site)
    changed = {name for name in after if before.get(name) != after[name]}
    allowed = {"index.html", "days.js", "talvor-site.manifest"}
    unexpected = {n for n in changed if n not in allowed and not n.startswith("2026-12-02/")
                  and not n.startswith("2026-12/")}
    check(unexpected == set(), "an update leaves every other day's files unchanged: %s" % unexpected)
    check("2026-12-02/levels.bin" in changed and "2026-12-02/index.html" in changed,
          "the updated day's files change")
    check(set(before) <= set(after), "nothing is deleted")


def check_refusals(args, work, site):
    plain = os.path.join(work, "plain-file")
    with open(plain, "w") as f:
        f.write("x")
    result = render(args, work, plain, "--date", "2026-12-01")
    check(result.returncode == 1 and "not a folder" in result.stderr,
          "a site that is a file is refused: %r" % result.stderr)
    # A page this program did not write stands where a day's page would go.
    os.makedirs(os.path.join(work, "other", "2026-12-01"))
    with open(os.path.join(work, "other", "2026-12-01", "index.html"), "w") as f:
        f.write("mine")
    result = render(args, work, os.path.join(work, "other"), "--date", "2026-12-01")
    check(result.returncode == 1 and "did not write" in result.stderr,
          "a foreign file stops the run: %r" % result.stderr)
    check(sorted(os.listdir(os.path.join(work, "other"))) == ["2026-12-01"]
          and os.listdir(os.path.join(work, "other", "2026-12-01")) == ["index.html"],
          "a refused run writes nothing")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--render", required=True)
    parser.add_argument("--gen", required=True)
    args = parser.parse_args()
    if not (os.path.exists("/usr/bin/chromium") and os.path.exists("/usr/bin/chromedriver")):
        print("site_browser_test: chromium or chromium-driver is not installed; skipped")
        return SKIP

    work = tempfile.mkdtemp(prefix="talvor-site-")
    try:
        make_station(work, args)
        site = os.path.join(work, "www")
        result = render(args, work, site)
        print(result.stdout + result.stderr, end="")
        check(result.returncode == 0, "the site is written")
        check("1 lines skipped" in result.stderr, "the station list's bad line is counted")
        log = DayLog(os.path.join(work, "BRANTOS", "2026-12-01", "VOK.LOG"))

        server = start_server(site)
        browser = new_browser()
        try:
            for base, label in [("http://127.0.0.1:%d/" % server.server_address[1], "http"),
                                ("file://" + site + "/", "file")]:
                check_index(browser, base, label)
                check_day(browser, base, label, log)
            check_rules(browser)
        finally:
            browser.quit()
            server.shutdown()
        check_update(args, work, site)
        check_refusals(args, work, site)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
