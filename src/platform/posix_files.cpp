#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace {

// Opens without blocking (a FIFO would otherwise wait for a peer), keeps only regular files,
// then makes the descriptor blocking again.
int OpenRegular(const char* path, int flags, mode_t mode) {
    if (path == nullptr || *path == '\0') return -1;
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    int current = fcntl(fd, F_GETFL);
    if (current == -1 || fcntl(fd, F_SETFL, current & ~O_NONBLOCK) == -1) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool PathExists(const char* path) {
    if (path == nullptr || *path == '\0') return false;
    struct stat st;
    return stat(path, &st) == 0;
}

int OpenForReading(const char* path) {
    return OpenRegular(path, O_RDONLY, 0);
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

int CreateForWriting(const char* path) {
    // Not through O_TRUNC first: a FIFO or device under the name must be refused untouched,
    // and truncating a regular file after the check is the same as truncating it at open.
    int fd = OpenRegular(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) return -1;
    if (ftruncate(fd, 0) != 0) {
        close(fd);
        return -1;
    }
    return fd;
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
            return false;
        }
    }
    return true;
}

bool CloseWritten(int fd) {
    if (fd < 0) return false;
    // On Linux the descriptor is gone even when close reports EINTR; only a real error
    // (a failed write-back on some file systems) means the data may be lost.
    return close(fd) == 0 || errno == EINTR;
}

bool ReplaceFile(const char* temporaryPath, const char* finalPath) {
    if (temporaryPath == nullptr || finalPath == nullptr) return false;
    if (rename(temporaryPath, finalPath) == 0) return true;
    unlink(temporaryPath);
    return false;
}

void RemoveFile(const char* path) {
    if (path != nullptr && *path != '\0') unlink(path);
}

int WriteFileWhole(const char* path, const void* data, size_t count) {
    if (path == nullptr || *path == '\0') return ENOENT;
    std::string temporary = std::string(path) + ".tmp" + std::to_string(getpid());
    errno = 0;
    int fd = CreateForWriting(temporary.c_str());
    if (fd < 0) return errno != 0 ? errno : EIO;
    errno = 0;
    bool written = WriteAll(fd, data, count);
    int error = errno;
    errno = 0;
    bool closed = CloseWritten(fd);
    if (written && !closed) error = errno;
    if (!written || !closed) {
        unlink(temporary.c_str());
        return error != 0 ? error : EIO;
    }
    if (rename(temporary.c_str(), path) != 0) {
        error = errno;
        unlink(temporary.c_str());
        return error != 0 ? error : EIO;
    }
    return 0;
}
