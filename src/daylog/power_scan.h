// One line of a power scan as the Linux receiver tools write it:
//   date, time, Hz low, Hz high, Hz step, samples, dB, dB, ...
// Plain logic over text already in memory; the values go into a buffer the caller keeps, so a
// day of lines costs no allocation per value.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Why a line gave no scan. The order is the order of the summary's reasons.
enum class ScanLineResult {
    Scan,            // a scan: the fields are set
    BlankOrComment,  // empty, only spaces, or starting with '#'
    TooFewFields,    // fewer than the six leading fields and one value
    BadDateTime,     // not a calendar date and a time of day
    BadNumber,       // text where a number belongs
    BadRange,        // Hz high not above Hz low, or a step of 0 or below
};
constexpr int kScanLineResults = 6;
const char* ScanLineResultText(ScanLineResult result);

struct ScanLine {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0;  // any fraction of the second is dropped
    double hzLow = 0, hzHigh = 0, hzStep = 0;
    // dB per bin, value i from hzLow + i * hzStep to hzLow + (i + 1) * hzStep; NaN where the
    // tool had no measurement. Only the bins that the line's span holds are kept.
    std::vector<float> db;
};

// Reads one line (without its line end; a trailing CR is allowed). line->db keeps its capacity.
ScanLineResult ParseScanLine(std::string_view text, ScanLine* line);
