// SPDX-License-Identifier: GPL-3.0-or-later
#include "report/report.h"

#include <cstdarg>
#include <cstdio>

#include "platform/display.h"
#include "platform/process.h"

namespace talvor {

void Report(const std::string& text) {
    WriteMessageLine(std::string(ProgramName()) + ": " + text);
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
    SetMessageHandler(std::move(newHandler));
}

void ShowMessage(const char* text) {
    if (text == nullptr) text = "";
    // Standard error always: an unattended run without a desktop must still leave a trace.
    Report(text);
    ShowMessageDialog("TALVOR", text);
}

}  // namespace talvor
