#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The archive's website in a real browser.

Generates a few synthetic days, writes the site with talvor-render --site, and drives Debian's
headless Chromium through chromedriver over it, served by a static server on 127.0.0.1 and
opened from file:// as well: in a window that shows the chart at its own size, and at 1366 x 768
with a mouse and 390 x 844 with touch, where the chart is scaled to the window. What the pages
show is checked against the day logs' own bytes.

    site_browser_test.py --render build/talvor-render --gen build/talvor-gen-daylog
"""
import argparse
import base64
import csv
import functools
import hashlib
import html.parser
import io
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
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ElementTree
import zlib

SKIP = 77
RECORD = 4890
LEVELS = 48
CLOCK = 39  # the time text's "hh:mm"

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException, WebDriverException
    from selenium.webdriver.chrome.service import Service as ChromeService
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    print("site_browser_test: python3-selenium is not installed; skipped")
    sys.exit(SKIP)

DAYS = ["2026-11-30", "2026-12-01", "2026-12-02", "2026-12-05"]
# The screens a listener brings: a laptop with a mouse, a phone with a finger.
SCREENS = [("1366x768", 1366, 768, False), ("390x844 touch", 390, 844, True)]
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
            self.bytes = bytearray(f.read())
        self.count = len(self.bytes) // RECORD

    def level(self, record, khz):
        return struct.unpack_from("<i", self.bytes, record * RECORD + LEVELS + 4 * (khz - 500))[0]

    def clock(self, record):
        return self.bytes[record * RECORD + CLOCK: record * RECORD + CLOCK + 5].decode()

    def set_level(self, record, khz, value):
        struct.pack_into("<i", self.bytes, record * RECORD + LEVELS + 4 * (khz - 500), value)

    def quarter_peak(self, khz, quarter):
        """The highest level of a quarter hour as the chart draws it (above 1000 is noise and
        counts as 0), or None where the log has no record in it."""
        levels = [self.level(k, khz) for k in range(self.count) if minute_of(self.clock(k)) // 15 == quarter]
        return max(0 if v > 1000 or v < 0 else min(v, 255) for v in levels) if levels else None


def minute_of(clock):
    return int(clock[:2]) * 60 + int(clock[3:])


def clock_of(minute):
    return "%02d:%02d" % (minute // 60, minute % 60)


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
    # A carrier in the day at 1000 kHz, the kHz of the station whose name holds markup, as strong
    # as a level can be: it is among the day's ten strongest in the feed, with that name.
    for record in range(600, 801):
        log.set_level(record, 1000, 255)
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


def render(args, work, site, *extra, config="TALVOR.INI"):
    return run([args.render, "--config", os.path.join(work, config), "--size",
                "%dx%d" % (WIDTH, HEIGHT), "--site", site, *extra], cwd=work)


def make_overseas_station(work, args):
    """A station on the 9 kHz plan (OVERSEAS=9) with one of the days, and its site."""
    folder = os.path.join(work, "overseas")
    os.makedirs(os.path.join(folder, "BRANTOS", "2026-12-01"))
    shutil.copy(os.path.join(work, "BRANTOS", "2026-12-01", "VOK.LOG"),
                os.path.join(folder, "BRANTOS", "2026-12-01", "VOK.LOG"))
    with open(os.path.join(folder, "TALVOR.INI"), "w") as f:
        f.write("[CUSTOM]\r\nOVERSEAS=9\r\n")
    result = render(args, folder, os.path.join(folder, "www"))
    check(result.returncode == 0, "the 9 kHz station's site is written: %s" % result.stderr)
    return os.path.join(folder, "www")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def start_server(root):
    handler = functools.partial(QuietHandler, directory=root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def new_browser(width=2200, height=1900, touch=False):
    """A browser whose window shows width x height CSS pixels: a phone's (touch, three device
    pixels a CSS pixel) or a desktop's."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(flag)
    if touch:
        options.add_experimental_option("mobileEmulation", {"deviceMetrics": {
            "width": width, "height": height, "pixelRatio": 3.0, "touch": True}})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = ChromeService(executable_path="/usr/bin/chromedriver")
    browser = webdriver.Chrome(service=service, options=options)
    if not touch:
        browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    browser.set_page_load_timeout(60)
    # The PNG download is made and checked, never saved.
    browser.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "deny"})
    return browser


def severe_messages(browser):
    return [m["message"] for m in browser.get_log("browser") if m["level"] == "SEVERE"]


def wait_levels(browser):
    WebDriverWait(browser, 30).until(
        lambda b: b.execute_script("return document.body.dataset.levels || ''") != "")
    return browser.execute_script("return document.body.dataset.levels")


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
    latest = browser.execute_script(
        "var a = document.querySelector('.latest a'); return [a.parentNode.textContent, a.getAttribute('href')]")
    check(latest == ["Latest: 2026-12-05", "2026-12-05/index.html"], "%s: the latest day is named: %s" % (label, latest))
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
    # The greys of a quarter hour without a record and a day without a log stand out from the
    # page and from each other.
    greys = browser.execute_script("""
        function rgb(e) { return getComputedStyle(e).backgroundColor.match(/\\d+/g).slice(0, 3).map(Number); }
        var keys = [...document.querySelectorAll('.legend .key')];
        return [rgb(document.body)].concat(['no record', 'no day log'].map(
          label => rgb(keys.find(k => k.textContent.trim() === label).querySelector('.swatch'))));""")
    apart = lambda a, b: max(abs(p - q) for p, q in zip(a, b)) >= 24
    check(apart(greys[0], greys[1]) and apart(greys[0], greys[2]) and apart(greys[1], greys[2]),
          "%s: no record and no day log are told from the page and each other: %s" % (label, greys))
    # Each month links the months before and after it that have days, and no others.
    for month, want in [("2026-12", {"prev": "../2026-11/index.html"}),
                        ("2026-11", {"next": "../2026-12/index.html"})]:
        browser.get(base + month + "/index.html")
        links = browser.execute_script(
            "var out = {}; document.querySelectorAll('nav a[rel]').forEach(a => out[a.rel] = a.getAttribute('href'));"
            "return out")
        check(links == want, "%s: %s links its neighbour months: %s" % (label, month, links))
    check(severe_messages(browser) == [], "%s: index and month without console errors" % label)


