// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration reader on arbitrary file bytes: whatever the file holds, the settings end
// within their ranges and the data folder is the default or a path that exists.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "config/configuration.h"
#include "config/settings.h"
#include "fuzz_support.h"
#include "platform/files.h"

using namespace talvor;

namespace {
const char kDefaultDataFolder[] = "/fuzz-default/BRANTOS";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LeaveTheDesktopAlone();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Settings settings;
    std::string dataFolder = kDefaultDataFolder;
    // Both runners hand over an exactly sized copy of the input: a read past its last byte is
    // caught.
    ReadConfigurationBytes(reinterpret_cast<const char*>(data), size, &settings, &dataFolder);

    FUZZ_CHECK(settings.channelSpacing == 10 || settings.channelSpacing == 9);
    FUZZ_CHECK(settings.sensitivity > 0.1f && settings.sensitivity <= 1.0f);
    FUZZ_CHECK(strnlen(settings.chartText, sizeof settings.chartText) < sizeof settings.chartText);
    size_t location = strnlen(settings.locationName, sizeof settings.locationName);
    FUZZ_CHECK(location > 0 && location < sizeof settings.locationName);
    for (size_t i = 0; i < location; ++i) {
        FUZZ_CHECK(!(settings.locationName[i] >= 'a' && settings.locationName[i] <= 'z'));
    }
    FUZZ_CHECK(dataFolder == kDefaultDataFolder || PathExists(dataFolder.c_str()));
    return 0;
}
