// SPDX-License-Identifier: GPL-3.0-or-later
#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <memory>
#include <string>

#include "config/configuration.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "config/station_config.h"
#include "platform/clock.h"
#include "platform/display.h"
#include "platform/process.h"
#include "report/report.h"
#include "talvor-log/logger.h"
#include "talvor-log/recordings.h"

#ifndef TALVOR_VERSION
#define TALVOR_VERSION "unknown"
#endif

namespace talvor {

namespace {

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
        return kExitUsage;
    }
    if (!offsetText.empty() && !ParseFrequency(offsetText, &options->offsetHz)) {
        Report("--offset: not a frequency (125M, 125000k, 1.25e8 or 125000000): \"" + offsetText +
               "\"");
        return kExitUsage;
    }
    if (!floorText.empty()) {
        if (!FiniteNumber(floorText, &options->scale.floorDb)) {
            Report("--floor: not a level in dB: \"" + floorText + "\"");
            return kExitUsage;
        }
        options->scale.fixedFloor = true;
    }
    if (!spanText.empty() && (!FiniteNumber(spanText, &options->scale.spanDb) ||
                              options->scale.spanDb < 0.1 || options->scale.spanDb > 1000)) {
        Report("--span: not a span from 0.1 to 1000 dB: \"" + spanText + "\"");
        return kExitUsage;
    }
    if (!options->utc && !UseTimeZone(options->timeZone)) {
        Report("--timezone: no such zone: \"" + options->timeZone +
               "\" (expected a name such as Europe/Helsinki)");
        return kExitUsage;
    }
    return kGoOn;
}

int RunLogTool(int argc, const char* const* argv) {
    // Large (a minute's sums), so not on the stack.
    auto held = std::make_unique<Logger>();
    Logger& logger = *held;
    LogOptions options;
    SetProgramName("talvor-log");
    int code = ParseLogCommandLine(argc, argv, &options, std::cout);
    if (code != kGoOn) return code;

    // A full disk or quota must fail the write and be reported, not end the process.
    IgnoreWriteSignals();
    // Unattended: a configuration message goes to standard error, not to a dialog.
    StopUsingDesktopDisplay();
    RunPaths paths;
    paths.StartTime = GetUtcTime();
    if (Outcome found = FindStationConfiguration(GetExecutablePath(argc > 0 ? argv[0] : nullptr),
                                                 options.configPath, &paths);
        !found) {
        Report("cannot read configuration " + options.configPath + ": " + found.reason);
        return kExitUsage;
    }
    Settings settings;
    ReadConfigurationFile(paths.ConfigFilePath, &settings, &paths.DataFolder);
    if (!settings.coordinatesGiven) {
        Report(std::string("the QTH of ") + settings.locationName +
               " gives no latitude and longitude; the sun markers are for " +
               std::to_string(settings.latitude) + ", " + std::to_string(settings.longitude));
    }

    StartLogger(&logger, options, paths.DataFolder, settings.latitude, settings.longitude);
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

    bool stopped = false;
    bool inputFailed = !LogRecordedFiles(&logger, recorded, &stopped);
    // Standard input, live: minute by minute as the lines come.
    if (readStandardInput && !stopped && !LogLiveInput(&logger, &stopped)) inputFailed = true;
    FinishLogger(&logger);
    return inputFailed || logger.failed ? kExitFailed : kExitOk;
}

}  // namespace talvor
