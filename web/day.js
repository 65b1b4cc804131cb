// SPDX-License-Identifier: GPL-3.0-or-later
// The day page: links to the neighbour days (also on Left and Right), the readout under the
// pointer, and the zoom dragged over the chart (Escape goes back). Everything the station wrote
// is set as text, never as markup.
(function (T) {
  "use strict";

  var day = T.day;
  var image = document.getElementById("chart-image");
  var chart = document.getElementById("chart");
  var selection = document.getElementById("selection");
  var zoomBox = document.getElementById("zoom");
  var zoomCanvas = document.getElementById("zoom-canvas");
  var readout = document.getElementById("readout");
  var stationLine = document.getElementById("stations");
  var levels = null;
  var palette = T.paletteOf(day);
  var stations = T.stations || [];

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
  document.addEventListener("keydown", function (event) {
    if (event.altKey || event.ctrlKey || event.metaKey || event.shiftKey) return;
    if (event.key === "Escape" && !zoomBox.hidden) {
      T.closeZoom();
    } else if (event.key === "ArrowLeft" && previous) {
      location.href = previous;
    } else if (event.key === "ArrowRight" && next) {
      location.href = next;
    }
  });

  // ---- The readout ----
  // The text for a place on the level field, or null off it.
  T.readoutAt = function (place) {
    if (!place || !levels) return null;
    var clock = day.clocks.substr(place.record * 5, 5);
    return {
      text: T.readoutText(place.khz, clock, levels.levelAt(place.record, place.khz)),
      channel: T.nearestChannel(place.khz, day.plan),
      stations: T.stationsOn(stations, place.khz, T.minuteOfClock(clock)),
    };
  };

  function show(place) {
    var result = T.readoutAt(place);
    if (!levels) {
      readout.textContent = "Reading the day's levels\u2026";
      return;
    }
    if (!result) {
      readout.textContent = "";
      stationLine.textContent = "";
      return;
    }
    readout.textContent = result.text + "   (channel " + result.channel + " kHz)";
    stationLine.textContent = "";
    result.stations.forEach(function (s) {
      var item = document.createElement("span");
      item.className = "station";
      item.textContent = T.stationText(s);
      stationLine.appendChild(item);
    });
  }

  // The chart's pixel under a pointer, at whatever size the picture is shown.
  function chartPixel(event) {
    var box = image.getBoundingClientRect();
    return {
      x: Math.floor(((event.clientX - box.left) * day.width) / box.width),
      y: Math.floor(((event.clientY - box.top) * day.height) / box.height),
    };
  }

  // ---- Dragging a window ----
  var dragStart = null;
  chart.addEventListener("pointerdown", function (event) {
    if (event.button !== 0) return;
    dragStart = { x: event.clientX, y: event.clientY, pixel: chartPixel(event) };
    // A touch has no pointer hovering before it: the readout answers the touch itself.
    show(T.chartPlace(day, dragStart.pixel.x, dragStart.pixel.y));
    chart.setPointerCapture(event.pointerId);
    event.preventDefault();
  });
  chart.addEventListener("pointermove", function (event) {
    var pixel = chartPixel(event);
    show(T.chartPlace(day, pixel.x, pixel.y));
    if (!dragStart) return;
    var box = chart.getBoundingClientRect();
    selection.hidden = false;
    selection.style.left = Math.min(dragStart.x, event.clientX) - box.left + "px";
    selection.style.top = Math.min(dragStart.y, event.clientY) - box.top + "px";
    selection.style.width = Math.abs(event.clientX - dragStart.x) + "px";
    selection.style.height = Math.abs(event.clientY - dragStart.y) + "px";
  });
  chart.addEventListener("pointerup", function (event) {
    if (!dragStart) return;
    var start = dragStart.pixel, end = chartPixel(event);
    dragStart = null;
    selection.hidden = true;
    if (Math.abs(end.x - start.x) < 3 || Math.abs(end.y - start.y) < 3) return;
    // The window as far as it lies on the level field.
    var a = clampPlace(Math.min(start.x, end.x), Math.min(start.y, end.y));
    var b = clampPlace(Math.max(start.x, end.x), Math.max(start.y, end.y));
    if (a && b) T.zoomTo(a.khz, b.khz, a.record, b.record);
  });
  chart.addEventListener("pointercancel", function () {
    dragStart = null;
    selection.hidden = true;
  });
  chart.addEventListener("pointerleave", function () {
    if (!dragStart) show(null);
  });

  function clampPlace(x, y) {
    var rows = Math.min(day.drawnRows, day.records);
    if (rows < 1) return null;
    var khz = Math.max(day.firstKhz, Math.min(day.lastKhz, T.khzAtX(day, x)));
    var record = Math.max(0, Math.min(rows - 1, y - day.top));
    return { khz: khz, record: record };
  }

  T.zoomTo = function (firstKhz, lastKhz, firstRecord, lastRecord) {
    if (!levels) return false;
    T.drawZoom(zoomCanvas, day, levels, palette, firstKhz, lastKhz, firstRecord, lastRecord);
    chart.hidden = true;
    zoomBox.hidden = false;
    return true;
  };
  T.closeZoom = function () {
    zoomBox.hidden = true;
    chart.hidden = false;
  };
  zoomCanvas.addEventListener("pointermove", function (event) {
    var box = zoomCanvas.getBoundingClientRect();
    var x = ((event.clientX - box.left) * zoomCanvas.width) / box.width;
    var y = ((event.clientY - box.top) * zoomCanvas.height) / box.height;
    show(T.zoomPlace(zoomCanvas.zoom, x, y));
  });

  T.ready = T.loadLevels(day).then(
    function (loaded) {
      levels = loaded;
      document.body.dataset.levels = "ready";
    },
    function (error) {
      readout.textContent = "The day's levels could not be read: " + error.message;
      document.body.dataset.levels = "failed";
    }
  );
})((window.Talvor = window.Talvor || {}));
