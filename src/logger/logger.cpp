#include "logger/logger.h"

#include <chrono>

#include "platform/platform.h"
#include "station/calendar.h"

using namespace std::chrono;

namespace {

DayTally& TallyOf(Logger* logger, sys_days day) {
    return logger->tallies[day];
}

// Lines that are not scans belong to the day being logged, or to the input before any day.
DayTally& CurrentTally(Logger* logger) {
    if (logger->haveMinute) return TallyOf(logger, logger->day);
    if (logger->log.file >= 0) return TallyOf(logger, logger->log.day);
    return logger->beforeFirstScan;
}

void Skip(DayTally& tally, SkipReason reason) {
    ++tally.skipped[int(reason)];
}

void Message(Logger* logger, const std::string& text) {
    std::fprintf(logger->messages, "talvor-log: %s\n", text.c_str());
    std::fflush(logger->messages);
}

// The day's log open for appending; false when it cannot be (said once per day).
bool EnsureDayLog(Logger* logger, sys_days day) {
    if (logger->log.file >= 0 && logger->log.day == day) return true;
    if (logger->failedDayKnown && logger->failedDay == day) return false;
    CloseDayLogAppender(&logger->log);
    std::string reason;
    if (!OpenDayLogAppender(&logger->log, logger->dataFolder, day, logger->latitude,
                            logger->longitude, &reason)) {
        Message(logger, reason);
        logger->failed = true;
        logger->failedDayKnown = true;
        logger->failedDay = day;
        return false;
    }
    if (logger->log.cutBytes > 0) {
        Message(logger, logger->log.path + " ended in a partial record: cut " +
                            std::to_string(logger->log.cutBytes) + " bytes, " +
                            std::to_string(logger->log.records) + " whole records kept");
    }
    return true;
}

void WriteMinuteInHand(Logger* logger) {
    if (!logger->haveMinute) return;
    logger->haveMinute = false;
    DayTally& tally = TallyOf(logger, logger->day);
    if (!EnsureDayLog(logger, logger->day)) return;
    int32_t levels[kLoggedKhzCount];
    MapLevels(logger->levels, logger->options.scale, levels);
    int empty = 0;
    std::string reason;
    AppendResult result = AppendMinuteRecord(&logger->log, logger->minute, levels, &empty, &reason);
    tally.written += empty;
    tally.empty += empty;
    if (result == AppendResult::Written) {
        ++tally.written;
    } else if (result == AppendResult::Failed) {
        Message(logger, reason);
        logger->failed = true;
        // Try again with a fresh open for the next minute: the disk may have room by then.
        CloseDayLogAppender(&logger->log);
    }
}

// Seconds since 1970 of the line's time, read as UTC or as the zone's local time.
bool LineUtcSeconds(Logger* logger, const ScanLine& line, int64_t* utc) {
    if (logger->options.utc) {
        sys_days d{year{line.year} / month{unsigned(line.month)} /
                   std::chrono::day{unsigned(line.day)}};
        *utc = int64_t(d.time_since_epoch().count()) * 86400 + line.hour * 3600 + line.minute * 60 +
               line.second;
        return true;
    }
    int64_t candidates[2];
    int count = LocalTimeToUtc(line.year, line.month, line.day, line.hour, line.minute, line.second,
                               candidates);
    if (count == 0) return false;
    // In the hour that repeats, the first reading that does not go back before the lines
    // already read keeps the input in order: after 02:59 summer time, 02:00 is winter time.
    // A minute and a half of slack lets the hops of one scan and a late clock share a minute.
    *utc = candidates[count - 1];
    for (int i = 0; i < count; ++i) {
        if (logger->lastUtc == INT64_MIN || candidates[i] >= logger->lastUtc - 90) {
            *utc = candidates[i];
            break;
        }
    }
    return true;
}

// Live, a line every hour of the clock says that the logger is still at work and how.
void ReportWhenDue(Logger* logger, sys_days day) {
    if (!logger->live) return;
    int64_t now = MonotonicMs();
    if (now - logger->lastReportMs < logger->reportEveryMs) return;
    logger->lastReportMs = now;
    auto it = logger->tallies.find(day);
    if (it != logger->tallies.end()) Message(logger, DaySummary(day, it->second));
}

}  // namespace

