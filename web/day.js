// SPDX-License-Identifier: GPL-3.0-or-later
// The day page: the chart at the window's width with a readout bar fixed to the window's foot,
// the crosshair on the point read, the zoom (a mouse drag, or Zoom and then a drag or two taps),
// the page's address holding the point read and the zoom (Back closes a zoom), the neighbour
// days (also on Left and Right), Copy link, and the keys on "?".
//
// The pages' scripts are plain scripts, not modules, and have no build step: a page opened from
// the disk (file://) may not load modules, and a listener opens the site from the disk as often
// as from a server. Each script adds its part to window.Talvor, in the order the page loads
// them: days.js, stations.js, the day's data.js (its numbers), levels.js and chart.js (written by
// talvor-render), format.js, levels.js, zoom.js, field.js, this one. Everything the station wrote
// is set as text, never as markup.
(function (T) {
  "use strict";

  var day = T.day;
  var image = document.getElementById("chart-image");
  var chart = document.getElementById("chart");
  var selection = document.getElementById("selection");
  var zoomBox = document.getElementById("zoom");
  var zoomPlot = document.getElementById("zoom-plot");
  var zoomCanvas = document.getElementById("zoom-canvas");
  var readout = document.getElementById("readout");
  var stationLine = document.getElementById("stations");
  var zoomButton = document.getElementById("zoom-button");
  var status = document.getElementById("tool-status");
  var help = document.getElementById("help");
  var hint = readout.textContent;
  var levels = null;
  var palette = T.paletteOf(day);
  var stations = T.stations || [];
  // What the page shows, as its address tells it: the point read (kept until the next) and the
  // zoom window, each null when there is none.
  var view = { point: null, zoom: null };
  // Zoom asked for by its button: the next drag, or two taps, choose the window.
  var picking = null;

  // ---- The neighbour days ----
  var days = T.days || [];
  var here = days.indexOf(day.date);
  function link(id, other) {
    var a = document.getElementById(id);
    if (other) {
      a.href = "../" + other + "/index.html";
      a.querySelector("span").textContent = other;
      a.hidden = false;
    } else {
      a.removeAttribute("href");
      a.hidden = true;
    }
    return other ? a.href : null;
  }
  var previous = link("prev", here > 0 ? days[here - 1] : null);
  var next = link("next", here >= 0 && here + 1 < days.length ? days[here + 1] : null);

  // ---- The crosshair: two lines through a point, placed in fractions of its picture ----
  function crosshair(container) {
    var box = document.createElement("div");
    box.className = "crosshair";
    box.hidden = true;
    var across = document.createElement("div"), down = document.createElement("div");
    across.className = "cross-across";
    down.className = "cross-down";
    box.appendChild(across);
    box.appendChild(down);
    container.appendChild(box);
    return function (spot) {
      box.hidden = !spot;
      if (!spot) return;
      down.style.left = spot.x * 100 + "%";
      across.style.top = spot.y * 100 + "%";
    };
  }
  var markChart = crosshair(chart);
  var markZoom = crosshair(zoomPlot);
  function chartSpot(place) {
    if (!place || place.record >= Math.min(day.drawnRows, day.records)) return null;
    return {
      x: (T.xOfKhz(day, place.khz) + 0.5) / day.width,
      y: (day.top + place.record + 0.5) / day.height,
    };
  }

  // ---- The readout ----
  // The text for a place on the level field, or null off it.
  T.readoutAt = function (place) {
    if (!place || !levels) return null;
    var clock = T.clockAt(day, place.record);
    var channel = T.nearestChannel(place.khz, day.plan);
    return {
      text: T.readoutText(place.khz, clock, levels.levelAt(place.record, place.khz)),
      channel: T.channelText(channel, day.plan),
      stations: T.stationsOn(stations, place.khz, T.minuteOfClock(clock)),
    };
  };

  // Shows the reading of a place (null: the point read, if any) with its crosshair.
  function show(place) {
    place = place || view.point;
    markChart(view.zoom ? null : chartSpot(place));
    markZoom(view.zoom ? T.zoomSpot(zoomCanvas, place) : null);
    stationLine.textContent = "";
    if (!levels) {
      // Until the levels are read, or with the reason they could not be.
      if (document.body.dataset.levels !== "failed") {
        readout.textContent = "Reading the day\u2019s levels\u2026";
      }
      return;
    }
    var result = T.readoutAt(place);
    if (!result) {
      readout.textContent = hint;
      return;
    }
    readout.textContent = result.text + "   (" + result.channel + ")";
    result.stations.forEach(function (s) {
      var item = document.createElement("span");
      item.className = "station";
      item.textContent = T.stationText(s);
      stationLine.appendChild(item);
    });
  }

  // ---- The address ----
  function remember(push) {
    var fragment = T.fragmentOf(day, view);
    var url = location.href.replace(/#.*$/, "") + (fragment ? "#" + fragment : "");
    if (url === location.href) return;
    if (push) history.pushState(null, "", url);
    else history.replaceState(null, "", url);
  }
  function read(place) {
    view.point = place;
    remember(false);
    show(null);
  }

  // ---- The zoom ----
  function openZoom(area, push) {
    if (!levels) return false;
    view.zoom = area;
    chart.hidden = true;
    zoomBox.hidden = false;
    // The zoom fits the window's width and, with its axes, the height above the readout bar.
    var bar = document.getElementById("readout-bar").offsetHeight;
    var room = { width: zoomBox.clientWidth, height: window.innerHeight - bar - 60 };
    T.drawZoom(zoomCanvas, day, levels, palette, area, room);
    if (push) remember(true);
    show(null);
    return true;
  }
  function closeZoom(push) {
    view.zoom = null;
    zoomBox.hidden = true;
    chart.hidden = false;
    if (push) remember(true);
    show(null);
  }
  T.zoomTo = function (firstKhz, lastKhz, firstRecord, lastRecord) {
    var area = { firstKhz: firstKhz, lastKhz: lastKhz, firstRecord: firstRecord, lastRecord: lastRecord };
    return openZoom(area, true);
  };
  T.closeZoom = function () {
    closeZoom(true);
  };
  document.getElementById("zoom-close").addEventListener("click", T.closeZoom);

  // The place on the level field nearest to a chart pixel, or null when it has no rows.
  function clampPlace(pixel) {
    var rows = Math.min(day.drawnRows, day.records);
    if (rows < 1) return null;
    var khz = Math.max(day.firstKhz, Math.min(day.lastKhz, T.khzAtX(day, pixel.x)));
    return { khz: khz, record: Math.max(0, Math.min(rows - 1, pixel.y - day.top)) };
  }
  function zoomBetween(a, b) {
    a = clampPlace(a);
    b = clampPlace(b);
    if (!a || !b) return;
    T.zoomTo(Math.min(a.khz, b.khz), Math.max(a.khz, b.khz), Math.min(a.record, b.record),
      Math.max(a.record, b.record));
  }

  function pick(on) {
    picking = on ? { corner: null } : null;
    chart.classList.toggle("picking", on);
    zoomButton.textContent = on ? "Cancel zoom" : "Zoom";
    zoomButton.setAttribute("aria-pressed", on ? "true" : "false");
    status.textContent = on ? "Drag over the chart, or tap two corners of the window" : "";
    selection.hidden = true;
  }
  zoomButton.addEventListener("click", function () {
    if (view.zoom) closeZoom(true);
    pick(!picking);
  });

  // ---- The pointer over the chart ----
  // The chart's pixel under a pointer, through whatever scaling the picture is shown at.
  function chartPixel(event) {
    var box = image.getBoundingClientRect();
    return {
      x: Math.floor(((event.clientX - box.left) * day.width) / box.width),
      y: Math.floor(((event.clientY - box.top) * day.height) / box.height),
    };
  }
  function placeSelection(a, b) {
    var box = chart.getBoundingClientRect();
    selection.hidden = false;
    selection.style.left = Math.min(a.x, b.x) - box.left + "px";
    selection.style.top = Math.min(a.y, b.y) - box.top + "px";
    selection.style.width = Math.max(1, Math.abs(b.x - a.x)) + "px";
    selection.style.height = Math.max(1, Math.abs(b.y - a.y)) + "px";
  }

  // A mouse or pen reads where it hovers and drags a window; a finger scrolls the page as
  // anywhere else and reads where it taps, unless Zoom asked for a window.
  var press = null;
  var TAP_SLOP = 6; // CSS pixels a tap or click may wander
  chart.addEventListener("pointerdown", function (event) {
    if (event.button !== 0) return;
    var pixel = chartPixel(event);
    var touch = event.pointerType === "touch";
    press = {
      x: event.clientX,
      y: event.clientY,
      pixel: pixel,
      onField: T.chartPlace(day, pixel.x, pixel.y) !== null,
      drags: !touch || picking !== null,
    };
    if (press.drags) {
      if (!touch) show(T.chartPlace(day, pixel.x, pixel.y));
      chart.setPointerCapture(event.pointerId);
      event.preventDefault();
    }
  });
  chart.addEventListener("pointermove", function (event) {
    var touch = event.pointerType === "touch";
    if (touch && !(press && press.drags)) return;
    var pixel = chartPixel(event);
    show(T.chartPlace(day, pixel.x, pixel.y));
    // Only a drag that starts on the level field chooses a window.
    if (press && press.drags && press.onField && moved(event)) {
      placeSelection(press, { x: event.clientX, y: event.clientY });
    }
  });
  function moved(event) {
    return Math.abs(event.clientX - press.x) > TAP_SLOP || Math.abs(event.clientY - press.y) > TAP_SLOP;
  }
  chart.addEventListener("pointerup", function (event) {
    if (!press) return;
    var start = press, end = chartPixel(event);
    var dragged = moved(event);
    press = null;
    selection.hidden = true;
    if (dragged) {
      if (start.drags && start.onField) {
        pick(false);
        zoomBetween(start.pixel, end);
      }
      return;
    }
    var place = T.chartPlace(day, end.x, end.y);
    if (!picking) {
      read(place);
    } else if (place && !picking.corner) {
      picking.corner = { pixel: end, x: event.clientX, y: event.clientY };
      placeSelection(picking.corner, picking.corner);
      status.textContent = "Now tap the opposite corner";
    } else if (place) {
      var corner = picking.corner.pixel;
      pick(false);
      zoomBetween(corner, end);
    }
  });
  chart.addEventListener("pointercancel", function () {
    // A finger that began to scroll: no tap.
    press = null;
    selection.hidden = true;
  });
  chart.addEventListener("pointerleave", function (event) {
    if (!press && event.pointerType !== "touch") show(null);
  });

  // ---- The pointer over the zoom ----
  function zoomPlaceOf(event) {
    var box = zoomCanvas.getBoundingClientRect();
    var x = ((event.clientX - box.left) * zoomCanvas.width) / box.width;
    var y = ((event.clientY - box.top) * zoomCanvas.height) / box.height;
    return T.zoomPlace(zoomCanvas.zoom, x, y);
  }
  var zoomPress = null;
  zoomCanvas.addEventListener("pointermove", function (event) {
    if (event.pointerType !== "touch") show(zoomPlaceOf(event));
  });
  zoomCanvas.addEventListener("pointerleave", function (event) {
    if (event.pointerType !== "touch") show(null);
  });
  zoomCanvas.addEventListener("pointerdown", function (event) {
    zoomPress = { x: event.clientX, y: event.clientY };
  });
  zoomCanvas.addEventListener("pointercancel", function () {
    zoomPress = null;
  });
  zoomCanvas.addEventListener("pointerup", function (event) {
    if (!zoomPress) return;
    var start = zoomPress;
    zoomPress = null;
    if (Math.abs(event.clientX - start.x) > TAP_SLOP || Math.abs(event.clientY - start.y) > TAP_SLOP) return;
    var place = zoomPlaceOf(event);
    if (place) read(place);
  });

  // ---- Keys ----
  function toggleHelp(on) {
    help.hidden = !on;
    if (on) document.getElementById("help-close").focus();
  }
  document.getElementById("help-button").addEventListener("click", function () {
    toggleHelp(help.hidden);
  });
  document.getElementById("help-close").addEventListener("click", function () {
    toggleHelp(false);
  });
  // Shift and an arrow move the point read by one kHz or one minute (record).
  var STEPS = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
  document.addEventListener("keydown", function (event) {
    if (event.altKey || event.ctrlKey || event.metaKey || event.target.tagName === "INPUT") return;
    if (event.key === "?") {
      toggleHelp(help.hidden);
    } else if (event.key === "Escape") {
      if (!help.hidden) toggleHelp(false);
      else if (picking) pick(false);
      else if (view.zoom) closeZoom(true);
    } else if (event.shiftKey && STEPS[event.key] && view.point && levels) {
      var step = STEPS[event.key], p = view.point;
      read({
        khz: Math.max(day.firstKhz, Math.min(day.lastKhz, p.khz + step[0])),
        record: Math.max(0, Math.min(day.records - 1, p.record + step[1])),
      });
      event.preventDefault();
    } else if (event.shiftKey || view.zoom || picking) {
      // Left and Right would leave the zoom, and its window, behind.
    } else if (event.key === "ArrowLeft" && previous) {
      location.href = previous;
    } else if (event.key === "ArrowRight" && next) {
      location.href = next;
    }
  });

  // ---- Copy link ----
  document.getElementById("copy-link").addEventListener("click", function () {
    var url = location.href;
    function offer() {
      // No clipboard for this page (refused, or too old a browser): the link to copy by hand.
      status.textContent = "";
      var field = document.createElement("input");
      field.type = "text";
      field.readOnly = true;
      field.value = url;
      field.className = "link-field";
      field.setAttribute("aria-label", "Link to what is shown");
      status.appendChild(field);
      field.select();
    }
    if (!navigator.clipboard) return offer();
    navigator.clipboard.writeText(url).then(function () {
      status.textContent = "Link copied";
    }, offer);
  });

  // ---- The address, read: on opening, and on Back and Forward ----
  function apply() {
    var wanted = T.viewOf(day, location.hash);
    view.point = wanted.point;
    pick(false);
    if (wanted.zoom) openZoom(wanted.zoom, false);
    else if (view.zoom) closeZoom(false);
    else show(null);
    var spot = view.zoom ? null : chartSpot(view.point);
    if (spot && location.hash) {
      // The point read in the middle of the window, whatever the chart's scale.
      var box = image.getBoundingClientRect();
      var middle = window.scrollY + box.top + spot.y * box.height - window.innerHeight / 2;
      window.scrollTo(0, Math.max(0, middle));
    }
  }
  window.addEventListener("popstate", apply);

  // The chart is drawn from the levels; a day page of the version before shows a picture of
  // its own instead (its chart.js is missing).
  var loading = T.loadLevels(day);
  var drawing = !T.dayChart ? null : T.drawChart(image, day, loading, palette, T.dayChart).then(
    function () {
      T.offerPng(image, document.getElementById("chart-png"));
      document.body.dataset.chart = "drawn";
      performance.mark("talvor-chart-drawn");
    },
    function (error) {
      status.textContent = "The chart could not be drawn: " + error.message;
      document.body.dataset.chart = "failed";
    }
  );

  T.ready = loading.then(
    function (loaded) {
      levels = loaded;
      return Promise.resolve(drawing).then(function () {
        document.body.dataset.levels = "ready";
        apply();
      });
    },
    function (error) {
      readout.textContent = "The day's levels could not be read: " + error.message;
      document.body.dataset.levels = "failed";
    }
  );
})((window.Talvor = window.Talvor || {}));
