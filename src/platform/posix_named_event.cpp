#include <fcntl.h>
#include <semaphore.h>
#include <time.h>

#include <cerrno>
#include <new>

#include "platform/platform.h"

struct NamedEvent {
    sem_t* semaphore = SEM_FAILED;
};

NamedEvent* OpenNamedEvent(const char* name) {
    if (name == nullptr) return nullptr;
    sem_t* semaphore = sem_open(name, O_CREAT, 0666, 0);
    if (semaphore == SEM_FAILED) return nullptr;
    NamedEvent* event = new (std::nothrow) NamedEvent;
    if (event == nullptr) {
        sem_close(semaphore);
        return nullptr;
    }
    event->semaphore = semaphore;
    return event;
}

void SetNamedEvent(NamedEvent* event) {
    if (event == nullptr) return;
    // An auto-reset event that is already set stays set once, however often it is set again.
    int value = 0;
    if (sem_getvalue(event->semaphore, &value) == 0 && value > 0) return;
    sem_post(event->semaphore);
}

bool WaitNamedEvent(NamedEvent* event, int timeoutMs) {
    if (event == nullptr) return false;
    if (timeoutMs < 0) {
        while (sem_wait(event->semaphore) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
    }
    // Measured on the monotonic clock so that a change of the system time cannot stretch or
    // cut the wait.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += long(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (sem_clockwait(event->semaphore, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

void CloseNamedEvent(NamedEvent* event) {
    if (event == nullptr) return;
    sem_close(event->semaphore);
    delete event;
}

void RemoveNamedEvent(const char* name) {
    if (name != nullptr) sem_unlink(name);
}
