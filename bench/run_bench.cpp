// SPDX-License-Identifier: GPL-3.0-or-later
// The work of one whole run beyond its fixed 4.5 s timeline, and the memory a run takes.
//
// The built talvor is run on a full generated day as the scheduler runs it, for its wall time and
// peak resident memory. Then, in this process, at 1920 x 1080 and 3840 x 2160: loading the day
// log, drawing, reading back, encoding the GIF and writing the summary, each as a median.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "platform/clock.h"
#include "platform/outcome.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "talvor/daily_run.h"

using namespace talvor;

namespace {

constexpr int kRuns = 9;
constexpr int kWholeRuns = 3;
using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs a program in a folder; its wall time in ms and peak resident memory in MB.
bool RunChild(const std::string& folder, const std::vector<std::string>& args, double* ms,
              double* peakMb) {
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid) return false;
    *ms = Ms(start, Clock::now());
    *peakMb = usage.ru_maxrss / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    std::string folder = "/tmp/talvor-run-bench-" + std::to_string(getpid());
    fs::create_directories(folder);
    fs::copy_file(TALVOR_EXE, folder + "/talvor");
    double ms = 0, mb = 0;
    if (!RunChild(folder, {TALVOR_GEN, folder + "/BRANTOS"}, &ms, &mb)) {
        std::fprintf(stderr, "run_bench: the day-log generator failed\n");
        return 1;
    }
    // First, while this process is still small: a forked child's peak counts the pages it
    // shared with its parent before it started the program.
    std::vector<double> wall, peak;
    for (int run = 0; run < kWholeRuns; ++run) {
        if (!RunChild(folder, {folder + "/talvor"}, &ms, &mb)) {
            std::fprintf(stderr, "run_bench: talvor did not end with 0\n");
            return 1;
        }
        wall.push_back(ms);
        peak.push_back(mb);
    }
    std::printf(
        "whole run of talvor at the display's size (median of %d): %.0f ms, peak resident "
        "memory %.1f MB\n",
        kWholeRuns, Median(wall), Median(peak));
    UtcTime today = GetUtcTime();
    DailyRun daily;
    const ScreenGeometry& g = daily.screenGeometry;
    RenderSurface& surface = daily.renderThread.surface;
    daily.paths.ExeFolder = folder;
    daily.paths.DayLogPath = ComposeDayLogPath(folder + "/BRANTOS", today);
    if (!AllocateRecordBuffer(&daily.RecordBuffer)) return 1;
    std::strcpy(daily.settings.locationName, "LONDON");
    std::strcpy(daily.settings.chartText, "BENCHMARK DAY");
    daily.settings.colourMode = 1;
    if (chdir(folder.c_str()) != 0) return 1;

    std::printf("%-10s %7s %7s %9s %7s %8s %7s  (median of %d, ms)\n", "screen", "load", "draw",
                "readback", "encode", "summary", "work", kRuns);
    const int sizes[][2] = {{1920, 1080}, {3840, 2160}};
    for (const auto& size : sizes) {
        daily.screenGeometry = ComputeScreenGeometry(size[0], size[1]);
        Outcome made =
            CreateRenderSurfaceOfSize(g.screenWidth, g.screenHeight, &daily.fonts, &surface);
        if (!made) {
            std::printf("%dx%d: no surface (%s)\n", size[0], size[1], made.reason.c_str());
            continue;
        }
        SetChartProjection(daily.screenGeometry.screenWidthF, daily.screenGeometry.screenHeightF);
        std::vector<double> load, draw, read, encode, summary, work;
        std::string gif = folder + "/bench.gif";
        for (int run = 0; run < kRuns; ++run) {
            auto t0 = Clock::now();
            LoadDayLog(&daily);
            auto t1 = Clock::now();
            DrawChart(&daily);
            auto t2 = Clock::now();
            FreeFrameBitmap(daily.frameBitmap);
            daily.frameBitmap = ReadBackFrame(g.screenWidth, g.screenHeight);
            auto t3 = Clock::now();
            WriteGifFile(*daily.frameBitmap, gif.c_str());
            auto t4 = Clock::now();
            WriteSummaryFile(&daily);
            auto t5 = Clock::now();
            load.push_back(Ms(t0, t1));
            draw.push_back(Ms(t1, t2));
            read.push_back(Ms(t2, t3));
            encode.push_back(Ms(t3, t4));
            summary.push_back(Ms(t4, t5));
            work.push_back(Ms(t0, t5));
        }
        char screen[24];
        std::snprintf(screen, sizeof screen, "%dx%d", size[0], size[1]);
        std::printf("%-10s %7.1f %7.1f %9.1f %7.1f %8.2f %7.1f   records %d\n", screen,
                    Median(load), Median(draw), Median(read), Median(encode), Median(summary),
                    Median(work), daily.recordCount);
        DestroyRenderSurface(&surface);
    }

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
