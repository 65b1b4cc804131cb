// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/summary.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "config/channel_plan.h"
#include "platform/files.h"
#include "report/report.h"

namespace talvor {

namespace {

// The band average runs over the 10 kHz plan's entries 1..104 (520..1670 kHz), one channel
// lower than the chart draws, whatever spacing the settings choose.
constexpr int kFirstSummaryChannel = 1;
constexpr int kSummaryChannels = 104;

}  // namespace

bool IsQuarterHour(int32_t minute) {
    return minute == 0 || minute == 15 || minute == 30 || minute == 45;
}

// The figure the file has always carried is v / 2.55 rounded to single precision and truncated,
// which for every level from -1,000,000 up is exactly 100 * min(level, 255) / 255 truncated.
// The integer form gives those results without depending on how the compiler treats floats,
// and 64 bits keep the product of the lowest levels from overflowing.
int LevelPercent(int32_t level) {
    int64_t v = level > 255 ? 255 : level;
    return int(v * 100 / 255);
}

int ActivityFigure(const DayLogRecord* record) {
    int64_t sum = 0;
    for (int j = kFirstSummaryChannel; j < kFirstSummaryChannel + kSummaryChannels; ++j) {
        sum += LevelPercent(LevelAt(record, ChannelPlan10[j]));
    }
    int figure = int(sum / kSummaryChannels);
    return figure == 0 ? 1 : figure;
}

int FormatSummaryLine(const DayLogRecord* record, char* line, size_t size) {
    // Reading a record leaves it untouched: the time text is copied out, bounded to its
    // 16 characters, rather than cut short inside the record.
    char timeText[kTimeTextLength + 1];
    const char* source = TimeText(record);
    size_t length = 0;
    while (length < size_t(kTimeTextLength) && source[length] != '\0') {
        timeText[length] = source[length];
        ++length;
    }
    timeText[length] = '\0';
    int written = std::snprintf(line, size, "%s UTC J=%d\r\n", timeText, ActivityFigure(record));
    if (written < 0 || size_t(written) >= size) return -1;
    return written;
}

std::string SummaryFileText(RecordSpan records) {
    int count = records.first != nullptr ? records.count : 0;
    if (count > kMaxDayLogRecords) count = kMaxDayLogRecords;
    std::string text;
    for (int k = 0; k < count; ++k) {
        const DayLogRecord* record = records.At(k);
        if (!IsQuarterHour(Minute(record))) continue;
        char line[100];
        int length = FormatSummaryLine(record, line, sizeof line);
        if (length < 0) continue;  // cannot happen: a line is at most 36 characters
        text.append(line, size_t(length));
    }
    return text;
}

Outcome WriteSummaryFileTo(const char* path, RecordSpan records) {
    // The whole text first (a few kilobytes), then one write under a temporary name: a failed
    // write leaves the previous file whole instead of a shorter one that looks complete.
    std::string text;
    Outcome written;
    try {
        text = SummaryFileText(records);
    } catch (const std::bad_alloc&) {
        // In the system's words, as the message has always said it.
        written = FailedLike(Failed(FailureKind::OutOfMemory), FailedWithErrno(ENOMEM).reason);
    }
    if (written) written = WriteFileWhole(path, text.data(), text.size());
    if (!written) ReportCannotWrite(path, written.reason);
    return written;
}

}  // namespace talvor
