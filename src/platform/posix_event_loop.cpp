// SPDX-License-Identifier: GPL-3.0-or-later
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/event_loop.h"

namespace {

using Clock = std::chrono::steady_clock;

std::mutex loopMutex;
std::condition_variable loopWake;
bool timerArmed = false;
Clock::time_point timerDue;
TimerProc timerProc = nullptr;
bool quitPosted = false;
int quitCode = 0;

}  // namespace

void ArmOneShotTimer(int delayMs, TimerProc proc) {
    std::lock_guard<std::mutex> lock(loopMutex);
    timerArmed = proc != nullptr;
    timerProc = proc;
    timerDue = Clock::now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs);
    loopWake.notify_all();
}

void KillOneShotTimer() {
    std::lock_guard<std::mutex> lock(loopMutex);
    timerArmed = false;
    timerProc = nullptr;
    loopWake.notify_all();
}

void PostQuit(int exitCode) {
    std::lock_guard<std::mutex> lock(loopMutex);
    if (!quitPosted) {
        quitPosted = true;
        quitCode = exitCode;
    }
    loopWake.notify_all();
}

void ResetEventLoop() {
    std::lock_guard<std::mutex> lock(loopMutex);
    timerArmed = false;
    timerProc = nullptr;
    quitPosted = false;
    quitCode = 0;
}

int RunEventLoop() {
    std::unique_lock<std::mutex> lock(loopMutex);
    for (;;) {
        if (quitPosted) {
            // Ready for another loop in the same process (the tests run several).
            quitPosted = false;
            return quitCode;
        }
        if (timerArmed && Clock::now() >= timerDue) {
            // One shot: disarmed before the procedure runs, so it cannot fire a second time.
            TimerProc proc = timerProc;
            timerArmed = false;
            timerProc = nullptr;
            lock.unlock();
            proc();
            lock.lock();
            continue;
        }
        if (timerArmed) {
            loopWake.wait_until(lock, timerDue);
        } else {
            loopWake.wait(lock);
        }
    }
}
