// The station folder: where its configuration and day logs are, for every program over it.
#pragma once

#include <string>

// Sets runPaths' executable folder, configuration file and default data folder from the
// executable's path. An empty configPath means TALVOR.INI beside the executable (optional);
// a named one must be readable, else false with the reason. The data folder is BRANTOS beside
// the configuration until ReadConfiguration's profile section moves it.
bool FindStationConfiguration(const std::string& executablePath, const std::string& configPath,
                              std::string* reason);
