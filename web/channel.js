// SPDX-License-Identifier: GPL-3.0-or-later
// A channel's month, on the month page: the kHz asked for (typed, picked from the station list,
// or named by the address, "#khz=1080") drawn as a grid, a row a day and a column a quarter hour,
// each cell the highest level of that quarter hour in the chart's colours; the pointer or a tap
// reads a cell. The levels come in a script a range of kHz (peaks-0520.js, ...), loaded when a
// kHz of it is first asked for: a page opened from the disk may load scripts, not fetch files.
// Loaded after stations.js, the month's data.js, format.js and levels.js.
(function (T) {
  "use strict";

  var month = T.month;
  var form = document.getElementById("channel-form");
  if (!month || !form) return;
  var input = document.getElementById("channel-khz");
  var select = document.getElementById("channel-station");
  var status = document.getElementById("channel-status");
  var view = document.getElementById("channel-view");
  var canvas = document.getElementById("channel-canvas");
  var readout = document.getElementById("channel-readout");
  var plot = canvas.parentNode;
  var palette = T.decodeBase64(month.palette);
  var stations = T.stations || [];
  var shown = null; // { khz, levels: per day 96 levels or null }

  // ---- Plain rules, for the browser test's tables ----

  // The range (an index of month.ranges) that holds a kHz, or -1 off the band.
  T.peakRange = function (month, khz) {
    for (var r = 0; r < month.ranges.length; r++) {
      if (khz >= month.ranges[r][0] && khz <= month.ranges[r][1]) return r;
    }
    return -1;
  };
  // "1080 kHz  2025-11-20 02:15 UTC  level 187", or what stands in a cell without a level.
  T.channelReadout = function (khz, date, quarter, level) {
    var text = khz + " kHz  " + date;
    if (level === null) return text + "  no day log";
    text += " " + T.clockOfMinute(quarter * 15) + " UTC  ";
    return text + (level < 0 ? "no record" : "level " + level);
  };
  // The kHz an address names ("#khz=1080"), or -1.
  T.channelOfFragment = function (month, fragment) {
    var m = /(?:^#?|&)khz=(\d{1,4})(?:&|$)/.exec(fragment);
    var khz = m ? +m[1] : -1;
    return khz >= month.firstKhz && khz <= month.lastKhz ? khz : -1;
  };

  // ---- The levels, a range at a time ----
  var ranges = {}; // index -> promise of the days' decoded levels (null: no day log)
  function loadRange(r) {
    if (ranges[r]) return ranges[r];
    var first = month.ranges[r][0];
    ranges[r] = new Promise(function (resolve, reject) {
      var script = document.createElement("script");
      script.src = month.ranges[r][2];
      script.onload = function () {
        var days = T.peaks && T.peaks[first];
        if (!days) reject(new Error(month.ranges[r][2] + " holds no levels"));
        else resolve(days);
      };
      script.onerror = function () {
        reject(new Error(month.ranges[r][2] + " could not be loaded"));
      };
      document.head.appendChild(script);
    }).then(function (days) {
      return Promise.all(
        days.map(function (text) {
          return text === null ? null : T.inflate(T.decodeBase64(text));
        })
      );
    });
    ranges[r].catch(function () {
      delete ranges[r]; // asked again, it is loaded again
    });
    return ranges[r];
  }

  // Each day's 96 levels of a kHz (null for a day without a log), from its range's days.
  T.channelLevels = function (month, r, days, khz) {
    var first = month.ranges[r][0], width = month.ranges[r][1] - first + 1;
    return days.map(function (bytes, d) {
      if (bytes === null || !month.present[d]) return null;
      if (bytes.length !== width * month.quarters) throw new Error("the levels of day " + (d + 1) + " are damaged");
      var at = (khz - first) * month.quarters;
      return Array.prototype.map.call(bytes.subarray(at, at + month.quarters), function (level, q) {
        return month.present[d][q] === "1" ? level : -1;
      });
    });
  };

  // ---- Drawing and reading ----
  function rgb(hex) {
    return [1, 3, 5].map(function (i) { return parseInt(hex.substr(i, 2), 16); });
  }
  var noRecord = rgb(month.noRecord), noLog = rgb(month.noLog);
  function draw(levels) {
    var g = canvas.getContext("2d");
    var image = g.createImageData(month.quarters, month.days);
    for (var d = 0; d < month.days; d++) {
      for (var q = 0; q < month.quarters; q++) {
        var level = levels[d] ? levels[d][q] : null;
        var colour = level === null ? noLog : level < 0 ? noRecord : null;
        var at = (d * month.quarters + q) * 4;
        if (!colour) {
          var v = T.scaledLevel(level, month.sensitivity, month.levelRule) * 3;
          colour = [palette[v], palette[v + 1], palette[v + 2]];
        }
        image.data[at] = colour[0];
        image.data[at + 1] = colour[1];
        image.data[at + 2] = colour[2];
        image.data[at + 3] = 255;
      }
    }
    g.putImageData(image, 0, 0);
  }

  var mark = document.createElement("div");
  mark.className = "cell-mark";
  mark.hidden = true;
  plot.appendChild(mark);
  function dateOf(d) {
    return month.month + "-" + (d < 9 ? "0" : "") + (d + 1);
  }
  function readAt(event) {
    if (!shown) return;
    var box = canvas.getBoundingClientRect();
    var q = Math.floor(((event.clientX - box.left) * month.quarters) / box.width);
    var d = Math.floor(((event.clientY - box.top) * month.days) / box.height);
    if (q < 0 || q >= month.quarters || d < 0 || d >= month.days) return;
    var level = shown.levels[d] ? shown.levels[d][q] : null;
    readout.textContent = T.channelReadout(shown.khz, dateOf(d), q, level);
    mark.hidden = false;
    mark.style.left = (q * 100) / month.quarters + "%";
    mark.style.top = (d * 100) / month.days + "%";
    mark.style.width = 100 / month.quarters + "%";
    mark.style.height = 100 / month.days + "%";
  }
  // A mouse reads where it hovers; a finger where it taps (moving, it scrolls the page).
  canvas.addEventListener("pointermove", function (event) {
    if (event.pointerType !== "touch") readAt(event);
  });
  canvas.addEventListener("pointerup", readAt);

  function show(khz, scroll) {
    var r = T.peakRange(month, khz);
    if (r < 0) return;
    input.value = khz;
    status.textContent = "Reading the levels of " + month.ranges[r][0] + "\u2013" + month.ranges[r][1] + " kHz\u2026";
    loadRange(r)
      .then(function (days) {
        if (+input.value !== khz) return; // another kHz was asked for meanwhile
        shown = { khz: khz, levels: T.channelLevels(month, r, days, khz) };
        draw(shown.levels);
        view.hidden = false;
        mark.hidden = true;
        readout.textContent = "Point at the grid or tap it to read a quarter hour of " + khz + " kHz.";
        var on = stations.filter(function (s) { return s.khz === khz; }).map(T.stationText);
        status.textContent = khz + " kHz" + (on.length ? ": " + on.join(" \u00b7 ") : ", no station listed");
        document.body.dataset.channel = String(khz);
        if (scroll) document.getElementById("channel").scrollIntoView({ block: "start" });
      })
      .catch(function (error) {
        status.textContent = "The levels could not be read: " + error.message;
        document.body.dataset.channel = "failed";
      });
  }

  // ---- Asking: the form, the station list, the address ----
  stations
    .slice()
    .sort(function (a, b) {
      return a.name.localeCompare(b.name) || a.khz - b.khz;
    })
    .forEach(function (s) {
      var option = document.createElement("option");
      option.value = s.khz;
      option.textContent = s.name + (s.place ? ", " + s.place : "") + " \u2013 " + s.khz + " kHz";
      select.appendChild(option);
    });
  select.hidden = stations.length === 0;
  select.parentNode.hidden = stations.length === 0;

  function ask(khz) {
    // The address holds the kHz shown: a step in the history, and a link to copy.
    if (T.channelOfFragment(month, location.hash) === khz) show(khz, false);
    else location.hash = "khz=" + khz;
  }
  form.addEventListener("submit", function (event) {
    event.preventDefault();
    var khz = T.channelOfFragment(month, "khz=" + input.value.trim());
    if (khz < 0) {
      status.textContent = "A kHz from " + month.firstKhz + " to " + month.lastKhz + ", please.";
      return;
    }
    ask(khz);
  });
  select.addEventListener("change", function () {
    if (select.value) ask(+select.value);
  });
  function apply() {
    var khz = T.channelOfFragment(month, location.hash);
    if (khz >= 0) show(khz, true);
  }
  window.addEventListener("hashchange", apply);
  apply();
})((window.Talvor = window.Talvor || {}));
