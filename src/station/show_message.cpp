#include <cstdio>

#include "platform/platform.h"
#include "station/run_state.h"

void ShowMessage(const char* text) {
    if (text == nullptr) text = "";
    // Standard error always: an unattended run without a desktop must still leave a trace. The
    // prefix names the program, so a problem found while talvor-log or talvor-render starts is
    // not mistaken for one of the daily run's.
    std::fprintf(stderr, "%s: %s\n", MessagePrefix(), text);
    std::fflush(stderr);
    ShowMessageDialog("TALVOR", text);
}
