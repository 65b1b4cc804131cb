// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/station_config.h"

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "station/run_state.h"

Outcome FindStationConfiguration(const std::string& executablePath, const std::string& configPath) {
    runPaths.ExeFolder = FolderOf(executablePath);
    if (configPath.empty()) {
        runPaths.ConfigFilePath = runPaths.ExeFolder + "/TALVOR.INI";
    } else {
        // A file named on the command line is meant to be there, unlike the optional default.
        errno = 0;
        int fd = OpenForReading(configPath.c_str());
        if (fd < 0) {
            return errno != 0 ? FailedWithErrno(errno) : FailedWith(EINVAL, "not a regular file");
        }
        CloseFile(fd);
        runPaths.ConfigFilePath = configPath;
    }
    runPaths.DataFolder = FolderOf(runPaths.ConfigFilePath) + "/BRANTOS";
    return Succeeded();
}
