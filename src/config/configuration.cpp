// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/configuration.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "config/settings.h"
#include "platform/files.h"
#include "station/run_state.h"

std::string ProfileFolder;

namespace {

// Room after the file's bytes: CR, LF and two NULs, and a margin as the stored layout had.
constexpr size_t kTextSlack = 261;

size_t lastScannedLength = 0;

// True when name occurs in word as a run of consecutive bytes; the empty name always does.
bool IsPartOf(const char* name, const char* word) {
    return std::strstr(word, name) != nullptr;
}

// The lines of a profile section, handed one by one to HandleProfileLine until it asks to stop.
// The section's text runs from s to the first NUL.
void HandleProfileLines(char* text, ptrdiff_t s) {
    ProfileFolder = runPaths.DataFolder;
    // One line at a time is copied here: lines are held whole, however long.
    std::string profileLine;
    ptrdiff_t i = s;
    while (text[i] != '\0') {
        if (text[i] != '\n') {
            ++i;
            continue;
        }
        ptrdiff_t k = i + 1;
        while (text[k] != '\r' && text[k] != '\0') ++k;
        profileLine.assign(text + i + 1, size_t(k - i - 1));
        i = k;
        if (HandleProfileLine(profileLine.data()) != 0) break;
    }
    runPaths.DataFolder = ProfileFolder;
}

// A profile section, entered with p just after its header's "]". On return, *name is the
// header that ended the section and *p the position after its "]"; false when the text ended
// inside the section or inside that header, so that the scan must end.
bool HandleProfileSection(char* text, ptrdiff_t* p, const char** name) {
    // Stored files rely on this: a header whose "]" is the file's twelfth byte (two empty lines
    // before "[KELDAN]") never had its first line read.
    if (*p == 13) *p = 15;
    ptrdiff_t s = *p;
    char* open = std::strchr(text + s, '[');
    bool goOn = false;
    if (open != nullptr) {
        // The "[" may stand anywhere, also inside a line: the section's text ends before it.
        open[-1] = '\0';
        char* close = std::strchr(open + 1, ']');
        if (close != nullptr) {
            *close = '\0';
            *name = open + 1;
            *p = close + 1 - text;
            goOn = true;
        }
    }
    HandleProfileLines(text, s);
    return goOn;
}

// A CUSTOM section, entered with p just after its header's "]"; returns the position of the LF
// before the line that ended it, from where the scan goes on.
ptrdiff_t HandleCustomSection(char* text, ptrdiff_t size, ptrdiff_t p) {
    for (;;) {
        while (text[p] != '\n') {
            if (text[p] == '\0') return p;
            ++p;
        }
        ++p;
        if (text[p] == '[' || p > size) return p - 1;

        char* line = text + p;
        char* end = line;
        while (*end != '\r' && *end != '\0') ++end;
        bool endOfText = *end == '\0';
        *end = '\0';

        if (*line != '\0' && *line != ' ' && *line != '/') {
            char* equals = static_cast<char*>(std::memchr(line, '=', size_t(end - line)));
            if (equals != nullptr) {
                *equals = '\0';
                for (char* b = equals - 1; b >= line && *b == ' '; --b) *b = '\0';
                char* value = equals + 1;
                while (*value == '=' || *value == ' ') ++value;
                for (char* b = end - 1; b > equals && *b == ' '; --b) *b = '\0';
                ApplySetting(line, value);
            }
        }
        if (endOfText) return end - text;
        p = end + 1 - text;
    }
}

// Runs over the prepared text (LF, the file's size bytes, CR, LF, NUL, NUL) and hands the lines of
// the profile and CUSTOM sections to their handlers. Nothing beyond the first NUL is read.
void ScanSections(char* text, ptrdiff_t size) {
    ptrdiff_t p = 0;
    while (text[p] != '\0') {
        if (text[p] == '\n' && text[p + 1] == '[') {
            char* close = std::strchr(text + p + 2, ']');
            if (close == nullptr) return;
            *close = '\0';
            const char* name = text + p + 2;
            p = close + 1 - text;
            if (IsPartOf(name, "KELDAN")) {
                if (!HandleProfileSection(text, &p, &name)) return;
            }
            // Only tested as a CUSTOM header: a profile section right after another profile
            // section is skipped, which stored files have come to rely on.
            if (IsPartOf(name, "CUSTOM") && p < size) {
                p = HandleCustomSection(text, size, p);
                continue;
            }
        }
        ++p;
    }
}

std::unique_ptr<char[]> AllocateText(int64_t size) {
    return std::unique_ptr<char[]>(new (std::nothrow) char[size_t(size) + kTextSlack]);
}

// The number of LFs in bytes that no CR comes before.
size_t CountBareLineFeeds(const char* bytes, size_t count) {
    size_t bare = 0;
    for (size_t k = 0; k < count; ++k) {
        if (bytes[k] == '\n' && (k == 0 || bytes[k - 1] != '\r')) ++bare;
    }
    return bare;
}

// Adds the sentinels around the count bytes at text + 1 and scans them in place.
void ScanPreparedText(char* text, size_t count) {
    text[0] = '\n';
    text[count + 1] = '\r';
    text[count + 2] = '\n';
    text[count + 3] = '\0';
    text[count + 4] = '\0';
    ScanSections(text, ptrdiff_t(count));
}

// Scans the bytes at text + 1 (count of them were read) in place. The buffer has kTextSlack
// spare bytes after them.
void ScanReadText(char* text, size_t count) {
    // A NUL byte has no place in the text format: it ends the text, as if the file ended there.
    const void* nul = std::memchr(text + 1, '\0', count);
    if (nul != nullptr) count = size_t(static_cast<const char*>(nul) - (text + 1));
    // The text as read is what counts; a file of at most 3 bytes holds no section line anyway.
    if (count <= 3) return;
    lastScannedLength = count;
    // A file written on Linux ends its lines with LF alone. Such a LF ends a line exactly as
    // CR LF does, so the text is scanned as its CR LF form would be: every position the
    // grammar counts is then that of the CR LF file.
    size_t bare = CountBareLineFeeds(text + 1, count);
    if (bare == 0) {
        ScanPreparedText(text, count);
        return;
    }
    std::unique_ptr<char[]> expanded = AllocateText(int64_t(count + bare));
    if (!expanded) return;
    size_t n = 1;
    for (size_t k = 1; k <= count; ++k) {
        if (text[k] == '\n' && (k == 1 || text[k - 1] != '\r')) expanded[n++] = '\r';
        expanded[n++] = text[k];
    }
    ScanPreparedText(expanded.get(), count + bare);
}

// The file's size as the scan takes it: -1 for a file that cannot be read, and 3 for an empty one.
int64_t UsableSize(int64_t size) {
    if (size < 0 || size > INT32_MAX) return -1;
    return size == 0 ? 3 : size;
}

void ApplyDefaultLocation() {
    if (settings.locationName[0] != '\0') return;
    // ApplySetting upper-cases in place, so the pair must be writable copies.
    char key[] = "QTH";
    char value[] = "London,51.5,0.1";
    ApplySetting(key, value);
}

}  // namespace

