// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/process.h"

namespace {

std::string WorkingDirectory() {
    for (size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(size);
        if (getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
        if (errno != ERANGE) return {};
    }
    return {};
}

// "./talvor" started in /var/lib/talvor is /var/lib/talvor/talvor, not /var/lib/talvor/./talvor.
// Only "." steps and repeated slashes go: ".." is left alone, as it may climb out of a link.
std::string WithoutDotSteps(const std::string& path) {
    std::string out;
    size_t at = 0;
    while (at < path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        std::string step = path.substr(at, end - at);
        if (!step.empty() && step != ".") out += "/" + step;
        at = end + 1;
    }
    return out.empty() ? "/" : out;
}

std::string ProcSelfExe() {
    // readlink does not say whether it truncated, so grow until the answer fits.
    for (size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(size);
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (size_t(n) < buffer.size()) return std::string(buffer.data(), size_t(n));
    }
    return {};
}

}  // namespace

std::string GetExecutablePath(const char* firstArgument) {
    if (firstArgument == nullptr || firstArgument[0] == '\0') return ProcSelfExe();
    std::string path = firstArgument;
    if (path.find('/') == std::string::npos) {
        // Found through PATH: an installed program is shared by every station, so it stands in
        // the folder it was started from and never reads or writes the one it is installed in.
        // The name stays, as it selects the variant.
        std::string here = WorkingDirectory();
        if (here.empty()) return ProcSelfExe();
        return (here == "/" ? "" : here) + "/" + path;
    }
    if (path.front() != '/') {
        std::string here = WorkingDirectory();
        if (here.empty()) return ProcSelfExe();
        path = here + "/" + path;
    }
    path = WithoutDotSteps(path);
    // Followed only to see that it names a file; the path itself keeps its last link.
    struct stat target;
    if (stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return ProcSelfExe();
    return path;
}

void EndProcess(int exitCode) {
    // The render thread may still be inside the GL driver; running the library destructors
    // under it could crash or hang the exit, so leave without them.
    std::fflush(nullptr);
    _exit(exitCode);
}

namespace {
constexpr const char* kDefaultProgramName = "TALVOR";
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
