// SPDX-License-Identifier: GPL-3.0-or-later
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <tuple>

#include "config/configuration.h"
#include "config/settings.h"
#include "config/station_config.h"
#include "logger/logger.h"
#include "logger/scan_input.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/process.h"
#include "station/report.h"
#include "station/run_state.h"

#ifndef TALVOR_VERSION
#define TALVOR_VERSION "unknown"
#endif

namespace {

// No scan line is this long (a 2 MHz sweep in 1 Hz bins would be 20 MB); a longer run of bytes
// without a line end is not a scan and must not take all memory.
constexpr size_t kMaxLineLength = 32u << 20;
constexpr size_t kReadChunk = 1u << 20;

bool FiniteNumber(const std::string& text, double* value) {
    try {
        size_t used = 0;
        double d = std::stod(text, &used);
        if (used != text.size() || !std::isfinite(d)) return false;
        *value = d;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Splits what arrives into lines and hands them over; a line end is LF, with or without CR.
struct LineSplitter {
    std::string pending;
    bool dropping = false;  // inside a line too long to keep

    void Feed(Logger* logger, const char* data, size_t count) {
        const char* end = data + count;
        while (data < end) {
            const char* lf = static_cast<const char*>(std::memchr(data, '\n', size_t(end - data)));
            if (lf == nullptr) {
                if (!dropping) {
                    pending.append(data, size_t(end - data));
                    if (pending.size() > kMaxLineLength) {
                        pending.clear();
                        dropping = true;
                        SkipLongLine(logger);
                    }
                }
                return;
            }
            if (dropping) {
                dropping = false;
            } else if (pending.empty()) {
                LogLine(logger, std::string_view(data, size_t(lf - data)));
            } else {
                pending.append(data, size_t(lf - data));
                if (pending.size() > kMaxLineLength) {
                    SkipLongLine(logger);
                } else {
                    LogLine(logger, pending);
                }
                pending.clear();
            }
            data = lf + 1;
        }
    }
    // What is left has no line end: the writer was cut off in the middle of it.
    void Finish(Logger* logger) {
        if (!pending.empty() && !dropping) SkipTornLine(logger);
        pending.clear();
        dropping = false;
    }
};

// Reads one input to its end (or to a stop signal) into the logger's input in use; false when it
// could not be read (said unless quiet). A second reading stops where the first ended
// (input->bytesRead), so that a file that a receiver is still writing gives both the same lines.
bool ReadInputFile(Logger* logger, const std::string& name, std::vector<char>* buffer, bool quiet,
                   bool* stopped) {
    InputState* in = logger->input;
    const bool again = in->pass == InputPass::Collect;
    const std::string shownName = name == "-" ? std::string("standard input") : name;
    ScanInput* input = nullptr;
    if (Outcome opened = OpenScanInput(name, &input); !opened) {
        if (!quiet) Report("cannot read " + shownName + ": " + opened.reason);
        return false;
    }
    LineSplitter splitter;
    bool ok = true;
    for (;;) {
        long n = 0;
        Outcome read = ReadScanInput(input, buffer->data(), buffer->size(), &n);
        if (n == kInputStopped) {
            *stopped = true;
            break;
        }
        if (!read) {
            if (!quiet) {
                Report("cannot read " + shownName + ": " + read.reason +
                       " (the whole lines before it are used)");
            }
            ok = false;
            break;
        }
        if (n == 0) break;
        if (again) {
            n = long(std::min<int64_t>(n, in->bytesRead));
            in->bytesRead -= n;
        } else {
            in->bytesRead += n;
        }
        splitter.Feed(logger, buffer->data(), size_t(n));
        if (again && in->bytesRead == 0) break;
    }
    CloseScanInput(input);
    splitter.Finish(logger);
    return ok;
}

// Recorded files: a first reading learns their days, then each day is written from every file
// that holds it, in date order whatever the files' order. False when one could not be read.
bool LogRecordedFiles(Logger* logger, const std::vector<std::string>& recorded,
                      std::vector<char>* buffer, bool* stopped) {
    bool allRead = true;
    std::vector<InputState> inputs(recorded.size());
    for (size_t i = 0; i < recorded.size() && !*stopped; ++i) {
        inputs[i].name = recorded[i];
        inputs[i].pass = InputPass::Survey;
        BeginInput(logger, &inputs[i]);
        if (!ReadInputFile(logger, recorded[i], buffer, false, stopped)) allRead = false;
        EndInput(logger);
    }
    std::vector<size_t> order(inputs.size());
    std::set<std::chrono::sys_days> days;
    for (size_t i = 0; i < inputs.size(); ++i) {
        order[i] = i;
        days.insert(inputs[i].days.begin(), inputs[i].days.end());
    }
    // Files that share a minute add their scans in one order whatever the command line's.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::tie(inputs[a].firstUtc, inputs[a].name) <
               std::tie(inputs[b].firstUtc, inputs[b].name);
    });
    for (std::chrono::sys_days day : days) {
        if (*stopped) break;
        BeginCollectingDay(logger, day);
        for (size_t i : order) {
            if (*stopped || inputs[i].days.count(day) == 0) continue;
            InputState again;
            again.name = inputs[i].name;
            again.pass = InputPass::Collect;
            again.droppedMinuteUtc = inputs[i].droppedMinuteUtc;
            again.bytesRead = inputs[i].bytesRead;
            BeginInput(logger, &again);
            ReadInputFile(logger, again.name, buffer, true, stopped);
            EndInput(logger);
        }
        // A day cut short by a stop is left for the next run, which can still add its minutes.
        if (!*stopped) WriteCollectedDay(logger);
    }
    return allRead;
}

}  // namespace

