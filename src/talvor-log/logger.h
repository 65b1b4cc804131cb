// SPDX-License-Identifier: GPL-3.0-or-later
// talvor-log: power scans in, day logs out. The run is plain logic over lines of text, so that
// the tests feed it lines directly; log_tool.cpp and the input reader do the I/O around it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/exit_codes.h"
#include "talvor-log/day_log_writer.h"
#include "talvor-log/day_tally.h"
#include "talvor-log/minute_levels.h"
#include "talvor-log/power_scan.h"
#include "talvor-log/skip_reasons.h"

namespace talvor {

struct LogOptions {
    std::vector<std::string> inputs;  // empty: standard input
    std::string configPath;           // empty: TALVOR.INI beside the executable
    std::string timeZone;             // empty: TZ, else the system's zone
    bool utc = false;                 // the input's times are UTC already
    double offsetHz = 0;              // subtracted from every frequency of the input
    LevelScale scale;
};

// Parses the arguments. Returns kGoOn to run, else the exit code (after --help or --version
// on out, or a reported message).
int ParseLogCommandLine(int argc, const char* const* argv, LogOptions* options, std::ostream& out);
// A frequency as the scan tools take it: 125M, 125000k, 1.25e8 or 125000000 (Hz); false when
// the text is none.
bool ParseFrequency(const std::string& text, double* hz);

// A line further than this from the input's recent lines is a jump of its clock (or a damaged
// date), and live, a line this far ahead of the system clock cannot be a measurement.
constexpr int64_t kJumpSeconds = 2 * 3600;
// Live, a line further ahead than this of the input's latest line is held the same way: taken at
// once, it would move the minute in hand past the real lines still to come, which would then be
// out of order.
constexpr int64_t kLiveLeapSeconds = 5 * 60;
// A jump is followed once this many lines, spread over at least a minute, agree with each other:
// a receiver switched off for days comes back, a single bad line does not.
constexpr int kAgreeingLines = 3;
constexpr int64_t kAgreeingSeconds = 60;
// So many bytes of lines agreeing with each other are followed even within a second (a sweep of
// many hops): what is held must stay bounded.
constexpr size_t kMostHeldBytes = 16u << 20;
// Live, a record a minute: the day log is flushed to the disk every few of them.
constexpr int kSyncEveryRecords = 3;
// Bins wider than this cannot tell neighbouring channels (10 kHz apart) from each other.
constexpr double kWidestUsefulBinHz = 10000;

// How a line is used: live, written minute by minute as it comes; a recorded file is read
// twice, first to learn which days it holds and where their lines lie (every skip counted and
// said then), then day by day, each day's part of every file that holds it, so that the days are
// written in date order whatever the files' order.
enum class InputPass { Live, Survey, Collect };

// Where an input's time stands, which decides how its next line is taken.
struct InputClock {
    int64_t lastUtc = INT64_MIN;  // the latest line taken, for the hour that repeats in autumn
    bool anchored = false;        // a line was taken: later lines are measured against it
    int64_t anchorUtc = 0;
};

// Where a day's lines lie in a recorded input, as the survey found them: read from `from` with the
// input's clock as it stood there, up to the line that ends at `to` (or to the input's end), the
// day gets the same lines as from a reading of the whole input.
struct DaySpan {
    int64_t from = 0;  // a line's start at which no line was held
    InputClock clock;
    int64_t to = 0;
    bool toEnd = false;
};

// A line whose time jumped, kept until the lines after it show whether the input follows.
struct HeldLine {
    std::string text;
    int64_t utc;
};

// What the logger knows of one input.
struct InputState {
    std::string name;  // as messages name it
    InputPass pass = InputPass::Live;
    InputClock clock;
    // The latest line of the file given before this one: files that split the hour that repeats
    // in autumn, given in time order, read as one stream.
    int64_t precedingUtc = INT64_MIN;
    std::vector<HeldLine> held;  // lines far from the anchor that may become the new one
    size_t heldBytes = 0;
    bool aheadOfClockSaid = false;
    bool haveDay = false;  // the day of the latest line taken: lines that are not scans count there
    std::chrono::sys_days day{};
    DayTally beforeFirstScan;            // lines skipped before any was taken
    int scans = 0;                       // scan lines read
    int inBand = 0;                      // of them, those that reached 520..1700 kHz
    double lowestHz = 0, highestHz = 0;  // what the scans covered, after the offset
    bool wideBinsSaid = false;
    // The minute of the last line taken and how many lines it has: an input that ends in a
    // torn line may have lost the rest of that minute, which is then not written (the whole
    // recording, read later, still can).
    int64_t lastMinuteUtc = INT64_MIN;
    int linesInLastMinute = 0;
    bool tornEnd = false;
    int64_t tornMinuteUtc = INT64_MIN;     // the minute of the torn line, when its time is whole
    int64_t droppedMinuteUtc = INT64_MIN;  // from the survey: the minute that a torn end cut
    int64_t bytesRead = 0;                 // the survey's count; a second reading takes no more
    // The line being read: where its bytes lie, and whether the input has ended instead.
    int64_t lineStart = 0, lineEnd = 0;
    bool ending = false;
    // The survey: the last line start at which no line was held, with the clock there; the days
    // the input holds with where their lines lie; its first time, which orders the inputs.
    int64_t cleanFrom = 0;
    InputClock cleanClock;
    std::map<std::chrono::sys_days, DaySpan> spans;
    int64_t firstUtc = INT64_MAX;
};

struct Logger {
    LogOptions options;
    std::string dataFolder;
    double latitude = 51.5;
    double longitude = 0.1;
    bool live = false;  // a summary line every hour of the clock, lines checked against it
    int64_t reportEveryMs = 3600 * 1000;
    int64_t lastReportMs = 0;
    int recordsSinceSync = 0;            // live, the log goes to the disk every kSyncEveryRecords
    int64_t (*systemClock)() = nullptr;  // UTC seconds; nullptr: the system's clock
    InputState* input = nullptr;         // the input being read

