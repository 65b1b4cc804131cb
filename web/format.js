// SPDX-License-Identifier: GPL-3.0-or-later
// The day page's plain rules: where on the chart a kHz and a minute lie, what the readout says,
// which channel and stations it names, how a level is coloured, and how the page's address
// holds what it shows. No page state, so that the browser test can check them against tables.
// Every number shared with the chart (band, origin, plan, clock width, colour rule) comes from
// the day's data.js, which talvor-render writes from its own definitions.
(function (T) {
  "use strict";

  function pad(n) {
    return (n < 10 ? "0" : "") + n;
  }

  // "hh:mm" of a minute of the day, and back (-1 for a text that is no clock).
  T.clockOfMinute = function (minute) {
    return pad(Math.floor(minute / 60)) + ":" + pad(minute % 60);
  };
  T.minuteOfClock = function (clock) {
    var m = /^(\d\d):(\d\d)$/.exec(clock);
    if (!m || +m[1] > 23 || +m[2] > 59) return -1;
    return +m[1] * 60 + +m[2];
  };
  // The clock of a record as the log tells it.
  T.clockAt = function (day, record) {
    return day.clocks.substr(record * day.clockWidth, day.clockWidth);
  };

  T.readoutText = function (khz, clock, level) {
    return khz + " kHz  " + clock + " UTC  level " + level;
  };

  // The channel of the station's plan nearest to a kHz (of two as near, the lower): every
  // spacing step from the plan's first channel to its last, also those the chart leaves out.
  T.nearestChannel = function (khz, plan) {
    var k = Math.max(plan.first, Math.min(plan.last, khz));
    var below = plan.first + Math.floor((k - plan.first) / plan.spacing) * plan.spacing;
    var above = below + plan.spacing;
    return above > plan.last || k - below <= above - k ? below : above;
  };
  T.channelText = function (channel, plan) {
    var drawn = plan.drawn.indexOf(channel) >= 0;
    return "channel " + channel + " kHz" + (drawn ? "" : ", not drawn on the chart");
  };

  // A listed station on air at a minute of the UTC day; hours that run past midnight wrap, and
  // a station without hours is always on.
  T.onAir = function (station, minute) {
    var on = station.on, off = station.off;
    if (on < 0) return true;
    return on < off ? minute >= on && minute < off : minute >= on || minute < off;
  };
  T.stationsOn = function (stations, khz, minute) {
    return stations.filter(function (s) {
      return s.khz === khz && T.onAir(s, minute);
    });
  };
  T.stationText = function (station) {
    var text = station.name;
    if (station.place) text += ", " + station.place;
    if (station.on >= 0) {
      text += " (" + T.clockOfMinute(station.on) + "\u2013" + T.clockOfMinute(station.off) + " UTC)";
    }
    return text;
  };

  // The chart's rule from a logged level to its palette index: above rule.noiseAbove is noise
  // and drawn as 0, above rule.top as rule.top, then scaled by the sensitivity and truncated.
  T.scaledLevel = function (level, sensitivity, rule) {
    if (level > rule.noiseAbove) level = 0;
    if (level > rule.top) level = rule.top;
    if (level < 0) level = 0;
    var v = Math.trunc(sensitivity * level);
    return v < 0 || v !== v ? 0 : v > 255 ? 255 : v;
  };

  // The chart puts f kHz at x = f - originKhz + xOrigin, one pixel a kHz, and record k at
  // y = top + k.
  T.khzAtX = function (day, x) {
    return x - day.xOrigin + day.originKhz;
  };
  T.xOfKhz = function (day, khz) {
    return khz + day.xOrigin - day.originKhz;
  };

  // The kHz and the record under a pixel of the chart, or null off the level field.
  T.chartPlace = function (day, x, y) {
    var khz = T.khzAtX(day, x), record = y - day.top;
    if (khz < day.firstKhz || khz > day.lastKhz) return null;
    if (record < 0 || record >= day.drawnRows || record >= day.records) return null;
    return { khz: khz, record: record };
  };

  // ---- The page's address: "zoom=990-1010,11:00-13:00&khz=1080&t=02:10" ----

  // The first record whose clock reads minute (exact), else -1.
  function recordAt(day, minute) {
    for (var k = 0; k < day.records; k++) if (T.minuteOfClock(T.clockAt(day, k)) === minute) return k;
    return -1;
  }
  // The records from the first whose minute is at least from to the last whose minute is at most
  // to, or null when there are none.
  function recordsWithin(day, from, to) {
    var first = -1, last = -1;
    for (var k = 0; k < day.records; k++) {
      var minute = T.minuteOfClock(T.clockAt(day, k));
      if (first < 0 && minute >= from) first = k;
      if (minute >= 0 && minute <= to) last = k;
    }
    return first >= 0 && last >= first ? { first: first, last: last } : null;
  }

  // What the page shows as its address's fragment (without "#"): the zoom window and the point
  // read, either of which may be null.
  T.fragmentOf = function (day, view) {
    var parts = [];
    var z = view.zoom, p = view.point;
    if (z) {
      parts.push("zoom=" + z.firstKhz + "-" + z.lastKhz + "," + T.clockAt(day, z.firstRecord) + "-" +
        T.clockAt(day, z.lastRecord));
    }
    if (p) parts.push("khz=" + p.khz + "&t=" + T.clockAt(day, p.record));
    return parts.join("&");
  };

  // The view a fragment names on this day; what it names badly (a kHz off the band, a minute
  // without a record) is left out.
  T.viewOf = function (day, fragment) {
    var fields = {};
    fragment.replace(/^#/, "").split("&").forEach(function (pair) {
      var at = pair.indexOf("=");
      if (at > 0) fields[pair.slice(0, at)] = decodeURIComponent(pair.slice(at + 1));
    });
    var view = { zoom: null, point: null };
    function khzIn(text) {
      var khz = /^\d{1,4}$/.test(text) ? +text : -1;
      return khz >= day.firstKhz && khz <= day.lastKhz ? khz : -1;
    }
    var m = /^(\d+)-(\d+),(\d\d:\d\d)-(\d\d:\d\d)$/.exec(fields.zoom || "");
    if (m) {
      var low = khzIn(m[1]), high = khzIn(m[2]);
      var records = recordsWithin(day, T.minuteOfClock(m[3]), T.minuteOfClock(m[4]));
      if (low >= 0 && high >= low && records && T.minuteOfClock(m[3]) >= 0) {
        view.zoom = { firstKhz: low, lastKhz: high, firstRecord: records.first, lastRecord: records.last };
      }
    }
    var khz = khzIn(fields.khz || "");
    var minute = T.minuteOfClock(fields.t || "");
    var record = minute >= 0 ? recordAt(day, minute) : -1;
    if (khz >= 0 && record >= 0) view.point = { khz: khz, record: record };
    return view;
  };
})((window.Talvor = window.Talvor || {}));