size_t LastScannedLength() {
    return lastScannedLength;
}

void ResetConfiguration() {
    ResetSettings();
    ProfileFolder.clear();
    lastScannedLength = 0;
}

void ReadConfiguration() {
    settings.chartText[0] = '\0';
    lastScannedLength = 0;
    int file = -1;
    if (OpenForReading(runPaths.ConfigFilePath.c_str(), &file)) {
        int64_t size = UsableSize(FileSizeOf(file));
        if (size > 3) {
            std::unique_ptr<char[]> text = AllocateText(size);
            if (text) {
                // A short read (the file shrank, or an error) scans only what did arrive.
                size_t count = ReadUpTo(file, text.get() + 1, size_t(size));
                CloseFile(file);
                file = -1;
                ScanReadText(text.get(), count);
            }
        }
        if (file >= 0) CloseFile(file);
    }
    ApplyDefaultLocation();
}

void ReadConfigurationBytes(const char* bytes, size_t size) {
    settings.chartText[0] = '\0';
    lastScannedLength = 0;
    int64_t usable = size > size_t(INT32_MAX) ? -1 : UsableSize(int64_t(size));
    if (usable > 3) {
        std::unique_ptr<char[]> text = AllocateText(usable);
        if (text) {
            std::memcpy(text.get() + 1, bytes, size_t(usable));
            ScanReadText(text.get(), size_t(usable));
        }
    }
    ApplyDefaultLocation();
}