def check_index_heard(browser, base, label, rows):
    """The index names the feed and lists the latest days' counts and new kHz, as --heard has them."""
    browser.get(base + "index.html")
    feed = browser.execute_script(
        "var l = document.querySelector('link[rel=alternate][type=\"application/atom+xml\"]'); return l && l.getAttribute('href')")
    check(feed == "feed.xml", "%s: the index links the feed: %s" % (label, feed))
    listed = browser.execute_script("""
        return [...document.querySelectorAll('.heard-days > li')].map(li => [li.querySelector('a').textContent,
          li.firstChild.nextSibling.textContent, [...li.querySelectorAll('.new-carriers .khz')].map(k => k.textContent)]);""")
    want = []
    for day in reversed(DAYS):
        fresh = [r for r in rows[day] if r["new"] == "yes"]
        khz = list(dict.fromkeys(r["khz"] + " kHz" for r in fresh))[:20]
        want.append([day, ": %d carriers, %d new%s" % (len(rows[day]), len(fresh), ":" if fresh else ""), khz])
    check(listed == want, "%s: the index lists the latest days as --heard does: %s, not %s" % (label, listed, want))


def check_day(browser, base, label, log):
    browser.get(base + "2026-12-01/index.html")
    check(wait_levels(browser) == "ready", "%s: the day's levels decode" % label)
    drawn = browser.execute_script("var c = document.getElementById('chart-image');"
                                   "return [document.body.dataset.chart, c.width, c.height]")
    check(drawn == ["drawn", WIDTH, HEIGHT], "%s: the chart is drawn: %s" % (label, drawn))
    resources = browser.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)")
    outside = [r for r in resources if not r.startswith(base)]
    check(outside == [], "%s: no request leaves the site: %s" % (label, outside))
    names = browser.execute_script(
        "return [...document.querySelectorAll('.downloads a')].map(a => [a.getAttribute('href'), a.download])")
    # The activity plot's last label, 24:00, lies whole inside the plot.
    label_end = browser.execute_script(
        "var svg = document.querySelector('svg.activity');"
        "var last = [...svg.querySelectorAll('text')].find(t => t.textContent === '24:00').getBBox();"
        "return [last.x + last.width, svg.viewBox.baseVal.width]")
    check(label_end[0] <= label_end[1], "%s: 24:00 is whole: ends at %s" % (label, label_end))
    check(names == [["chart.gif", "VOKLOG 2026-12-01.GIF"], ["#", "VOKLOG 2026-12-01.png"],
                    ["VOK.LOG.gz", "2026-12-01 VOK.LOG.gz"], ["summary.txt", "2026-12-01 Z.TXT"]],
          "%s: downloads are saved under the day's names: %s" % (label, names))
    # The PNG download is made from the canvas, also on a page opened from the disk, whose
    # canvas stays readable: the file saved holds the chart's pixels.
    link = browser.find_element(By.ID, "chart-png")
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", link)
    link.click()
    WebDriverWait(browser, 20).until(lambda b: b.execute_script(
        "return document.getElementById('chart-png').dataset.made"))
    saved = browser.execute_async_script("""
        var done = arguments[arguments.length - 1], link = document.getElementById('chart-png');
        var canvas = document.getElementById('chart-image');
        fetch(link.href).then(r => r.blob()).then(blob => createImageBitmap(blob)).then(picture => {
          var copy = document.createElement('canvas');
          copy.width = picture.width;
          copy.height = picture.height;
          copy.getContext('2d').drawImage(picture, 0, 0);
          var a = copy.getContext('2d').getImageData(0, 0, copy.width, copy.height).data;
          var b = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
          done([link.href.slice(0, 5), a.length === b.length && a.every((v, i) => v === b[i])]);
        }).catch(e => done(String(e)));""")
    check(saved == ["blob:", True], "%s: the PNG download holds the chart: %s" % (label, saved))

    # The station whose name holds markup: shown as text, never run.
    pointer(browser, False, "move", *chart_client(browser, 1000, 12 * 60))
    stations = browser.find_element(By.ID, "stations")
    check(SCRIPT_NAME in stations.text and "Night Only" not in stations.text,
          "%s: the station list names the day station at noon: %r" % (label, stations.text))
    check(browser.execute_script("return document.querySelectorAll('#stations script').length") == 0
          and browser.title != "owned", "%s: a station's <script> stays text" % label)
    pointer(browser, False, "move", *chart_client(browser, 1000, 23 * 60))
    check("Night Only" in stations.text, "%s: a station on air at night is named at night" % label)

    # Dragging 990..1010 kHz x 11:00..13:00 shows those levels, a cell each, in the chart's colours.
    first, last = 11 * 60, 13 * 60
    drag(browser, False, chart_client(browser, 990, first), chart_client(browser, 1010, last, scroll=False))
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


# ---- The pages on a laptop's and a phone's screen, through the chart's scaling ----

def pointer(browser, touch, kind, x, y):
    """One pointer event at a viewport point that may lie between whole CSS pixels, as a finger
    on a phone's denser screen or a mouse does: kind is down, move or up."""
    if touch:
        kinds = {"down": "touchStart", "move": "touchMove", "up": "touchEnd"}
        browser.execute_cdp_cmd("Input.dispatchTouchEvent", {
            "type": kinds[kind], "touchPoints": [] if kind == "up" else [{"x": x, "y": y}]})
    else:
        kinds = {"down": "mousePressed", "move": "mouseMoved", "up": "mouseReleased"}
        browser.execute_cdp_cmd("Input.dispatchMouseEvent", {
            "type": kinds[kind], "x": x, "y": y, "button": "left" if kind != "move" else "none",
            "buttons": 1 if kind == "down" else 0, "clickCount": 1})


