// SPDX-License-Identifier: GPL-3.0-or-later
// The few things talvor-render asks of the process and its terminal.
#pragma once

// True when standard error is a terminal, where a progress bar can redraw its line.
bool StandardErrorIsTerminal();
bool StandardOutputIsTerminal();
// Width of the terminal on standard error in characters; 80 when it cannot be told.
int TerminalColumns();
// Forgets the desktop display for the rest of the process: a command-line tool reports on
// standard error and never waits on a dialog box.
void ForgetDesktopDisplay();