    bool haveMinute = false;  // live: a minute in hand, not yet written
    std::chrono::sys_days day{};
    int minute = 0;
    MinuteLevels levels;
    // Collecting a recorded day: its minutes, in the inputs' order and each input's line order.
    std::chrono::sys_days collectDay{};
    std::vector<std::unique_ptr<MinuteLevels>> collected;

    DayLogAppender log;
    bool logRefused = false;  // the last open failed (said once): the next success is said too

    std::map<std::chrono::sys_days, DayTally> tallies;
    DayTally withoutScans;  // lines of inputs that gave no scan
    bool failed = false;    // a day log not written or an input out of band: exit status 1
    ScanLine line;
    int64_t bytesRead = 0;  // from the inputs in all, every reading: it grows with the input alone
};

// Sets up a run over the data folder (the logger's minute state cleared).
void StartLogger(Logger* logger, const LogOptions& options, const std::string& dataFolder,
                 double latitude, double longitude);
// Starts reading an input; it stays in use until EndInput.
void BeginInput(Logger* logger, InputState* input);
// One line of input, without its line end.
void LogLine(Logger* logger, std::string_view text);
// A line too long to be a scan, dropped by the reader.
void SkipLongLine(Logger* logger);
// The last line of an input without its line end: cut off, never used. Its time, when that is
// whole, tells whether the minute before it was whole.
void SkipTornLine(Logger* logger, std::string_view text);
// The input's end: the lines held at a jump settled, and what it covered said.
void EndInput(Logger* logger);
// Stops reading an input part-way (a day's part of a recorded file): lines still held belong to
// a later part.
void LeaveInput(Logger* logger);
// Starts collecting a recorded day (the inputs then read again with InputPass::Collect).
void BeginCollectingDay(Logger* logger, std::chrono::sys_days day);
// Writes the collected minutes of the day in time order.
void WriteCollectedDay(Logger* logger);
// Writes the minute in hand, closes the log and prints the per-day summary lines.
void FinishLogger(Logger* logger);

// The whole program; returns the exit code.
int RunLogTool(int argc, const char* const* argv);

}  // namespace talvor