def drag(browser, touch, start, end):
    pointer(browser, touch, "down", *start)
    if not touch:
        browser.execute_cdp_cmd("Input.dispatchMouseEvent", {
            "type": "mouseMoved", "x": end[0], "y": end[1], "button": "left", "buttons": 1})
    else:
        pointer(browser, touch, "move", *end)
    pointer(browser, touch, "up", *end)


def tap(browser, touch, x, y):
    if not touch:
        pointer(browser, touch, "move", x, y)
    pointer(browser, touch, "down", x, y)
    pointer(browser, touch, "up", x, y)


def chart_client(browser, khz, record, scroll=True):
    """The viewport point at the middle of the chart's pixel of (kHz, record), the chart first
    scrolled to show that row in the upper half of the window (above the readout bar)."""
    fx = (khz + X_ORIGIN - 500 + 0.5) / WIDTH
    fy = (record + TOP + 0.5) / HEIGHT
    return browser.execute_script("""
        var r = document.getElementById('chart-image').getBoundingClientRect();
        if (arguments[2]) window.scrollBy(0, r.top + arguments[1] * r.height - innerHeight * 0.35);
        r = document.getElementById('chart-image').getBoundingClientRect();
        return [r.left + arguments[0] * r.width, r.top + arguments[1] * r.height];""", fx, fy, scroll)


def screen_state(browser, plot="chart"):
    """The readout's text and whether it is inside the window, and the crosshair's lines."""
    return browser.execute_script("""
        var readout = document.getElementById('readout'), r = readout.getBoundingClientRect();
        function line(selector) {
          var e = document.querySelector(selector);
          if (!e || e.offsetParent === null) return null;
          var b = e.getBoundingClientRect();
          return [b.left, b.top, b.right, b.bottom];
        }
        return {text: readout.textContent, inside: r.width > 0 && r.left >= 0 && r.top >= 0 &&
                  r.right <= innerWidth && r.bottom <= innerHeight,
                down: line('#' + arguments[0] + ' .cross-down'), across: line('#' + arguments[0] + ' .cross-across')};""",
                                  plot)


def crosses_at(state, x, y):
    down, across = state["down"], state["across"]
    return (down is not None and across is not None and down[0] - 1 <= x <= down[2] + 1
            and across[1] - 1 <= y <= across[3] + 1)


def sideways(browser):
    """How far the page scrolls sideways, in CSS pixels (0 when it does not)."""
    return browser.execute_script("return document.documentElement.scrollWidth - innerWidth")


def wanted_text(log, khz, record):
    return "%d kHz  %s UTC  level %d" % (khz, log.clock(record), log.level(record, khz))


