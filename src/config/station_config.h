// SPDX-License-Identifier: GPL-3.0-or-later
// The station folder: where its configuration and day logs are, for every program over it.
#pragma once

#include <string>

#include "config/run_state.h"
#include "platform/outcome.h"

namespace talvor {

// Sets the paths' executable folder, configuration file and default data folder from the
// executable's path. An empty configPath means TALVOR.INI beside the executable (optional);
// a named one must be readable, else the failure says why. The data folder is BRANTOS beside
// the configuration until the configuration's profile section moves it.
Outcome FindStationConfiguration(const std::string& executablePath, const std::string& configPath,
                                 RunPaths* paths);

}  // namespace talvor
