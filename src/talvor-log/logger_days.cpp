// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's minutes into the day logs: each day's log opened as it is reached, the minutes
// written live or collected from recordings, and the summary at the end.
#include "talvor-log/logger_days.h"

#include "calendar/calendar.h"
#include "config/run_state.h"
#include "platform/clock.h"
#include "report/report.h"

namespace talvor {

using namespace std::chrono;

std::string DayLogPathOf(const Logger* logger, sys_days day) {
    return ComposeDayLogPath(logger->dataFolder, StartOfDay(day));
}

namespace {

// The day's log open for appending; false when it cannot be. An open that failed is tried
// again for the next minute (another program's lock goes, a disk gets room), and writing again
// after a failure is said as the failure was.
bool EnsureDayLog(Logger* logger, sys_days day) {
    if (logger->log.file >= 0 && logger->log.day == day) return true;
    CloseDayLogAppender(&logger->log);
    if (Outcome opened = OpenDayLogAppender(&logger->log, logger->dataFolder, day, logger->latitude,
                                            logger->longitude);
        !opened) {
        if (!logger->logRefused) Report(opened.reason + "; trying again each minute");
        logger->logRefused = true;
        logger->failed = true;
        return false;
    }
    if (logger->logRefused) Report("writing " + logger->log.path + " again");
    logger->logRefused = false;
    if (logger->log.cutBytes > 0) {
        Report(logger->log.path + " ended in a partial record: cut " +
               std::to_string(logger->log.cutBytes) + " bytes, " +
               std::to_string(logger->log.records) + " whole records kept");
    }
    return true;
}

// Writes the record of a minute from its levels; scans is the count of lines that made it.
void WriteMinute(Logger* logger, sys_days day, int minute, const MinuteLevels& levels) {
    DayTally& tally = logger->tallies[day];
    if (!EnsureDayLog(logger, day)) {
        tally.skipped[SkipIndex(SkipReason::LogNotWritable)] += levels.scans;
        return;
    }
    if (minute < logger->log.records) {
        tally.skipped[SkipIndex(SkipReason::AlreadyInLog)] += levels.scans;
        return;
    }
    int32_t mapped[kBandKhzCount];
    MapLevels(levels, logger->options.scale, mapped);
    int empty = 0;
    bool written = false;
    Outcome appended = AppendMinuteRecord(&logger->log, minute, mapped, &empty, &written);
    tally.written += empty;
    tally.empty += empty;
    if (written) {
        ++tally.written;
        // Live, a power cut must not take more than a few minutes of the day with it.
        if (logger->live && ++logger->recordsSinceSync >= kSyncEveryRecords) {
            logger->recordsSinceSync = 0;
            SyncDayLogAppender(&logger->log);
        }
    } else if (!appended) {
        // Counted where the summary shows them: a full disk must not look like a quiet minute.
        tally.skipped[SkipIndex(SkipReason::LogNotWritable)] += levels.scans;
        Report(appended.reason);
        logger->failed = true;
        // Try again with a fresh open for the next minute: the disk may have room by then.
        CloseDayLogAppender(&logger->log);
    }
}

}  // namespace

void WriteMinuteInHand(Logger* logger) {
    if (!logger->haveMinute) return;
    logger->haveMinute = false;
    WriteMinute(logger, logger->day, logger->minute, logger->levels);
}

void StartLogger(Logger* logger, const LogOptions& options, const std::string& dataFolder,
                 double latitude, double longitude) {
    logger->options = options;
    logger->dataFolder = dataFolder;
    logger->latitude = latitude;
    logger->longitude = longitude;
    logger->haveMinute = false;
    logger->lastReportMs = MonotonicMs();
    logger->recordsSinceSync = 0;
    CloseDayLogAppender(&logger->log);
    logger->logRefused = false;
    logger->tallies.clear();
    logger->withoutScans = DayTally{};
    logger->failed = false;
    logger->input = nullptr;
    logger->collected.clear();
    logger->bytesRead = 0;
    logger->line.db.reserve(8192);
}

void BeginCollectingDay(Logger* logger, sys_days day) {
    logger->collectDay = day;
    logger->collected.clear();
    logger->collected.resize(kMinutesPerDay);
}

void WriteCollectedDay(Logger* logger) {
    for (int minute = 0; minute < kMinutesPerDay; ++minute) {
        if (logger->collected[minute]) {
            WriteMinute(logger, logger->collectDay, minute, *logger->collected[minute]);
            logger->collected[minute].reset();
        }
    }
    logger->collected.clear();
}

void FinishLogger(Logger* logger) {
    WriteMinuteInHand(logger);
    CloseDayLogAppender(&logger->log);
    DayTally total;
    for (const auto& [day, tally] : logger->tallies) {
        Report(DaySummary(DayLogPathOf(logger, day), tally));
        total.written += tally.written;
        for (int r = 0; r < kSkipReasons; ++r) total.skipped[r] += tally.skipped[r];
    }
    for (int r = 0; r < kSkipReasons; ++r) total.skipped[r] += logger->withoutScans.skipped[r];
    if (logger->tallies.empty()) {
        Report("nothing written; " + SkippedText(total));
    } else {
        Report(CountText(int(logger->tallies.size()), "day") + ", " +
               CountText(total.written, "minute") + " written, " + SkippedText(total));
    }
}

}  // namespace talvor
