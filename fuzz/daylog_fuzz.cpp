// SPDX-License-Identifier: GPL-3.0-or-later
// The day log path on arbitrary file bytes, from memory as the file layer hands them over: the
// records taken, the quarter-hour summary as Z.TXT holds it, and every read the chart makes of
// the records (rows, marks, markers, scaled levels for both channel plans), without a GL context.
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

using namespace talvor;

namespace {

// The quarter hours written out afresh, so that the check does not take the summary's word.
bool QuarterHourMinute(int32_t minute) {
    return minute == 0 || minute == 15 || minute == 30 || minute == 45;
}

// A RecordBuffer made once for all the inputs, which libFuzzer hands to the target one after
// another in one process: a run then costs the reading alone, not a 7 MB allocation.
unsigned char* recordBuffer = nullptr;

// The rows, marks, markers and time labels that the chart reads on a chart of that height.
void ReadRowsLikeTheChart(RecordSpan records, int chartHeight) {
    int rows = RowsToDraw(records.count, chartHeight);
    FUZZ_CHECK(rows >= 0 && rows <= records.count);
    int marked = 0, markerRows[3] = {0, 0, 0};
    char labels[2][kMarkerLabelLength + 1] = {};
    for (int i = 0; i < rows; ++i) {
        const DayLogRecord* record = records.At(i);
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
    // Time labels read the whole 16 characters of the rows whose minute is 0.
    for (int j = 20; j < rows; ++j) {
        if (Minute(records.At(j)) == 0) {
            volatile char last = TimeText(records.At(j))[kTimeTextLength - 1];
            (void)last;
        }
    }
    (void)marked;
}

// The levels the chart scales in the rows it draws, with one channel plan and sensitivity as a
// station's settings give them; the input's length picks them, so that the runs try every pair.
// What does not depend on the records is checked once at the start: that every kHz of both plans
// lies in a record, and a scaled level's colour, which depends on that level alone.
void ReadLevelsLikeTheChart(RecordSpan records, int rows, int spacing, float sensitivity) {
    ChannelRange range = ChooseChannelRange(spacing);
    for (int i = 0; i < rows; ++i) {
        const DayLogRecord* record = records.At(i);
        for (int j = range.first; j <= range.last; ++j) {
            int v = ScaledLevel(LevelAt(record, range.plan[j]), sensitivity);
            FUZZ_CHECK(v >= 0 && v <= 255);
        }
    }
}

constexpr int kChartHeights[] = {0, 24, 732, 1044};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!AllocateRecordBuffer(&recordBuffer)) std::abort();
    for (int v = 0; v <= 255; ++v) FUZZ_CHECK(LevelSpotColour(v, 1).red == LevelPaletteRed[v]);
    for (int spacing : {10, 9}) {
        ChannelRange range = ChooseChannelRange(spacing);
        for (int j = range.first; j <= range.last; ++j) {
            FUZZ_CHECK(range.plan[j] >= kFirstLevelKhz && range.plan[j] <= kLastLevelKhz);
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int recordCount = TakeDayLogRecords(data, size, recordBuffer);
    size_t whole = size / kDayLogRecordSize;
    FUZZ_CHECK(recordCount == int(whole < size_t(kMaxDayLogRecords) ? whole : kMaxDayLogRecords));
    FUZZ_CHECK(std::memcmp(recordBuffer + kDayLogRecordSize, data,
                           size_t(recordCount) * kDayLogRecordSize) == 0);
    const RecordSpan records = LoadedRecords(recordBuffer, recordCount);

    // Z.TXT: one line per quarter-hour record, each as FormatSummaryLine composes it.
    std::string summary = SummaryFileText(records);
    std::string expected;
    for (int k = 0; k < recordCount; ++k) {
        const DayLogRecord* record = records.At(k);
        if (!QuarterHourMinute(Minute(record))) continue;
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
    FUZZ_CHECK(std::memcmp(recordBuffer + kDayLogRecordSize, data,
                           size_t(recordCount) * kDayLogRecordSize) == 0);

    int mostRows = 0;
    for (int height : kChartHeights) {
        ReadRowsLikeTheChart(records, height);
        int rows = RowsToDraw(recordCount, height);
        if (rows > mostRows) mostRows = rows;
    }
    ReadLevelsLikeTheChart(records, mostRows, size % 2 == 0 ? 10 : 9, size % 4 < 2 ? 1.0f : 0.11f);
    return 0;
}
