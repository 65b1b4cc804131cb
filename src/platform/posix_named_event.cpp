// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/named_event.h"

namespace talvor {

// The event is the semaphore that sem_open would make under the name (a file of one sem_t in
// /dev/shm, so that the user's other processes, sem_open ones included, share it), opened and
// checked here instead: sem_open maps whatever file is under the name, and a short file planted
// by anyone kills the process with SIGBUS at the first wait.
//
// A mapped object can still be cut short later by whoever holds it open for writing (someone who
// opened it while its mode let others in, before it was made ours only). Then its page is
// replaced by one of this process's own at the first touch, instead of SIGBUS ending the run;
// the event goes on within the process, which is all a run needs of it.

struct SharedMapping;

struct NamedEvent {
    sem_t* semaphore = nullptr;
    SharedMapping* mapping = nullptr;     // a shared object, let go on close
    const char* privateReason = nullptr;  // set for an event of this process only
};

// What a mapping's address holds: the object's page until the object is cut short, then, after
// the SIGBUS handler has replaced it, a page of this process's own.
enum PageState : int { kObjectPage, kBeingReplaced, kOwnPage };

// A shared object mapped by this process: one mapping for each object however often it is
// opened, so that a page put in its place is again the same for every handle.
struct SharedMapping {
    std::atomic<char*> page{nullptr};
    std::atomic<PageState> state{kObjectPage};
    dev_t device = 0;
    ino_t inode = 0;
    int users = 0;
};

namespace {

// Read by the SIGBUS handler, where only a lock-free atomic may be touched.
static_assert(std::atomic<PageState>::is_always_lock_free);

constexpr const char* kSemaphoreFolder = "/dev/shm/";

// Events of this process that stand in for a name whose object cannot be used. They live as long
// as the process: a thread may still wait on one while it ends. The list is the process's own
// table of those names, which every open of a name in the process shares as the system's table
// of named events is shared: it belongs to the process, not to a run.
struct PrivateEvent {
    std::string name;
    std::string reason;
    sem_t semaphore;
};
std::mutex privateEventsMutex;
std::vector<PrivateEvent*> privateEvents;

// What the SIGBUS handler must reach, so a global: the shared objects mapped, the handler it
// took over from and whether it is in place. Guarded by privateEventsMutex, except that the
// handler reads page and state.
SharedMapping sharedMappings[8];
struct sigaction earlierBusAction;
bool busHandlerInstalled = false;
long pageSize = 4096;  // the system's, read before the handler is installed

// Only async-signal-safe calls: mmap and write are plain system calls.
void OnBusError(int signal, siginfo_t* info, void* context) {
    char* address = static_cast<char*>(info->si_addr);
    for (SharedMapping& mapping : sharedMappings) {
        char* page = mapping.page.load();
        if (page == nullptr || address < page || address >= page + pageSize) continue;
        PageState expected = kObjectPage;
        if (mapping.state.compare_exchange_strong(expected, kBeingReplaced)) {
            void* own = mmap(page, size_t(pageSize), PROT_READ | PROT_WRITE,
                             MAP_SHARED | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            if (own == MAP_FAILED) break;
            // A fresh page reads as a semaphore of value 0 with no waiters.
            mapping.state.store(kOwnPage);
        } else {
            while (mapping.state.load() != kOwnPage) sched_yield();
        }
        return;  // the access is made again, on the new page
    }
    // Not ours: as if this handler had never been there.
    if ((earlierBusAction.sa_flags & SA_SIGINFO) != 0 && earlierBusAction.sa_sigaction != nullptr) {
        earlierBusAction.sa_sigaction(signal, info, context);
    } else if (earlierBusAction.sa_handler != SIG_DFL && earlierBusAction.sa_handler != SIG_IGN) {
        earlierBusAction.sa_handler(signal);
    } else {
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        sigaction(SIGBUS, &standard, nullptr);  // the access faults again and ends the process
    }
}

// The folder holds names of many users; "/THEMEXXX" is "sem.THEMEXXX" in it.
bool ObjectPath(const char* name, std::string* path) {
    if (name == nullptr || name[0] != '/' || name[1] == '\0') return false;
    if (std::strchr(name + 1, '/') != nullptr || std::strlen(name) > 250) return false;
    *path = std::string(kSemaphoreFolder) + "sem." + (name + 1);
    return true;
}

NamedEvent* NewHandle(sem_t* semaphore, SharedMapping* mapping, const char* privateReason) {
    NamedEvent* event = new (std::nothrow) NamedEvent;
    if (event == nullptr) return nullptr;
    event->semaphore = semaphore;
    event->mapping = mapping;
    event->privateReason = privateReason;
    return event;
}

void ReleaseMapping(SharedMapping* mapping) {
    if (--mapping->users > 0) return;
    char* page = mapping->page.exchange(nullptr);
    munmap(page, size_t(pageSize));
    mapping->state.store(kObjectPage);
}

// The process's own event for the name, made on first use; the caller holds the mutex.
PrivateEvent* PrivateEventFor(const std::string& name, const std::string& reason) {
    auto* made = new (std::nothrow) PrivateEvent;
    if (made == nullptr) return nullptr;
    try {
        made->name = name;
        made->reason = reason;
        privateEvents.push_back(made);
    } catch (const std::bad_alloc&) {
        delete made;
        return nullptr;
    }
    sem_init(&made->semaphore, 0, 0);
    return made;
}

// The object's mapping, shared with earlier opens of it; nullptr with errno set when it cannot be
// had. The caller holds the mutex.
SharedMapping* MapObject(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return nullptr;
    SharedMapping* free = nullptr;
    for (SharedMapping& mapping : sharedMappings) {
        if (mapping.page.load() == nullptr) {
            if (free == nullptr) free = &mapping;
        } else if (mapping.device == st.st_dev && mapping.inode == st.st_ino) {
            ++mapping.users;
            return &mapping;
        }
    }
    if (free == nullptr) {
        errno = EMFILE;
        return nullptr;
    }
    if (!busHandlerInstalled) {
        pageSize = sysconf(_SC_PAGESIZE);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        if (sigaction(SIGBUS, &action, &earlierBusAction) != 0) return nullptr;
        busHandlerInstalled = true;
    }
    void* at = mmap(nullptr, size_t(pageSize), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (at == MAP_FAILED) return nullptr;
    free->device = st.st_dev;
    free->inode = st.st_ino;
    free->users = 1;
    free->state.store(kObjectPage);
    free->page.store(static_cast<char*>(at));
    return free;
}

// Makes a whole, unsignalled semaphore under the name, never a half-made one: it is written under
// a random name first and then linked into place. EEXIST when someone else was faster.
Outcome CreateObject(const std::string& path, SharedMapping** mapping) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
            return FailedWithErrno(EIO);
        }
        temporary = std::string(kSemaphoreFolder) + "sem.";
        for (unsigned char r : random) temporary += kLetters[r % (sizeof kLetters - 1)];
        fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return FailedWithErrno(errno);
    }
    if (fd < 0) return FailedWithErrno(EEXIST);
    sem_t initial;
    std::memset(&initial, 0, sizeof initial);
    sem_init(&initial, 1, 0);
    int error = 0;
    if (fchmod(fd, 0600) != 0) {
        error = errno;
    } else if (Outcome written = WriteAll(fd, &initial, sizeof initial); !written) {
        error = written.error != 0 ? written.error : EIO;
    }
    if (error == 0 && link(temporary.c_str(), path.c_str()) != 0) error = errno;
    unlink(temporary.c_str());
    if (error == 0) {
        *mapping = MapObject(fd);
        if (*mapping == nullptr) error = errno != 0 ? errno : ENOMEM;
    }
    close(fd);
    return error == 0 ? Succeeded() : FailedWithErrno(error);
}

// A failed step's reason in the words of a private event's message: "it cannot be opened (...)".
Outcome StepFailed(const char* step, int error) {
    Outcome failed = FailedWithErrno(error);
    return FailedLike(failed, std::string("it cannot be ") + step + " (" + failed.reason + ")");
}

// The shared object under the name into *mapping when it is this user's whole semaphore;
// otherwise why not.
Outcome OpenObject(const std::string& path, SharedMapping** mapping) {
    *mapping = nullptr;
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            Outcome created = CreateObject(path, mapping);
            if (created) return created;
            if (created.error == EEXIST) continue;
            return StepFailed("created", created.error);
        }
        if (fd < 0) {
            if (errno == ELOOP)
                return FailedLike(FailedWithErrno(ELOOP), "a link stands under its name");
            return StepFailed("opened", errno);
        }
        Outcome refused;
        struct stat st;
        if (fstat(fd, &st) != 0) {
            refused = StepFailed("examined", errno);
        } else if (st.st_uid != geteuid()) {
            refused = Failed(FailureKind::OwnedByAnotherUser);
        } else if (!S_ISREG(st.st_mode) || st.st_size < off_t(sizeof(sem_t))) {
            refused = Failed(FailureKind::NotASemaphore);
        } else if ((st.st_mode & 077) != 0) {
            // One of ours from a time when others were let in: any of them may hold it open
            // for writing still, whatever its mode is made now. A fresh one takes its name.
            struct stat named;
            if (lstat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
                named.st_ino == st.st_ino && unlink(path.c_str()) != 0) {
                Outcome kept = FailedWithErrno(errno);
                close(fd);
                return FailedLike(kept, "others could write to it and it cannot be removed (" +
                                            kept.reason + ")");
            }
            close(fd);
            continue;
        } else {
            *mapping = MapObject(fd);
            if (*mapping == nullptr) refused = StepFailed("mapped", errno);
            close(fd);
            return refused;
        }
        close(fd);
        return refused;
    }
    return Failed(FailureKind::KeepsChanging);
}

}  // namespace

