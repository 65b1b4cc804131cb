// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/report.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/display.h"
#include "platform/process.h"

namespace {

// The handler is set while nothing else reports (a test's set-up), yet a picture writer's message
// may come from its own thread: the lock keeps one message whole and the handler in one piece.
std::mutex handlerMutex;
ReportHandler handler;

}  // namespace

void Report(const std::string& text) {
    std::string line = std::string(ProgramName()) + ": " + text;
    std::lock_guard<std::mutex> lock(handlerMutex);
    if (handler) {
        handler(line);
        return;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void ReportFormatted(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    Report(text);
}

void ReportCannotWrite(const std::string& path, const std::string& reason) {
    Report("cannot write " + path + ": " + reason);
}

void SetReportHandler(ReportHandler newHandler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    handler = std::move(newHandler);
}

void ShowMessage(const char* text) {
    if (text == nullptr) text = "";
    // Standard error always: an unattended run without a desktop must still leave a trace.
    Report(text);
    ShowMessageDialog("TALVOR", text);
}
