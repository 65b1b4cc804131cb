// SPDX-License-Identifier: GPL-3.0-or-later
// The day log: one 4890-byte record per minute, written by talvor-log, read here once.
// A file is the records one after another, with nothing before, between or after them; a cut
// last record is not read. A record, packed, integers little-endian two's complement:
//
//   offset  size    field        what it holds
//        0     4    -            (talvor-log's)
//        4     1    rowMark      'X': the chart draws a grey line across the minute's row
//        5     1    -
//        6     4    minute       minute within the hour: 0 gets a time label, 0/15/30/45 a
//                                summary line
//       10     4    markerKind   -1 "NEW YORK" label, 1 lower and 2 upper half-sun marker
//       14    14    -
//       28    16    timeText     the record's time as text, not terminated, shown as it is
//       39     5      (in it)    characters 11..15: the label beside a half-sun marker
//       44     4    -
//       48  4 each  levels       one signed level a kHz from 500 kHz: f kHz at 48 + 4 * (f - 500)
//                                (520 kHz at 128, 1100 at 2448, 1700 at 4848, 1709 at 4884)
//     4888     2    -
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/outcome.h"

namespace talvor {

constexpr int kDayLogRecordSize = 4890;
// One record a minute of one UTC day: records past the day's last minute are not read.
constexpr int kMinutesPerDay = 1440;
constexpr int kMaxDayLogRecords = kMinutesPerDay;
constexpr int kRecordSlots = kMaxDayLogRecords + 2;  // slot 0 unused, 1..1440 records, 1441 spare
constexpr size_t kRecordBufferSize = size_t{kRecordSlots} * kDayLogRecordSize;  // 7,051,380

// Byte offsets of the fields within a record.
constexpr int kRowMarkOffset = 4;
constexpr int kMinuteOffset = 6;
constexpr int kMarkerKindOffset = 10;
constexpr int kTimeTextOffset = 28;
constexpr int kTimeTextLength = 16;
constexpr int kMarkerLabelOffset = 39;  // characters 11..15 of timeText
constexpr int kMarkerLabelLength = 5;
constexpr int kLevelsOffset = 48;
constexpr int kFirstLevelKhz = 500;
constexpr int kLastLevelKhz = 1709;  // the last level that fits whole in the record

// The band talvor-log writes a level for, one a kHz; the record's other levels stay 0.
constexpr int kBandFirstKhz = 520;
constexpr int kBandLastKhz = 1700;
constexpr int kBandKhzCount = kBandLastKhz - kBandFirstKhz + 1;  // 1181

// One record in memory: a view of kDayLogRecordSize bytes.
using DayLogRecord = unsigned char;

// A RecordBuffer of kRecordBufferSize bytes (*buffer nullptr when memory is short), and its
// release (*buffer nullptr after).
bool AllocateRecordBuffer(unsigned char** buffer);
void ReleaseRecordBuffer(unsigned char** buffer);

// Record k of count records that start at records (record k at records + k * 4890): the
// layout of a day log, in its file and in slots 1.. of a RecordBuffer.
struct RecordSpan {
    const DayLogRecord* first = nullptr;
    int count = 0;
    const DayLogRecord* At(int k) const { return first + size_t(k) * kDayLogRecordSize; }
};
// The records loaded into a RecordBuffer: recordCount of them from slot 1, at most a day's;
// none without a buffer.
RecordSpan LoadedRecords(const unsigned char* RecordBuffer, int recordCount);
// Record k of the day log (0-based, file order), which sits in slot k + 1 of a RecordBuffer.
inline DayLogRecord* RecordSlot(unsigned char* RecordBuffer, int k) {
    return RecordBuffer + size_t(k + 1) * kDayLogRecordSize;
}

int32_t ReadInt32(const DayLogRecord* record, int offset);
void WriteInt32(DayLogRecord* record, int offset, int32_t value);

inline char RowMark(const DayLogRecord* r) {
    return char(r[kRowMarkOffset]);
}
inline int32_t Minute(const DayLogRecord* r) {
    return ReadInt32(r, kMinuteOffset);
}
inline int32_t MarkerKind(const DayLogRecord* r) {
    return ReadInt32(r, kMarkerKindOffset);
}
// What a minute's markerKind marks, for talvor-log that writes it and the chart and the site that
// read it; any other value marks nothing.
enum class Marker : int32_t {
    None = 0,
    NewYork = -1,      // the "NEW YORK" label: sunset in New York
    LowerHalfSun = 1,  // sunset at the station
    UpperHalfSun = 2,  // sunrise at the station
};
inline Marker MarkerOf(const DayLogRecord* r) {
    return Marker(MarkerKind(r));
}
inline const char* TimeText(const DayLogRecord* r) {
    return reinterpret_cast<const char*>(r + kTimeTextOffset);
}
// Level for f kHz, kFirstLevelKhz <= f <= kLastLevelKhz.
int32_t LevelAt(const DayLogRecord* record, int khz);

// Field writers, for the generator and the tests.
void SetRowMark(DayLogRecord* record, char mark);
void SetMinute(DayLogRecord* record, int32_t minute);
void SetMarkerKind(DayLogRecord* record, int32_t kind);
inline void SetMarkerKind(DayLogRecord* record, Marker kind) {
    SetMarkerKind(record, int32_t(kind));
}
// Copies up to 16 bytes of text (NUL-padded when shorter).
void SetTimeText(DayLogRecord* record, const char* text);
void SetLevel(DayLogRecord* record, int khz, int32_t level);

// The records that size bytes of a day log hold, as a reader takes them: whole ones only, and
// at most a day's.
int WholeRecordsIn(int64_t size);
// Takes a day log's bytes, as its file holds them, into slots 1.. of buffer (kRecordBufferSize
// bytes): its whole records, at most a day's; returns their number. bytes may be slot 1 itself.
int TakeDayLogRecords(const unsigned char* bytes, size_t size, unsigned char* buffer);

// Reads the day log at path into slots 1.. of buffer (kRecordBufferSize bytes; nothing is read
// into a null one); *count is the number of whole records read. No log there is an ordinary day
// without reception (*count 0, said in one message), and records past the day's last minute are
// left out (said too); a log that is there but cannot be opened or read fails with "cannot read
// the day log PATH: why" and *count 0. With heldFile, the file stays open there until the next
// load or CloseDayLog (the one held before is closed first); without, it is closed at once.
Outcome LoadDayLogFrom(const std::string& path, unsigned char* buffer, int* count,
                       int* heldFile = nullptr);
// Closes the day log that a load left open in *heldFile (-1 after).
void CloseDayLog(int* heldFile);

}  // namespace talvor
