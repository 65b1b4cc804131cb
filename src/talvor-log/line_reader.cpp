// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/line_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/process.h"

namespace talvor {

namespace {

// Read at a time; a line that does not fit makes the buffer grow, up to a line's limit.
constexpr size_t kReadChunk = 1u << 20;

// Drops the bytes before begin, so that the line in progress starts the buffer.
void Compact(LineReader* reader) {
    if (reader->begin == 0) return;
    std::memmove(reader->buffer.data(), reader->buffer.data() + reader->begin,
                 reader->end - reader->begin);
    reader->bufferOffset += int64_t(reader->begin);
    reader->end -= reader->begin;
    reader->begin = 0;
}

// Forgets what the buffer holds; the next read goes on where the last one stopped.
void Discard(LineReader* reader) {
    reader->bufferOffset += int64_t(reader->end);
    reader->begin = reader->end = 0;
}

}  // namespace

Outcome OpenLineReader(const std::string& name, LineReader* reader) {
    *reader = LineReader{};
    if (Outcome opened = OpenScanInput(name, &reader->input); !opened) return opened;
    reader->buffer.resize(kReadChunk);
    return Succeeded();
}

void CloseLineReader(LineReader* reader) {
    CloseScanInput(reader->input);
    reader->input = nullptr;
    reader->buffer = std::vector<char>();
    reader->begin = reader->end = 0;
}

LineRead NextLine(LineReader* reader) {
    for (;;) {
        char* const first = reader->buffer.data() + reader->begin;
        const size_t held = reader->end - reader->begin;
        if (const void* found = std::memchr(first, '\n', held)) {
            const size_t length = size_t(static_cast<const char*>(found) - first);
            const int64_t start = reader->bufferOffset + int64_t(reader->begin);
            reader->begin += length + 1;
            if (reader->dropping) {  // the end of a line too long to keep
                reader->dropping = false;
                continue;
            }
            if (length > kMaxLineLength) return LineRead::TooLong;
            reader->line = std::string_view(first, length);
            reader->lineStart = start;
            reader->lineEnd = start + int64_t(length) + 1;
            return LineRead::Line;
        }
        if (reader->dropping) {
            Discard(reader);
        } else if (held > kMaxLineLength) {
            Discard(reader);
            reader->dropping = true;
            return LineRead::TooLong;
        } else {
            Compact(reader);
            if (reader->end == reader->buffer.size()) {
                reader->buffer.resize(
                    std::min(reader->buffer.size() * 2, kMaxLineLength + kReadChunk));
            }
        }
        const int64_t left = reader->limit - ReadUpToOffset(*reader);
        if (left <= 0) return LineRead::End;
        size_t room = std::min(reader->buffer.size() - reader->end, size_t(left));
        long got = 0;
        Outcome read =
            ReadScanInput(reader->input, reader->buffer.data() + reader->end, room, &got);
        if (read.kind == FailureKind::Stopped) return LineRead::Stopped;
        if (!read) {
            reader->failure = read;
            return LineRead::Failed;
        }
        if (got == 0) return LineRead::End;
        reader->end += size_t(got);
        reader->bytesRead += got;
    }
}

std::string_view UnfinishedLine(const LineReader& reader) {
    if (reader.dropping) return {};
    return std::string_view(reader.buffer.data() + reader.begin, reader.end - reader.begin);
}

Outcome SeekLine(LineReader* reader, int64_t offset) {
    reader->dropping = false;
    if (offset >= reader->bufferOffset && offset <= ReadUpToOffset(*reader)) {
        reader->begin = size_t(offset - reader->bufferOffset);
        return Succeeded();
    }
    reader->begin = reader->end = 0;
    reader->bufferOffset = offset;
    return SeekScanInput(reader->input, offset);
}

}  // namespace talvor