const char* SkipReasonText(SkipReason reason) {
    for (const SkipReasonEntry& entry : kSkipReasonTable) {
        if (entry.reason == reason) return entry.text;
    }
    return "?";
}

std::string DaySummary(sys_days day, const DayTally& tally) {
    int skipped = 0;
    std::string reasons;
    for (const SkipReasonEntry& entry : kSkipReasonTable) {
        int count = tally.skipped[int(entry.reason)];
        if (count == 0) continue;
        skipped += count;
        if (!reasons.empty()) reasons += ", ";
        reasons += std::to_string(count) + " " + entry.text;
    }
    std::string text = FormatDate(StartOfDay(day)) + ": " + std::to_string(tally.written) +
                       " minutes written (" + std::to_string(tally.empty) + " empty), " +
                       std::to_string(skipped) + " lines skipped";
    if (!reasons.empty()) text += " (" + reasons + ")";
    return text;
}

void StartLogger(Logger* logger, const LogOptions& options, const std::string& dataFolder,
                 double latitude, double longitude) {
    logger->options = options;
    logger->dataFolder = dataFolder;
    logger->latitude = latitude;
    logger->longitude = longitude;
    logger->haveMinute = false;
    logger->lastUtc = INT64_MIN;
    logger->lastReportMs = MonotonicMs();
    CloseDayLogAppender(&logger->log);
    logger->failedDayKnown = false;
    logger->tallies.clear();
    logger->beforeFirstScan = DayTally{};
    logger->failed = false;
    logger->line.db.reserve(8192);
}

void SkipLongLine(Logger* logger) {
    Skip(CurrentTally(logger), SkipReason::TooLong);
}

void LogLine(Logger* logger, std::string_view text) {
    if (std::optional<SkipReason> why = ParseScanLine(text, &logger->line)) {
        Skip(CurrentTally(logger), *why);
        return;
    }
    int64_t utc;
    if (!LineUtcSeconds(logger, logger->line, &utc)) {
        Skip(CurrentTally(logger), SkipReason::NoSuchLocalTime);
        return;
    }
    if (utc > logger->lastUtc) logger->lastUtc = utc;
    sys_days day;
    int minute;
    SplitUtcSeconds(utc, &day, &minute);

    if (logger->haveMinute) {
        if (day == logger->day && minute == logger->minute) {
            AddScan(&logger->levels, logger->line, logger->options.offsetHz);
            return;
        }
        if (day < logger->day || (day == logger->day && minute < logger->minute)) {
            Skip(TallyOf(logger, day), SkipReason::BeforeMinute);
            return;
        }
        sys_days previousDay = logger->day;
        WriteMinuteInHand(logger);
        ReportWhenDue(logger, previousDay);
    }

    DayTally& tally = TallyOf(logger, day);
    // Lines skipped before the first scan are counted with the first day.
    for (int r = 0; r < kSkipReasons; ++r) {
        tally.skipped[r] += logger->beforeFirstScan.skipped[r];
        logger->beforeFirstScan.skipped[r] = 0;
    }
    if (!EnsureDayLog(logger, day)) {
        Skip(tally, SkipReason::LogNotWritable);
        return;
    }
    if (minute < logger->log.records) {
        Skip(tally, SkipReason::AlreadyInLog);
        return;
    }
    logger->haveMinute = true;
    logger->day = day;
    logger->minute = minute;
    ClearMinute(&logger->levels);
    AddScan(&logger->levels, logger->line, logger->options.offsetHz);
}

void FinishLogger(Logger* logger) {
    WriteMinuteInHand(logger);
    CloseDayLogAppender(&logger->log);
    for (const auto& [day, tally] : logger->tallies) Message(logger, DaySummary(day, tally));
    int skipped = 0;
    for (int r = 0; r < kSkipReasons; ++r) skipped += logger->beforeFirstScan.skipped[r];
    if (logger->tallies.empty()) {
        Message(logger, "no scans read; " + std::to_string(skipped) + " lines skipped");
    }
}
