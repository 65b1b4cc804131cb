#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"

// The event is the semaphore that sem_open would make under the name (a file of one sem_t in
// /dev/shm, so that the user's other processes, sem_open ones included, share it), opened and
// checked here instead: sem_open maps whatever file is under the name, and a short file planted
// by anyone kills the process with SIGBUS at the first wait.

struct NamedEvent {
    sem_t* semaphore = nullptr;
    bool mapped = false;                  // a shared object, unmapped on close
    const char* privateReason = nullptr;  // set for an event of this process only
};

namespace {

constexpr const char* kSemaphoreFolder = "/dev/shm/";

// Events of this process that stand in for a name whose object cannot be used. They live as long
// as the process: a thread may still wait on one while it ends.
struct PrivateEvent {
    std::string name;
    std::string reason;
    sem_t semaphore;
};
std::mutex privateEventsMutex;
std::vector<PrivateEvent*> privateEvents;

// The folder holds names of many users; "/THEMEXXX" is "sem.THEMEXXX" in it.
bool ObjectPath(const char* name, std::string* path) {
    if (name == nullptr || name[0] != '/' || name[1] == '\0') return false;
    if (std::strchr(name + 1, '/') != nullptr || std::strlen(name) > 250) return false;
    *path = std::string(kSemaphoreFolder) + "sem." + (name + 1);
    return true;
}

NamedEvent* NewHandle(sem_t* semaphore, bool mapped, const char* privateReason) {
    NamedEvent* event = new (std::nothrow) NamedEvent;
    if (event == nullptr) return nullptr;
    event->semaphore = semaphore;
    event->mapped = mapped;
    event->privateReason = privateReason;
    return event;
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

sem_t* MapSemaphore(int fd) {
    void* at = mmap(nullptr, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return at == MAP_FAILED ? nullptr : static_cast<sem_t*>(at);
}

// Makes a whole, unsignalled semaphore under the name, never a half-made one: it is written under
// a random name first and then linked into place. EEXIST when someone else was faster.
int CreateObject(const std::string& path, sem_t** semaphore) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) return EIO;
        temporary = std::string(kSemaphoreFolder) + "sem.";
        for (unsigned char r : random) temporary += kLetters[r % (sizeof kLetters - 1)];
        fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    sem_t initial;
    std::memset(&initial, 0, sizeof initial);
    sem_init(&initial, 1, 0);
    int error = 0;
    if (fchmod(fd, 0600) != 0 || !WriteAll(fd, &initial, sizeof initial)) error = errno;
    if (error == 0 && link(temporary.c_str(), path.c_str()) != 0) error = errno;
    unlink(temporary.c_str());
    if (error == 0) {
        *semaphore = MapSemaphore(fd);
        if (*semaphore == nullptr) error = errno != 0 ? errno : ENOMEM;
    }
    close(fd);
    return error;
}

// The shared object under the name when it is this user's whole semaphore; otherwise nullptr
// and why not.
sem_t* OpenObject(const std::string& path, std::string* reason) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            sem_t* semaphore = nullptr;
            int error = CreateObject(path, &semaphore);
            if (error == 0) return semaphore;
            if (error == EEXIST) continue;
            *reason = std::string("it cannot be created (") + std::strerror(error) + ")";
            return nullptr;
        }
        if (fd < 0) {
            *reason = errno == ELOOP
                          ? std::string("a link stands under its name")
                          : std::string("it cannot be opened (") + std::strerror(errno) + ")";
            return nullptr;
        }
        struct stat st;
        if (fstat(fd, &st) != 0) {
            *reason = std::string("it cannot be examined (") + std::strerror(errno) + ")";
        } else if (st.st_uid != geteuid()) {
            *reason = "it belongs to another user";
        } else if (!S_ISREG(st.st_mode) || st.st_size < off_t(sizeof(sem_t))) {
            *reason = "it is not a whole semaphore";
        } else {
            // One of ours from a time when it was made readable by all: for this user only now.
            if ((st.st_mode & 077) != 0) fchmod(fd, 0600);
            sem_t* semaphore = MapSemaphore(fd);
            if (semaphore == nullptr) {
                *reason = std::string("it cannot be mapped (") + std::strerror(errno) + ")";
            }
            close(fd);
            return semaphore;
        }
        close(fd);
        return nullptr;
    }
    *reason = "it keeps changing under its name";
    return nullptr;
}

}  // namespace

NamedEvent* OpenNamedEvent(const char* name) {
    std::string path;
    if (!ObjectPath(name, &path)) return nullptr;
    std::lock_guard<std::mutex> lock(privateEventsMutex);
    // Once the name stood for a private event, it does so for the whole process, so that two
    // opens of one name always reach each other.
    for (PrivateEvent* known : privateEvents) {
        if (known->name == name) return NewHandle(&known->semaphore, false, known->reason.c_str());
    }
    std::string reason;
    sem_t* shared = OpenObject(path, &reason);
    if (shared != nullptr) {
        NamedEvent* event = NewHandle(shared, true, nullptr);
        if (event == nullptr) munmap(shared, sizeof(sem_t));
        return event;
    }
    PrivateEvent* own = PrivateEventFor(name, reason);
    if (own == nullptr) return nullptr;
    return NewHandle(&own->semaphore, false, own->reason.c_str());
}

const char* NamedEventPrivateReason(const NamedEvent* event) {
    return event != nullptr ? event->privateReason : nullptr;
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
    if (event->mapped) munmap(event->semaphore, sizeof(sem_t));
    delete event;
}

void RemoveNamedEvent(const char* name) {
    if (name != nullptr) sem_unlink(name);
}
