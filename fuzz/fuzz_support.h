// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzz targets share: a hard stop on a broken invariant, and a quiet, desktop-free
// process (a profile message must not open a dialog that waits for a click).
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

inline void LeaveTheDesktopAlone() {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
}
