// SPDX-License-Identifier: GPL-3.0-or-later
// The quarter-hour activity file "Z.TXT".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "daylog/day_log.h"

namespace talvor {

// Whether a record's minute field makes it a quarter-hour record, one that "Z.TXT" has a line for.
bool IsQuarterHour(int32_t minute);

// A level as a percentage of full scale: 255 and above give 100, 51 gives 20, -3 gives -1.
int LevelPercent(int32_t level);
// J of one record: the mean percentage over the 10 kHz plan's entries 1..104, at least 1 if 0.
int ActivityFigure(const DayLogRecord* record);

// The record's line "<timeText> UTC J=<J>\r\n" into line (size bytes); its length, or -1 when
// it does not fit. The record is only read.
int FormatSummaryLine(const DayLogRecord* record, char* line, size_t size);

// The text of "Z.TXT" for the loaded records: one line per quarter-hour record. Throws
// std::bad_alloc when there is no room for it.
std::string SummaryFileText(RecordSpan records);

// Writes the records' "Z.TXT" under path, one line per quarter-hour record, replacing the
// previous one only when the new one is whole; when it was not written, the reason, said on
// standard error too.
Outcome WriteSummaryFileTo(const char* path, RecordSpan records);

}  // namespace talvor
