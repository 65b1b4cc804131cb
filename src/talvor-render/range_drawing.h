// SPDX-License-Identifier: GPL-3.0-or-later
// Draws every day of a talvor-render request, in this process or in worker processes, and
// reports each day in date order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "talvor-render/day_drawer.h"
#include "talvor-render/run_report.h"

namespace talvor {

// About what one worker process takes from the machine's memory while it draws days of width x
// height pixels: its own pages (the software renderer's buffers, two frames as one day is written
// while the next is drawn, the day log, the picture's encoding, the libraries' relocated pages),
// not the library pages that every worker shares. Measured with render_cli_bench's sampling of a
// range's workers, the largest of two: 52 MB at 1280 x 720, 75 at 1920 x 1080, 92 at 1920 x 1500,
// 106 at 2560 x 1440 and 183 at 3840 x 2160, with the level field drawn as images; the line lies
// a little above them all.
constexpr int64_t WorkerBytesFor(int width, int height) {
    return (int64_t(40) << 20) + 20 * int64_t(width) * int64_t(height);
}

// What a machine gives the workers, and what each of them needs.
struct WorkerRoom {
    int processors = 1;
    int64_t availableBytes = -1;  // -1: not known
    int64_t bytesPerWorker = WorkerBytesFor(1920, 1500);
};

// The worker processes for the request's days: more than one only for a range of more than one
// day; no more than the processors, nor than the available memory holds (at least one). When a
// count asked for (or the default of one per processor) is lowered for the room, *note says why.
int WorkerCountFor(const RenderRequest& request, size_t days, const WorkerRoom& room,
                   std::string* note);
// The same for this machine as it is now and pictures of the geometry's size, with the note
// reported.
int WorkerCountFor(const RenderRequest& request, size_t days, const ScreenGeometry& geometry);

// What a worker process does with its share of a range: draws every count-th day from the
// first-th, sends each day's result on resultsFd, and answers the worker's exit code.
using WorkerShare =
    std::function<int(const DrawingPlan& work, size_t first, size_t count, int resultsFd)>;
// The share as every run's workers draw it.
int DrawWorkerShare(const DrawingPlan& work, size_t first, size_t count, int resultsFd);

// Draws and reports the days, with share as the workers' part; false, with nothing drawn, when
// this process has no surface and no worker either.
bool DrawDays(const RenderRequest& request, const DrawingPlan& work, int workerCount,
              const WorkerShare& share, RunReport* report);

}  // namespace talvor
