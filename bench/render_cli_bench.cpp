// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render from process start to exit on a full synthetic day at 1920 x 1500 (and a GIF at
// 1920 x 1080), for one picture and for a 30-day range, with the peak resident size of a one-day
// run, plus where the time of one day goes inside the process.
//
//   render_cli_bench [RUNS]      (default 15 single-day runs and 5 range runs)
//
// Runs without a display, as the scheduled job does, so the screen is 1920 x 1500 and the
// drawing is Mesa's software renderer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "output/colour_reduction.h"
#include "output/png_writer.h"
#include "output/snapshot.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"
#include "station/run_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs a program with its arguments, output discarded; the wall time in ms, or -1 on failure.
// peakKb, when given, receives the program's largest resident size.
double TimedRun(const std::vector<std::string>& args, long* peakKb = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);  // or the child would print what is still buffered here
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    double ms = MsSince(start);
    if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "run failed (status %d): %s ...\n", status, args[1].c_str());
        return -1;
    }
    return ms;
}

struct Figures {
    double median, min, max;
};

Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

double Measure(const char* what, int runs, const std::vector<std::string>& args, int days) {
    TimedRun(args);  // warm the page cache and fontconfig's cache
    std::vector<double> ms, peakMb;
    for (int i = 0; i < runs; ++i) {
        long peakKb = 0;
        double t = TimedRun(args, &peakKb);
        if (t < 0) return -1;
        ms.push_back(t);
        peakMb.push_back(double(peakKb) / 1024.0);
    }
    Figures f = Summarise(ms);
    std::printf("%-44s median %7.1f ms  min %7.1f  max %7.1f", what, f.median, f.min, f.max);
    if (days > 1) std::printf("  = %5.1f ms per day", f.median / days);
    // A range's days are drawn by worker processes; the parent's own peak says little.
    if (days == 1) std::printf("  peak %.0f MB", Summarise(peakMb).median);
    std::printf("\n");
    return f.median;
}

// One day drawn and written inside this process, step by step, as talvor-render does it.
void Phases(const std::string& config, const std::string& dataFolder, const std::string& out) {
    PrepareHeapForDrawing();  // as talvor-render does before drawing
    Clock::time_point t = Clock::now();
    runPaths.ConfigFilePath = config;
    runPaths.DataFolder = dataFolder;
    ReadConfiguration();
    screenGeometry = ComputeScreenGeometry(1920, 1500);
    AllocateRecordBuffer();
    double setup = MsSince(t);
    t = Clock::now();
    LoadTitleFont();
    double titleFont = MsSince(t);
    t = Clock::now();
    if (!CreateRenderSurfaceOfSize(screenGeometry.screenWidth, screenGeometry.screenHeight)) {
        std::printf("no OpenGL surface\n");
        return;
    }
    SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);
    double surface = MsSince(t);
    std::printf(
        "in-process: configuration %.1f ms, title face %.1f ms, surface and fonts %.1f ms\n", setup,
        titleFont, surface);
    for (int pass = 0; pass < 3; ++pass) {
        t = Clock::now();
        UtcTime day{};
        day.year = 2014;
        day.month = 3;
        day.day = 5;
        runPaths.DayLogPath = ComposeDayLogPath(dataFolder, day);
        LoadDayLog();
        double load = MsSince(t);
        t = Clock::now();
        DrawChart();
        ReadBackFrame();  // the read-back waits for the drawing to finish
        double draw = MsSince(t);
        t = Clock::now();
        IndexedImage image;
        ReduceFrameColours(*frameBitmap, &image);
        double reduce = MsSince(t);
        t = Clock::now();
        WriteGifFile(*frameBitmap, (out + "/phase.gif").c_str());
        double gif = MsSince(t);
        t = Clock::now();
        WritePngFile(*frameBitmap, (out + "/phase.png").c_str());
        double png = MsSince(t);
        FreeFrameBitmap(frameBitmap);
        frameBitmap = nullptr;
        CloseDayLog();
        std::printf(
            "  day %d: load %.1f ms, draw+read-back %.1f ms, GIF %.1f ms (of which colour "
            "reduction %.1f), PNG %.1f ms, %d records\n",
            pass + 1, load, draw, gif, reduce, png, recordCount);
    }
    DestroyRenderSurface();
    ReleaseRecordBuffer();
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
    std::string tools = FolderOf(GetExecutablePath(nullptr));
    std::string render = tools + "/talvor-render";
    std::string gen = tools + "/talvor-gen-daylog";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    char pattern[] = "/tmp/talvor-render-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string root = pattern;
    std::string config = root + "/TALVOR.INI";
    std::string data = root + "/BRANTOS";
    std::string out = root + "/out";
    FILE* ini = std::fopen(config.c_str(), "wb");
    if (ini == nullptr) return 1;
    std::fputs("[CUSTOM]\r\nQTH=Paris,48.9,2.35\r\nVOKTEXT=Medium wave at my place\r\n", ini);
    std::fclose(ini);
    std::string mkdir = "mkdir -p '" + out + "'";
    if (std::system(mkdir.c_str()) != 0) return 1;
    for (int d = 1; d <= 30; ++d) {
        char date[16];
        std::snprintf(date, sizeof date, "2014-03-%02d", d);
        if (TimedRun({gen, data, date}) < 0) return 1;
    }

    std::printf(
        "talvor-render, full synthetic day (1440 records), 1920 x 1500, no display, "
        "%d runs each:\n",
        runs);
    Measure("one day, GIF (process start to exit)", runs,
            {render, "--config", config, "--date", "2014-03-05", "-o", out + "/one.gif"}, 1);
    Measure("one day, GIF at 1920 x 1080", runs,
            {render, "--config", config, "--date", "2014-03-05", "--size", "1920x1080", "-o",
             out + "/small.gif"},
            1);
    Measure("one day, PNG (process start to exit)", runs,
            {render, "--config", config, "--date", "2014-03-05", "-o", out + "/one.png"}, 1);
    Measure("30 days, GIF (process start to exit)", std::max(3, runs / 3),
            {render, "--config", config, "--from", "2014-03-01", "--to", "2014-03-30", "-o", out},
            30);
    Measure("--version (process start and exit only)", runs, {render, "--version"}, 1);
    Phases(config, data, out);

    std::string clean = "rm -rf '" + root + "'";
    return std::system(clean.c_str()) == 0 ? 0 : 1;
}
