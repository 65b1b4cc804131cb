// SPDX-License-Identifier: GPL-3.0-or-later
#include <utility>

#include "platform/event_loop.h"

namespace talvor {

using Clock = std::chrono::steady_clock;

void ArmOneShotTimer(EventLoop* loop, int delayMs, std::function<void()> proc) {
    std::lock_guard<std::mutex> lock(loop->mutex);
    loop->timerArmed = proc != nullptr;
    loop->timerProc = std::move(proc);
    loop->timerDue = Clock::now() + std::chrono::milliseconds(delayMs < 0 ? 0 : delayMs);
    loop->wake.notify_all();
}

void KillOneShotTimer(EventLoop* loop) {
    std::lock_guard<std::mutex> lock(loop->mutex);
    loop->timerArmed = false;
    loop->timerProc = nullptr;
    loop->wake.notify_all();
}

void PostQuit(EventLoop* loop, int exitCode) {
    std::lock_guard<std::mutex> lock(loop->mutex);
    if (!loop->quitPosted) {
        loop->quitPosted = true;
        loop->quitCode = exitCode;
    }
    loop->wake.notify_all();
}

int RunEventLoop(EventLoop* loop) {
    std::unique_lock<std::mutex> lock(loop->mutex);
    for (;;) {
        if (loop->quitPosted) {
            // Ready for another loop on the same value (the tests run several).
            loop->quitPosted = false;
            return loop->quitCode;
        }
        if (loop->timerArmed && Clock::now() >= loop->timerDue) {
            // One shot: disarmed before the procedure runs, so it cannot fire a second time.
            std::function<void()> proc = std::move(loop->timerProc);
            loop->timerArmed = false;
            loop->timerProc = nullptr;
            lock.unlock();
            proc();
            lock.lock();
            continue;
        }
        if (loop->timerArmed) {
            loop->wake.wait_until(lock, loop->timerDue);
        } else {
            loop->wake.wait(lock);
        }
    }
}

}  // namespace talvor
