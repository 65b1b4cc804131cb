// SPDX-License-Identifier: GPL-3.0-or-later
#include "daylog/day_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "report/report.h"

namespace talvor {

bool AllocateRecordBuffer(unsigned char** buffer) {
    if (*buffer == nullptr) *buffer = static_cast<unsigned char*>(std::malloc(kRecordBufferSize));
    return *buffer != nullptr;
}

void ReleaseRecordBuffer(unsigned char** buffer) {
    std::free(*buffer);
    *buffer = nullptr;
}

RecordSpan LoadedRecords(const unsigned char* RecordBuffer, int recordCount) {
    if (RecordBuffer == nullptr || recordCount <= 0) return {};
    int count = recordCount < kMaxDayLogRecords ? recordCount : kMaxDayLogRecords;
    return {RecordBuffer + kDayLogRecordSize, count};
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

void CloseDayLog(int* heldFile) {
    if (*heldFile >= 0) {
        CloseFile(*heldFile);
        *heldFile = -1;
    }
}

int WholeRecordsIn(int64_t size) {
    if (size <= 0) return 0;
    int64_t whole = size / kDayLogRecordSize;
    return int(whole < kMaxDayLogRecords ? whole : kMaxDayLogRecords);
}

int TakeDayLogRecords(const unsigned char* bytes, size_t size, unsigned char* buffer) {
    int count = WholeRecordsIn(int64_t(size < kRecordBufferSize ? size : kRecordBufferSize));
    unsigned char* first = buffer + kDayLogRecordSize;
    if (count > 0 && bytes != first) std::memmove(first, bytes, size_t(count) * kDayLogRecordSize);
    return count;
}

namespace {

// Reads the opened day log's whole records into slot 1.. of buffer.
Outcome ReadDayLogRecords(int file, const std::string& path, unsigned char* buffer, int* count) {
    // The size is taken once: records the logger appends after this are left for the next run.
    // Nothing past a day's records is read, however large the file claims to be.
    int64_t size = 0;
    if (Outcome sized = FileSizeOf(file, &size); !sized) {
        return FailedLike(sized, "cannot read the day log " + path + ": " + sized.reason);
    }
    if (size / kDayLogRecordSize > kMaxDayLogRecords) {
        ReportFormatted(
            "the day log %s holds more than a day's %d records; those after them are "
            "not read",
            path.c_str(), kMaxDayLogRecords);
    }
    size_t wanted = size_t(WholeRecordsIn(size)) * kDayLogRecordSize;
    size_t got = 0;
    if (Outcome read = ReadFully(file, buffer + kDayLogRecordSize, wanted, &got); !read) {
        return FailedLike(read, "cannot read the day log " + path + ": " + read.reason);
    }
    // A file cut short while we read it (truncated by its writer) must not leave stale slot
    // contents counted as records: count only what arrived whole.
    *count = TakeDayLogRecords(buffer + kDayLogRecordSize, got, buffer);
    return Succeeded();
}

}  // namespace

Outcome LoadDayLogFrom(const std::string& path, unsigned char* buffer, int* count, int* heldFile) {
    *count = 0;
    if (heldFile != nullptr) CloseDayLog(heldFile);
    if (buffer == nullptr) return Succeeded();

    int file = -1;
    if (Outcome opened = OpenForReading(path.c_str(), &file); !opened) {
        // No log is an ordinary day without reception, but a misplaced data folder looks just
        // the same in the picture: one line says where the log was looked for. A log that is
        // there and cannot be read is no such day: drawn empty, it would replace a good picture.
        if (opened.error == ENOENT || opened.error == ENOTDIR) {
            ReportFormatted("no day log at %s; the day is drawn empty", path.c_str());
            return Succeeded();
        }
        return FailedLike(opened, "cannot read the day log " + path + ": " + opened.reason);
    }
    Outcome read = ReadDayLogRecords(file, path, buffer, count);
    // talvor-log may keep appending while we run; the daily run holds the handle open
    // like its peer expects until its next load or the end of the process.
    if (heldFile != nullptr) {
        *heldFile = file;
    } else {
        CloseFile(file);
    }
    return read;
}

}  // namespace talvor
