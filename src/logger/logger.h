// talvor-log: power scans in, day logs out. The run is plain logic over lines of text, so that
// the tests feed it lines directly; main.cpp and the input readers do the I/O around it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "logger/day_log_writer.h"
#include "logger/minute_levels.h"
#include "logger/power_scan.h"
#include "logger/skip_reasons.h"

struct LogOptions {
    std::vector<std::string> inputs;  // empty: standard input
    std::string configPath;           // empty: TALVOR.INI beside the executable
    std::string timeZone;             // empty: TZ, else the system's zone
    bool utc = false;                 // the input's times are UTC already
    double offsetHz = 0;              // subtracted from every frequency of the input
    LevelScale scale;
};

// The exit codes of talvor-log.
constexpr int kLogExitOk = 0;
constexpr int kLogExitFailed = 1;  // a day log could not be written or an input not read
constexpr int kLogExitUsage = 2;
constexpr int kLogGoOn = -1;

// Parses the arguments. Returns kLogGoOn to run, else the exit code (after --help or --version
// on out, or a message on err).
int ParseLogCommandLine(int argc, const char* const* argv, LogOptions* options, std::ostream& out,
                        std::ostream& err);

struct DayTally {
    int written = 0;  // records written this run, the empty ones included
    int empty = 0;    // records of minutes without a scan
    int skipped[kSkipReasons] = {};
};

struct Logger {
    LogOptions options;
    std::string dataFolder;
    double latitude = 51.5;
    double longitude = 0.1;
    bool live = false;  // a summary line every hour of the clock
    int64_t reportEveryMs = 3600 * 1000;
    int64_t lastReportMs = 0;
    std::FILE* messages = stderr;

    bool haveMinute = false;  // a minute in hand, not yet written
    std::chrono::sys_days day{};
    int minute = 0;
    MinuteLevels levels;
    int64_t lastUtc = INT64_MIN;

    DayLogAppender log;
    bool failedDayKnown = false;  // the day whose log could not be opened, not tried again
    std::chrono::sys_days failedDay{};

    std::map<std::chrono::sys_days, DayTally> tallies;
    DayTally beforeFirstScan;  // lines skipped before any scan gave a day
    bool failed = false;
    ScanLine line;
};

// Sets up a run over the data folder (the logger's minute state cleared).
void StartLogger(Logger* logger, const LogOptions& options, const std::string& dataFolder,
                 double latitude, double longitude);
// One line of input, without its line end.
void LogLine(Logger* logger, std::string_view text);
// A line too long to be a scan, dropped by the reader.
void SkipLongLine(Logger* logger);
// Writes the minute in hand, closes the log and prints the per-day summary lines.
void FinishLogger(Logger* logger);
// "yyyy-mm-dd: N minutes written (E empty), S lines skipped (...)".
std::string DaySummary(std::chrono::sys_days day, const DayTally& tally);

// The whole program; returns the exit code.
int RunLogTool(int argc, const char* const* argv);
