// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/posix_open.h"

namespace talvor {

Outcome OpenForAppending(const char* path, int* fd, bool* created) {
    *fd = -1;
    *created = false;
    if (path == nullptr || *path == '\0') return FailedWithErrno(ENOENT);
    // Two rounds: the file may appear or vanish between the attempts.
    Outcome opened;
    for (int attempt = 0; attempt < 2; ++attempt) {
        opened = OpenRegularFile(path, O_WRONLY | O_APPEND | O_NOFOLLOW, 0, fd);
        if (opened || opened.error != ENOENT) return opened;
        int made =
            open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (made >= 0) {
            *fd = made;
            *created = true;
            return Succeeded();
        }
        if (errno != EEXIST) return FailedWithErrno(errno);
        opened = FailedWithErrno(errno);
    }
    return opened;
}

Outcome TruncateOpenFile(int fd, int64_t size) {
    int rc;
    do {
        rc = ftruncate(fd, off_t(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? Succeeded() : FailedWithErrno(errno);
}

Outcome SyncFileData(int fd) {
    return fdatasync(fd) == 0 ? Succeeded() : FailedWithErrno(errno);
}

Outcome SyncFolder(const char* path) {
    int dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return FailedWithErrno(errno);
    Outcome synced = fsync(dir) == 0 ? Succeeded() : FailedWithErrno(errno);
    close(dir);
    return synced;
}

Outcome LockExclusively(int fd) {
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? Succeeded() : FailedWithErrno(errno);
}

}  // namespace talvor