bool ParseFrequency(const std::string& text, double* hz) {
    // The scan tools' suffixes: k, M and G.
    double scale = 1;
    std::string number = text;
    if (!number.empty()) {
        switch (number.back()) {
            case 'k':
            case 'K':
                scale = 1e3;
                break;
            case 'M':
                scale = 1e6;
                break;
            case 'G':
                scale = 1e9;
                break;
        }
        if (scale != 1) number.pop_back();
    }
    double value;
    if (!FiniteNumber(number, &value) || !std::isfinite(value * scale)) return false;
    *hz = value * scale;
    return true;
}

int ParseLogCommandLine(int argc, const char* const* argv, LogOptions* options, std::ostream& out) {
    CLI::App app{
        "Writes day logs for talvor from power scans (date, time, Hz low, Hz high, Hz step, "
        "samples, dB...), live from standard input or from recorded files.",
        "talvor-log"};
    app.footer(
        "Examples:\n"
        "  rtl_power -D -f 520k:1710k:1k -i 60 - | talvor-log\n"
        "  rtl_power -f 125.52M:126.71M:1k -i 60 - | talvor-log --offset 125M\n"
        "  talvor-log scans/*.csv scans/*.csv.gz\n"
        "Levels: the minute's median (or --floor) is 0, and --span dB above it 255.\n"
        "Exit status: 0 done, 1 a day log could not be written, an input not read or its scans "
        "all outside 520..1700 kHz, 2 a command line that cannot be used.");
    app.set_version_flag("--version", std::string("talvor-log ") + TALVOR_VERSION);

    std::string offsetText, floorText, spanText;
    app.add_option("FILE", options->inputs,
                   "Recorded scans (plain or gzip-compressed), in any order; none or - for "
                   "standard input, read live after the files");
    app.add_option("--config", options->configPath,
                   "Configuration file (default: TALVOR.INI beside the executable); its data "
                   "folder and QTH are used");
    auto* zoneOption = app.add_option("--timezone", options->timeZone,
                                      "Zone of the input's local times, AREA/CITY (default: TZ, "
                                      "else the system's)");
    auto* utcOption = app.add_flag("--utc", options->utc, "The input's times are UTC");
    zoneOption->excludes(utcOption);
    app.add_option("--offset", offsetText,
                   "Frequency to subtract from every frequency of the scans (an up-converter's "
                   "oscillator): 125M, 125000k, 1.25e8 or 125000000");
    app.add_option("--floor", floorText, "dB that maps to level 0 (default: each minute's median)");
    app.add_option("--span", spanText, "dB from the floor to level 255 (default 50)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e, out);  // --help, --version
        Report(e.what() + std::string("\nRun with --help for more information."));
        return kLogExitUsage;
    }
    if (!offsetText.empty() && !ParseFrequency(offsetText, &options->offsetHz)) {
        Report("--offset: not a frequency (125M, 125000k, 1.25e8 or 125000000): \"" + offsetText +
               "\"");
        return kLogExitUsage;
    }
    if (!floorText.empty()) {
        if (!FiniteNumber(floorText, &options->scale.floorDb)) {
            Report("--floor: not a level in dB: \"" + floorText + "\"");
            return kLogExitUsage;
        }
        options->scale.fixedFloor = true;
    }
    if (!spanText.empty() && (!FiniteNumber(spanText, &options->scale.spanDb) ||
                              options->scale.spanDb < 0.1 || options->scale.spanDb > 1000)) {
        Report("--span: not a span from 0.1 to 1000 dB: \"" + spanText + "\"");
        return kLogExitUsage;
    }
    if (!options->utc && !UseTimeZone(options->timeZone)) {
        Report("--timezone: no such zone: \"" + options->timeZone +
               "\" (expected a name such as Europe/Helsinki)");
        return kLogExitUsage;
    }
    return kLogGoOn;
}

