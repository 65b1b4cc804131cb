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

namespace talvor {

// Folded in here rather than inlined in each caller: the logger's appended file and every file
// read must be refused alike when they are not regular files.
Outcome OpenRegularFile(const char* path, int flags, int mode, int* fd) {
    return OpenRegularFileAt(AT_FDCWD, path, flags, mode, fd);
}

Outcome OpenRegularFileAt(int folderFd, const char* path, int flags, int mode, int* fd) {
    *fd = -1;
    if (path == nullptr || *path == '\0') return FailedWithErrno(ENOENT);
    int opened;
    do {
        opened = openat(folderFd, path, flags | O_CLOEXEC | O_NONBLOCK, mode_t(mode));
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return FailedWithErrno(errno);
    struct stat st;
    if (fstat(opened, &st) != 0) {
        Outcome failed = FailedWithErrno(errno);
        close(opened);
        return failed;
    }
    if (!S_ISREG(st.st_mode)) {
        close(opened);
        return Failed(FailureKind::NotRegularFile);
    }
    int current = fcntl(opened, F_GETFL);
    if (current == -1 || fcntl(opened, F_SETFL, current & ~O_NONBLOCK) == -1) {
        Outcome failed = FailedWithErrno(errno);
        close(opened);
        return failed;
    }
    *fd = opened;
    return Succeeded();
}

bool PathExists(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    struct stat st;
    return stat(path, &st) == 0;
}

Outcome OpenForReading(const char* path, int* fd) {
    return OpenRegularFile(path, O_RDONLY, 0, fd);
}

Outcome FileSizeOf(int fd, int64_t* size) {
    *size = 0;
    struct stat st;
    if (fd < 0) return FailedWithErrno(EBADF);
    if (fstat(fd, &st) != 0) return FailedWithErrno(errno);
    *size = int64_t(st.st_size);
    return Succeeded();
}

Outcome ReadFully(int fd, void* buffer, size_t count, size_t* got) {
    *got = 0;
    if (fd < 0) return FailedWithErrno(EBADF);
    if (buffer == nullptr && count > 0) return FailedWithErrno(EFAULT);
    char* out = static_cast<char*>(buffer);
    while (*got < count) {
        ssize_t n = read(fd, out + *got, count - *got);
        if (n > 0) {
            *got += size_t(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return FailedWithErrno(errno);
        }
    }
    return Succeeded();
}

size_t ReadUpTo(int fd, void* buffer, size_t count) {
    size_t got = 0;
    ReadFully(fd, buffer, count, &got);
    return got;
}

void CloseFile(int fd) {
    if (fd >= 0) close(fd);
}

Outcome CreateTemporaryBeside(const char* finalPath, int* fd, std::string* temporaryPath) {
    *fd = -1;
    if (finalPath == nullptr || *finalPath == '\0' || temporaryPath == nullptr) {
        return FailedWithErrno(ENOENT);
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
            return FailedWithErrno(errno);
        }
        std::string suffix;
        for (unsigned char r : random) suffix += kLetters[r % (sizeof kLetters - 1)];
        std::string candidate = folder + "." + name + "." + suffix;
        int made =
            open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (made >= 0) {
            *temporaryPath = candidate;
            *fd = made;
            return Succeeded();
        }
        if (errno != EEXIST && errno != EINTR) return FailedWithErrno(errno);
    }
    return FailedWithErrno(EEXIST);
}

Outcome WriteAll(int fd, const void* data, size_t count) {
    if (fd < 0) return FailedWithErrno(EBADF);
    if (data == nullptr && count > 0) return FailedWithErrno(EFAULT);
    const char* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, in + done, count - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return FailedWithErrno(n == 0 ? EIO : errno);
        }
    }
    return Succeeded();
}

Outcome CloseWritten(int fd) {
    if (fd < 0) return FailedWithErrno(EBADF);
    // On disk before anything refers to it: after a power cut a renamed file must not turn up
    // empty under its final name.
    bool synced = fsync(fd) == 0 || errno == EINVAL;
    int syncError = errno;
    // On Linux the descriptor is gone even when close reports EINTR; only a real error
    // (a failed write-back on some file systems) means the data may be lost.
    bool closed = close(fd) == 0 || errno == EINTR;
    if (!synced) return FailedWithErrno(syncError);
    if (!closed) return FailedWithErrno(errno);
    return Succeeded();
}

Outcome ReplaceFile(const char* temporaryPath, const char* finalPath) {
    if (temporaryPath == nullptr || finalPath == nullptr) return FailedWithErrno(ENOENT);
    // rename replaces a link at the final name itself, never the file it points to.
    if (rename(temporaryPath, finalPath) != 0) {
        Outcome failed = FailedWithErrno(errno);
        unlink(temporaryPath);
        return failed;
    }
    // The new name is only durable once the folder's entry is on disk too. A folder that cannot
    // be flushed (some file systems refuse) leaves the file in place all the same.
    std::string path(finalPath);
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    SyncFolder(folder.c_str());
    return Succeeded();
}

void RemoveFile(const char* path) {
    if (path != nullptr && *path != '\0') unlink(path);
}

Outcome WriteFileWhole(const char* path, const void* data, size_t count) {
    if (path == nullptr || *path == '\0') return FailedWithErrno(ENOENT);
    std::string temporary;
    int fd = -1;
    if (Outcome made = CreateTemporaryBeside(path, &fd, &temporary); !made) return made;
    Outcome written = WriteAll(fd, data, count);
    Outcome closed = CloseWritten(fd);
    if (!written || !closed) {
        unlink(temporary.c_str());
        return !written ? written : closed;
    }
    return ReplaceFile(temporary.c_str(), path);
}

Outcome OpenFolder(const char* path, int* fd) {
    *fd = -1;
    if (path == nullptr || *path == '\0') return FailedWithErrno(ENOENT);
    int opened;
    do {
        opened = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return FailedWithErrno(errno);
    *fd = opened;
    return Succeeded();
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

}  // namespace talvor
