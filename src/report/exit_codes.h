// SPDX-License-Identifier: GPL-3.0-or-later
// The exit statuses of the programs (talvor, talvor-render, talvor-log): one set for them all, as
// their man pages give them.
#pragma once

namespace talvor {

constexpr int kExitOk = 0;
// What the run was to write (a picture, the summary, a day log) was not all written, or an input
// could not be read.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;  // the command line could not be understood
// A command-line parser's answer when nothing was printed yet and the request is to be run.
constexpr int kGoOn = -1;

}  // namespace talvor