def check_screen(browser, base, label, log, touch):
    for page in ("index.html", "2026-12/index.html", "2026-11/index.html", "2026-12-01/index.html"):
        browser.get(base + page)
        check(sideways(browser) <= 0, "%s: %s does not scroll sideways (by %d px)" % (label, page, sideways(browser)))
    check(wait_levels(browser) == "ready", "%s: the day's levels decode" % label)

    # A reading at each point, through the chart's scaling, exactly as logged; marked by the
    # crosshair and shown in the window; a tap's reading stays until the next.
    # Channels of the plan and not, a kHz between channels, levels above a byte (the readout
    # tells the logged number), the level field's corners.
    for khz, record in [(810, 600), (1080, 130), (1000, 720), (1003, 100), (1215, 333), (540, 200),
                        (540, 201), (520, 0), (1700, 1439)]:
        x, y = chart_client(browser, khz, record)
        if touch:
            tap(browser, touch, x, y)
        else:
            pointer(browser, touch, "move", x, y)
        state = screen_state(browser)
        check(state["text"].startswith(wanted_text(log, khz, record)) and state["inside"],
              "%s: readout at %d kHz, record %d: %r, in the window: %s"
              % (label, khz, record, state["text"], state["inside"]))
        check(crosses_at(state, x, y), "%s: the crosshair marks %d kHz, record %d: %s at %.1f,%.1f"
              % (label, khz, record, state, x, y))
    for khz, record, channel in [(1003, 100, "(channel 1000 kHz)"),
                                 (810, 600, "(channel 810 kHz, not drawn on the chart)"),
                                 (1080, 130, "(channel 1080 kHz, not drawn on the chart)"),
                                 (1215, 333, "(channel 1210 kHz)")]:
        x, y = chart_client(browser, khz, record)
        tap(browser, touch, x, y)
        state = screen_state(browser)
        check(state["text"].endswith(channel), "%s: %d kHz names %s: %r" % (label, khz, channel, state["text"]))
    check(browser.current_url.endswith("#khz=1215&t=" + log.clock(333)),
          "%s: the point read is in the address: %s" % (label, browser.current_url))
    if touch:
        # A finger moving over the chart scrolls the page, and the reading stays.
        x, y = chart_client(browser, 1000, 700)
        before = browser.execute_script("return scrollY")
        pointer(browser, touch, "down", x, y)
        for step in range(1, 9):
            pointer(browser, touch, "move", x, y - 20 * step)
        pointer(browser, touch, "up", x, y - 160)
        check(eventually(browser, lambda b: b.execute_script("return scrollY") != before),
              "%s: a finger moving over the chart scrolls the page" % label)
        check(browser.find_element(By.ID, "zoom").get_attribute("hidden") is not None,
              "%s: a finger moving over the chart opens no zoom" % label)
    else:
        # The pointer leaving the chart returns to the reading kept.
        pointer(browser, touch, "move", 1, 1)
    state = screen_state(browser)
    check(state["text"].startswith(wanted_text(log, 1215, 333)) and state["inside"],
          "%s: the reading stays until the next: %r" % (label, state["text"]))

    # Addresses that name a point and a zoom show them.
    browser.get("about:blank")
    browser.get(base + "2026-12-01/index.html#khz=1080&t=02:10")
    wait_levels(browser)
    x, y = chart_client(browser, 1080, 130, scroll=False)
    state = screen_state(browser)
    check(state["text"].startswith(wanted_text(log, 1080, 130)) and crosses_at(state, x, y)
          and 0 <= y < browser.execute_script("return innerHeight"),
          "%s: #khz=1080&t=02:10 shows that point: %s at %.1f,%.1f" % (label, state, x, y))
    browser.get("about:blank")
    browser.get(base + "2026-12-01/index.html#zoom=990-1010,11:00-13:00")
    wait_levels(browser)
    check(zoom_window(browser) == [990, 1010, 660, 780] and sideways(browser) <= 0,
          "%s: #zoom=990-1010,11:00-13:00 shows that zoom: %s" % (label, zoom_window(browser)))
    close = browser.execute_script("var r = document.getElementById('zoom-close').getBoundingClientRect();"
                                   "return r.width > 0 && r.bottom <= innerHeight && r.right <= innerWidth")
    check(close, "%s: the zoom's close button is in view" % label)
    browser.find_element(By.ID, "zoom-close").click()
    check(zoom_window(browser) is None and not browser.current_url.endswith("13:00"),
          "%s: the close button closes the zoom" % label)

    # A zoom opened by hand (a mouse drags; a finger asks with Zoom and taps two corners) is a
    # step in the history: Back closes it, Forward opens it again.
    browser.get("about:blank")
    browser.get(base + "2026-12-01/index.html")
    wait_levels(browser)
    if touch:
        browser.find_element(By.ID, "zoom-button").click()
        tap(browser, touch, *chart_client(browser, 990, 660))
        tap(browser, touch, *chart_client(browser, 1010, 780))
    else:
        drag(browser, touch, chart_client(browser, 990, 660), chart_client(browser, 1010, 780, scroll=False))
    check(zoom_window(browser) == [990, 1010, 660, 780] and browser.current_url.endswith("#zoom=990-1010,11:00-13:00"),
          "%s: the zoom opened by hand: %s, %s" % (label, zoom_window(browser), browser.current_url))
    x, y = browser.execute_script("""
        var c = document.getElementById('zoom-canvas'), z = c.zoom || {left: 0, top: 0, cellWidth: 0, cellHeight: 0};
        c.scrollIntoView({block: 'center'}); var r = c.getBoundingClientRect();
        return [r.left + (z.left + 10.5 * z.cellWidth) * r.width / c.width,
                r.top + (z.top + 60.5 * z.cellHeight) * r.height / c.height];""")
    tap(browser, touch, x, y)
    state = screen_state(browser, "zoom-plot")
    check(state["text"].startswith(wanted_text(log, 1000, 720)) and state["inside"] and crosses_at(state, x, y),
          "%s: the zoom reads its cells: %s" % (label, state))
    if not touch:
        ActionChains(browser).send_keys(Keys.ARROW_RIGHT).perform()
        check(zoom_window(browser) is not None and "2026-12-01/" in browser.current_url,
              "%s: Right does nothing while zoomed" % label)
    browser.back()
    check(eventually(browser, lambda b: zoom_window(b) is None), "%s: Back closes the zoom" % label)
    browser.forward()
    check(eventually(browser, lambda b: zoom_window(b) == [990, 1010, 660, 780]),
          "%s: Forward opens the zoom again" % label)
    if zoom_window(browser) == "gone":
        return
    ActionChains(browser).send_keys(Keys.ESCAPE).perform()

    if not touch:
        # A drag that starts in the time labels' margin opens no zoom.
        drag(browser, touch, chart_client(browser, 400, 600), chart_client(browser, 1000, 700, scroll=False))
        check(zoom_window(browser) is None, "%s: a drag from outside the level field opens no zoom" % label)
    # "?" shows the keys and gestures, in the window; Escape hides them.
    ActionChains(browser).send_keys("?").perform()
    shown = browser.execute_script("var h = document.getElementById('help'), r = h.getBoundingClientRect();"
                                   "return !h.hidden && r.top >= 0 && r.right <= innerWidth")
    check(shown and "Left, Right" in browser.find_element(By.ID, "help").text and sideways(browser) <= 0,
          "%s: ? shows the keys and gestures" % label)
    ActionChains(browser).send_keys(Keys.ESCAPE).perform()
    check(not browser.find_element(By.ID, "help").is_displayed(), "%s: Escape hides the keys" % label)
    # Copy link copies the address of what is shown, or offers it to copy by hand.
    x, y = chart_client(browser, 1080, 130)
    tap(browser, touch, x, y)
    browser.find_element(By.ID, "copy-link").click()
    eventually(browser, lambda b: b.find_element(By.ID, "tool-status").text
               or b.find_elements(By.CSS_SELECTOR, ".link-field"))
    offered = [f.get_attribute("value") for f in browser.find_elements(By.CSS_SELECTOR, ".link-field")]
    copied = browser.find_element(By.ID, "tool-status").text == "Link copied"
    check(copied or offered == [browser.current_url], "%s: Copy link: %s %s" % (label, copied, offered))
    check(severe_messages(browser) == [], "%s: without console errors" % label)


def zoom_window(browser):
    """The zoom's window shown, None when the day is shown whole, "gone" off the day page."""
    return browser.execute_script(
        "var c = document.getElementById('zoom-canvas'); if (!c) return 'gone';"
        "var z = c.zoom;"
        "return document.getElementById('zoom').hidden || !z ? null : [z.firstKhz, z.lastKhz, z.firstRecord, z.lastRecord]")


def eventually(browser, condition, seconds=10):
    try:
        WebDriverWait(browser, seconds).until(condition)
        return True
    except TimeoutException:
        return False


