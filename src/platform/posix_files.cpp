// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/posix_open.h"

// Folded in here rather than inlined in each caller: the logger's appended file and every file
// read must be refused alike when they are not regular files.
int OpenRegularFile(const char* path, int flags, int mode) {
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return -1;
    }
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC | O_NONBLOCK, mode_t(mode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    bool stated = fstat(fd, &st) == 0;
    if (!stated || !S_ISREG(st.st_mode)) {
        int error = stated ? EINVAL : errno;
        close(fd);
        errno = error;
        return -1;
    }
    int current = fcntl(fd, F_GETFL);
    if (current == -1 || fcntl(fd, F_SETFL, current & ~O_NONBLOCK) == -1) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool PathExists(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    struct stat st;
    return stat(path, &st) == 0;
}

int OpenForReading(const char* path) {
    return OpenRegularFile(path, O_RDONLY, 0);
}

int64_t FileSizeOf(int fd) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) return -1;
    return int64_t(st.st_size);
}

size_t ReadUpTo(int fd, void* buffer, size_t count) {
    if (fd < 0 || buffer == nullptr) return 0;
    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t n = read(fd, out + done, count - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    return done;
}

void CloseFile(int fd) {
    if (fd >= 0) close(fd);
}

int CreateTemporaryBeside(const char* finalPath, std::string* temporaryPath) {
    if (finalPath == nullptr || *finalPath == '\0' || temporaryPath == nullptr) {
        errno = ENOENT;
        return -1;
    }
    std::string path(finalPath);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // Hidden, so that a reader listing the folder for pictures does not pick up a half-written
    // one; the random part makes the name impossible to plant in advance.
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
            if (errno == EINTR) continue;
            return -1;
        }
        std::string suffix;
        for (unsigned char r : random) suffix += kLetters[r % (sizeof kLetters - 1)];
        std::string candidate = folder + "." + name + "." + suffix;
        int fd =
            open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            *temporaryPath = candidate;
            return fd;
        }
        if (errno != EEXIST && errno != EINTR) return -1;
    }
    errno = EEXIST;
    return -1;
}

bool WriteAll(int fd, const void* data, size_t count) {
    if (fd < 0 || (data == nullptr && count > 0)) return false;
    const char* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, in + done, count - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0) errno = EIO;
            return false;
        }
    }
    return true;
}

bool CloseWritten(int fd) {
    if (fd < 0) return false;
    // On disk before anything refers to it: after a power cut a renamed file must not turn up
    // empty under its final name.
    bool synced = fsync(fd) == 0 || errno == EINVAL;
    int error = errno;
    // On Linux the descriptor is gone even when close reports EINTR; only a real error
    // (a failed write-back on some file systems) means the data may be lost.
    bool closed = close(fd) == 0 || errno == EINTR;
    if (!synced) errno = error;
    return synced && closed;
}

bool ReplaceFile(const char* temporaryPath, const char* finalPath) {
    if (temporaryPath == nullptr || finalPath == nullptr) return false;
    // rename replaces a link at the final name itself, never the file it points to.
    if (rename(temporaryPath, finalPath) != 0) {
        int error = errno;
        unlink(temporaryPath);
        errno = error;
        return false;
    }
    // The new name is only durable once the folder's entry is on disk too. A folder that cannot
    // be flushed (some file systems refuse) leaves the file in place all the same.
    std::string path(finalPath);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    SyncFolder(folder.c_str());
    return true;
}

void RemoveFile(const char* path) {
    if (path != nullptr && *path != '\0') unlink(path);
}

Outcome FailedWithErrno(int error) {
    if (error == 0) error = EIO;
    return FailedWith(error, std::strerror(error));
}

Outcome WriteFileWhole(const char* path, const void* data, size_t count) {
    if (path == nullptr || *path == '\0') return FailedWithErrno(ENOENT);
    std::string temporary;
    errno = 0;
    int fd = CreateTemporaryBeside(path, &temporary);
    if (fd < 0) return FailedWithErrno(errno);
    errno = 0;
    bool written = WriteAll(fd, data, count);
    int error = errno;
    errno = 0;
    bool closed = CloseWritten(fd);
    if (written && !closed) error = errno;
    if (!written || !closed) {
        unlink(temporary.c_str());
        return FailedWithErrno(error);
    }
    errno = 0;
    if (!ReplaceFile(temporary.c_str(), path)) return FailedWithErrno(errno);
    return Succeeded();
}

int OpenFolder(const char* path) {
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return -1;
    }
    int fd;
    do {
        fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

Outcome FolderTakesNewFiles(const char* folder) {
    if (folder == nullptr || *folder == '\0') return FailedWithErrno(ENOENT);
    // Asked of the folder itself, with the rights the writes will have; no file is made.
    if (faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) != 0) return FailedWithErrno(errno);
    return Succeeded();
}

FileIdentity IdentifyFile(const char* path) {
    FileIdentity id;
    if (path == nullptr || *path == '\0') return id;
    struct stat st;
    if (lstat(path, &st) != 0) {
        id.error = errno;
        return id;
    }
    id.exists = true;
    if (S_ISLNK(st.st_mode) && stat(path, &st) != 0) {
        // A link to nothing, or a loop of links.
        id.error = errno;
        return id;
    }
    id.regular = S_ISREG(st.st_mode);
    id.device = uint64_t(st.st_dev);
    id.inode = uint64_t(st.st_ino);
    id.resolved = true;
    return id;
}
