// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstring>
#include <initializer_list>
#include <string>

#include "config/configuration.h"
#include "config/settings.h"
#include "platform/files.h"
#include "report/report.h"

namespace talvor {

namespace {

// No existing path is longer than this; a longer one is shown cut in the message.
constexpr size_t kMaxShownPathLength = 4096;

constexpr int kWordSlots = 4;

bool IsOneOf(const char* word, std::initializer_list<const char*> keywords) {
    for (const char* keyword : keywords) {
        if (std::strcmp(word, keyword) == 0) return true;
    }
    return false;
}

// The path of a quoted word, starting just after the opening quote, walked in the line whose
// words were ended with NULs (length is the line's length before that).
char* QuotedPath(char* line, size_t length, size_t start) {
    for (size_t j = start; j < length; ++j) {
        if (line[j] == '\0') {
            line[j] = ' ';  // a word end inside the quotes: the space it replaced comes back
        } else if (line[j] == '"') {
            line[j] = '\0';
            break;
        } else if (line[j] == ' ') {
            // The second space of a run: the path then runs on to the end of the next word.
            break;
        }
    }
    return line + start;
}

}  // namespace

Outcome SetProfileFolder(const char* path, ProfileSection* section) {
    if (!PathExists(path)) {
        std::string shown(path, strnlen(path, kMaxShownPathLength));
        std::string message = "[KELDAN] : \"" + shown + "\" DOES NOT EXIST";
        ShowMessage(message.c_str());
        return Failed(FailureKind::NoSuchPath, message);
    }
    section->ProfileFolder = path;
    return Succeeded();
}

Outcome HandleProfileLine(char* line, ProfileSection* section) {
    if (line[0] == '\0') return Succeeded();

    // Keywords are matched in upper case, but a Linux path names another folder when its case
    // changes: paths are taken from a copy in the case the line was written in.
    size_t length = std::strlen(line);
    std::string original(line, length);
    UpperCaseInPlace(line);

    // Unfilled slots stay 0 and so read the first word, as they always have.
    size_t word[kWordSlots] = {0, 0, 0, 0};
    int filled = 0;
    size_t pos = 0;
    for (;;) {
        while (line[pos] == ' ') ++pos;
        if (pos == length) break;
        if (filled < kWordSlots) word[filled++] = pos;
        while (pos < length && line[pos] != ' ') ++pos;
        if (pos == length) break;
        line[pos] = '\0';
        original[pos] = '\0';
        ++pos;
    }

    const char* first = line + word[0];
    if (first[0] == '/' && first[1] == '/') return Succeeded();
    if (std::strcmp(first, "SET") != 0) return Failed(FailureKind::UnknownProfileLine);

    const char* second = line + word[1];
    if (IsOneOf(second, {"MIRANTEL", "MW", "EU", "ATT"})) return Succeeded();
    if (std::strcmp(second, "QTH") == 0) {
        std::string location = std::string(line + word[2]) + "," + (line + word[3]);
        return ParseQth(section->settings, location.c_str());
    }
    if (IsOneOf(second, {"SUFFIX", "OVERFLOW"})) return Succeeded();
    if (second[0] >= '0' && second[0] <= '9') return Succeeded();
    if (second[0] == '"')
        return SetProfileFolder(QuotedPath(original.data(), length, word[1] + 1), section);
    return SetProfileFolder(original.data() + word[1], section);
}

}  // namespace talvor
