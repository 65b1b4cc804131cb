// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/configuration.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/files.h"
#include "report/report.h"

namespace talvor {

namespace {

// Room after the file's bytes: CR, LF and two NULs, and a margin as the stored layout had.
constexpr size_t kTextSlack = 261;

// What the sections' lines change.
struct ScanTarget {
    Settings* settings;
    std::string* dataFolder;
};

// True when name occurs in word as a run of consecutive bytes; the empty name always does.
bool IsPartOf(const char* name, const char* word) {
    return std::strstr(word, name) != nullptr;
}

// The lines of a profile section, handed one by one to HandleProfileLine until it asks to stop.
// The section's text runs from s to the first NUL.
void HandleProfileLines(char* text, ptrdiff_t s, const ScanTarget& target) {
    ProfileSection section{target.settings, *target.dataFolder};
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
        if (!HandleProfileLine(profileLine.data(), &section)) break;
    }
    *target.dataFolder = section.ProfileFolder;
}

// A profile section, entered with p just after its header's "]". On return, *name is the
// header that ended the section and *p the position after its "]"; false when the text ended
// inside the section or inside that header, so that the scan must end.
bool HandleProfileSection(char* text, ptrdiff_t* p, const char** name, const ScanTarget& target) {
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
    HandleProfileLines(text, s, target);
    return goOn;
}

// A CUSTOM section, entered with p just after its header's "]"; returns the position of the LF
// before the line that ended it, from where the scan goes on.
ptrdiff_t HandleCustomSection(char* text, ptrdiff_t size, ptrdiff_t p, Settings* settings) {
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
                ApplySetting(settings, line, value);
            }
        }
        if (endOfText) return end - text;
        p = end + 1 - text;
    }
}

