// SPDX-License-Identifier: GPL-3.0-or-later
// Why a line of input was not logged: one list for the line reader and the logger alike, each
// reason with the words that the summaries use.
#pragma once

#include <cstddef>

enum class SkipReason {
    BlankOrComment,   // empty, only spaces, or starting with '#'
    TooFewFields,     // fewer than the six leading fields and one value
    BadDateTime,      // not a calendar date and a time of day
    BadNumber,        // text where a number belongs
    BadRange,         // Hz high not above Hz low, or a step of 0 or below
    Torn,             // cut short: fewer values than its range needs, or no line end
    TooLong,          // longer than any scan line
    NoSuchLocalTime,  // in the hour skipped when summer time begins
    OutsideBand,      // no bin in 520..1700 kHz
    TimeJump,         // far from the time of the input's lines around it
    AheadOfClock,     // live, far ahead of the system clock
    BeforeMinute,     // earlier than the minute in hand
    AlreadyInLog,     // the day log holds that minute already
    LogNotWritable,   // its day log cannot be written
};

struct SkipReasonEntry {
    SkipReason reason;
    const char* text;
};

// In the order that the summaries give them.
inline constexpr SkipReasonEntry kSkipReasonTable[] = {
    {SkipReason::BlankOrComment, "blank or comment"},
    {SkipReason::TooFewFields, "too few fields"},
    {SkipReason::BadDateTime, "no date and time"},
    {SkipReason::BadNumber, "not a number"},
    {SkipReason::BadRange, "no frequency range"},
    {SkipReason::Torn, "torn"},
    {SkipReason::TooLong, "too long"},
    {SkipReason::NoSuchLocalTime, "local time that does not exist"},
    {SkipReason::OutsideBand, "outside 520..1700 kHz"},
    {SkipReason::TimeJump, "far from the time of the lines around them"},
    {SkipReason::AheadOfClock, "ahead of the system clock"},
    {SkipReason::BeforeMinute, "out of order"},
    {SkipReason::AlreadyInLog, "minute already in the log"},
    {SkipReason::LogNotWritable, "day log not writable"},
};
inline constexpr int kSkipReasons = int(std::size(kSkipReasonTable));

const char* SkipReasonText(SkipReason reason);
