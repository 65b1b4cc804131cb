#include "logger/gz_input.h"

#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/platform.h"

struct GzInput {
    gzFile file = nullptr;
};

GzInput* OpenGzInput(const std::string& path, std::string* reason) {
    errno = 0;
    int fd = OpenForReading(path.c_str());
    if (fd < 0) {
        *reason = errno != 0 ? std::strerror(errno) : "not a regular file";
        return nullptr;
    }
    gzFile file = gzdopen(fd, "rb");
    if (file == nullptr) {
        CloseFile(fd);
        *reason = "out of memory";
        return nullptr;
    }
    gzbuffer(file, 256 * 1024);
    return new GzInput{file};
}

long ReadGzInput(GzInput* input, void* buffer, size_t count, std::string* reason) {
    unsigned chunk = count > UINT_MAX / 2 ? UINT_MAX / 2 : unsigned(count);
    int n = gzread(input->file, buffer, chunk);
    if (n < 0) {
        int code = 0;
        const char* text = gzerror(input->file, &code);
        *reason = code == Z_ERRNO ? std::strerror(errno) : (text != nullptr ? text : "damaged");
        return -1;
    }
    return long(n);
}

void CloseGzInput(GzInput* input) {
    if (input == nullptr) return;
    gzclose(input->file);
    delete input;
}
