// SPDX-License-Identifier: GPL-3.0-or-later
#include "logger/scan_input.h"

#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/files.h"
#include "platform/process.h"

struct ScanInput {
    gzFile file = nullptr;  // a recorded file; nullptr for standard input
};

namespace {

std::string ErrnoText() {
    return std::strerror(errno != 0 ? errno : EIO);
}

}  // namespace

Outcome OpenScanInput(const std::string& name, ScanInput** input) {
    *input = nullptr;
    // Standard input is read as it arrives: zlib would wait until its buffer is full, holding a
    // live minute back for hours.
    if (name == "-") {
        *input = new ScanInput{};
        return Succeeded();
    }
    int fd = -1;
    if (Outcome opened = OpenForReading(name.c_str(), &fd); !opened) return opened;
    // zlib reads a file without a gzip header as it is, so one loop serves both.
    gzFile file = gzdopen(fd, "rb");
    if (file == nullptr) {
        CloseFile(fd);
        return FailedWith(ENOMEM, "out of memory");
    }
    gzbuffer(file, 256 * 1024);
    *input = new ScanInput{file};
    return Succeeded();
}

long ReadScanInput(ScanInput* input, void* buffer, size_t count, std::string* reason) {
    if (input->file == nullptr) {
        errno = 0;
        long n = ReadInput(0, buffer, count);
        if (n == -1) *reason = ErrnoText();
        return n;
    }
    if (StopSignalled()) return kInputStopped;
    unsigned chunk = count > UINT_MAX / 2 ? UINT_MAX / 2 : unsigned(count);
    errno = 0;
    int n = gzread(input->file, buffer, chunk);
    if (n > 0) return n;
    // gzread ends a compressed stream cut short as quietly as a whole one (Z_BUF_ERROR): only
    // the stream's state tells them apart.
    int code = Z_OK;
    const char* text = gzerror(input->file, &code);
    if (n == 0 && code == Z_OK) return 0;
    if (code == Z_ERRNO) {
        *reason = ErrnoText();
    } else {
        // zlib names the stream "<fd:N>: " before its words; the caller names the file.
        std::string words = text != nullptr && *text ? text : "damaged data";
        size_t named = words.rfind("<fd:", 0) == 0 ? words.find(": ") : std::string::npos;
        *reason = named == std::string::npos ? words : words.substr(named + 2);
    }
    return -1;
}

void CloseScanInput(ScanInput* input) {
    if (input == nullptr) return;
    if (input->file != nullptr) gzclose(input->file);
    delete input;
}