# The chart as the page draws it, against the frame that talvor-render --format png writes for
# the same day: both plans, both colour modes, and a frame that cuts the level field.
CHART_STATIONS = [("colour", "1366x768", "[CUSTOM]\r\nOVERSEAS=9\r\nVOKCOLOR=1\r\n"),
                  ("small", "800x600", "[CUSTOM]\nVOKSENS=0.5\n")]


def make_frames(work, args):
    """The frame of 2026-12-01 as a PNG for the main station (frames/plain.png) and for each of
    CHART_STATIONS, which get a site of that day (NAME/www) and a frame (frames/NAME.png)."""
    frames = os.path.join(work, "frames")
    os.makedirs(frames)
    stations = [("plain", work, "%dx%d" % (WIDTH, HEIGHT))]
    for name, size, ini in CHART_STATIONS:
        folder = os.path.join(work, name)
        os.makedirs(os.path.join(folder, "BRANTOS", "2026-12-01"))
        shutil.copy(os.path.join(work, "BRANTOS", "2026-12-01", "VOK.LOG"),
                    os.path.join(folder, "BRANTOS", "2026-12-01", "VOK.LOG"))
        with open(os.path.join(folder, "TALVOR.INI"), "w") as f:
            f.write(ini)
        result = run([args.render, "--config", os.path.join(folder, "TALVOR.INI"), "--size", size,
                      "--site", os.path.join(folder, "www")], cwd=folder)
        check(result.returncode == 0, "the %s station's site is written: %s" % (name, result.stderr))
        stations.append((name, folder, size))
    for name, folder, size in stations:
        result = run([args.render, "--config", os.path.join(folder, "TALVOR.INI"), "--size", size,
                      "--date", "2026-12-01", "--format", "png", "-o", os.path.join(frames, name + ".png")],
                     cwd=folder)
        check(result.returncode == 0, "the %s frame is drawn: %s" % (name, result.stderr))


def check_chart_is_frame(browser, base):
    """The canvas of the day page, read back, is the frame's PNG as the browser decodes it, byte
    for byte (a served page: a page from the disk may not fetch the frame)."""
    for name, site in [("plain", "www")] + [(n, n + "/www") for n, _, _ in CHART_STATIONS]:
        browser.get(base % site + "2026-12-01/index.html")
        check(wait_levels(browser) == "ready", "%s: the day's levels decode" % name)
        result = browser.execute_async_script("""
            var done = arguments[arguments.length - 1], canvas = document.getElementById('chart-image');
            fetch(arguments[0]).then(r => r.blob()).then(blob => createImageBitmap(blob,
                {premultiplyAlpha: 'none', colorSpaceConversion: 'none'})).then(frame => {
              var copy = document.createElement('canvas');
              copy.width = frame.width;
              copy.height = frame.height;
              copy.getContext('2d').drawImage(frame, 0, 0);
              var want = copy.getContext('2d').getImageData(0, 0, copy.width, copy.height).data;
              var got = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
              var wrong = 0, first = null;
              for (var i = 0; i < want.length && got.length === want.length; i++) {
                if (want[i] === got[i]) continue;
                wrong++;
                if (!first) first = [(i >> 2) % copy.width, Math.floor((i >> 2) / copy.width), want[i], got[i]];
              }
              done({size: [canvas.width, canvas.height, copy.width, copy.height], wrong: wrong, first: first});
            }).catch(e => done({error: String(e)}));""", base % "frames" + name + ".png")
        size = result.get("size", [0, 0, 0, 0])
        check("error" not in result and size[:2] == size[2:] and result["wrong"] == 0,
              "%s: the page's chart is the frame byte for byte: %s" % (name, result))


EARLIER_DAY = "2026-11-29"  # the day page of the version before, in tests/browser/earlier-day


def add_earlier_day(site):
    """The page that talvor-render wrote for a day before the page drew its chart, put into the
    site; its levels as that page's levels.js holds them (one zlib stream in base64)."""
    folder = os.path.join(site, EARLIER_DAY)
    shutil.copytree(os.path.join(os.path.dirname(os.path.abspath(__file__)), "earlier-day"), folder)
    with open(os.path.join(folder, "levels.js")) as f:
        packed = f.read().split('levelData = "')[1].split('"')[0]
    return zlib.decompress(base64.b64decode(packed))


def check_earlier_day(browser, base, label, levels):
    """The scripts of now serve a day page of the version before: its picture, its readout."""
    browser.get(base + EARLIER_DAY + "/index.html")
    check(wait_levels(browser) == "ready", "%s: the earlier day's levels decode" % label)
    width, x_origin = 640, 640 // 2 - 600
    for khz, record in [(1000, 5), (800, 0), (1400, 9)]:  # 780..1419 kHz are on its chart
        x, y = browser.execute_script("""
            var r = document.getElementById('chart-image').getBoundingClientRect();
            return [r.left + arguments[0] * r.width, r.top + arguments[1] * r.height];""",
                                      (khz + x_origin - 500 + 0.5) / width, (record + TOP + 0.5) / 480)
        pointer(browser, False, "move", x, y)
        want = "%d kHz  00:%02d UTC  level %d" % (khz, record, levels[record * 1181 + khz - 520])
        text = screen_state(browser)["text"]
        check(text.startswith(want), "%s: the earlier day reads %r: %r" % (label, want, text))
    shown = browser.execute_script("var i = document.getElementById('chart-image');"
                                   "return [i.tagName, i.complete && i.naturalWidth]")
    check(shown == ["IMG", 640], "%s: the earlier day shows its picture: %s" % (label, shown))
    check(severe_messages(browser) == [], "%s: the earlier day without console errors" % label)


def check_overseas(browser, base, log):
    """The readout of a station on the 9 kHz plan names that plan's channels."""
    browser.get(base + "2026-12-01/index.html")
    wait_levels(browser)
    for khz, channel in [(1215, "(channel 1215 kHz)"), (1210, "(channel 1206 kHz)"), (540, "(channel 540 kHz, not drawn on the chart)")]:
        tap(browser, False, *chart_client(browser, khz, 333))
        text = screen_state(browser)["text"]
        check(text.startswith(wanted_text(log, khz, 333)) and text.endswith(channel),
              "the 9 kHz plan's channel at %d kHz: %r" % (khz, text))