int RunLogTool(int argc, const char* const* argv) {
    static Logger logger;  // large (a minute's sums), so not on the stack
    LogOptions options;
    SetProgramName("talvor-log");
    int code = ParseLogCommandLine(argc, argv, &options, std::cout);
    if (code != kLogGoOn) return code;

    // A full disk or quota must fail the write and be reported, not end the process.
    IgnoreWriteSignals();
    // Unattended: a configuration message goes to standard error, not to a dialog.
    StopUsingDesktopDisplay();
    runPaths = RunPaths{};
    runPaths.StartTime = GetUtcTime();
    if (Outcome found = FindStationConfiguration(GetExecutablePath(argc > 0 ? argv[0] : nullptr),
                                                 options.configPath);
        !found) {
        Report("cannot read configuration " + options.configPath + ": " + found.reason);
        return kLogExitUsage;
    }
    ReadConfiguration();
    if (!settings.coordinatesGiven) {
        Report(std::string("the QTH of ") + settings.locationName +
               " gives no latitude and longitude; the sun markers are for " +
               std::to_string(settings.latitude) + ", " + std::to_string(settings.longitude));
    }

    StartLogger(&logger, options, runPaths.DataFolder, settings.latitude, settings.longitude);
    if (options.inputs.empty()) options.inputs.push_back("-");
    std::vector<std::string> recorded;
    bool readStandardInput = false;
    for (const std::string& name : options.inputs) {
        if (name == "-") {
            readStandardInput = true;
        } else {
            recorded.push_back(name);
        }
    }
    CatchStopSignals();

    std::vector<char> buffer(kReadChunk);
    bool stopped = false;
    bool inputFailed = false;
    if (!LogRecordedFiles(&logger, recorded, &buffer, &stopped)) inputFailed = true;
    // Standard input, live: minute by minute as the lines come.
    if (readStandardInput && !stopped) {
        logger.live = true;
        InputState live;
        live.name = "standard input";
        BeginInput(&logger, &live);
        if (!ReadInputFile(&logger, "-", &buffer, false, &stopped)) inputFailed = true;
        EndInput(&logger);
    }
    FinishLogger(&logger);
    return inputFailed || logger.failed ? kLogExitFailed : kLogExitOk;
}
