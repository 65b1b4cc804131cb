// SPDX-License-Identifier: GPL-3.0-or-later
// The main thread's event loop, with one one-shot timer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace talvor {

// One loop's timer and quit: made by the program that runs the loop, shared with the threads
// that post to it.
struct EventLoop {
    std::mutex mutex;
    std::condition_variable wake;
    bool timerArmed = false;
    std::chrono::steady_clock::time_point timerDue;
    std::function<void()> timerProc;
    bool quitPosted = false;
    int quitCode = 0;
};

// Arms a one-shot timer, delivered on the thread that runs the event loop.
void ArmOneShotTimer(EventLoop* loop, int delayMs, std::function<void()> proc);
void KillOneShotTimer(EventLoop* loop);
// Runs until PostQuit is called; returns the code given to it.
int RunEventLoop(EventLoop* loop);
void PostQuit(EventLoop* loop, int exitCode);

}  // namespace talvor