# ---- What was heard: the day's list, a channel's month, the index and the feed ----

def heard_rows(args, work):
    """talvor-render --heard's lines for the site's days, by date."""
    result = run([args.render, "--config", os.path.join(work, "TALVOR.INI"), "--heard", "--from", DAYS[0],
                  "--to", DAYS[-1]], cwd=work)
    check(result.returncode == 0, "--heard lists the days: %s" % result.stderr)
    rows = {}
    for row in csv.DictReader(io.StringIO(result.stdout)):
        rows.setdefault(row["date"], []).append(row)
    return rows


def table_rows(browser):
    return browser.execute_script(
        "return [...document.querySelectorAll('#heard-table tbody tr')].map(r => [...r.cells].map(c => c.textContent))")


def check_heard(browser, base, label, rows):
    """The day page's list is --heard's CSV of the day; it sorts by a heading clicked or chosen
    with the keyboard; a carrier chosen opens its window in the zoom, Back closes it."""
    browser.get("about:blank")
    browser.get(base + "2026-12-01/index.html")
    wait_levels(browser)
    day = rows["2026-12-01"]
    want = [[r["khz"], r["first_utc"], r["last_utc"], r["minutes"], r["peak_level"],
             "new" if r["new"] == "yes" else "", r["stations"]] for r in day]
    got = table_rows(browser)
    check(got == want and len(want) > 20, "%s: the day's list is --heard's (%d rows, %d wanted; first apart: %s)"
          % (label, len(got), len(want), next(([g, w] for g, w in zip(got, want) if g != w), None)))
    fresh = sum(r["new"] == "yes" for r in day)
    check(browser.find_element(By.ID, "heard-count").text == "%d carriers, %d new." % (len(day), fresh),
          "%s: the list's count: %r" % (label, browser.find_element(By.ID, "heard-count").text))
    browser.find_element(By.CSS_SELECTOR, "#heard-table th[data-key=peak] button").click()
    peaks = [int(r[4]) for r in table_rows(browser)]
    check(peaks == sorted((int(r["peak_level"]) for r in day), reverse=True),
          "%s: a click on Peak sorts the strongest first: %s" % (label, peaks[:5]))
    browser.find_element(By.CSS_SELECTOR, "#heard-table th[data-key=first] button").send_keys(Keys.ENTER)
    firsts = [r[1] for r in table_rows(browser)]
    sort = browser.find_element(By.CSS_SELECTOR, "#heard-table th[data-key=first]").get_attribute("aria-sort")
    check(firsts == sorted(firsts) and sort == "ascending", "%s: Enter on From sorts by the first minute" % label)

    # The planted carrier at 1000 kHz, with room around it: a tenth of its minutes, 5 kHz.
    carrier = next(r for r in day if r["khz"] == "1000" and minute_of(r["first_utc"]) <= 700 <= minute_of(r["last_utc"]))
    room = max(10, int(int(carrier["minutes"]) / 10 + 0.5))
    first, last = max(0, minute_of(carrier["first_utc"]) - room), min(1439, minute_of(carrier["last_utc"]) + room)
    link = browser.execute_script(
        "return [...document.querySelectorAll('#heard-table tbody tr')].find(r => r.cells[0].textContent === '1000'"
        " && r.cells[1].textContent === arguments[0]).querySelector('a')", carrier["first_utc"])
    browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", link)
    link.click()
    check(eventually(browser, lambda b: zoom_window(b) == [995, 1005, first, last]) and
          browser.current_url.endswith("#zoom=995-1005,%s-%s" % (clock_of(first), clock_of(last))),
          "%s: the carrier chosen opens its zoom: %s, %s" % (label, zoom_window(browser), browser.current_url))
    browser.back()
    check(eventually(browser, lambda b: zoom_window(b) is None), "%s: Back closes the carrier's zoom" % label)
    check(severe_messages(browser) == [], "%s: the list without console errors" % label)


def channel_cell(browser, day, quarter):
    """The point at the middle of a cell of the channel's grid, scrolled into view, where a
    pointer event lands on it: the grid ends the page, and a phone's visual viewport may then lie
    below the layout viewport that element boxes are measured in."""
    return browser.execute_script("""
        var c = document.getElementById('channel-canvas');
        c.scrollIntoView({block: 'center'});
        var r = c.getBoundingClientRect(), v = window.visualViewport || {offsetLeft: 0, offsetTop: 0};
        return [r.left + (arguments[1] + 0.5) * r.width / c.width - v.offsetLeft,
                r.top + (arguments[0] + 0.5) * r.height / c.height - v.offsetTop];""", day, quarter)


def wait_channel(browser, khz):
    return eventually(browser, lambda b: b.execute_script("return document.body.dataset.channel || ''") == str(khz))


