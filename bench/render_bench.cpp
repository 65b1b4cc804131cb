// How long the render thread's work takes for a full day: loading the day log, drawing the chart
// and reading the frame back, at 1920 x 1080 and 3840 x 2160.
// Usage: render_bench [frame.ppm]   (the last 1920 x 1080 frame is written there when given)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "config/settings.h"
#include "daylog/day_log.h"
#include "render/chart.h"
#include "render/render_surface.h"
#include "render/render_thread.h"

namespace {

constexpr int kRuns = 11;

// A day of plausible records: strong stations at night, weak by day, some noise.
std::string SyntheticDayLog() {
    std::string bytes;
    std::vector<unsigned char> record(kDayLogRecordSize);
    unsigned seed = 1;
    for (int i = 0; i < kMaxDayLogRecords; ++i) {
        std::fill(record.begin(), record.end(), 0);
        unsigned char* r = record.data();
        SetMinute(r, i % 60);
        char text[17];
        std::snprintf(text, sizeof text, "%02d:%02d UTC %02d:%02d", i / 60, i % 60,
                      (i / 60 + 1) % 24, i % 60);
        SetTimeText(r, text);
        if (i % 97 == 0) SetRowMark(r, 'X');
        if (i == 400) SetMarkerKind(r, 1);
        if (i == 1000) SetMarkerKind(r, 2);
        if (i == 700) SetMarkerKind(r, -1);
        double night = 0.5 + 0.5 * std::cos(2.0 * M_PI * i / 1440.0);
        for (int f = 520; f <= 1700; f += 1) {
            seed = seed * 1103515245u + 12345u;
            int noise = int((seed >> 16) % 40);
            int station = (f % 10 == 0) ? int(200 * night * (0.5 + 0.5 * std::sin(f * 0.37))) : 0;
            SetLevel(r, f, station + noise);
        }
        bytes.append(reinterpret_cast<const char*>(r), record.size());
    }
    return bytes;
}

double Ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void WritePpm(const char* path) {
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr || frameBitmap == nullptr) return;
    const FrameBitmap& f = *frameBitmap;
    std::fprintf(out, "P6 %d %d 255\n", f.width, f.height);
    std::vector<unsigned char> row(size_t(f.width) * 3);
    for (int y = 0; y < f.height; ++y) {
        const unsigned char* p = f.bits + size_t(f.height - 1 - y) * size_t(f.width) * 4;
        for (int x = 0; x < f.width; ++x) {
            row[size_t(x) * 3 + 0] = p[x * 4 + 2];
            row[size_t(x) * 3 + 1] = p[x * 4 + 1];
            row[size_t(x) * 3 + 2] = p[x * 4 + 0];
        }
        std::fwrite(row.data(), 1, row.size(), out);
    }
    std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = "/tmp/talvor-render-bench.log";
    std::string bytes = SyntheticDayLog();
    FILE* log = std::fopen(path.c_str(), "wb");
    if (log == nullptr) return 1;
    std::fwrite(bytes.data(), 1, bytes.size(), log);
    std::fclose(log);

    runPaths.DayLogPath = path;
    if (!AllocateRecordBuffer()) return 1;
    std::strcpy(settings.locationName, "LONDON");
    std::strcpy(settings.chartText, "BENCHMARK DAY");
    settings.colourMode = 1;

    std::printf("%-10s %8s %8s %9s %8s %8s  (median of %d runs, ms)\n", "screen", "load", "draw",
                "readback", "total", "read*", kRuns);
    const int sizes[][2] = {{1920, 1080}, {3840, 2160}};
    for (const auto& size : sizes) {
        screenGeometry = ComputeScreenGeometry(size[0], size[1]);
        ResetMarkerGeometry();
        int status =
            CreateRenderSurfaceOfSize(screenGeometry.screenWidth, screenGeometry.screenHeight);
        if (status != 0) {
            std::printf("%dx%d: no surface (status %d)\n", size[0], size[1], status);
            continue;
        }
        SetChartProjection(screenGeometry.screenWidthF, screenGeometry.screenHeightF);
        std::vector<double> load, draw, read, total, readAlone;
        for (int run = 0; run < kRuns; ++run) {
            auto t0 = std::chrono::steady_clock::now();
            LoadDayLog();
            auto t1 = std::chrono::steady_clock::now();
            DrawChart();
            auto t2 = std::chrono::steady_clock::now();
            ReadBackFrame();  // waits for the drawing to finish
            auto t3 = std::chrono::steady_clock::now();
            ReadBackFrame();
            auto t4 = std::chrono::steady_clock::now();
            load.push_back(Ms(t0, t1));
            draw.push_back(Ms(t1, t2));
            read.push_back(Ms(t2, t3));
            total.push_back(Ms(t0, t3));
            readAlone.push_back(Ms(t3, t4));
        }
        char screen[24];
        std::snprintf(screen, sizeof screen, "%dx%d", size[0], size[1]);
        std::printf("%-10s %8.1f %8.1f %9.1f %8.1f %8.1f   records %d\n", screen, Median(load),
                    Median(draw), Median(read), Median(total), Median(readAlone), recordCount);
        if (argc > 1 && size[0] == 1920) {
            DrawChart();
            ReadBackFrame();
            WritePpm(argv[1]);
        }
        DestroyRenderSurface();
    }
    std::printf("read*: a second read-back with nothing left to draw\n");
    std::remove(path.c_str());
    return 0;
}
