// SPDX-License-Identifier: GPL-3.0-or-later
// Run control: start-up, the timed capture and the end of the run.
#pragma once

#include <cstdio>

// The whole run, for the program started as firstArgument (argv[0]); returns the exit code.
int RunTalvor(const char* firstArgument);

// For a command line with arguments (argc > 1), which the daily run never gets: --help prints
// the usage and --version the version to out, anything else is reported with the usage; nothing
// is read or written otherwise. Returns the exit code: 0, or 2 for arguments not understood.
int AnswerArguments(int argc, const char* const argv[], std::FILE* out);

// Start-up steps up to the derived paths and geometry, without timer or render thread.
void StartUp(const char* firstArgument);

// The capture sequence, delivered by the one-shot timer on the main thread.
void CaptureTimerProc();

// Delays of the timeline, in milliseconds.
constexpr int kCaptureTimerMs = 2500;
constexpr int kCapturePauseMs = 2000;
constexpr int kRenderGraceMs = 10000;  // extra wait for a slow render thread after the pause
