#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "platform/platform.h"

std::string GetExecutablePath() {
    // readlink does not say whether it truncated, so grow until the answer fits.
    for (size_t size = 256; size <= 65536; size *= 2) {
        std::vector<char> buffer(size);
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (size_t(n) < buffer.size()) return std::string(buffer.data(), size_t(n));
    }
    return {};
}

void EndProcess(int exitCode) {
    // The render thread may still be inside the GL driver; running the library destructors
    // under it could crash or hang the exit, so leave without them.
    std::fflush(nullptr);
    _exit(exitCode);
}

namespace {
const char* messagePrefix = "TALVOR";
}  // namespace

void SetMessagePrefix(const char* prefix) {
    messagePrefix = prefix != nullptr ? prefix : "TALVOR";
}

const char* MessagePrefix() {
    return messagePrefix;
}

void IgnoreWriteSignals() {
    signal(SIGXFSZ, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
}
