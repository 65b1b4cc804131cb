// SPDX-License-Identifier: GPL-3.0-or-later
// The site's manifest, which says which files the program may replace, on arbitrary bytes: a
// text it accepts names only files inside the site (relative, no empty, "." or ".." parts, no
// control characters), and writing those names gives a manifest that reads back the same.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_support.h"
#include "site/site_folder.h"

using namespace talvor;

namespace {

bool InsideTheSite(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    size_t start = 0;
    for (;;) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::set<std::string> names = {"left/from/before"};
    if (!ParseManifest(text, &names)) return 0;
    for (const std::string& name : names) FUZZ_CHECK(InsideTheSite(name));
    std::string written = ManifestText(names);
    std::set<std::string> back;
    FUZZ_CHECK(ParseManifest(written, &back));
    FUZZ_CHECK(back == names);
    FUZZ_CHECK(ManifestText(back) == written);
    return 0;
}
