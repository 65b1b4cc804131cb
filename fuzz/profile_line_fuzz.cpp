// SPDX-License-Identifier: GPL-3.0-or-later
// One profile line on arbitrary bytes: the handler answers 0 or 1, stays inside the line it is
// given, and accepts only a path that exists.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "config/settings.h"
#include "fuzz_support.h"
#include "platform/files.h"

using namespace talvor;

namespace {
const char kStartFolder[] = "/fuzz-default/BRANTOS";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LeaveTheDesktopAlone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Settings settings;
    ProfileSection section{&settings, kStartFolder};
    // The line as the reader hands it over: its bytes up to the first NUL, terminated, in a
    // buffer exactly that large.
    size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::vector<char> line(data, data + length);
    line.push_back('\0');
    int answer = HandleProfileLine(line.data(), &section) ? 0 : 1;

    FUZZ_CHECK(line[length] == '\0');
    FUZZ_CHECK(section.ProfileFolder == kStartFolder || PathExists(section.ProfileFolder.c_str()));
    // A refused line accepts nothing.
    FUZZ_CHECK(answer == 0 || section.ProfileFolder == kStartFolder);
    size_t location = strnlen(settings.locationName, sizeof settings.locationName);
    FUZZ_CHECK(location < sizeof settings.locationName);
    return 0;
}
