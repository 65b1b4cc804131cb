// SPDX-License-Identifier: GPL-3.0-or-later
// For the tests only: loaded into a program with LD_PRELOAD, it makes a file fail as a failing
// disk does, with EIO, where TALVOR_TEST_EIO says:
//   TALVOR_TEST_EIO=open:/VOK.LOG   opening any file whose path ends so fails
//   TALVOR_TEST_EIO=read:/VOK.LOG   opening it works, and every read of it fails
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

enum { kDescriptors = 4096 };

// The descriptors open on the file whose reads fail.
static volatile char failing[kDescriptors];

static int Matches(const char* path, const char* step) {
    const char* wanted = getenv("TALVOR_TEST_EIO");
    size_t stepLength = strlen(step);
    if (path == NULL || wanted == NULL || strncmp(wanted, step, stepLength) != 0 ||
        wanted[stepLength] != ':') {
        return 0;
    }
    const char* suffix = wanted + stepLength + 1;
    size_t suffixLength = strlen(suffix), pathLength = strlen(path);
    return pathLength >= suffixLength && strcmp(path + pathLength - suffixLength, suffix) == 0;
}

static int Opened(const char* path, int fd) {
    if (fd >= 0 && fd < kDescriptors) failing[fd] = (char)Matches(path, "read");
    return fd;
}

static mode_t ModeOf(int flags, va_list arguments) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(arguments, int) : 0;
}

#define OPEN_LIKE(name)                                                                   \
    int name(const char* path, int flags, ...) {                                          \
        static int (*real)(const char*, int, ...);                                        \
        if (real == NULL) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, #name); \
        va_list arguments;                                                                \
        va_start(arguments, flags);                                                       \
        mode_t mode = ModeOf(flags, arguments);                                           \
        va_end(arguments);                                                                \
        if (Matches(path, "open")) {                                                      \
            errno = EIO;                                                                  \
            return -1;                                                                    \
        }                                                                                 \
        return Opened(path, real(path, flags, mode));                                     \
    }
OPEN_LIKE(open)
OPEN_LIKE(open64)

#define OPENAT_LIKE(name)                                                                      \
    int name(int folder, const char* path, int flags, ...) {                                   \
        static int (*real)(int, const char*, int, ...);                                        \
        if (real == NULL) real = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, #name); \
        va_list arguments;                                                                     \
        va_start(arguments, flags);                                                            \
        mode_t mode = ModeOf(flags, arguments);                                                \
        va_end(arguments);                                                                     \
        if (Matches(path, "open")) {                                                           \
            errno = EIO;                                                                       \
            return -1;                                                                         \
        }                                                                                      \
        return Opened(path, real(folder, path, flags, mode));                                  \
    }
OPENAT_LIKE(openat)
OPENAT_LIKE(openat64)

ssize_t read(int fd, void* buffer, size_t count) {
    static ssize_t (*real)(int, void*, size_t);
    if (real == NULL) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    if (fd >= 0 && fd < kDescriptors && failing[fd]) {
        errno = EIO;
        return -1;
    }
    return real(fd, buffer, count);
}

int close(int fd) {
    static int (*real)(int);
    if (real == NULL) real = (int (*)(int))dlsym(RTLD_NEXT, "close");
    if (fd >= 0 && fd < kDescriptors) failing[fd] = 0;
    return real(fd);
}
