// SPDX-License-Identifier: GPL-3.0-or-later
// Run control: start-up, the timed capture and the end of the run.
#pragma once

#include <cstdio>

#include "talvor/daily_run.h"

namespace talvor {

// The whole run, for the program started as firstArgument (argv[0]), in run (which must last
// until the process ends: the render thread parks with it); returns the exit code.
int RunTalvor(const char* firstArgument, DailyRun* run);

// For a command line with arguments (argc > 1), which the daily run never gets: --help prints
// the usage and --version the version to out, anything else is reported with the usage; nothing
// is read or written otherwise. Returns the exit code: 0, or 2 for arguments not understood.
int AnswerArguments(int argc, const char* const argv[], std::FILE* out);

// Start-up steps up to the derived paths and geometry, without timer or render thread.
void StartUp(DailyRun* run, const char* firstArgument);

// The run's timeline, in milliseconds: the capture comes captureTimerMs after start-up,
// releases the render thread and pauses for capturePauseMs; a render thread that is not done by
// then gets renderGraceMs more, with the release signalled again every resignalMs.
struct CaptureTimeline {
    int captureTimerMs;
    int capturePauseMs;
    int renderGraceMs;
    int resignalMs;
};
constexpr CaptureTimeline kDailyTimeline = {2500, 2000, 10000, 250};

// The capture sequence on the main thread, by the given timeline; it ends the run's event loop.
void RunCapture(DailyRun* run, const CaptureTimeline& timeline);

// The render thread's work for the run: the day log loaded, the chart drawn and read back into
// frameBitmap (without a surface, the day log alone).
RenderThreadWork DailyRenderWork(DailyRun* run);

}  // namespace talvor
