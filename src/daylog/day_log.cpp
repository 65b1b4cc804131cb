// SPDX-License-Identifier: GPL-3.0-or-later
#include "daylog/day_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "station/report.h"
#include "station/run_state.h"

unsigned char* RecordBuffer = nullptr;
int recordCount = 0;

namespace {
// The logging program may keep appending while we run; the handle stays open like its peer
// expects until the next load or the end of the process.
int dayLogFile = -1;
}  // namespace

bool AllocateRecordBuffer() {
    if (RecordBuffer == nullptr) {
        RecordBuffer = static_cast<unsigned char*>(std::malloc(kRecordBufferSize));
    }
    return RecordBuffer != nullptr;
}

void ReleaseRecordBuffer() {
    std::free(RecordBuffer);
    RecordBuffer = nullptr;
}

int32_t ReadInt32(const DayLogRecord* record, int offset) {
    const unsigned char* p = record + offset;
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return int32_t(v);
}

void WriteInt32(DayLogRecord* record, int offset, int32_t value) {
    uint32_t v = uint32_t(value);
    unsigned char* p = record + offset;
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
    p[2] = (v >> 16) & 0xFF;
    p[3] = (v >> 24) & 0xFF;
}

int32_t LevelAt(const DayLogRecord* record, int khz) {
    return ReadInt32(record, kLevelsOffset + 4 * (khz - kFirstLevelKhz));
}

void SetRowMark(DayLogRecord* record, char mark) {
    record[kRowMarkOffset] = static_cast<unsigned char>(mark);
}
void SetMinute(DayLogRecord* record, int32_t minute) {
    WriteInt32(record, kMinuteOffset, minute);
}
void SetMarkerKind(DayLogRecord* record, int32_t kind) {
    WriteInt32(record, kMarkerKindOffset, kind);
}

void SetTimeText(DayLogRecord* record, const char* text) {
    size_t n = strnlen(text, kTimeTextLength);
    std::memset(record + kTimeTextOffset, 0, kTimeTextLength);
    std::memcpy(record + kTimeTextOffset, text, n);
}

void SetLevel(DayLogRecord* record, int khz, int32_t level) {
    WriteInt32(record, kLevelsOffset + 4 * (khz - kFirstLevelKhz), level);
}

void CloseDayLog() {
    if (dayLogFile >= 0) {
        CloseFile(dayLogFile);
        dayLogFile = -1;
    }
}

void LoadDayLog() {
    recordCount = 0;
    recordCount = LoadDayLogFrom(runPaths.DayLogPath, RecordBuffer);
}

int LoadDayLogFrom(const std::string& path, unsigned char* buffer) {
    CloseDayLog();
    if (buffer == nullptr) return 0;

    if (!OpenForReading(path.c_str(), &dayLogFile)) {
        // No log is an ordinary day without reception, but a misplaced data folder looks just
        // the same in the picture: one line says where the log was looked for.
        if (PathExists(path.c_str())) {
            ReportFormatted("cannot read the day log %s: not a readable file", path.c_str());
        } else {
            ReportFormatted("no day log at %s; the day is drawn empty", path.c_str());
        }
        return 0;
    }

    // The size is taken once: records the logger appends after this are left for the next run.
    int64_t size = FileSizeOf(dayLogFile);
    if (size <= 0) return 0;
    int64_t whole = size / kDayLogRecordSize;
    if (whole > kMaxDayLogRecords) whole = kMaxDayLogRecords;

    size_t wanted = size_t(whole) * kDayLogRecordSize;
    size_t got = ReadUpTo(dayLogFile, buffer + kDayLogRecordSize, wanted);
    // A file cut short while we read it (truncated by its writer, or an I/O error) must not
    // leave stale slot contents counted as records: count only what arrived whole.
    return int(got / kDayLogRecordSize);
}
