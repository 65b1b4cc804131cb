// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's lines in: each scan line read, its time checked against the input's, and the
// scans taken into their minutes; logger_days.cpp writes the minutes out.
#include "talvor-log/logger.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "calendar/calendar.h"
#include "platform/clock.h"
#include "report/report.h"
#include "talvor-log/logger_days.h"

namespace talvor {

using namespace std::chrono;

namespace {

// The day folders are named by four-digit years: a time that converts outside them has none.
const int64_t kFirstUtc =
    int64_t(sys_days{year{1900} / January / 1}.time_since_epoch().count()) * 86400;
const int64_t kLastUtc =
    int64_t(sys_days{year{9999} / December / 31}.time_since_epoch().count()) * 86400 + 86399;

bool Quiet(const Logger* logger) {
    return logger->input != nullptr && logger->input->pass == InputPass::Collect;
}

std::string TimeText(int64_t utc) {
    sys_days day;
    int minute;
    SplitUtcSeconds(utc, &day, &minute);
    return FormatDayMinute(day, minute) + " UTC";
}

int64_t NowUtc(const Logger* logger) {
    if (logger->systemClock != nullptr) return logger->systemClock();
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// A line of the input that was not used. The second reading of a recorded file counts nothing:
// the first did. Lines that are not scans belong to the day the input is at.
void SkipLine(Logger* logger, SkipReason reason) {
    if (Quiet(logger)) return;
    InputState* in = logger->input;
    DayTally& tally = in->haveDay ? logger->tallies[in->day] : in->beforeFirstScan;
    ++tally.skipped[SkipIndex(reason)];
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
    // Before its first line, a file goes on from the file given before it, when that ended near.
    const InputState* in = logger->input;
    int64_t last = in->clock.lastUtc;
    if (last == INT64_MIN && in->precedingUtc != INT64_MIN &&
        std::llabs(candidates[0] - in->precedingUtc) <= kJumpSeconds) {
        last = in->precedingUtc;
    }
    *utc = candidates[count - 1];
    for (int i = 0; i < count; ++i) {
        if (last == INT64_MIN || candidates[i] >= last - 90) {
            *utc = candidates[i];
            break;
        }
    }
    return true;
}

// Live, a line every hour of the clock says that the logger is still at work and how, written
// minutes or not.
void ReportWhenDue(Logger* logger) {
    if (!logger->live) return;
    int64_t now = MonotonicMs();
    if (now - logger->lastReportMs < logger->reportEveryMs) return;
    logger->lastReportMs = now;
    const InputState* in = logger->input;
    if (in->haveDay) {
        Report(DaySummary(DayLogPathOf(logger, in->day), logger->tallies[in->day]));
    } else {
        Report("no minute written yet; " + SkippedText(in->beforeFirstScan));
    }
}

int64_t MinuteStart(int64_t utc) {
    return utc - (utc % 60 + 60) % 60;
}

// The survey: the day's lines reach this far in the input.
void NoteDaySpan(InputState* in, sys_days day) {
    auto [span, first] = in->spans.try_emplace(day);
    if (first) {
        span->second.from = in->cleanFrom;
        span->second.clock = in->cleanClock;
    }
    span->second.to = in->lineEnd;
    span->second.toEnd = in->ending;
}

// A scan taken: live into the minute in hand, else into the day being collected.
void TakeScan(Logger* logger, int64_t utc) {
    InputState* in = logger->input;
    if (!in->clock.anchored || utc > in->clock.anchorUtc) in->clock.anchorUtc = utc;
    in->clock.anchored = true;
    if (utc > in->clock.lastUtc) in->clock.lastUtc = utc;
    in->aheadOfClockSaid = false;
    sys_days day;
    int minute;
    SplitUtcSeconds(utc, &day, &minute);
    if (!in->haveDay && !Quiet(logger)) MoveSkipped(&logger->tallies[day], &in->beforeFirstScan);
    in->haveDay = true;
    in->day = day;
    const int64_t minuteUtc = MinuteStart(utc);
    if (minuteUtc != in->lastMinuteUtc) {
        in->lastMinuteUtc = minuteUtc;
        in->linesInLastMinute = 0;
    }
    ++in->linesInLastMinute;

    switch (in->pass) {
        case InputPass::Survey:
            NoteDaySpan(in, day);
            in->firstUtc = std::min(in->firstUtc, utc);
            return;
        case InputPass::Collect:
            if (day != logger->collectDay || minuteUtc == in->droppedMinuteUtc) return;
            if (!logger->collected[minute]) {
                logger->collected[minute] = std::make_unique<MinuteLevels>();
                ClearMinute(logger->collected[minute].get());
            }
            AddScan(logger->collected[minute].get(), logger->line, logger->options.offsetHz);
            return;
        case InputPass::Live:
            break;
    }
    if (logger->haveMinute) {
        if (day == logger->day && minute == logger->minute) {
            AddScan(&logger->levels, logger->line, logger->options.offsetHz);
            return;
        }
        // A little behind the minute in hand is out of order; far behind, the input's clock
        // went back and was followed (a minute already logged is still never written twice).
        int64_t inHand =
            int64_t(logger->day.time_since_epoch().count()) * 86400 + logger->minute * 60;
        if (utc < inHand && utc >= inHand - kJumpSeconds) {
            ++logger->tallies[day].skipped[SkipIndex(SkipReason::BeforeMinute)];
            return;
        }
        WriteMinuteInHand(logger);
    }
    logger->haveMinute = true;
    logger->day = day;
    logger->minute = minute;
    ClearMinute(&logger->levels);
    AddScan(&logger->levels, logger->line, logger->options.offsetHz);
}

// Takes the lines held at a jump: the input's clock moved, and the lines agree.
void FollowHeldLines(Logger* logger) {
    InputState* in = logger->input;
    std::vector<HeldLine> held = std::move(in->held);
    in->held.clear();
    in->heldBytes = 0;
    if (in->clock.anchored && !Quiet(logger)) {
        Report(in->name + ": the time jumped from " + TimeText(in->clock.anchorUtc) + " to " +
               TimeText(held.front().utc) + "; the lines after it agree and are kept");
    }
    in->clock.anchored = true;
    in->clock.anchorUtc = held.front().utc;
    in->clock.lastUtc = held.front().utc;
    for (const HeldLine& line : held) {
        if (!ParseScanLine(line.text, &logger->line)) continue;  // read once already
        TakeScan(logger, line.utc);
    }
}

// Skips the lines held at a jump: the input went on where it was, or ended.
void DropHeldLines(Logger* logger) {
    InputState* in = logger->input;
    if (in->held.empty()) return;
    if (!Quiet(logger)) {
        Report(in->name + ": " + CountText(int(in->held.size()), "line") + " from " +
               TimeText(in->held.front().utc) + " skipped, far from the time of " +
               "the lines around " + (in->held.size() == 1 ? "it" : "them") + " (" +
               TimeText(in->clock.anchorUtc) + ")");
    }
    for (size_t i = 0; i < in->held.size(); ++i) SkipLine(logger, SkipReason::TimeJump);
    in->held.clear();
    in->heldBytes = 0;
}

bool HeldLinesAgree(const InputState& in) {
    return (int(in.held.size()) >= kAgreeingLines &&
            in.held.back().utc - in.held.front().utc >= kAgreeingSeconds) ||
           in.heldBytes > kMostHeldBytes;
}

// Whether a line's time goes on from the input's: not far behind its latest line, and not far
// ahead (live, not more than a few minutes ahead).
bool FollowsTheInput(const Logger& logger, int64_t utc) {
    const InputClock& clock = logger.input->clock;
    if (!clock.anchored) return true;
    const int64_t ahead = logger.live ? kLiveLeapSeconds : kJumpSeconds;
    return utc - clock.anchorUtc <= ahead && clock.anchorUtc - utc <= kJumpSeconds;
}

// A scan line whose time is known: taken, or held while its time is far from the input's.
void GuardTime(Logger* logger, std::string_view text, int64_t utc) {
    InputState* in = logger->input;
    if (FollowsTheInput(*logger, utc)) {
        DropHeldLines(logger);
        TakeScan(logger, utc);
        return;
    }
    // Far from the input's time: a damaged line, or the clock moved. Lines that agree with each
    // other decide.
    if (!in->held.empty()) {
        int64_t previous = in->held.back().utc;
        if (utc < previous - 90 || utc > previous + kJumpSeconds) DropHeldLines(logger);
    }
    in->held.push_back(HeldLine{std::string(text), utc});
    in->heldBytes += text.size();
    if (HeldLinesAgree(*in)) FollowHeldLines(logger);
}

// Whether the scan reaches the logged band, and what the input covered.
bool InBand(Logger* logger, const ScanLine& line) {
    InputState* in = logger->input;
    const double low = line.hzLow - logger->options.offsetHz;
    const double high =
        line.hzLow + double(line.db.size()) * line.hzStep - logger->options.offsetHz;
    if (in->scans == 0 || low < in->lowestHz) in->lowestHz = low;
    if (in->scans == 0 || high > in->highestHz) in->highestHz = high;
    ++in->scans;
    if (high <= (kBandFirstKhz - 0.5) * 1000 || low >= (kBandLastKhz + 0.5) * 1000) {
        return false;
    }
    ++in->inBand;
    if (line.hzStep > kWidestUsefulBinHz && !in->wideBinsSaid && !Quiet(logger)) {
        in->wideBinsSaid = true;
        char text[200];
        std::snprintf(text, sizeof text,
                      ": bins of %.1f kHz cannot tell channels 10 kHz apart from each other; "
                      "scan in 1 kHz steps (rtl_power -f 520k:1710k:1k)",
                      line.hzStep / 1000);
        Report(in->name + text);
    }
    return true;
}

std::string BandText(double lowHz, double highHz) {
    char text[80];
    if (highHz >= 10e6) {
        std::snprintf(text, sizeof text, "%.3f..%.3f MHz", lowHz / 1e6, highHz / 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.1f..%.1f kHz", lowHz / 1e3, highHz / 1e3);
    }
    return text;
}

}  // namespace

void BeginInput(Logger* logger, InputState* input) {
    logger->input = input;
}

void LeaveInput(Logger* logger) {
    logger->input = nullptr;
}

void SkipLongLine(Logger* logger) {
    SkipLine(logger, SkipReason::TooLong);
}

void SkipTornLine(Logger* logger, std::string_view text) {
    SkipLine(logger, SkipReason::Torn);
    InputState* in = logger->input;
    in->tornEnd = true;
    int64_t utc;
    in->tornMinuteUtc =
        ParseScanTime(text, &logger->line) && LineUtcSeconds(logger, logger->line, &utc)
            ? MinuteStart(utc)
            : INT64_MIN;
}

void LogLine(Logger* logger, std::string_view text) {
    InputState* in = logger->input;
    // Where a day's lines begin: a later reading starts here with the clock as it stands.
    if (in->pass == InputPass::Survey && in->held.empty()) {
        in->cleanFrom = in->lineStart;
        in->cleanClock = in->clock;
    }
    if (Outcome scan = ParseScanLine(text, &logger->line); !scan) {
        SkipLine(logger, scan.kind);
    } else {
        int64_t utc;
        if (!LineUtcSeconds(logger, logger->line, &utc)) {
            SkipLine(logger, SkipReason::NoSuchLocalTime);
        } else if (utc < kFirstUtc || utc > kLastUtc) {
            SkipLine(logger, SkipReason::BadDateTime);
        } else if (!InBand(logger, logger->line)) {
            SkipLine(logger, SkipReason::OutsideBand);
        } else if (logger->live && utc > NowUtc(logger) + kJumpSeconds) {
            if (!in->aheadOfClockSaid) {
                in->aheadOfClockSaid = true;
                Report(in->name + ": a line of " + TimeText(utc) +
                       " is far ahead of the system clock (" + TimeText(NowUtc(logger)) +
                       "); such lines are skipped");
            }
            SkipLine(logger, SkipReason::AheadOfClock);
        } else {
            GuardTime(logger, text, utc);
        }
    }
    ReportWhenDue(logger);
}

void EndInput(Logger* logger) {
    InputState* in = logger->input;
    if (in == nullptr) return;
    in->ending = true;
    // Lines held at the end: kept when enough of them agree, as a run in the middle would be.
    if (int(in->held.size()) >= kAgreeingLines) {
        FollowHeldLines(logger);
    } else {
        DropHeldLines(logger);
    }
    // A torn end: the minute of the last whole lines may lack the rest of its scans, unless the
    // torn line belongs to a later minute.
    const bool tornInLaterMinute =
        in->tornMinuteUtc != INT64_MIN && in->tornMinuteUtc > in->lastMinuteUtc;
    if (in->tornEnd && in->haveDay && !tornInLaterMinute) {
        if (in->pass == InputPass::Live && logger->haveMinute) {
            logger->haveMinute = false;
            logger->tallies[logger->day].skipped[SkipIndex(SkipReason::Torn)] +=
                logger->levels.scans;
        } else if (in->pass == InputPass::Survey) {
            in->droppedMinuteUtc = in->lastMinuteUtc;
            logger->tallies[in->day].skipped[SkipIndex(SkipReason::Torn)] += in->linesInLastMinute;
        }
    }
    if (!Quiet(logger)) {
        if (in->scans > 0 && in->inBand == 0) {
            Report(in->name + ": the scans cover " + BandText(in->lowestHz, in->highestHz) +
                   (logger->options.offsetHz != 0 ? " (after --offset)" : "") +
                   ", none of the 520..1700 kHz that day logs hold; behind an "
                   "up-converter, give its oscillator with --offset (e.g. "
                   "--offset 125M); nothing written for them");
            logger->failed = true;
        }
        if (!in->haveDay) {
            if (SkippedLines(in->beforeFirstScan) > 0 && in->scans == 0) {
                Report(in->name + ": no scans; " + SkippedText(in->beforeFirstScan));
            }
            MoveSkipped(&logger->withoutScans, &in->beforeFirstScan);
        }
    }
    logger->input = nullptr;
}

}  // namespace talvor
