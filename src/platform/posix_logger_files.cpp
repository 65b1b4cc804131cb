// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/posix_open.h"

int OpenForAppending(const char* path, bool* created) {
    *created = false;
    if (path == nullptr || *path == '\0') {
        errno = ENOENT;
        return -1;
    }
    // Two rounds: the file may appear or vanish between the attempts.
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = OpenRegularFile(path, O_WRONLY | O_APPEND | O_NOFOLLOW, 0);
        if (fd >= 0) return fd;
        if (errno != ENOENT) return -1;
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            *created = true;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool TruncateOpenFile(int fd, int64_t size) {
    int rc;
    do {
        rc = ftruncate(fd, off_t(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool SyncFileData(int fd) {
    return fdatasync(fd) == 0;
}

bool SyncFolder(const char* path) {
    int dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    bool synced = fsync(dir) == 0;
    int error = errno;
    close(dir);
    errno = error;
    return synced;
}

bool LockExclusively(int fd) {
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}
