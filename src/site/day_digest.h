// SPDX-License-Identifier: GPL-3.0-or-later
// What the archive keeps of a loaded day log besides its picture: the quarter-hour activity, the
// station's sunrise and sunset, the summary lines, and every level in a compact form that the
// day page decodes itself.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "daylog/day_log.h"
#include "daylog/day_records.h"
#include "platform/outcome.h"

namespace talvor {

constexpr int kQuarterHours = 96;

struct DayDigest {
    int records = 0;
    int activity[kQuarterHours] = {};  // J of each quarter hour; 0 where the log has none
    int sunrise = -1;                  // minute of the UTC day of the half-sun markers; -1: none
    int sunset = -1;
};

DayDigest DigestDay(RecordSpan records);

// The digest as the few lines the site keeps beside a day's page, and back.
std::string DigestText(const DayDigest& digest);
bool ParseDigestText(const std::string& text, DayDigest* digest);

// Every level of the band (kBandFirstKhz..kBandLastKhz) of every record: one byte a level (0..255
// as logged), record after record. A level outside 0..255 is stored clipped and listed in outside
// (its index k * kBandKhzCount + kHz - kBandFirstKhz and its value), so that the page shows the
// logged number.
//
// The bytes go in kLevelStreams streams by their context, the byte of the same kHz in the record
// before (0 in the first record) shifted right by kLevelContextShift: a level is much like the
// one a minute before, so each stream's own Huffman code is shorter than one code for all (some
// 6 % on generated days, 9 % on logged ones). Each stream is a zlib stream of Huffman codes only,
// which the browser's DecompressionStream reads; the levels are mostly noise, which repeats
// nowhere, and a search for repeats costs ten times the time for nothing.
constexpr int kLevelContextShift = 4;
constexpr int kLevelStreams = 256 >> kLevelContextShift;
struct EncodedLevels {
    std::vector<std::vector<unsigned char>> streams;  // kLevelStreams of them, by context
    std::vector<std::pair<int, int32_t>> outside;
};
Outcome EncodeLevels(RecordSpan records, EncodedLevels* encoded);
// The reverse, for checking what a page will see; false when the data does not decode.
bool DecodeLevels(const EncodedLevels& encoded, int records, std::vector<int32_t>* levels);

// Each record's "hh:mm" (its time text's characters 11..15), or the minute of its place in the
// log when the text holds none: kRecordClockWidth characters a record.
constexpr int kRecordClockWidth = 5;
std::string RecordClocks(RecordSpan records);

}  // namespace talvor
