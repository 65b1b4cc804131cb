// SPDX-License-Identifier: GPL-3.0-or-later
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/folder_files.h"
#include "platform/posix_open.h"
#include "platform/process.h"

namespace talvor {

namespace {

static_assert(kWorkingFolder == AT_FDCWD);

FolderEntry EntryOf(const struct stat& st) {
    FolderEntry entry;
    entry.kind = S_ISREG(st.st_mode)   ? EntryKind::File
                 : S_ISDIR(st.st_mode) ? EntryKind::Folder
                 : S_ISLNK(st.st_mode) ? EntryKind::Link
                                       : EntryKind::Other;
    entry.owner = uint32_t(st.st_uid);
    entry.ownedByUs = st.st_uid == geteuid();
    entry.othersMayWrite = (st.st_mode & S_IWOTH) != 0;
    entry.size = int64_t(st.st_size);
    return entry;
}

// The temporaries being written, for a stop signal's handler to remove: a process-wide list
// because a handler can reach nothing else. A slot is filled while it is marked busy and only
// read by the handler once marked in use.
enum : int { kSlotFree = 0, kSlotFilling = 1, kSlotInUse = 2 };
struct TemporarySlot {
    std::atomic<int> state{kSlotFree};
    int folderFd = -1;
    char name[256] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");
TemporarySlot temporarySlots[16];

int RememberTemporary(int folderFd, const std::string& name) {
    if (name.size() >= sizeof temporarySlots[0].name) return -1;
    for (int i = 0; i < int(std::size(temporarySlots)); ++i) {
        int expected = kSlotFree;
        if (!temporarySlots[i].state.compare_exchange_strong(expected, kSlotFilling)) continue;
        temporarySlots[i].folderFd = folderFd;
        std::memcpy(temporarySlots[i].name, name.c_str(), name.size() + 1);
        temporarySlots[i].state.store(kSlotInUse);
        return i;
    }
    return -1;  // more at once than the list holds: only a stop signal would leave it behind
}

void ForgetTemporary(TemporaryFile* file) {
    if (file->slot >= 0) temporarySlots[file->slot].state.store(kSlotFree);
    file->slot = -1;
}

void WriteText(const char* text) {
    size_t length = std::strlen(text);
    while (length > 0) {
        ssize_t n = write(STDERR_FILENO, text, length);
        if (n <= 0) return;
        text += n;
        length -= size_t(n);
    }
}

}  // namespace
}  // namespace talvor

// A signal handler has C linkage, so it stands outside the namespace.
extern "C" {
static void RemoveTemporariesAndStop(int signalNumber) {
    int saved = errno;
    bool removed = false;
    for (talvor::TemporarySlot& slot : talvor::temporarySlots) {
        if (slot.state.load() == talvor::kSlotInUse && unlinkat(slot.folderFd, slot.name, 0) == 0) {
            removed = true;
        }
    }
    talvor::WriteText(talvor::ProgramName());
    talvor::WriteText(removed ? ": stopped by a signal; the files it was writing were removed\n"
                              : ": stopped by a signal\n");
    errno = saved;
    // The action was reset on entry: the signal, raised again, ends the process as it would
    // have without this handler, so that the caller sees what stopped it.
    raise(signalNumber);
}
}

namespace talvor {

Outcome OpenNamedFolder(const char* path, int* fd) {
    *fd = -1;
    if (path == nullptr || *path == '\0') return FailedWithErrno(ENOENT);
    int opened;
    do {
        opened = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return FailedWithErrno(errno);
    *fd = opened;
    return Succeeded();
}

Outcome MakeFolderIn(int folderFd, const char* name) {
    if (mkdirat(folderFd, name, 0755) != 0) return FailedWithErrno(errno);
    return Succeeded();
}

Outcome OpenFolderIn(int folderFd, const char* name, int* fd) {
    *fd = -1;
    int opened;
    do {
        opened = openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return FailedWithErrno(errno);
    *fd = opened;
    return Succeeded();
}

Outcome LookIn(int folderFd, const char* name, FolderEntry* entry) {
    struct stat st;
    if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        *entry = FolderEntry{};
        if (errno == ENOENT) return Succeeded();
        return FailedWithErrno(errno);
    }
    *entry = EntryOf(st);
    return Succeeded();
}

Outcome LookAtOpen(int fd, FolderEntry* entry) {
    struct stat st;
    if (fstat(fd, &st) != 0) return FailedWithErrno(errno);
    *entry = EntryOf(st);
    return Succeeded();
}

Outcome OpenFileIn(int folderFd, const char* name, int* fd) {
    return OpenRegularFileAt(folderFd, name, O_RDONLY | O_NOFOLLOW, 0, fd);
}

Outcome ReadPrefix(int fd, size_t limit, std::string* bytes, bool* longer) {
    bytes->clear();
    *longer = false;
    struct stat st;
    // The size only sizes the first allocation, never more than the limit.
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        bytes->reserve(size_t(st.st_size) < limit ? size_t(st.st_size) : limit);
    }
    char chunk[65536];
    while (bytes->size() < limit) {
        size_t wanted = limit - bytes->size() < sizeof chunk ? limit - bytes->size() : sizeof chunk;
        ssize_t n = read(fd, chunk, wanted);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailedWithErrno(errno);
        if (n == 0) return Succeeded();
        bytes->append(chunk, size_t(n));
    }
    for (;;) {
        ssize_t n = read(fd, chunk, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailedWithErrno(errno);
        *longer = n > 0;
        return Succeeded();
    }
}

Outcome ReadSmallFile(const char* path, size_t limit, std::string* bytes) {
    int fd = -1;
    if (Outcome opened = OpenRegularFile(path, O_RDONLY, 0, &fd); !opened) return opened;
    bool longer = false;
    Outcome read = ReadPrefix(fd, limit, bytes, &longer);
    close(fd);
    if (!read) return read;
    if (longer) {
        bytes->clear();
        return Failed(FailureKind::TooLarge, "larger than " + std::to_string(limit) + " bytes");
    }
    return Succeeded();
}

Outcome ListFolder(int folderFd, std::vector<std::string>* names) {
    names->clear();
    // A descriptor of its own, so that listing never moves the caller's position in the folder.
    int fd = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FailedWithErrno(errno);
    DIR* folder = fdopendir(fd);
    if (folder == nullptr) {
        Outcome failed = FailedWithErrno(errno);
        close(fd);
        return failed;
    }
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(folder);
        if (entry == nullptr) break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        names->push_back(entry->d_name);
    }
    int error = errno;
    closedir(folder);
    if (error != 0) return FailedWithErrno(error);
    return Succeeded();
}

Outcome RemoveFileIn(int folderFd, const char* name) {
    if (unlinkat(folderFd, name, 0) != 0) return FailedWithErrno(errno);
    return Succeeded();
}

Outcome CreateTemporaryIn(int folderFd, const std::string& prefix, TemporaryFile* file) {
    *file = TemporaryFile{};
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[kTemporarySuffixLength];
        if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
            if (errno == EINTR) continue;
            return FailedWithErrno(errno);
        }
        std::string name = prefix;
        for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
        // Listed before it exists: a stop signal that comes between the two finds nothing to
        // remove, never a file it does not know of.
        int slot = RememberTemporary(folderFd, name);
        int made = openat(folderFd, name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (made >= 0) {
            file->folderFd = folderFd;
            file->fd = made;
            file->name = name;
            file->slot = slot;
            return Succeeded();
        }
        int error = errno;
        if (slot >= 0) temporarySlots[slot].state.store(kSlotFree);
        if (error != EEXIST && error != EINTR) return FailedWithErrno(error);
    }
    return FailedWithErrno(EEXIST);
}

Outcome CommitTemporary(TemporaryFile* file, const char* finalName, bool noReplace) {
    if (file->fd < 0) return FailedWithErrno(EBADF);
    // On disk before anything refers to it: after a power cut a renamed file must not turn up
    // empty under its final name.
    bool synced = fsync(file->fd) == 0 || errno == EINVAL;
    int error = errno;
    bool closed = close(file->fd) == 0 || errno == EINTR;
    if (synced && !closed) error = errno;
    file->fd = -1;
    if (synced && closed) {
        int renamed = noReplace
                          ? renameat2(file->folderFd, file->name.c_str(), file->folderFd, finalName,
                                      RENAME_NOREPLACE)
                          : renameat(file->folderFd, file->name.c_str(), file->folderFd, finalName);
        if (renamed != 0 && noReplace && errno == EINVAL) {
            // A file system without the flag: the look just before has to do.
            struct stat st;
            if (fstatat(file->folderFd, finalName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                errno = EEXIST;
            } else {
                renamed = renameat(file->folderFd, file->name.c_str(), file->folderFd, finalName);
            }
        }
        if (renamed == 0) {
            ForgetTemporary(file);
            // A folder that cannot be flushed (some file systems refuse) keeps the file all
            // the same.
            fsync(file->folderFd);
            return Succeeded();
        }
        error = errno;
    }
    unlinkat(file->folderFd, file->name.c_str(), 0);
    ForgetTemporary(file);
    return FailedWithErrno(error);
}

void DiscardTemporary(TemporaryFile* file) {
    if (file->fd >= 0) close(file->fd);
    file->fd = -1;
    if (!file->name.empty() && file->folderFd >= 0) {
        unlinkat(file->folderFd, file->name.c_str(), 0);
    }
    ForgetTemporary(file);
}

void RemoveTemporariesOnStopSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

}  // namespace talvor
