// SPDX-License-Identifier: GPL-3.0-or-later
// The day log's levels as the day page carries them: one byte a kHz and record, record after
// record, as a zlib stream (levels.bin, and levels.js in base64 for pages opened from the disk);
// the levels a byte cannot hold are listed in data.js.
(function (T) {
  "use strict";

  T.decodeBase64 = function (text) {
    var binary = atob(text);
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return bytes;
  };

  T.inflate = function (bytes) {
    var stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
    return new Response(stream).arrayBuffer().then(function (buffer) {
      return new Uint8Array(buffer);
    });
  };

  // The compressed levels: levels.bin where the page may fetch (served over HTTP), else the
  // same bytes from levels.js, a script, which a page opened from the disk may load.
  T.levelBytes = function () {
    function viaScript() {
      return new Promise(function (resolve, reject) {
        var script = document.createElement("script");
        script.src = "levels.js";
        script.onload = function () {
          resolve(T.decodeBase64(T.levelData));
        };
        script.onerror = function () {
          reject(new Error("levels.js could not be loaded"));
        };
        document.head.appendChild(script);
      });
    }
    if (location.protocol !== "http:" && location.protocol !== "https:") return viaScript();
    return fetch("levels.bin")
      .then(function (response) {
        if (!response.ok) throw new Error("levels.bin: " + response.status);
        return response.arrayBuffer();
      })
      .then(function (buffer) {
        return new Uint8Array(buffer);
      }, viaScript);
  };

  // Resolves to { levelAt(record, khz) } for the day's data.
  T.loadLevels = function (day) {
    var width = day.lastKhz - day.firstKhz + 1;
    return T.levelBytes()
      .then(T.inflate)
      .then(function (grid) {
        if (grid.length !== width * day.records) throw new Error("the day's levels are damaged");
        var outside = new Map();
        for (var k = 0; k + 1 < day.outside.length; k += 2) outside.set(day.outside[k], day.outside[k + 1]);
        return {
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
