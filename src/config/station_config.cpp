// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/station_config.h"

#include "platform/files.h"
#include "station/run_state.h"

Outcome FindStationConfiguration(const std::string& executablePath, const std::string& configPath) {
    runPaths.ExeFolder = FolderOf(executablePath);
    if (configPath.empty()) {
        runPaths.ConfigFilePath = runPaths.ExeFolder + "/TALVOR.INI";
    } else {
        // A file named on the command line is meant to be there, unlike the optional default.
        int fd = -1;
        if (Outcome opened = OpenForReading(configPath.c_str(), &fd); !opened) return opened;
        CloseFile(fd);
        runPaths.ConfigFilePath = configPath;
    }
    runPaths.DataFolder = FolderOf(runPaths.ConfigFilePath) + "/BRANTOS";
    return Succeeded();
}
