// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration file: sections, CUSTOM lines and the profile section.
#pragma once

#include <cstddef>
#include <string>

#include "config/settings.h"

namespace talvor {

// Reads the configuration file at path into settings (its footer text cleared first, the default
// location applied where none is named); a profile section may replace *dataFolder. Returns the
// length of the text scanned: 0 when nothing was (no file, an unreadable one, or one of at most 3
// bytes before any NUL).
size_t ReadConfigurationFile(const std::string& path, Settings* settings, std::string* dataFolder);

// The same, from the file's bytes already in memory (size is the file's length).
size_t ReadConfigurationBytes(const char* bytes, size_t size, Settings* settings,
                              std::string* dataFolder);

// A profile section while its lines are handled: the settings a QTH line sets, and the working
// copy of the data folder that a path line replaces.
struct ProfileSection {
    Settings* settings = nullptr;
    std::string ProfileFolder;
};

// Handles one profile line in place (it is upper-cased and split): succeeds to go on; fails to
// stop, as UnknownProfileLine (not a SET line), IncompleteLocation (a QTH without its
// coordinates) or NoSuchPath (a folder that does not exist).
Outcome HandleProfileLine(char* line, ProfileSection* section);

// Accepts an existing path as the profile folder, or reports it missing (NoSuchPath).
Outcome SetProfileFolder(const char* path, ProfileSection* section);

}  // namespace talvor
