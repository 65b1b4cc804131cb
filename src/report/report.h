// SPDX-License-Identifier: GPL-3.0-or-later
// One voice for every program's messages: each goes through Report, which starts it with the
// running program's name (ProgramName) ("TALVOR: ", "talvor-render: ", "talvor-log: ") and writes
// it to standard error, or hands it to the handler a test has put in its place.
#pragma once

#include <functional>
#include <string>

namespace talvor {

// "<program>: text" and a newline on standard error (flushed), or to the handler.
void Report(const std::string& text);
// Report with the text made by printf's rules.
void ReportFormatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "cannot write <path>: <reason>", the message of every output that could not be written.
void ReportCannotWrite(const std::string& path, const std::string& reason);

// Receives each message as its whole line ("<program>: text", without the newline) instead of
// standard error; an empty handler puts standard error back. Called from whichever thread
// reports, one message at a time.
using ReportHandler = std::function<void(const std::string& line)>;
void SetReportHandler(ReportHandler handler);

// Report, and a modal dialog as well where a desktop display answers: the daily run's way of
// telling a user at the screen.
void ShowMessage(const char* text);

}  // namespace talvor
