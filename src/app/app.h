// Run control: start-up, the timed capture and the end of the run.
#pragma once

// The whole run, for the program started as firstArgument (argv[0]); returns the exit code.
int RunTalvor(const char* firstArgument);

// Start-up steps up to the derived paths and geometry, without timer or render thread.
void StartUp(const char* firstArgument);

// The capture sequence, delivered by the one-shot timer on the main thread.
void CaptureTimerProc();

// Delays of the timeline, in milliseconds.
constexpr int kCaptureTimerMs = 2500;
constexpr int kCapturePauseMs = 2000;
constexpr int kRenderGraceMs = 10000;  // extra wait for a slow render thread after the pause
