// SPDX-License-Identifier: GPL-3.0-or-later
// The day page's plain rules: where on the chart a kHz and a minute lie, what the readout says,
// which stations it names and how a level is coloured. No page state, so that the browser test
// can check them against tables.
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

  T.readoutText = function (khz, clock, level) {
    return khz + " kHz  " + clock + " UTC  level " + level;
  };

  // The channel of the plan nearest to a kHz; of two as near, the lower.
  T.nearestChannel = function (khz, plan) {
    var best = plan[0];
    for (var i = 1; i < plan.length; i++) {
      if (Math.abs(plan[i] - khz) < Math.abs(best - khz)) best = plan[i];
    }
    return best;
  };

  // A listed station [kHz, name, place, on, off] on air at a minute of the UTC day; hours that
  // run past midnight wrap, and a station without hours is always on.
  T.onAir = function (station, minute) {
    var on = station[3], off = station[4];
    if (on < 0) return true;
    return on < off ? minute >= on && minute < off : minute >= on || minute < off;
  };
  T.stationsOn = function (stations, khz, minute) {
    return stations.filter(function (s) {
      return s[0] === khz && T.onAir(s, minute);
    });
  };
  T.stationText = function (station) {
    var text = station[1];
    if (station[2]) text += ", " + station[2];
    if (station[3] >= 0) {
      text += " (" + T.clockOfMinute(station[3]) + "\u2013" + T.clockOfMinute(station[4]) + " UTC)";
    }
    return text;
  };

  // The chart's rule from a logged level to its palette index: above 1000 is noise and drawn
  // as 0, above 255 as 255, then scaled by the sensitivity and truncated.
  T.scaledLevel = function (level, sensitivity) {
    if (level > 1000) level = 0;
    if (level > 255) level = 255;
    if (level < 0) level = 0;
    var v = Math.trunc(sensitivity * level);
    return v < 0 || v !== v ? 0 : v > 255 ? 255 : v;
  };

  // The chart puts f kHz at x = f - 500 + xOrigin, one pixel a kHz.
  var ORIGIN_KHZ = 500;
  T.khzAtX = function (day, x) {
    return x - day.xOrigin + ORIGIN_KHZ;
  };

  // The kHz and the record under a pixel of the chart, or null off the level field.
  T.chartPlace = function (day, x, y) {
    var khz = T.khzAtX(day, x), record = y - day.top;
    if (khz < day.firstKhz || khz > day.lastKhz) return null;
    if (record < 0 || record >= day.drawnRows || record >= day.records) return null;
    return { khz: khz, record: record };
  };
})((window.Talvor = window.Talvor || {}));
