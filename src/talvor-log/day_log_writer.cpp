// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/day_log_writer.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "platform/files.h"

namespace talvor {

namespace {

// Makes the folder when missing; a folder made is flushed into its parent, so that after a
// power cut the records written in it are not left without a name.
Outcome MakeFolder(const std::string& path) {
    std::error_code ec;
    bool made = std::filesystem::create_directory(path, ec);
    if (ec) {
        return FailedLike(FailedWithErrno(ec.value()),
                          "cannot make the folder " + path + ": " + ec.message());
    }
    if (made) SyncFolder(FolderOf(path).c_str());
    return Succeeded();
}

Outcome WriteRecord(DayLogAppender* log, const DayLogRecord* record) {
    Outcome written = WriteAll(log->file, record, kDayLogRecordSize);
    if (written) {
        ++log->records;
        return written;
    }
    // A record cut short (a full disk) would shift every later one: take it back.
    TruncateOpenFile(log->file, int64_t(log->records) * kDayLogRecordSize);
    return FailedLike(written, "cannot write " + log->path + ": " + written.reason);
}

}  // namespace

void ComposeRecord(DayLogRecord* record, std::chrono::sys_days day, int minuteOfDay,
                   int32_t markerKind, const int32_t* levels) {
    std::memset(record, 0, kDayLogRecordSize);
    SetRowMark(record, minuteOfDay % 60 == 0 ? 'X' : '\0');
    SetMinute(record, minuteOfDay % 60);
    SetMarkerKind(record, markerKind);
    SetTimeText(record, FormatDayMinute(day, minuteOfDay).c_str());
    if (levels != nullptr) {
        for (int k = 0; k < kBandKhzCount; ++k) SetLevel(record, kBandFirstKhz + k, levels[k]);
    }
}

Outcome OpenDayLogAppender(DayLogAppender* log, const std::string& dataFolder,
                           std::chrono::sys_days day, double latitude, double longitude) {
    CloseDayLogAppender(log);
    log->day = day;
    log->records = 0;
    log->cutBytes = 0;
    log->path = ComposeDayLogPath(dataFolder, StartOfDay(day));
    if (Outcome made = MakeFolder(dataFolder); !made) return made;
    if (Outcome made = MakeFolder(FolderOf(log->path)); !made) return made;

    bool created = false;
    if (Outcome opened = OpenForAppending(log->path.c_str(), &log->file, &created); !opened) {
        return FailedLike(opened, "cannot open " + log->path + " for appending: " + opened.reason);
    }
    if (created) SyncFolder(FolderOf(log->path).c_str());
    // Two loggers appending to one day would interleave their minutes, and one of them could
    // take the other's record in progress for a crash's remains and cut it.
    if (Outcome locked = LockExclusively(log->file); !locked) {
        CloseDayLogAppender(log);
        return FailedLike(locked, locked.error == EWOULDBLOCK
                                      ? "another program is writing " + log->path
                                      : "cannot lock " + log->path + ": " + locked.reason);
    }
    int64_t size = 0;
    if (Outcome sized = FileSizeOf(log->file, &size); !sized) {
        CloseDayLogAppender(log);
        return FailedLike(sized, "cannot read the size of " + log->path);
    }
    int64_t whole = size / kDayLogRecordSize;
    if (size % kDayLogRecordSize != 0) {
        // The end of a record that a crash interrupted: the readers ignore it, but the next
        // record must start on a record boundary.
        if (Outcome cut = TruncateOpenFile(log->file, whole * kDayLogRecordSize); !cut) {
            CloseDayLogAppender(log);
            return FailedLike(cut,
                              "cannot cut the partial record off " + log->path + ": " + cut.reason);
        }
        log->cutBytes = size - whole * kDayLogRecordSize;
    }
    log->records = int(whole < kMaxDayLogRecords ? whole : kMaxDayLogRecords);
    DayMarkerKinds(day, latitude, longitude, log->markerKinds);
    return Succeeded();
}

Outcome AppendMinuteRecord(DayLogAppender* log, int minuteOfDay, const int32_t* levels,
                           int* emptyWritten, bool* written) {
    *emptyWritten = 0;
    *written = false;
    if (minuteOfDay < log->records || minuteOfDay >= kMaxDayLogRecords) return Succeeded();
    unsigned char record[kDayLogRecordSize];
    while (log->records < minuteOfDay) {
        ComposeRecord(record, log->day, log->records, log->markerKinds[log->records], nullptr);
        if (Outcome put = WriteRecord(log, record); !put) return put;
        ++*emptyWritten;
    }
    ComposeRecord(record, log->day, minuteOfDay, log->markerKinds[minuteOfDay], levels);
    if (Outcome put = WriteRecord(log, record); !put) return put;
    *written = true;
    return Succeeded();
}

bool SyncDayLogAppender(DayLogAppender* log) {
    return log->file >= 0 && SyncFileData(log->file);
}

void CloseDayLogAppender(DayLogAppender* log) {
    if (log->file >= 0) CloseWritten(log->file);
    log->file = -1;
}

}  // namespace talvor
