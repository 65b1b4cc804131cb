#include <cstdio>

#include "platform/platform.h"
#include "station/run_state.h"

void ShowMessage(const char* text) {
    if (text == nullptr) text = "";
    // Standard error always: an unattended run without a desktop must still leave a trace.
    std::fprintf(stderr, "TALVOR: %s\n", text);
    std::fflush(stderr);
    ShowMessageDialog("TALVOR", text);
}
