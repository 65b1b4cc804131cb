// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/station_config.h"

#include "config/run_state.h"
#include "platform/files.h"

namespace talvor {

Outcome FindStationConfiguration(const std::string& executablePath, const std::string& configPath,
                                 RunPaths* paths) {
    paths->ExeFolder = FolderOf(executablePath);
    if (configPath.empty()) {
        paths->ConfigFilePath = paths->ExeFolder + "/TALVOR.INI";
    } else {
        // A file named on the command line is meant to be there, unlike the optional default.
        int fd = -1;
        if (Outcome opened = OpenForReading(configPath.c_str(), &fd); !opened) return opened;
        CloseFile(fd);
        paths->ConfigFilePath = configPath;
    }
    paths->DataFolder = FolderOf(paths->ConfigFilePath) + "/BRANTOS";
    return Succeeded();
}

}  // namespace talvor