// Runs over the prepared text (LF, the file's size bytes, CR, LF, NUL, NUL) and hands the lines of
// the profile and CUSTOM sections to their handlers. Nothing beyond the first NUL is read.
void ScanSections(char* text, ptrdiff_t size, const ScanTarget& target) {
    ptrdiff_t p = 0;
    while (text[p] != '\0') {
        if (text[p] == '\n' && text[p + 1] == '[') {
            char* close = std::strchr(text + p + 2, ']');
            if (close == nullptr) return;
            *close = '\0';
            const char* name = text + p + 2;
            p = close + 1 - text;
            if (IsPartOf(name, "KELDAN")) {
                if (!HandleProfileSection(text, &p, &name, target)) return;
            }
            // Only tested as a CUSTOM header: a profile section right after another profile
            // section is skipped, which stored files have come to rely on.
            if (IsPartOf(name, "CUSTOM") && p < size) {
                p = HandleCustomSection(text, size, p, target.settings);
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
    const char* const end = bytes + count;
    for (const char* lf = bytes;
         (lf = static_cast<const char*>(std::memchr(lf, '\n', size_t(end - lf)))) != nullptr;
         ++lf) {
        if (lf == bytes || lf[-1] != '\r') ++bare;
    }
    return bare;
}

// Copies count bytes to out a line at a time, a CR put before each LF that lacks one: out has
// room for count and the bare LFs.
void CopyWithCrLf(const char* in, size_t count, char* out) {
    for (size_t k = 0; k < count;) {
        const void* lf = std::memchr(in + k, '\n', count - k);
        size_t stop = lf != nullptr ? size_t(static_cast<const char*>(lf) - in) : count;
        std::memcpy(out, in + k, stop - k);
        out += stop - k;
        if (stop == count) break;
        if (stop == 0 || in[stop - 1] != '\r') *out++ = '\r';
        *out++ = '\n';
        k = stop + 1;
    }
}

// Adds the sentinels around the count bytes at text + 1 and scans them in place.
void ScanPreparedText(char* text, size_t count, const ScanTarget& target) {
    text[0] = '\n';
    text[count + 1] = '\r';
    text[count + 2] = '\n';
    text[count + 3] = '\0';
    text[count + 4] = '\0';
    ScanSections(text, ptrdiff_t(count), target);
}

// The length of the text that count bytes read give to the scan: a NUL byte has no place in the
// text format and ends the text, as if the file ended there; 0 when at most 3 bytes are left,
// as a file of at most 3 bytes holds no section line anyway.
size_t ScannedLength(const char* bytes, size_t count) {
    const void* nul = std::memchr(bytes, '\0', count);
    if (nul != nullptr) count = size_t(static_cast<const char*>(nul) - bytes);
    return count > 3 ? count : 0;
}

// Scans the count bytes at text + 1 in place (cut as ScannedLength cuts them); the buffer has
// kTextSlack spare bytes after them.
void ScanReadText(char* text, size_t count, const ScanTarget& target) {
    // A file written on Linux ends its lines with LF alone. Such a LF ends a line exactly as
    // CR LF does, so the text is scanned as its CR LF form would be: every position the
    // grammar counts is then that of the CR LF file.
    size_t bare = CountBareLineFeeds(text + 1, count);
    if (bare == 0) {
        ScanPreparedText(text, count, target);
        return;
    }
    std::unique_ptr<char[]> expanded = AllocateText(int64_t(count + bare));
    if (!expanded) throw std::bad_alloc();
    CopyWithCrLf(text + 1, count, expanded.get() + 1);
    ScanPreparedText(expanded.get(), count + bare, target);
}

// The largest file the scan takes: its positions are counted in 32 bits, as the stored format's
// were.
constexpr int64_t kMaxConfigurationBytes = INT32_MAX;

// Scans the count bytes read at text + 1 (see ScanReadText); a scan that runs out of memory (a
// line of a gigabyte) is said rather than ending the program. The length scanned, also then.
size_t ScanOrSay(char* text, size_t count, const std::string& name, const ScanTarget& target) {
    count = ScannedLength(text + 1, count);
    if (count == 0) return 0;
    try {
        ScanReadText(text, count, target);
    } catch (const std::bad_alloc&) {
        Report("not enough memory to read " + name + "; what was read of it before applies");
    }
    return count;
}

void ApplyDefaultLocation(Settings* settings) {
    if (settings->locationName[0] != '\0') return;
    // ApplySetting upper-cases in place, so the pair must be writable copies.
    char key[] = "QTH";
    char value[] = "London,51.5,0.1";
    ApplySetting(settings, key, value);
}

}  // namespace

size_t ReadConfigurationFile(const std::string& path, Settings* settings, std::string* dataFolder) {
    settings->chartText[0] = '\0';
    size_t scanned = 0;
    const ScanTarget target{settings, dataFolder};
    int file = -1;
    if (OpenForReading(path.c_str(), &file)) {
        // The file layer fills a buffer with the file's bytes, which are then scanned in it.
        // A size that cannot be told reads as an empty file, said: the defaults apply.
        int64_t size = 0;
        if (Outcome sized = FileSizeOf(file, &size); !sized) {
            std::string text = "cannot read ";
            text += path;
            text += ": ";
            text += sized.reason;
            text += "; the defaults apply";
            Report(text);
        }
        if (size > kMaxConfigurationBytes) {
            Report(path + " is larger than " + std::to_string(kMaxConfigurationBytes) +
                   " bytes and is not read; the defaults apply");
        } else if (size > 3) {
            std::unique_ptr<char[]> text = AllocateText(size);
            if (text) {
                // A short read (the file shrank, or an error) scans only what did arrive.
                size_t count = ReadUpTo(file, text.get() + 1, size_t(size));
                CloseFile(file);
                file = -1;
                scanned = ScanOrSay(text.get(), count, path, target);
            } else {
                Report("not enough memory to read " + path + "; the defaults apply");
            }
        }
        if (file >= 0) CloseFile(file);
    }
    ApplyDefaultLocation(settings);
    return scanned;
}

size_t ReadConfigurationBytes(const char* bytes, size_t size, Settings* settings,
                              std::string* dataFolder) {
    settings->chartText[0] = '\0';
    size_t scanned = 0;
    // As ScanReadText takes a file's bytes, in one copy: cut at a NUL, LF made CR LF.
    const void* nul = std::memchr(bytes, '\0', size);
    size_t count = nul != nullptr ? size_t(static_cast<const char*>(nul) - bytes) : size;
    if (size <= size_t(kMaxConfigurationBytes) && count > 3) {
        size_t bare = CountBareLineFeeds(bytes, count);
        std::unique_ptr<char[]> text = AllocateText(int64_t(count + bare));
        if (text) {
            CopyWithCrLf(bytes, count, text.get() + 1);
            scanned = count;
            try {
                ScanPreparedText(text.get(), count + bare, {settings, dataFolder});
            } catch (const std::bad_alloc&) {
                Report(
                    "not enough memory to read the configuration; what was read of it before "
                    "applies");
            }
        }
    }
    ApplyDefaultLocation(settings);
    return scanned;
}

}  // namespace talvor
