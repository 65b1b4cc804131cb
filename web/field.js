// SPDX-License-Identifier: GPL-3.0-or-later
// The day's chart drawn in its canvas from the levels that the readout reads anyway: on the
// chart's background the level field, each channel's spot pixel by pixel in the shades the OpenGL
// driver gave it when talvor-render drew the frame, and over it the overlay of every pixel of the
// frame that differs from those two (the day's chart.js carries all three). The canvas then holds the frame, byte for byte. Nothing is
// drawn from a file of the disk, so a page opened from the disk may still read its canvas back
// (for the PNG download).
(function (T) {
  "use strict";

  // The spots as chart.js packs them (talvor-render's day_chart.h draws the layout): for each
  // channel its kHz, its column, the pixels its spot writes and their shades of each component
  // value 0..255.
  T.spotsOf = function (bytes) {
    var at = 0;
    function byte() {
      if (at >= bytes.length) throw new Error("the chart's spots are damaged");
      return bytes[at++];
    }
    function signed(value, bits) {
      return value >= 1 << (bits - 1) ? value - (1 << bits) : value;
    }
    function pair() {
      return byte() | (byte() << 8);
    }
    var spots = [];
    for (var count = pair(), c = 0; c < count; c++) {
      var spot = { khz: pair(), x: signed(pair(), 16), dx: [], dy: [] };
      var pixels = byte();
      for (var p = 0; p < pixels; p++) {
        spot.dx.push(signed(byte(), 8));
        spot.dy.push(signed(byte(), 8));
      }
      // Each shade is written as its step from the one before.
      spot.shades = new Uint8Array(pixels * 256);
      for (var i = 0, shade = 0; i < spot.shades.length; i++) {
        shade = ((i % 256 ? shade : 0) + byte()) & 255;
        spot.shades[i] = shade;
      }
      spots.push(spot);
    }
    if (at !== bytes.length) throw new Error("the chart's spots are damaged");
    return spots;
  };

  // Writes the field into image (an ImageData of the frame's size): row after row, channel after
  // channel, a later spot covering an earlier one where they meet, as the frame was drawn.
  T.drawField = function (image, day, levels, palette, spots) {
    var width = image.width, height = image.height;
    var pixels = new Uint32Array(image.data.buffer);
    // For each spot, its pixels that lie in the frame's columns: where each lies from the start
    // of the spot's row, its row, and its colour for each palette index in the image's own
    // byte order.
    var placed = spots.map(function (spot) {
      var kept = [];
      for (var p = 0; p < spot.dx.length; p++) {
        var x = spot.x + spot.dx[p];
        if (x >= 0 && x < width) kept.push(p);
      }
      var bytes = new Uint8Array(kept.length * 256 * 4);
      kept.forEach(function (p, k) {
        var shades = spot.shades.subarray(p * 256, p * 256 + 256);
        for (var v = 0, at = k * 1024; v < 256; v++, at += 4) {
          bytes[at] = shades[palette[v * 3]];
          bytes[at + 1] = shades[palette[v * 3 + 1]];
          bytes[at + 2] = shades[palette[v * 3 + 2]];
          bytes[at + 3] = 255;
        }
      });
      return {
        offset: Int32Array.from(kept, function (p) { return spot.dy[p] * width + spot.x + spot.dx[p]; }),
        dy: Int32Array.from(kept, function (p) { return spot.dy[p]; }),
        colours: new Uint32Array(bytes.buffer),
      };
    });
    // The palette index of each byte; a level outside a byte is scaled from its logged number.
    var indexOf = new Uint8Array(256);
    for (var level = 0; level < 256; level++) indexOf[level] = T.scaledLevel(level, day.sensitivity, day.levelRule);
    var khzCount = day.lastKhz - day.firstKhz + 1;
    var rows = Math.min(day.drawnRows, day.records);
    for (var record = 0; record < rows; record++) {
      var y = day.top + record, start = y * width;
      for (var c = 0; c < spots.length; c++) {
        var at = record * khzCount + spots[c].khz - day.firstKhz;
        var wide = levels.outside.size ? levels.outside.get(at) : undefined;
        var v = wide === undefined ? indexOf[levels.grid[at]] : T.scaledLevel(wide, day.sensitivity, day.levelRule);
        var spot = placed[c], offset = spot.offset, dy = spot.dy, colours = spot.colours;
        for (var p = 0; p < offset.length; p++) {
          if (y + dy[p] >= 0 && y + dy[p] < height) pixels[start + offset[p]] = colours[p * 256 + v];
        }
      }
    }
  };

  // Draws the day's chart into the canvas once the levels (a promise of T.loadLevels) are there,
  // its own parts unpacked meanwhile; resolves once it is drawn.
  T.drawChart = function (canvas, day, loading, palette, chart) {
    var spots = chart.spots ? T.inflate(T.decodeBase85(chart.spots)).then(T.spotsOf) : Promise.resolve([]);
    // As its bytes say, without the browser's colour management or premultiplied alpha.
    var overlay = createImageBitmap(new Blob([T.decodeBase85(chart.overlay)], { type: "image/png" }), {
      premultiplyAlpha: "none",
      colorSpaceConversion: "none",
    });
    return Promise.all([spots, overlay, loading]).then(function (parts) {
      var levels = parts[2];
      canvas.width = day.width;
      canvas.height = day.height;
      var g = canvas.getContext("2d");
      var image = g.createImageData(day.width, day.height);
      var ground = new Uint8Array([chart.background[0], chart.background[1], chart.background[2], 255]);
      new Uint32Array(image.data.buffer).fill(new Uint32Array(ground.buffer)[0]);
      T.drawField(image, day, levels, palette, parts[0]);
      g.putImageData(image, 0, 0);
      g.drawImage(parts[1], 0, 0);
    });
  };

  // The link that saves the chart as a PNG, made from the canvas when it is first followed.
  T.offerPng = function (canvas, link) {
    link.addEventListener("click", function (event) {
      if (link.dataset.made) return;
      event.preventDefault();
      canvas.toBlob(function (blob) {
        if (!blob) return;
        link.href = URL.createObjectURL(blob);
        link.dataset.made = "true";
        link.click();
      }, "image/png");
    });
    link.parentNode.hidden = false;
  };
})((window.Talvor = window.Talvor || {}));
