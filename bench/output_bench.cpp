// SPDX-License-Identifier: GPL-3.0-or-later
// Times the output step: the GIF of a chart-like frame, its LZW codes against giflib's own
// encoder on the same indices, the wall time of its encoding on one thread and on two, and the
// summary of a full day.
//
//   output_bench [plain|palette|noise]      (default: all three frames, then the summary)
#include <gif_lib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/chart_frame.h"
#include "daylog/day_log.h"
#include "output/colour_reduction.h"
#include "output/gif_lzw.h"
#include "output/snapshot.h"
#include "output/summary.h"
#include "render/chart.h"
#include "talvor/daily_run.h"

using namespace talvor;

namespace {

constexpr int kRepeats = 9;

// The processor time of this thread: every step measured here runs on it alone, and on a machine
// shared with other work the wall time mostly measures the others.
double ThreadMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The processor time of every thread of the process.
double ProcessMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The wall time, for a step that shares its work with a second thread.
double WallMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

template <typename Step>
double MedianMs(Step step, double (*clock)() = ThreadMs) {
    std::vector<double> times;
    for (int i = 0; i < kRepeats; ++i) {
        double start = clock();
        step();
        times.push_back(clock() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

enum class Content { ChartPlain, ChartPalette, Noise };

const char* ContentName(Content content) {
    return content == Content::Noise          ? "noise"
           : content == Content::ChartPalette ? "palette"
                                              : "plain";
}

int Discard(GifFileType*, const GifByteType*, int length) {
    return length;
}

// The same indices through giflib's own encoder, row by row, as the snapshot used to write them.
void GiflibLzw(const IndexedImage& image) {
    int error = 0;
    GifFileType* gif = EGifOpen(nullptr, Discard, &error);
    ColorMapObject* map = GifMakeMapObject(256, nullptr);
    if (gif == nullptr || map == nullptr) std::abort();
    EGifPutScreenDesc(gif, image.width, image.height, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, image.width, image.height, false, nullptr);
    std::vector<unsigned char> row(size_t(image.width));  // giflib masks the row in place
    for (int y = 0; y < image.height; ++y) {
        std::copy_n(image.pixels.data() + size_t(y) * row.size(), row.size(), row.data());
        EGifPutLine(gif, row.data(), image.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
}

void BenchGif(const std::string& folder, int width, int height, Content content) {
    TestFrame t(width, height);
    if (content == Content::Noise) {
        // The worst case for the palette: every pixel a random colour.
        uint32_t state = 1;
        for (unsigned char& byte : t.pixels) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<unsigned char>(state >> 24);
        }
    } else {
        DrawChartLikeFrame(&t, content == Content::ChartPalette);
    }
    IndexedImage image;
    double reduce = MedianMs([&] { ReduceFrameColours(t.frame, &image); });
    int bits = 1;
    while ((1 << bits) < image.colourCount) ++bits;
    std::vector<unsigned char> codes;
    double lzw = MedianMs(
        [&] { CompressLzw(image.pixels.data(), image.pixels.size(), std::max(bits, 2), &codes); });
    double giflib = MedianMs([&] { GiflibLzw(image); });
    std::string path = folder + "/bench.gif";
    bool ok = true;
    double whole = MedianMs([&] { ok = WriteGifFile(t.frame, path.c_str()) && ok; });
    DecodedGif gif;
    double psnr = ok && ReadGifFile(path.c_str(), &gif) ? FramePsnr(t.frame, gif.rgb.data()) : 0;
    // Both ways must give the same file, or their times compare nothing.
    std::vector<unsigned char> oneBytes, twoBytes;
    double one = MedianMs([&] { ok = EncodeFrameGif(t.frame, &oneBytes) && ok; }, WallMs);
    double two =
        MedianMs([&] { ok = EncodeFrameGif(t.frame, &twoBytes, GifThreads::Two) && ok; }, WallMs);
    // On a machine whose other core is busy the wall time cannot show the second thread's share;
    // the caller's processor time with two threads is what it comes to where that core is free.
    double twoHere =
        MedianMs([&] { ok = EncodeFrameGif(t.frame, &twoBytes, GifThreads::Two) && ok; });
    double twoBoth = MedianMs(
        [&] { ok = EncodeFrameGif(t.frame, &twoBytes, GifThreads::Two) && ok; }, ProcessMs);
    ok = ok && oneBytes == twoBytes;
    std::printf(
        "GIF %4dx%-4d %-7s  palette %6.1f ms  LZW %6.1f ms (giflib's %6.1f)  whole save %6.1f ms"
        "  %7zu bytes  PSNR %.2f dB%s\n"
        "    encoding, wall time: one thread %6.1f ms, two threads %6.1f ms (%.2fx); with two "
        "threads the caller's processor time %6.1f ms, both threads' %6.1f ms\n",
        width, height, ContentName(content), reduce, lzw, giflib, whole,
        size_t(ok ? std::filesystem::file_size(path) : 0), psnr, ok ? "" : "  FAILED", one, two,
        one / two, twoHere, twoBoth);
}

void BenchSummary(const std::string& folder) {
    DailyRun run;
    if (!AllocateRecordBuffer(&run.RecordBuffer)) {
        std::printf("summary: no memory for the record buffer\n");
        return;
    }
    for (int k = 0; k < kMaxDayLogRecords; ++k) {
        DayLogRecord* r = RecordSlot(run.RecordBuffer, k);
        std::fill(r, r + kDayLogRecordSize, 0);
        SetMinute(r, k % 60);
        char text[17];
        std::snprintf(text, sizeof text, "2014-03-05 %02d:%02d", k / 60, k % 60);
        SetTimeText(r, text);
        for (int khz = kBandFirstKhz; khz <= kBandLastKhz; ++khz)
            SetLevel(r, khz, (khz * 7 + k) % 300);
    }
    run.recordCount = kMaxDayLogRecords;
    std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    double ms = MedianMs([&run] { WriteSummaryFile(&run); });
    std::printf("summary of %d records: %.3f ms, %ju bytes\n", run.recordCount, ms,
                std::uintmax_t(std::filesystem::file_size(folder + "/Z.TXT")));
    std::filesystem::current_path(saved);
    ReleaseRecordBuffer(&run.RecordBuffer);
}

}  // namespace

int main(int argc, char** argv) {
    const char* only = argc > 1 ? argv[1] : nullptr;
    std::string folder = (std::filesystem::temp_directory_path() /
                          ("talvor-output-bench-" + std::to_string(getpid())))
                             .string();
    std::filesystem::create_directories(folder);
    std::printf("median of %d runs, processor time of the thread; the encoding's wall time\n",
                kRepeats);
    for (Content content : {Content::ChartPlain, Content::ChartPalette, Content::Noise}) {
        if (only != nullptr && std::strcmp(only, ContentName(content)) != 0) continue;
        BenchGif(folder, 1920, 1080, content);
        BenchGif(folder, 3840, 2160, content);
    }
    if (only == nullptr) BenchSummary(folder);
    std::filesystem::remove_all(folder);
    return 0;
}
