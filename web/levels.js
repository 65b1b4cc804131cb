// SPDX-License-Identifier: GPL-3.0-or-later
// The day log's levels as the day page carries them: one byte a kHz and record, record after
// record, split into streams by their context (the byte of the same kHz a record before, shifted
// right), each a zlib stream in Base85, in the day's levels.js (talvor-render's EncodeLevels
// writes them); the levels a byte cannot hold are listed in data.js.
(function (T) {
  "use strict";

  T.decodeBase64 = function (text) {
    var binary = atob(text);
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  };

  // Base85 as talvor-render writes it: Z85's digits (ZeroMQ RFC 32), five for four bytes, and a
  // last group of n + 1 digits for n bytes, padded with the highest digit as Ascii85 reads it.
  var DIGITS = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-:+=^!/*?&<>()[]{}@%$#";
  var DIGIT = new Int8Array(128).fill(-1);
  for (var d = 0; d < DIGITS.length; d++) DIGIT[DIGITS.charCodeAt(d)] = d;
  T.decodeBase85 = function (text) {
    var tail = text.length % 5;
    if (tail === 1) throw new Error("not Base85 text");
    var bytes = new Uint8Array(((text.length - tail) / 5) * 4 + (tail ? tail - 1 : 0));
    for (var at = 0, out = 0; at < text.length; at += 5) {
      var value = 0;
      for (var i = at; i < at + 5; i++) {
        var code = i < text.length ? text.charCodeAt(i) : -1;
        var digit = code < 0 ? 84 : code < 128 ? DIGIT[code] : -1;
        if (digit < 0) throw new Error("not Base85 text");
        value = value * 85 + digit;
      }
      if (value > 0xffffffff) throw new Error("not Base85 text");
      for (var shift = 24; shift >= 0 && out < bytes.length; shift -= 8) bytes[out++] = (value >>> shift) & 255;
    }
    return bytes;
  };

  T.inflate = function (bytes) {
    var stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
    return new Response(stream).arrayBuffer().then(function (buffer) {
      return new Uint8Array(buffer);
    });
  };

  // The grid of bytes: every stream unpacked, then each level taken from its context's stream.
  function gridOfStreams(day, packed) {
    var damaged = new Error("the day's levels are damaged");
    return Promise.all(packed.streams.map(function (text) {
      return T.inflate(T.decodeBase85(text));
    })).then(function (streams) {
      var width = day.lastKhz - day.firstKhz + 1;
      var grid = new Uint8Array(width * day.records);
      // All streams in one array, each read from its start up to its end.
      var all = new Uint8Array(grid.length);
      var next = new Int32Array(streams.length), end = new Int32Array(streams.length);
      var total = 0;
      streams.forEach(function (stream, c) {
        if (total + stream.length > all.length) throw damaged;
        all.set(stream, total);
        next[c] = total;
        total += stream.length;
        end[c] = total;
      });
      if (total !== grid.length) throw damaged;
      var shift = packed.contextShift;
      for (var at = 0; at < grid.length; at++) {
        var c = at < width ? 0 : grid[at - width] >> shift;
        if (!(next[c] < end[c])) throw damaged;
        grid[at] = all[next[c]++];
      }
      return grid;
    });
  }

  // A day page of the version before, not yet written again, has no levels.js among its
  // scripts: it loads its levels.js itself, one zlib stream in base64.
  function gridOfEarlierPage() {
    return new Promise(function (resolve, reject) {
      var script = document.createElement("script");
      script.src = "levels.js";
      script.onload = function () {
        if (typeof T.levelData !== "string") reject(new Error("levels.js holds no levels"));
        else resolve(T.inflate(T.decodeBase64(T.levelData)));
      };
      script.onerror = function () {
        reject(new Error("levels.js could not be loaded"));
      };
      document.head.appendChild(script);
    });
  }

  // Resolves to { levelAt(record, khz) } for the day's data, with the bytes themselves (grid, a
  // record's kHz one after another) and the levels a byte cannot hold (outside, by index) for a
  // reader that goes through them all.
  T.loadLevels = function (day) {
    var width = day.lastKhz - day.firstKhz + 1;
    var grid = T.levelStreams ? gridOfStreams(day, T.levelStreams) : gridOfEarlierPage();
    return grid.then(function (grid) {
      if (grid.length !== width * day.records) throw new Error("the day's levels are damaged");
      var outside = new Map();
      for (var k = 0; k + 1 < day.outside.length; k += 2) outside.set(day.outside[k], day.outside[k + 1]);
      return {
        grid: grid,
        outside: outside,
        levelAt: function (record, khz) {
          var at = record * width + (khz - day.firstKhz);
          var wide = outside.get(at);
          return wide !== undefined ? wide : grid[at];
        },
      };
    });
  };

  // The chart's colour of each palette index, as [r, g, b] bytes.
  T.paletteOf = function (day) {
    return T.decodeBase64(day.palette);
  };
})((window.Talvor = window.Talvor || {}));
