// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/settings.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace talvor {

namespace {

// A location value holds at most 255 characters; the rest of a longer one is not looked at.
constexpr size_t kQthWorkSize = 256;

// Copies at most limit characters of source and always ends the copy with a NUL.
void CopyBounded(char* destination, const char* source, size_t limit) {
    size_t n = strnlen(source, limit);
    std::memcpy(destination, source, n);
    destination[n] = '\0';
}

// Older files were written for a reader whose long was 32 bits wide: out-of-range numbers
// saturate there instead of wrapping around, so keep that on a 64-bit long.
long StrtolSaturated32(const char* text) {
    long n = std::strtol(text, nullptr, 10);
    if (n > INT_MAX) return INT_MAX;
    if (n < INT_MIN) return INT_MIN;
    return n;
}

float SensitivityFromText(const char* text) {
    double d = std::strtod(text, nullptr);
    // Anything a float cannot hold ends up as 1.0 below anyway; converting it would be undefined.
    if (!(d > -1e30 && d < 1e30)) return 1.0f;
    float x = static_cast<float>(d);
    // The bounds are tested in single precision on purpose: 0.1000000001 rounds to 0.1f and is
    // therefore not above the lower bound, as stored files have always been read.
    if (!(x > 0.1f)) x = 1.0f;
    if (x > 1.0f) x = 1.0f;
    return x;
}

// A coordinate written as a plain decimal number within limit degrees either side of 0.
bool CoordinateFromText(const char* text, double limit, double* value) {
    while (*text == ' ') ++text;
    char* end = nullptr;
    double d = std::strtod(text, &end);
    if (end == text) return false;
    while (*end == ' ') ++end;
    if (*end != '\0' || !(d >= -limit && d <= limit)) return false;
    *value = d;
    return true;
}

// The receiver site in Lemmenjoki, Finnish Lapland.
constexpr double kLemmenjokiLatitude = 68.7;
constexpr double kLemmenjokiLongitude = 26.0;

}  // namespace

void UpperCaseInPlace(char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
    }
}

char* NextCommaToken(char** cursor) {
    char* start = *cursor;
    while (*start == ' ') ++start;
    char* end = start;
    while (*end != ',' && *end != '\0') ++end;
    if (*end == ',') {
        *end = '\0';
        *cursor = end + 1;
    } else {
        *cursor = end;
    }
    return start;
}

Outcome ParseQth(Settings* settings, const char* value) {
    char work[kQthWorkSize];
    CopyBounded(work, value, kQthWorkSize - 1);
    char* cursor = work;
    if (*cursor == '\0') return Failed(FailureKind::IncompleteLocation);

    const char* name = NextCommaToken(&cursor);
    CopyBounded(settings->locationName, name, sizeof settings->locationName - 1);
    // The receiver site is known by its first letters alone; its stored coordinates are used.
    if (std::strncmp(settings->locationName, "LEM", 3) == 0) {
        CopyBounded(settings->locationName, "LEMMENJOKI", sizeof settings->locationName - 1);
        settings->latitude = kLemmenjokiLatitude;
        settings->longitude = kLemmenjokiLongitude;
        settings->coordinatesGiven = true;
        return Succeeded();
    }
    settings->coordinatesGiven = false;
    if (*cursor == '\0') return Failed(FailureKind::IncompleteLocation);
    const char* latitudeText = NextCommaToken(&cursor);
    if (*cursor == '\0') return Failed(FailureKind::IncompleteLocation);
    const char* longitudeText = NextCommaToken(&cursor);
    double latitude, longitude;
    if (CoordinateFromText(latitudeText, 90, &latitude) &&
        CoordinateFromText(longitudeText, 180, &longitude)) {
        settings->latitude = latitude;
        settings->longitude = longitude;
        settings->coordinatesGiven = true;
    }
    return Succeeded();
}

void ApplySetting(Settings* settings, char* key, char* value) {
    UpperCaseInPlace(key);
    if (std::strcmp(key, "USER") == 0) return;
    if (std::strcmp(key, "VOKTEXT") == 0) {
        CopyBounded(settings->chartText, value, sizeof settings->chartText - 1);
        return;
    }
    if (std::strcmp(key, "VOKSENDER") == 0) return;

    UpperCaseInPlace(value);
    if (std::strcmp(key, "QTH") == 0) {
        ParseQth(settings, value);
    } else if (std::strcmp(key, "VOKSENS") == 0) {
        settings->sensitivity = SensitivityFromText(value);
    } else if (std::strcmp(key, "VOKCOLOR") == 0) {
        settings->colourMode = static_cast<int>(StrtolSaturated32(value));
    } else if (std::strstr("OVERSEAS", key) != nullptr) {
        // Any piece of the word, even an empty key, has always switched the spacing.
        settings->channelSpacing = StrtolSaturated32(value) == 10 ? 10 : 9;
    }
    // "VOK" and every other key: accepted without effect.
}

}  // namespace talvor