def check_channel(browser, base, label, logs, touch=False, points=None):
    """A month page at #khz=1080 shows that kHz's quarter hours: each cell reads and is coloured
    as the highest level of its quarter hour in the log; the form and the station list ask for
    another kHz."""
    browser.get("about:blank")
    browser.get(base + "2026-12/index.html#khz=1080")
    check(wait_channel(browser, 1080), "%s: #khz=1080 opens the channel" % label)
    for date, khz, quarter in points or [("2026-12-01", 1080, 9), ("2026-12-01", 1080, 0), ("2026-12-02", 1080, 95),
                                         ("2026-12-05", 1080, 50), ("2026-12-03", 1080, 40)]:
        if khz != int(browser.execute_script("return document.body.dataset.channel")):
            field = browser.find_element(By.ID, "channel-khz")
            field.clear()
            field.send_keys(str(khz), Keys.ENTER)
            check(wait_channel(browser, khz) and browser.current_url.endswith("#khz=%d" % khz),
                  "%s: the form asks for %d kHz: %s" % (label, khz, browser.current_url))
        d = int(date[-2:]) - 1
        x, y = channel_cell(browser, d, quarter)
        tap(browser, touch, x, y)
        peak = logs[date].quarter_peak(khz, quarter) if date in logs else None
        want = ("%d kHz  %s %s UTC  level %d" % (khz, date, clock_of(quarter * 15), peak) if peak is not None
                else "%d kHz  %s  no day log" % (khz, date))
        text = browser.find_element(By.ID, "channel-readout").text
        check(text == want, "%s: the channel reads %r, not %r" % (label, text, want))
        if peak is not None:
            colour = browser.execute_script(
                "return [...document.getElementById('channel-canvas').getContext('2d')"
                ".getImageData(arguments[0], arguments[1], 1, 1).data].slice(0, 3)", quarter, d)
            check(tuple(colour) == chart_colour(peak), "%s: the cell of %s %d is coloured as level %d: %s"
                  % (label, date, quarter, peak, colour))
    if not touch:
        Select(browser.find_element(By.ID, "channel-station")).select_by_visible_text("Night Only, Far away \u2013 1000 kHz")
        check(wait_channel(browser, 1000) and browser.current_url.endswith("#khz=1000"),
              "%s: a station picked by name shows its kHz: %s" % (label, browser.current_url))
    check(sideways(browser) <= 0, "%s: the channel's month does not scroll sideways" % label)
    check(severe_messages(browser) == [], "%s: the channel without console errors" % label)


class PageText(html.parser.HTMLParser):
    """The text and the element names of an HTML fragment."""
    def __init__(self, fragment):
        super().__init__()
        self.text, self.tags = "", []
        self.feed(fragment)

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)

    def handle_data(self, data):
        self.text += data


ATOM = "{http://www.w3.org/2005/Atom}"


def feed_entries(url):
    with urllib.request.urlopen(url) as response:
        root = ElementTree.fromstring(response.read())
    check(root.tag == ATOM + "feed" and root.find(ATOM + "id") is not None and root.find(ATOM + "updated") is not None,
          "%s is an Atom feed" % url)
    return [{"id": e.findtext(ATOM + "id"), "title": e.findtext(ATOM + "title"),
             "updated": e.findtext(ATOM + "updated"), "content": e.find(ATOM + "content"),
             "link": e.find(ATOM + "link[@rel='alternate']").get("href")} for e in root.findall(ATOM + "entry")]


def check_feed(args, work, site, port, rows):
    """feed.xml parses as Atom: an entry a day, newest first, titled with --heard's counts, its
    link leading to the day's page, a station's markup as text; --site-url makes the links
    absolute and changes no id or time."""
    url = "http://127.0.0.1:%d/www/feed.xml" % port
    entries = feed_entries(url)
    check([e["title"] for e in entries] == ["%s: %d carriers, %d new" % (d, len(rows[d]), sum(r["new"] == "yes" for r in rows[d]))
                                            for d in reversed(DAYS)],
          "the feed's titles are the days' counts: %s" % [e["title"] for e in entries])
    check(len({e["id"] for e in entries}) == len(DAYS) and all(e["id"].startswith("urn:uuid:") for e in entries),
          "each entry has an id of its own")
    for e, day in zip(entries, reversed(DAYS)):
        for base in (url, "file://" + os.path.join(site, "feed.xml")):
            with urllib.request.urlopen(urllib.parse.urljoin(base, e["link"])) as page:
                check('data-day="%s"' % day in page.read().decode(), "the entry of %s leads to its page from %s" % (day, base))
    content = next(e["content"] for e in entries if e["title"].startswith("2026-12-01"))
    text = PageText(content.text)
    planted = next(r for r in rows["2026-12-01"] if r["khz"] == "1000" and r["first_utc"] == "10:00")
    item = "1000 kHz, 10:00\u2013%s UTC, peak 255: %s" % (planted["last_utc"], planted["stations"])
    check(content.get("type") == "html" and item in text.text and SCRIPT_NAME in item and "script" not in text.tags,
          "a station's markup is text in the feed: %r" % text.text)

    result = render(args, work, site, "--date", DAYS[-1], "--site-url", "http://127.0.0.1:%d/www" % port)
    check(result.returncode == 0, "--site-url is taken: %s" % result.stderr)
    published = feed_entries(url)
    check([(e["id"], e["updated"]) for e in published] == [(e["id"], e["updated"]) for e in entries],
          "the entries keep their ids and times")
    for e in published:
        check(e["link"].startswith("http://127.0.0.1:%d/www/20" % port), "the link is absolute: %s" % e["link"])
        with urllib.request.urlopen(e["link"]) as page:
            check(page.status == 200, "%s is served" % e["link"])
    result = render(args, work, site, "--date", DAYS[-1], "--site-url", "javascript:alert(1)")
    check(result.returncode == 2 and "--site-url" in result.stderr, "a site URL that is no http address is refused: %s"
          % result.stderr)


