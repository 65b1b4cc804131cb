// SPDX-License-Identifier: GPL-3.0-or-later
// A frequency x time window of the day drawn large from the log's own levels: every kHz and
// every record, one cell each, in the chart's colours, with kHz and UTC axes.
(function (T) {
  "use strict";

  var MARGIN = { left: 58, top: 10, right: 14, bottom: 36 };
  var MAX_PLOT = { width: 1400, height: 760 };
  var MIN_PLOT = { width: 240, height: 200 };
  var MAX_CELL = 32;

  // The smallest step of the list that keeps labels at least minGap pixels apart.
  T.axisStep = function (cell, minGap, steps) {
    for (var i = 0; i < steps.length; i++) if (steps[i] * cell >= minGap) return steps[i];
    return steps[steps.length - 1];
  };

  // The geometry of a zoom of khzCount x recordCount cells in a room of width x height CSS
  // pixels (the window's), so that a phone gets cells it can tell apart without scrolling; a
  // zoom larger than that is drawn at one cell a pixel and shown scaled down.
  T.zoomLayout = function (khzCount, recordCount, width, height) {
    var roomWidth = (width || Infinity) - MARGIN.left - MARGIN.right;
    var roomHeight = (height || Infinity) - MARGIN.top - MARGIN.bottom;
    var plotWidth = Math.max(MIN_PLOT.width, Math.min(MAX_PLOT.width, roomWidth));
    var plotHeight = Math.max(MIN_PLOT.height, Math.min(MAX_PLOT.height, roomHeight));
    var cellWidth = Math.max(1, Math.min(MAX_CELL, Math.floor(plotWidth / khzCount)));
    var cellHeight = Math.max(1, Math.min(MAX_CELL, Math.floor(plotHeight / recordCount)));
    return {
      left: MARGIN.left,
      top: MARGIN.top,
      cellWidth: cellWidth,
      cellHeight: cellHeight,
      width: MARGIN.left + cellWidth * khzCount + MARGIN.right,
      height: MARGIN.top + cellHeight * recordCount + MARGIN.bottom,
    };
  };

  // Draws the area's records firstRecord..lastRecord x firstKhz..lastKhz into the canvas, to
  // fit a room of room.width x room.height, and leaves the layout on it (canvas.zoom), for the
  // readout over it.
  T.drawZoom = function (canvas, day, levels, palette, area, room) {
    var firstKhz = area.firstKhz, lastKhz = area.lastKhz;
    var firstRecord = area.firstRecord, lastRecord = area.lastRecord;
    var khzCount = lastKhz - firstKhz + 1, recordCount = lastRecord - firstRecord + 1;
    var layout = T.zoomLayout(khzCount, recordCount, room.width, room.height);
    canvas.width = layout.width;
    canvas.height = layout.height;
    var g = canvas.getContext("2d");
    g.fillStyle = "#111";
    g.fillRect(0, 0, layout.width, layout.height);

    var plotWidth = layout.cellWidth * khzCount, plotHeight = layout.cellHeight * recordCount;
    var image = g.createImageData(plotWidth, plotHeight);
    var px = image.data;
    for (var r = 0; r < recordCount; r++) {
      for (var k = 0; k < khzCount; k++) {
        var v = T.scaledLevel(levels.levelAt(firstRecord + r, firstKhz + k), day.sensitivity, day.levelRule);
        var red = palette[v * 3], green = palette[v * 3 + 1], blue = palette[v * 3 + 2];
        for (var y = r * layout.cellHeight; y < (r + 1) * layout.cellHeight; y++) {
          var at = (y * plotWidth + k * layout.cellWidth) * 4;
          for (var x = 0; x < layout.cellWidth; x++, at += 4) {
            px[at] = red;
            px[at + 1] = green;
            px[at + 2] = blue;
            px[at + 3] = 255;
          }
        }
      }
    }
    g.putImageData(image, layout.left, layout.top);

    g.fillStyle = "#ddd";
    g.strokeStyle = "#ddd";
    g.font = "12px sans-serif";
    var bottom = layout.top + plotHeight;
    var khzStep = T.axisStep(layout.cellWidth, 48, [1, 2, 5, 10, 20, 50, 100, 200, 500]);
    g.textAlign = "center";
    g.textBaseline = "top";
    for (var f = Math.ceil(firstKhz / khzStep) * khzStep; f <= lastKhz; f += khzStep) {
      var cx = layout.left + (f - firstKhz + 0.5) * layout.cellWidth;
      g.fillRect(Math.round(cx), bottom, 1, 5);
      g.fillText(String(f), cx, bottom + 7);
    }
    g.fillText("kHz", layout.left + plotWidth / 2, bottom + 21);
    var recordStep = T.axisStep(layout.cellHeight, 20, [1, 2, 5, 10, 15, 30, 60, 120, 180, 360]);
    g.textAlign = "right";
    g.textBaseline = "middle";
    for (var rec = Math.ceil(firstRecord / recordStep) * recordStep; rec <= lastRecord; rec += recordStep) {
      var cy = layout.top + (rec - firstRecord + 0.5) * layout.cellHeight;
      g.fillRect(layout.left - 5, Math.round(cy), 5, 1);
      g.fillText(T.clockAt(day, rec), layout.left - 8, cy);
    }
    g.save();
    g.translate(12, layout.top + plotHeight / 2);
    g.rotate(-Math.PI / 2);
    g.textAlign = "center";
    g.fillText("UTC", 0, 0);
    g.restore();

    canvas.zoom = {
      left: layout.left,
      top: layout.top,
      cellWidth: layout.cellWidth,
      cellHeight: layout.cellHeight,
      firstKhz: firstKhz,
      lastKhz: lastKhz,
      firstRecord: firstRecord,
      lastRecord: lastRecord,
    };
    return canvas.zoom;
  };

  // Where the centre of a place's cell lies on the canvas, as fractions of its size; null when
  // the zoom does not hold it.
  T.zoomSpot = function (canvas, place) {
    var z = canvas.zoom;
    if (!z || !place || place.khz < z.firstKhz || place.khz > z.lastKhz) return null;
    if (place.record < z.firstRecord || place.record > z.lastRecord) return null;
    return {
      x: (z.left + (place.khz - z.firstKhz + 0.5) * z.cellWidth) / canvas.width,
      y: (z.top + (place.record - z.firstRecord + 0.5) * z.cellHeight) / canvas.height,
    };
  };

  // The kHz and record under a canvas pixel of a zoom, or null off its cells.
  T.zoomPlace = function (zoom, x, y) {
    var k = Math.floor((x - zoom.left) / zoom.cellWidth);
    var r = Math.floor((y - zoom.top) / zoom.cellHeight);
    if (x < zoom.left || y < zoom.top) return null;
    if (k > zoom.lastKhz - zoom.firstKhz || r > zoom.lastRecord - zoom.firstRecord) return null;
    return { khz: zoom.firstKhz + k, record: zoom.firstRecord + r };
  };
})((window.Talvor = window.Talvor || {}));
