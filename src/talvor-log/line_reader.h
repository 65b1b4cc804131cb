// SPDX-License-Identifier: GPL-3.0-or-later
// The lines of one input as they arrive, each with the place of its bytes in the input, so that a
// recorded file can be read again from where a day's lines begin. A line end is LF, with or
// without CR; the line handed over is a view into the reader's buffer, valid until the next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"
#include "talvor-log/scan_input.h"

namespace talvor {

// No scan line is this long (a 2 MHz sweep in 1 Hz bins would be 20 MB); a longer run of bytes
// without a line end is not a scan and must not take all memory.
constexpr size_t kMaxLineLength = 32u << 20;

enum class LineRead {
    Line,     // a line in reader.line
    TooLong,  // a line longer than kMaxLineLength, left out
    End,      // the end of the input (or of its bytes to read)
    Stopped,  // a stop signal came
    Failed,   // the input cannot be read on: reader.failure says why
};

struct LineReader {
    ScanInput* input = nullptr;
    std::vector<char> buffer;
    size_t begin = 0, end = 0;  // the bytes read and not yet handed over: buffer[begin, end)
    int64_t bufferOffset = 0;   // where buffer[0] lies in the input
    int64_t limit = INT64_MAX;  // nothing from here on is read
    int64_t bytesRead = 0;      // read from the input in all, seeks and second readings included
    bool dropping = false;      // inside a line too long to keep
    // The last line handed over and where its bytes lie, its line end included.
    std::string_view line;
    int64_t lineStart = 0, lineEnd = 0;
    Outcome failure;
};

// Opens the input of that name ("-": standard input).
Outcome OpenLineReader(const std::string& name, LineReader* reader);
void CloseLineReader(LineReader* reader);
// Reads on to the next line, or to what ends the lines.
LineRead NextLine(LineReader* reader);
// The bytes after the last line end, once the lines have ended: a line that was cut off.
std::string_view UnfinishedLine(const LineReader& reader);
// How far the input has been read: the offset just after the last byte read.
inline int64_t ReadUpToOffset(const LineReader& reader) {
    return reader.bufferOffset + int64_t(reader.end);
}
// Reads on from offset, which must be a line's start, of a recorded file.
Outcome SeekLine(LineReader* reader, int64_t offset);

}  // namespace talvor
