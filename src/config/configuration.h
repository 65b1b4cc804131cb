// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration file: sections, CUSTOM lines and the profile section.
#pragma once

#include <cstddef>
#include <string>

// Reads runPaths.ConfigFilePath and fills the settings; may replace runPaths.DataFolder.
void ReadConfiguration();

// The same, from the file's bytes already in memory (size is the file's length).
void ReadConfigurationBytes(const char* bytes, size_t size);

// Length of the text that the last read scanned; 0 when nothing was scanned (no file, an
// unreadable one, or one of at most 3 bytes before any NUL).
size_t LastScannedLength();
// The settings, ProfileFolder and the scanned length as before any configuration was read.
void ResetConfiguration();

// The working copy of the data folder while a profile section is handled.
extern std::string ProfileFolder;

// Handles one profile line in place (it is upper-cased and split); 0 to go on, 1 to stop.
int HandleProfileLine(char* line);

// Accepts an existing path as the profile folder (0), or reports it missing (1).
int SetProfileFolder(const char* path);
