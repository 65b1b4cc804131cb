// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-render from process start to exit on full synthetic days: one day as a GIF at 1920 x 1080
// (and at the headless 1920 x 1500, and as a PNG), a 60-day range drawn by two workers, with the
// peak resident size of a one-day run and the memory each range worker keeps for itself, plus
// where the time of one day goes inside the process.
//
//   render_cli_bench [RUNS] [BASELINE]      (default 15 single-day runs and 5 range runs)
//
// BASELINE names another build's folder that holds talvor-render (a build of main, say): every
// figure is then taken for both programs, their runs in turns so that the machine's load falls on
// both alike, and the baseline's time is given as a multiple of this build's.
//
// Runs without a display, as the scheduled job does, so the drawing is Mesa's software renderer.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config/configuration.h"
#include "config/run_state.h"
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
#include "talvor/daily_run.h"

using namespace talvor;

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The largest resident anonymous memory (heap, stacks, relocated library pages: what is the
// process's own) that each child of pid has had so far.
void SampleChildren(pid_t pid, std::map<int, long>* peakKb) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    int child = 0;
    while (children >> child) {
        std::ifstream rollup("/proc/" + std::to_string(child) + "/smaps_rollup");
        std::string key;
        long kb = 0;
        while (rollup >> key) {
            if (key == "Anonymous:" && rollup >> kb) {
                long& peak = (*peakKb)[child];
                peak = std::max(peak, kb);
                break;
            }
        }
    }
}

// Runs a program with its arguments, output discarded; the wall time in ms, or -1 on failure.
// peakKb, when given, receives the program's largest resident size; workerKb, when given, the
// largest own memory of any of its child processes, sampled every 5 ms (which costs time: such a
// run is not a timed one).
double TimedRun(const std::vector<std::string>& args, long* peakKb = nullptr,
                long* workerKb = nullptr) {
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
    std::map<int, long> workers;
    pid_t ended = 0;
    while (pid > 0 && workerKb != nullptr && (ended = wait4(pid, &status, WNOHANG, &usage)) == 0) {
        SampleChildren(pid, &workers);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid > 0 && workerKb == nullptr) ended = wait4(pid, &status, 0, &usage);
    if (pid < 0 || ended != pid) return -1;
    double ms = MsSince(start);
    if (peakKb != nullptr) *peakKb = usage.ru_maxrss;
    if (workerKb != nullptr) {
        *workerKb = 0;
        for (const auto& w : workers) *workerKb = std::max(*workerKb, w.second);
    }
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

// The programs measured: this build's, and the baseline's when one is named.
struct Program {
    std::string label;
    std::string path;
};

// Times runs of every program, taken in turns, and prints each program's figures.
void Measure(const char* what, int runs, const std::vector<Program>& programs,
             const std::vector<std::string>& arguments, int days) {
    std::vector<std::vector<double>> ms(programs.size()), peakMb(programs.size());
    for (const Program& program : programs) {
        std::vector<std::string> args{program.path};
        args.insert(args.end(), arguments.begin(), arguments.end());
        TimedRun(args);  // warm the page cache, fontconfig's cache and the shader cache
    }
    for (int i = 0; i < runs; ++i) {
        for (size_t p = 0; p < programs.size(); ++p) {
            std::vector<std::string> args{programs[p].path};
            args.insert(args.end(), arguments.begin(), arguments.end());
            long peakKb = 0;
            double t = TimedRun(args, &peakKb);
            if (t < 0) return;
            ms[p].push_back(t);
            peakMb[p].push_back(double(peakKb) / 1024.0);
        }
    }
    double first = 0;
    for (size_t p = 0; p < programs.size(); ++p) {
        Figures f = Summarise(ms[p]);
        std::printf("%-40s %-8s median %7.1f ms  min %7.1f  max %7.1f", p == 0 ? what : "",
                    programs[p].label.c_str(), f.median, f.min, f.max);
        if (days > 1) std::printf("  = %5.1f ms a day", f.median / days);
        // A range's days are drawn by worker processes; the parent's own peak says little.
        if (days == 1) std::printf("  peak %.0f MB", Summarise(peakMb[p]).median);
        if (p == 0) first = f.median;
        if (p > 0 && first > 0) std::printf("  (%.2fx this build's time)", f.median / first);
        std::printf("\n");
    }
}

// The own memory of a range's busiest worker, for each program: one sampled run each.
void MeasureWorkers(const char* what, const std::vector<Program>& programs,
                    const std::vector<std::string>& arguments) {
    for (size_t p = 0; p < programs.size(); ++p) {
        std::vector<std::string> args{programs[p].path};
        args.insert(args.end(), arguments.begin(), arguments.end());
        long workerKb = 0;
        if (TimedRun(args, nullptr, &workerKb) < 0) return;
        std::printf("%-40s %-8s %.0f MB of its own (anonymous resident memory)\n",
                    p == 0 ? what : "", programs[p].label.c_str(), double(workerKb) / 1024.0);
    }
}

void PrintLoad(const char* when) {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3) {
        std::printf("load average %s: %.2f %.2f %.2f on %u processors\n", when, load[0], load[1],
                    load[2], std::thread::hardware_concurrency());
    }
}

