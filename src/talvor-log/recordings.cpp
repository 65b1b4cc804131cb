// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/recordings.h"

#include <algorithm>
#include <chrono>
#include <set>
#include <tuple>

#include "report/report.h"
#include "talvor-log/line_reader.h"

namespace talvor {

namespace {

// Readers of recorded files kept open from one day to the next; more are reopened as needed.
constexpr size_t kMostOpenReaders = 32;

std::string ShownName(const std::string& name) {
    return name == "-" ? std::string("standard input") : name;
}

// Hands the reader's lines to the input in use until the lines end or, with until given, the
// line that ends there has been handed over; what ended them.
LineRead FeedLines(Logger* logger, LineReader* reader, int64_t until) {
    InputState* in = logger->input;
    for (;;) {
        LineRead got = NextLine(reader);
        if (got == LineRead::Line) {
            in->lineStart = reader->lineStart;
            in->lineEnd = reader->lineEnd;
            LogLine(logger, reader->line);
            if (reader->lineEnd >= until) return got;
        } else if (got == LineRead::TooLong) {
            SkipLongLine(logger);
        } else {
            // What is left has no line end: the writer was cut off in the middle of it.
            std::string_view rest = UnfinishedLine(*reader);
            if (!rest.empty()) SkipTornLine(logger, rest);
            return got;
        }
    }
}

// Reads one input to its end (or to a stop signal) into the input in use; false when it could
// not be read, which is said.
bool ReadWholeInput(Logger* logger, const std::string& name, bool* stopped) {
    LineReader reader;
    if (Outcome opened = OpenLineReader(name, &reader); !opened) {
        Report("cannot read " + ShownName(name) + ": " + opened.reason);
        return false;
    }
    LineRead end = FeedLines(logger, &reader, INT64_MAX);
    logger->input->bytesRead = ReadUpToOffset(reader);
    logger->bytesRead += reader.bytesRead;
    CloseLineReader(&reader);
    if (end == LineRead::Stopped) *stopped = true;
    if (end == LineRead::Failed) {
        Report("cannot read " + ShownName(name) + ": " + reader.failure.reason +
               " (the whole lines before it are used)");
        return false;
    }
    return true;
}

// The open readers of the second reading, one slot per file.
struct Rereaders {
    std::vector<LineReader> readers;
    size_t open = 0;

    void Close(Logger* logger, size_t i) {
        if (readers[i].input == nullptr) return;
        logger->bytesRead += readers[i].bytesRead;
        CloseLineReader(&readers[i]);
        --open;
    }
    // The reader of file i, open and reading no further than the first reading did.
    LineReader* Open(Logger* logger, size_t i, const InputState& surveyed) {
        if (readers[i].input != nullptr) return &readers[i];
        for (size_t k = 0; open >= kMostOpenReaders && k < readers.size(); ++k) Close(logger, k);
        if (!OpenLineReader(surveyed.name, &readers[i])) return nullptr;
        readers[i].limit = surveyed.bytesRead;
        ++open;
        return &readers[i];
    }
};

// Reads the part of file i that holds the day into the day being collected.
void CollectSpan(Logger* logger, Rereaders* rereaders, size_t i, const InputState& surveyed,
                 const DaySpan& span, bool* stopped) {
    LineReader* reader = rereaders->Open(logger, i, surveyed);
    if (reader == nullptr || !SeekLine(reader, span.from)) return;
    InputState again;
    again.name = surveyed.name;
    again.pass = InputPass::Collect;
    again.clock = span.clock;
    again.precedingUtc = surveyed.precedingUtc;
    again.droppedMinuteUtc = surveyed.droppedMinuteUtc;
    BeginInput(logger, &again);
    LineRead end = FeedLines(logger, reader, span.toEnd ? INT64_MAX : span.to);
    if (end == LineRead::Stopped) *stopped = true;
    // Lines held at the input's end were settled there; anywhere else they belong to a later day.
    if (span.toEnd && !*stopped) {
        EndInput(logger);
    } else {
        LeaveInput(logger);
    }
}

}  // namespace

bool LogRecordedFiles(Logger* logger, const std::vector<std::string>& names, bool* stopped) {
    bool allRead = true;
    std::vector<InputState> inputs(names.size());
    for (size_t i = 0; i < names.size() && !*stopped; ++i) {
        inputs[i].name = names[i];
        inputs[i].pass = InputPass::Survey;
        if (i > 0) {
            const InputState& before = inputs[i - 1];
            inputs[i].precedingUtc =
                before.clock.lastUtc != INT64_MIN ? before.clock.lastUtc : before.precedingUtc;
        }
        BeginInput(logger, &inputs[i]);
        if (!ReadWholeInput(logger, names[i], stopped)) allRead = false;
        EndInput(logger);
    }
    std::vector<size_t> order(inputs.size());
    std::set<std::chrono::sys_days> days;
    for (size_t i = 0; i < inputs.size(); ++i) {
        order[i] = i;
        for (const auto& [day, span] : inputs[i].spans) days.insert(day);
    }
    // Files that share a minute add their scans in one order whatever the command line's.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::tie(inputs[a].firstUtc, inputs[a].name) <
               std::tie(inputs[b].firstUtc, inputs[b].name);
    });
    Rereaders rereaders;
    rereaders.readers.resize(inputs.size());
    for (std::chrono::sys_days day : days) {
        if (*stopped) break;
        BeginCollectingDay(logger, day);
        for (size_t i : order) {
            auto span = inputs[i].spans.find(day);
            if (*stopped || span == inputs[i].spans.end()) continue;
            CollectSpan(logger, &rereaders, i, inputs[i], span->second, stopped);
            if (day == inputs[i].spans.rbegin()->first) rereaders.Close(logger, i);
        }
        // A day cut short by a stop is left for the next run, which can still add its minutes.
        if (!*stopped) WriteCollectedDay(logger);
    }
    for (size_t i = 0; i < inputs.size(); ++i) rereaders.Close(logger, i);
    return allRead;
}

bool LogLiveInput(Logger* logger, bool* stopped) {
    logger->live = true;
    InputState live;
    live.name = "standard input";
    BeginInput(logger, &live);
    bool read = ReadWholeInput(logger, "-", stopped);
    EndInput(logger);
    return read;
}

}  // namespace talvor
