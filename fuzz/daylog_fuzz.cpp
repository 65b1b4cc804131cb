// SPDX-License-Identifier: GPL-3.0-or-later
// The day log path on arbitrary file bytes: load, the quarter-hour summary as written to
// Z.TXT, and every read the chart makes of the records (rows, marks, markers, scaled levels and
// their colours for both channel plans), without a GL context.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "daylog/day_log.h"
#include "fuzz_support.h"
#include "output/summary.h"
#include "render/chart.h"
#include "render/level_colour.h"
#include "station/run_state.h"

namespace {

std::string folder;

void RemoveFolder() {
    unlink((folder + "/VOK.LOG").c_str());
    unlink((folder + "/Z.TXT").c_str());
    rmdir(folder.c_str());
}

bool WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    close(fd);
    return done == size;
}

std::string ReadWhole(const char* path) {
    std::string text;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

bool IsQuarterHour(int32_t minute) {
    return minute == 0 || minute == 15 || minute == 30 || minute == 45;
}

// The chart's reads, as DrawChart makes them, for every row it would draw.
void ReadLikeTheChart(int chartHeight) {
    int rows = RowsToDraw(recordCount, chartHeight);
    FUZZ_CHECK(rows >= 0 && rows <= recordCount);
    int marked = 0, markerRows[3] = {0, 0, 0};
    char labels[2][kMarkerLabelLength + 1] = {};
    for (int i = 0; i < rows; ++i) {
        const DayLogRecord* record = RecordAt(i);
        if (RowMark(record) == 'X') ++marked;
        if (i == 0) continue;
        switch (MarkerKind(record)) {
            case -1:
                markerRows[0] = i;
                break;
            case 1:
                markerRows[1] = i;
                std::memcpy(labels[0], record + kMarkerLabelOffset, kMarkerLabelLength);
                break;
            case 2:
                markerRows[2] = i;
                std::memcpy(labels[1], record + kMarkerLabelOffset, kMarkerLabelLength);
                break;
            default:
                break;
        }
    }
    for (int m : markerRows) FUZZ_CHECK(m >= 0 && m < rows + (rows == 0));
    for (int spacing : {10, 9}) {
        ChannelRange range = ChooseChannelRange(spacing);
        for (int i = 0; i < rows; ++i) {
            const DayLogRecord* record = RecordAt(i);
            for (int j = range.first; j <= range.last; ++j) {
                int khz = range.plan[j];
                FUZZ_CHECK(khz >= kFirstLevelKhz && khz <= kLastLevelKhz);
                for (float sensitivity : {1.0f, 0.11f}) {
                    int v = ScaledLevel(LevelAt(record, khz), sensitivity);
                    FUZZ_CHECK(v >= 0 && v <= 255);
                    SpotColour c = LevelSpotColour(v, 1);
                    FUZZ_CHECK(c.red == LevelPaletteRed[v]);
                }
            }
        }
        // Time labels read the whole 16 characters of the rows whose minute is 0.
        for (int j = 20; j < rows; ++j) {
            if (Minute(RecordAt(j)) == 0) {
                volatile char last = TimeText(RecordAt(j))[kTimeTextLength - 1];
                (void)last;
            }
        }
    }
    (void)marked;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // TMPDIR lets the runner put the files on a memory file system: rewriting a file on disk
    // in place costs a flush per input on some file systems.
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/daylog-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern.data());
    if (made == nullptr || chdir(made) != 0) std::abort();
    folder = made;
    std::atexit(RemoveFolder);
    runPaths.DayLogPath = folder + "/VOK.LOG";
    if (!AllocateRecordBuffer()) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteWhole(runPaths.DayLogPath, data, size)) return 0;
    LoadDayLog();
    size_t whole = size / kDayLogRecordSize;
    FUZZ_CHECK(recordCount == int(whole < size_t(kMaxDayLogRecords) ? whole : kMaxDayLogRecords));
    FUZZ_CHECK(std::memcmp(RecordBuffer + kDayLogRecordSize, data,
                           size_t(recordCount) * kDayLogRecordSize) == 0);

    // Z.TXT: one line per quarter-hour record, each as FormatSummaryLine composes it.
    WriteSummaryFile();
    std::string summary = ReadWhole("Z.TXT");
    std::string expected;
    for (int k = 0; k < recordCount; ++k) {
        const DayLogRecord* record = RecordAt(k);
        if (!IsQuarterHour(Minute(record))) continue;
        char line[100];
        int length = FormatSummaryLine(record, line, sizeof line);
        FUZZ_CHECK(length > 0 && length <= 36);
        FUZZ_CHECK(line[length - 2] == '\r' && line[length - 1] == '\n');
        int figure = ActivityFigure(record);
        FUZZ_CHECK(figure != 0);
        expected.append(line, size_t(length));
    }
    FUZZ_CHECK(summary == expected);
    // The summary only reads the records.
    FUZZ_CHECK(std::memcmp(RecordBuffer + kDayLogRecordSize, data,
                           size_t(recordCount) * kDayLogRecordSize) == 0);

    for (int height : {0, 24, 732, 1044}) ReadLikeTheChart(height);
    return 0;
}
