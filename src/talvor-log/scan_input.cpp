// SPDX-License-Identifier: GPL-3.0-or-later
#include "talvor-log/scan_input.h"

#include <zlib.h>

#include <cerrno>
#include <climits>

#include "platform/files.h"
#include "platform/process.h"

namespace talvor {

struct ScanInput {
    gzFile file = nullptr;  // a recorded file; nullptr for standard input
};

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
        return Failed(FailureKind::OutOfMemory);
    }
    gzbuffer(file, 256 * 1024);
    *input = new ScanInput{file};
    return Succeeded();
}

Outcome ReadScanInput(ScanInput* input, void* buffer, size_t count, long* got) {
    if (input->file == nullptr) return ReadInput(0, buffer, count, got);
    *got = -1;
    if (StopSignalled()) {
        *got = 0;
        return Failed(FailureKind::Stopped);
    }
    unsigned chunk = count > UINT_MAX / 2 ? UINT_MAX / 2 : unsigned(count);
    errno = 0;
    int n = gzread(input->file, buffer, chunk);
    // gzread ends a compressed stream cut short as quietly as a whole one (Z_BUF_ERROR): only
    // the stream's state tells them apart.
    int code = Z_OK;
    const char* text = n > 0 ? nullptr : gzerror(input->file, &code);
    if (n > 0 || (n == 0 && code == Z_OK)) {
        *got = n;
        return Succeeded();
    }
    if (code == Z_ERRNO) return FailedWithErrno(errno);
    // zlib names the stream "<fd:N>: " before its words; the caller names the file.
    std::string words = text != nullptr && *text ? text : "damaged data";
    size_t named = words.rfind("<fd:", 0) == 0 ? words.find(": ") : std::string::npos;
    return Failed(FailureKind::DamagedInput,
                  named == std::string::npos ? words : words.substr(named + 2));
}

Outcome SeekScanInput(ScanInput* input, int64_t offset) {
    if (input->file == nullptr) return FailedWithErrno(ESPIPE);
    errno = 0;
    if (gzseek(input->file, z_off_t(offset), SEEK_SET) != z_off_t(offset)) {
        int code = Z_OK;
        const char* text = gzerror(input->file, &code);
        if (code == Z_ERRNO || code == Z_OK) return FailedWithErrno(errno);
        return Failed(FailureKind::DamagedInput, text != nullptr && *text ? text : "damaged data");
    }
    return Succeeded();
}

void CloseScanInput(ScanInput* input) {
    if (input == nullptr) return;
    if (input->file != nullptr) gzclose(input->file);
    delete input;
}

}  // namespace talvor