// What this process holds resident, by mapping (a library by its file name, the heap, the rest
// as "anonymous"), the largest first: after a day drawn and written, the driver's libraries
// against the program's own memory.
void PrintResidentByMapping() {
    std::ifstream smaps("/proc/self/smaps");
    std::map<std::string, long> kb;
    std::string line, name;
    while (std::getline(smaps, line)) {
        if (line.empty()) continue;
        if (std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < 17) {
            size_t path = line.find_first_of("/[", 17);
            name = path == std::string::npos ? "anonymous" : line.substr(path);
            name = name.substr(name.rfind('/') + 1);
        } else if (line.compare(0, 4, "Rss:") == 0) {
            kb[name] += std::atol(line.c_str() + 4);
        }
    }
    std::vector<std::pair<long, std::string>> largest;
    long total = 0;
    for (const auto& m : kb) {
        largest.push_back({m.second, m.first});
        total += m.second;
    }
    std::sort(largest.rbegin(), largest.rend());
    std::printf("resident after those days: %.1f MB, of which", double(total) / 1024.0);
    for (size_t i = 0; i < largest.size() && i < 5; ++i) {
        std::printf("%s %s %.1f MB", i == 0 ? "" : ",", largest[i].second.c_str(),
                    double(largest[i].first) / 1024.0);
    }
    std::printf("\n");
}

// One day drawn and written inside this process, step by step, as talvor-render does it.
void Phases(const std::string& config, const std::string& dataFolder, const std::string& out) {
    PrepareHeapForDrawing();  // as talvor-render does before drawing
    DailyRun run;
    const ScreenGeometry& g = run.screenGeometry;
    RenderSurface& renderSurface = run.renderThread.surface;
    Clock::time_point t = Clock::now();
    run.paths.ConfigFilePath = config;
    run.paths.DataFolder = dataFolder;
    ReadConfiguration(&run);
    run.screenGeometry = ComputeScreenGeometry(1920, 1500);
    AllocateRecordBuffer(&run.RecordBuffer);
    double setup = MsSince(t);
    t = Clock::now();
    LoadTitleFont(&run.fonts);
    double titleFont = MsSince(t);
    t = Clock::now();
    if (!CreateRenderSurfaceOfSize(g.screenWidth, g.screenHeight, &run.fonts, &renderSurface)) {
        std::printf("no OpenGL surface\n");
        return;
    }
    SetChartProjection(run.screenGeometry.screenWidthF, run.screenGeometry.screenHeightF);
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
        run.paths.DayLogPath = ComposeDayLogPath(dataFolder, day);
        LoadDayLog(&run);
        double load = MsSince(t);
        t = Clock::now();
        DrawChart(&run);
        // The read-back waits for the drawing to finish.
        run.frameBitmap = ReadBackFrame(g.screenWidth, g.screenHeight);
        double draw = MsSince(t);
        t = Clock::now();
        IndexedImage image;
        ReduceFrameColours(*run.frameBitmap, &image);
        double reduce = MsSince(t);
        t = Clock::now();
        WriteGifFile(*run.frameBitmap, (out + "/phase.gif").c_str());
        double gif = MsSince(t);
        t = Clock::now();
        WritePngFile(*run.frameBitmap, (out + "/phase.png").c_str());
        double png = MsSince(t);
        FreeFrameBitmap(run.frameBitmap);
        run.frameBitmap = nullptr;
        CloseDayLog(&run.dayLogFile);
        std::printf(
            "  day %d: load %.1f ms, draw+read-back %.1f ms, GIF %.1f ms (of which colour "
            "reduction %.1f), PNG %.1f ms, %d records\n",
            pass + 1, load, draw, gif, reduce, png, run.recordCount);
    }
    PrintResidentByMapping();
    DestroyRenderSurface(&renderSurface);
    ReleaseRecordBuffer(&run.RecordBuffer);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
    std::string tools = FolderOf(GetExecutablePath(nullptr));
    std::vector<Program> programs{{"this", tools + "/talvor-render"}};
    if (argc > 2) programs.push_back({"baseline", std::string(argv[2]) + "/talvor-render"});
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
    constexpr int kRangeDays = 60;  // 2014-03-01 to 2014-04-29
    for (int d = 0; d < kRangeDays; ++d) {
        char date[16];
        std::snprintf(date, sizeof date, "2014-%02d-%02d", d < 31 ? 3 : 4, d < 31 ? d + 1 : d - 30);
        if (TimedRun({gen, data, date}) < 0) return 1;
    }

    std::printf("talvor-render, full synthetic days (1440 records), no display, %d runs each:\n",
                runs);
    PrintLoad("at the start");
    const std::vector<std::string> common{"--config", config};
    auto with = [&](std::vector<std::string> more) {
        more.insert(more.begin(), common.begin(), common.end());
        return more;
    };
    Measure("one day, GIF at 1920 x 1080", runs, programs,
            with({"--date", "2014-03-05", "--size", "1920x1080", "-o", out + "/small.gif"}), 1);
    Measure("one day, GIF at 1920 x 1500", runs, programs,
            with({"--date", "2014-03-05", "-o", out + "/one.gif"}), 1);
    Measure("one day, PNG at 1920 x 1500", runs, programs,
            with({"--date", "2014-03-05", "-o", out + "/one.png"}), 1);
    std::vector<std::string> range = with({"--from", "2014-03-01", "--to", "2014-04-29", "-j", "2",
                                           "--size", "1920x1080", "-o", out});
    Measure("60 days, GIF at 1920 x 1080, 2 workers", std::max(3, runs / 3), programs, range,
            kRangeDays);
    MeasureWorkers("a worker of those 60 days", programs, range);
    Measure("--version (process start and exit only)", runs, programs, {"--version"}, 1);
    PrintLoad("at the end");
    Phases(config, data, out);

    std::string clean = "rm -rf '" + root + "'";
    return std::system(clean.c_str()) == 0 ? 0 : 1;
}
