// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/process.h"

namespace talvor {

namespace {

namespace fs = std::filesystem;

// Empty when the folder cannot be read (removed, or no search right on a parent).
fs::path WorkingDirectory() {
    std::error_code error;
    fs::path here = fs::current_path(error);
    return error ? fs::path() : here;
}

std::string ProcSelfExe() {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}

// "./talvor" started in /var/lib/talvor is /var/lib/talvor/talvor, not /var/lib/talvor/./talvor.
// Only "." steps and repeated slashes go: ".." is left alone, as it may climb out of a link.
fs::path WithoutDotSteps(const fs::path& path) {
    fs::path out = "/";
    for (const fs::path& step : path.relative_path()) {
        if (!step.empty() && step != ".") out /= step;
    }
    return out;
}

}  // namespace

void KeepStandardDescriptorsTaken() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open gives the lowest free number, which is this one. Without /dev/null (a bare
        // chroot) a descriptor of the root folder holds the place: nothing can be written to it.
        int taken = open("/dev/null", O_RDWR);
        if (taken < 0) taken = open("/", O_PATH | O_DIRECTORY);
        if (taken >= 0 && taken != fd) close(taken);
    }
}

std::string GetExecutablePath(const char* firstArgument) {
    if (firstArgument == nullptr || firstArgument[0] == '\0') return ProcSelfExe();
    fs::path path = firstArgument;
    const bool bareName = std::string_view(firstArgument).find('/') == std::string_view::npos;
    if (path.is_relative()) {
        // A bare name was found through PATH: an installed program is shared by every station,
        // so it stands in the folder it was started from and never reads or writes the one it is
        // installed in. The name stays, as it selects the variant.
        fs::path here = WorkingDirectory();
        if (here.empty()) return ProcSelfExe();
        path = here / path;
        if (bareName) return path.string();
    }
    path = WithoutDotSteps(path);
    // Followed only to see that it names a file; the path itself keeps its last link.
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return ProcSelfExe();
    return path.string();
}

void EndProcess(int exitCode) {
    // The render thread may still be inside the GL driver; running the library destructors
    // under it could crash or hang the exit, so leave without them.
    std::fflush(nullptr);
    _exit(exitCode);
}

namespace {
constexpr const char* kDefaultProgramName = "TALVOR";
// Set once at start-up, before any thread; one for the whole process, as the stop signals'
// handler that removes unfinished files writes it in its message.
const char* programName = kDefaultProgramName;
}  // namespace

void SetProgramName(const char* name) {
    programName = name != nullptr ? name : kDefaultProgramName;
}

const char* ProgramName() {
    return programName;
}

void IgnoreWriteSignals() {
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}

Outcome RandomBytes(unsigned char* bytes, size_t count) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = getrandom(bytes + got, count - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailedWithErrno(errno);
        got += size_t(n);
    }
    return Succeeded();
}

}  // namespace talvor
