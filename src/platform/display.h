// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop display: its size, whether one answers, and a dialog for a user at the screen.
#pragma once

#include "platform/outcome.h"

namespace talvor {

// How long a display server may take to answer before the run goes on without it: a server that
// accepts connections but never answers (or a frozen desktop) must not hold an unattended run.
constexpr int kDisplayQueryTimeoutMs = 2000;

// Size of the primary display when a display server is reachable, else 1920 x 1500. The query
// runs in a child process, so that it ends within kDisplayQueryTimeoutMs and the display
// library's own messages stay off standard error. Succeeds when a desktop display answered;
// else NoDesktopDisplay (none named, or it could not be opened), DisplayTimedOut (one is named
// but did not answer in time), or why the query could not be started.
Outcome GetScreenSize(int* width, int* height);

// True when a desktop display (X11 or Wayland) answers within kDisplayQueryTimeoutMs.
bool DesktopDisplayReachable();

// Modal dialog with a caption, the text and an OK button; returns when it is closed.
// Does nothing when no display is reachable.
void ShowMessageDialog(const char* caption, const char* text);

// A program without a user at a screen: messages go to standard error only, never to a dialog
// that would wait for a click.
void StopUsingDesktopDisplay();

}  // namespace talvor
