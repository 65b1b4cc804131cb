// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's inputs read through: recorded files in two readings, standard input live.
#pragma once

#include <string>
#include <vector>

#include "talvor-log/logger.h"

namespace talvor {

// Recorded files: a first reading learns which days each holds and where their lines lie, then
// each day is written, in date order whatever the files' order, from its part of every file that
// holds it; every file is read about twice however many days it holds. False when one could not
// be read (said); *stopped once a stop signal has come.
bool LogRecordedFiles(Logger* logger, const std::vector<std::string>& names, bool* stopped);

// Standard input, minute by minute as its lines come, until it ends or a stop signal comes.
bool LogLiveInput(Logger* logger, bool* stopped);

}  // namespace talvor
