// SPDX-License-Identifier: GPL-3.0-or-later
// The steps of the logger that write day logs, for the line handling beside them.
#pragma once

#include <chrono>
#include <string>

#include "talvor-log/logger.h"

namespace talvor {

// The path of the day's log in the logger's data folder.
std::string DayLogPathOf(const Logger* logger, std::chrono::sys_days day);
// Writes the minute in hand, if there is one.
void WriteMinuteInHand(Logger* logger);

}  // namespace talvor
