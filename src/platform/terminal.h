// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal on standard output and error, for a progress bar.
#pragma once

namespace talvor {

// True when standard error is a terminal, where a progress bar can redraw its line.
bool StandardErrorIsTerminal();
bool StandardOutputIsTerminal();
// Width of the terminal on standard error in characters; 80 when it cannot be told.
int TerminalColumns();

}  // namespace talvor
