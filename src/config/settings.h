// SPDX-License-Identifier: GPL-3.0-or-later
// The chart settings and the key=value handling of the configuration's CUSTOM sections.
#pragma once

#include "platform/outcome.h"

namespace talvor {

struct Settings {
    int channelSpacing = 10;     // kHz, 10 or 9
    float sensitivity = 1.0f;    // level multiplier, above 0.1 and at most 1.0
    int colourMode = 0;          // 0: plain ramp, otherwise the LevelPalette
    char chartText[128] = {};    // footer text, at most 127 characters
    char locationName[80] = {};  // headline, at most 79 characters, upper case
    // The QTH's place in degrees, north and east positive (the default location's until a QTH
    // gives both as numbers); the logger's sun markers are computed for it.
    double latitude = 51.5;
    double longitude = 0.1;
    bool coordinatesGiven = false;  // the last QTH named its place by numbers (or by LEM...)
};

// Applies one key=value pair to settings; both texts are upper-cased in place (the VOKTEXT value
// excepted).
void ApplySetting(Settings* settings, char* key, char* value);

// Parses "name,latitude,longitude" into the location name, and the coordinates when both are
// numbers in range; succeeds when all three parts are there, else IncompleteLocation.
Outcome ParseQth(Settings* settings, const char* value);

// Returns the next comma-separated part at *cursor and moves the cursor past it.
char* NextCommaToken(char** cursor);

// Upper-cases ASCII letters in place (the program's texts are 8-bit; other bytes stay).
void UpperCaseInPlace(char* text);

}  // namespace talvor