def check_rules(browser):
    """The plain rules of the page against tables."""
    rules = browser.execute_script("""
        var T = window.Talvor, day = T.day, plan = day.plan, rule = day.levelRule;
        var nine = {spacing: 9, first: 531, last: 1701, drawn: [1206, 1215]};
        function station(on, off) { return {khz: 1, name: 'a', place: '', on: on, off: off}; }
        return {
          channels: [520, 535, 536, 540, 545, 810, 1003, 1080, 1215, 1700].map(k => T.nearestChannel(k, plan)),
          nine: [520, 1210, 1211, 1215, 1700].map(k => T.nearestChannel(k, nine)),
          names: [[810, plan], [1000, plan], [1206, nine]].map(c => T.channelText(c[0], c[1])),
          scaled: [[-5, 1], [0, 1], [143, 1], [255, 1], [256, 1], [1000, 1], [1001, 1],
                   [200, 0.5], [201, 0.5]].map(c => T.scaledLevel(c[0], c[1], rule)),
          onAir: [[station(-1, -1), 0], [station(1080, 360), 1079], [station(1080, 360), 1080],
                  [station(1080, 360), 359], [station(1080, 360), 360], [station(360, 1080), 720]]
                 .map(c => T.onAir(c[0], c[1])),
          clocks: ['00:00', '23:59', '24:00', '7:05', 'ab:cd'].map(T.minuteOfClock),
          text: T.readoutText(1000, '12:00', 143),
          views: ['#khz=1080&t=02:10', '#zoom=990-1010,11:00-13:00', '#zoom=990-1010,11:00-13:00&khz=1000&t=12:00',
                  '#khz=1701&t=02:10', '#khz=1080&t=24:00', '#zoom=1010-990,11:00-13:00', '#zoom=990-1010,13:00-11:00',
                  '#khz=1e3&t=02:10', '', '#other=1']
                 .map(f => { var v = T.viewOf(day, f); return [v.zoom && [v.zoom.firstKhz, v.zoom.lastKhz,
                   v.zoom.firstRecord, v.zoom.lastRecord], v.point && [v.point.khz, v.point.record], T.fragmentOf(day, v)]; }),
        };""")
    check(rules["channels"] == [520, 530, 540, 540, 540, 810, 1000, 1080, 1210, 1700],
          "nearest channels: %s" % rules["channels"])
    check(rules["nine"] == [531, 1206, 1215, 1215, 1701], "nearest channels of the 9 kHz plan: %s" % rules["nine"])
    check(rules["names"] == ["channel 810 kHz, not drawn on the chart", "channel 1000 kHz", "channel 1206 kHz"],
          "channel names: %s" % rules["names"])
    check(rules["scaled"] == [0, 0, 143, 255, 255, 255, 0, 100, 100], "scaled levels: %s" % rules["scaled"])
    check(rules["onAir"] == [True, False, True, True, False, True], "hours on air: %s" % rules["onAir"])
    check(rules["clocks"] == [0, 1439, -1, -1, -1], "clocks: %s" % rules["clocks"])
    check(rules["text"] == "1000 kHz  12:00 UTC  level 143", "readout text: %r" % rules["text"])
    # An address names a point and a zoom; what it names badly is left out, and what the page
    # shows gives the same address back.
    check(rules["views"] == [[None, [1080, 130], "khz=1080&t=02:10"],
                             [[990, 1010, 660, 780], None, "zoom=990-1010,11:00-13:00"],
                             [[990, 1010, 660, 780], [1000, 720], "zoom=990-1010,11:00-13:00&khz=1000&t=12:00"],
                             [None, None, ""], [None, None, ""], [None, None, ""], [None, None, ""],
                             [None, None, ""], [None, None, ""], [None, None, ""]],
          "views of addresses: %s" % rules["views"])


def check_update(args, work, site):
    before = file_hashes(site)
    # The day is logged again, shorter: its files change, its month and the index may.
    result = run([args.gen, os.path.join(work, "BRANTOS"), "2026-12-02", "--minutes", "600"])
    assert result.returncode == 0, result.stderr
    result = render(args, work, site, "--date", "2026-12-02")
    check(result.returncode == 0, "the one-day update runs: %s" % result.stderr)
    after = file_hashes(site)
    changed = {name for name in after if before.get(name) != after[name]}
    # The feed, and the list of a day in the week after the one drawn, whose new carriers it may
    # change.
    allowed = {"index.html", "days.js", "talvor-site.manifest", "feed.xml", "2026-12-05/heard.js"}
    unexpected = {n for n in changed if n not in allowed and not n.startswith("2026-12-02/")
                  and not n.startswith("2026-12/")}
    check(unexpected == set(), "an update leaves every other day's files unchanged: %s" % unexpected)
    check("2026-12-02/levels.js" in changed and "2026-12-02/index.html" in changed,
          "the updated day's files change")
    check(set(before) <= set(after), "nothing is deleted")
    with open(os.path.join(site, "feed.xml")) as f:
        check("href=\"http://127.0.0.1:" in f.read(), "the site keeps its address for the feed")


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
        overseas = make_overseas_station(work, args)
        make_frames(work, args)
        earlier = add_earlier_day(site)
        log = DayLog(os.path.join(work, "BRANTOS", "2026-12-01", "VOK.LOG"))
        logs = {day: DayLog(os.path.join(work, "BRANTOS", day, "VOK.LOG")) for day in DAYS}
        rows = heard_rows(args, work)

        server = start_server(work)
        bases = [("http://127.0.0.1:%d/%%s/" % server.server_address[1], "http"), ("file://" + work + "/%s/", "file")]
        try:
            browser = new_browser()
            try:
                for base, label in bases:
                    check_index(browser, base % "www", label)
                    check_index_heard(browser, base % "www", label, rows)
                    check_heard(browser, base % "www", label, rows)
                    check_channel(browser, base % "www", label, logs)
                    check_earlier_day(browser, base % "www", label, earlier)
                    check_day(browser, base % "www", label, log)
                check_rules(browser)
                check_overseas(browser, bases[0][0] % "overseas/www", log)
                check_chart_is_frame(browser, bases[0][0])
            finally:
                browser.quit()
            for screen, width, height, touch in SCREENS:
                browser = new_browser(width, height, touch)
                try:
                    for base, label in bases:
                        check_screen(browser, base % "www", "%s %s" % (label, screen), log, touch)
                    check_channel(browser, bases[0][0] % "www", "http " + screen, logs, touch,
                                  [("2026-12-01", 1080, 9), ("2026-12-01", 540, 13)])
                finally:
                    browser.quit()
            check_feed(args, work, site, server.server_address[1], rows)
        finally:
            server.shutdown()
        check_update(args, work, site)
        check_refusals(args, work, site)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