NamedEvent* OpenNamedEvent(const char* name) {
    std::string path;
    if (!ObjectPath(name, &path)) return nullptr;
    std::lock_guard<std::mutex> lock(privateEventsMutex);
    // Once the name stood for a private event, it does so for the whole process, so that two
    // opens of one name always reach each other.
    for (PrivateEvent* known : privateEvents) {
        if (known->name == name) {
            return NewHandle(&known->semaphore, nullptr, known->reason.c_str());
        }
    }
    SharedMapping* shared = nullptr;
    Outcome opened = OpenObject(path, &shared);
    if (opened) {
        NamedEvent* event =
            NewHandle(reinterpret_cast<sem_t*>(shared->page.load()), shared, nullptr);
        if (event == nullptr) ReleaseMapping(shared);
        return event;
    }
    PrivateEvent* own = PrivateEventFor(name, opened.reason);
    if (own == nullptr) return nullptr;
    return NewHandle(&own->semaphore, nullptr, own->reason.c_str());
}

const char* NamedEventPrivateReason(const NamedEvent* event) {
    if (event == nullptr) return nullptr;
    if (event->mapping != nullptr && event->mapping->state.load() == kOwnPage) {
        return "another program cut it short";
    }
    return event->privateReason;
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
    // Measured on the monotonic clock so that a change of the system time cannot stretch or
    // cut the wait. It is waited in slices: a waiter asleep on a shared page that was replaced
    // (see above) is woken by nobody, and looks again at the page that is there now.
    constexpr int64_t kSliceMs = 200;
    const int64_t end = timeoutMs < 0 ? -1 : MonotonicMs() + timeoutMs;
    for (;;) {
        int64_t sliceMs = kSliceMs;
        if (end >= 0) sliceMs = std::min(sliceMs, std::max<int64_t>(end - MonotonicMs(), 0));
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += time_t(sliceMs / 1000);
        deadline.tv_nsec += long(sliceMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        if (sem_clockwait(event->semaphore, CLOCK_MONOTONIC, &deadline) == 0) return true;
        if (errno != EINTR && errno != ETIMEDOUT) return false;
        if (end >= 0 && MonotonicMs() >= end) return false;
    }
}

void CloseNamedEvent(NamedEvent* event) {
    if (event == nullptr) return;
    if (event->mapping != nullptr) {
        std::lock_guard<std::mutex> lock(privateEventsMutex);
        ReleaseMapping(event->mapping);
    }
    delete event;
}

void RemoveNamedEvent(const char* name) {
    if (name != nullptr) sem_unlink(name);
}

}  // namespace talvor
