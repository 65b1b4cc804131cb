// SPDX-License-Identifier: GPL-3.0-or-later
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/process.h"

namespace talvor {

namespace {

// The flag the handler sets, and the process's signal state that the reads wait with: a signal's
// disposition and mask belong to the process, so these are one for it too.
volatile sig_atomic_t stopSignalled = 0;
bool catching = false;
sigset_t unblockedMask;  // the mask to wait with: the stop signals let through

}  // namespace
}  // namespace talvor

// A signal handler has C linkage, so it stands outside the namespace.
extern "C" {
static void OnStopSignal(int) {
    talvor::stopSignalled = 1;
}
}

namespace talvor {

void CatchStopSignals() {
    if (catching) return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait must end
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A terminal that closes under a logger started from it: the minute in hand is written.
    sigaction(SIGHUP, &action, nullptr);
    // The signals stay blocked except while ppoll waits, so one that comes between the check
    // and the wait still ends the wait instead of being missed until the next line.
    sigset_t stops, previous;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_BLOCK, &stops, &previous);
    unblockedMask = previous;
    sigdelset(&unblockedMask, SIGTERM);
    sigdelset(&unblockedMask, SIGINT);
    sigdelset(&unblockedMask, SIGHUP);
    catching = true;
}

bool StopSignalled() {
    if (catching) {
        // A signal that came while blocked outside a wait is delivered here.
        sigset_t pending;
        if (sigpending(&pending) == 0 &&
            (sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1 ||
             sigismember(&pending, SIGHUP) == 1)) {
            stopSignalled = 1;
        }
    }
    return stopSignalled != 0;
}

Outcome ReadInput(int fd, void* buffer, size_t count, long* got) {
    *got = -1;
    for (;;) {
        if (StopSignalled()) {
            *got = 0;
            return Failed(FailureKind::Stopped);
        }
        if (catching) {
            struct pollfd p {};
            p.fd = fd;
            p.events = POLLIN;
            int ready = ppoll(&p, 1, nullptr, &unblockedMask);
            if (ready < 0) {
                if (errno == EINTR) continue;
                return FailedWithErrno(errno);
            }
        }
        ssize_t n = read(fd, buffer, count);
        if (n >= 0) {
            *got = long(n);
            return Succeeded();
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) continue;  // woken for nothing
        return FailedWithErrno(errno);
    }
}

}  // namespace talvor
