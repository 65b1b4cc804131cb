// SPDX-License-Identifier: GPL-3.0-or-later
// The day page's list of carriers (heard.js, written by talvor-render): a table sorted by any
// column (a click or tap on its heading, or Enter on it), each carrier a link that opens its
// window, with a little room around it, in the page's zoom, as a step in the history. Loaded
// after day.js, whose zoom it uses.
(function (T) {
  "use strict";

  var heard = T.heard;
  var day = T.day;
  var table = document.getElementById("heard-table");
  var count = document.getElementById("heard-count");
  if (!table || !heard || !day) return;

  // Minutes around a carrier in its zoom: a tenth of its run, at least ten; kHz on each side.
  var ROOM_KHZ = 5;
  T.carrierRoom = function (carrier) {
    return Math.max(10, Math.round(carrier.minutes / 10));
  };

  // The zoom of a carrier as the page's address names it ("zoom=1075-1085,02:00-05:49"), or ""
  // when the day has no record in its minutes.
  T.carrierFragment = function (carrier) {
    var room = T.carrierRoom(carrier);
    var low = Math.max(day.firstKhz, carrier.khz - ROOM_KHZ);
    var high = Math.min(day.lastKhz, carrier.khz + ROOM_KHZ);
    var from = Math.max(0, carrier.first - room), to = Math.min(1439, carrier.last + room);
    var view = T.viewOf(day, "zoom=" + low + "-" + high + "," + T.clockOfMinute(from) + "-" + T.clockOfMinute(to));
    return view.zoom ? T.fragmentOf(day, view) : "";
  };

  // Each column's value, and whether its first sort puts the largest first.
  var COLUMNS = {
    khz: { value: function (c) { return c.khz; } },
    first: { value: function (c) { return c.first; } },
    last: { value: function (c) { return c.last; } },
    minutes: { value: function (c) { return c.minutes; }, largestFirst: true },
    peak: { value: function (c) { return c.peak; }, largestFirst: true },
    stations: { value: function (c) { return c.stations.toLowerCase(); } },
    "new": { value: function (c) { return c["new"] ? 1 : 0; }, largestFirst: true },
  };

  // The carriers sorted by a column; ties keep the list's own order (kHz, then first minute).
  T.sortCarriers = function (carriers, key, descending) {
    var value = COLUMNS[key].value;
    return carriers
      .map(function (c, i) { return { c: c, i: i }; })
      .sort(function (a, b) {
        var x = value(a.c), y = value(b.c);
        if (x !== y) return (x < y ? -1 : 1) * (descending ? -1 : 1);
        return a.i - b.i;
      })
      .map(function (e) { return e.c; });
  };

  function choose(carrier, event) {
    if (event) event.preventDefault();
    var view = T.viewOf(day, T.carrierFragment(carrier));
    if (!view.zoom) return;
    T.ready.then(function () {
      var z = view.zoom;
      if (T.zoomTo(z.firstKhz, z.lastKhz, z.firstRecord, z.lastRecord)) {
        document.getElementById("zoom").scrollIntoView({ block: "start" });
      }
    });
  }

  function cell(row, text, className) {
    var td = document.createElement("td");
    td.textContent = text;
    if (className) td.className = className;
    row.appendChild(td);
    return td;
  }

  var body = table.tBodies[0];
  function fill(carriers) {
    var rows = document.createDocumentFragment();
    carriers.forEach(function (c) {
      var row = document.createElement("tr");
      var khz = cell(row, "", "number");
      var link = document.createElement("a");
      var fragment = T.carrierFragment(c);
      link.textContent = c.khz;
      if (fragment) link.href = "#" + fragment;
      link.addEventListener("click", function (event) {
        choose(c, event);
      });
      khz.appendChild(link);
      cell(row, T.clockOfMinute(c.first), "number");
      cell(row, T.clockOfMinute(c.last), "number");
      cell(row, c.minutes, "number");
      cell(row, c.peak, "number");
      cell(row, c["new"] ? "new" : "", "fresh");
      cell(row, c.stations, "names");
      // A click anywhere on the row chooses it too; the link keeps it reachable by keyboard.
      row.addEventListener("click", function (event) {
        if (event.target !== link) choose(c, event);
      });
      rows.appendChild(row);
    });
    body.textContent = "";
    body.appendChild(rows);
  }

  var sorted = { key: "khz", descending: false };
  var headings = Array.prototype.slice.call(table.tHead.rows[0].cells);
  function sortBy(key, descending) {
    sorted = { key: key, descending: descending };
    headings.forEach(function (th) {
      if (th.dataset.key === key) th.setAttribute("aria-sort", descending ? "descending" : "ascending");
      else th.removeAttribute("aria-sort");
    });
    fill(T.sortCarriers(heard.carriers, key, descending));
  }
  headings.forEach(function (th) {
    th.querySelector("button").addEventListener("click", function () {
      var key = th.dataset.key;
      sortBy(key, key === sorted.key ? !sorted.descending : !!COLUMNS[key].largestFirst);
    });
  });

  var fresh = heard.carriers.filter(function (c) { return c["new"]; }).length;
  count.textContent =
    heard.carriers.length + (heard.carriers.length === 1 ? " carrier, " : " carriers, ") + fresh + " new.";
  table.hidden = heard.carriers.length === 0;
  sortBy("khz", false);
})((window.Talvor = window.Talvor || {}));
