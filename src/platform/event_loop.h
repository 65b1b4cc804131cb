// SPDX-License-Identifier: GPL-3.0-or-later
// The main thread's event loop, with one one-shot timer.
#pragma once

using TimerProc = void (*)();
// Arms a one-shot timer, delivered on the thread that runs the event loop.
void ArmOneShotTimer(int delayMs, TimerProc proc);
void KillOneShotTimer();
// Runs until PostQuit is called; returns the code given to it.
int RunEventLoop();
void PostQuit(int exitCode);
// No timer armed and no quit posted, as before the first loop.
void ResetEventLoop();
